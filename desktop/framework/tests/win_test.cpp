// The Windows framework under a real message loop: threads and their end
// events, synchronised calls, exceptions in threads and window procedures,
// timers, icons and image lists, menus, the registry.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>

#include "framework/bitmap.h"
#include "framework/exceptions.h"
#include "framework/forms.h"
#include "framework/graphics.h"
#include "framework/menus.h"
#include "framework/registry.h"
#include "framework/thread.h"
#include "framework/timer.h"
#include "framework/tests/watched_form.h"
#include "platform/win32_owners.h"

namespace om {
namespace {

// Serves messages until done() or about ten seconds have passed.
bool PumpUntil(const std::function<bool()>& done) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > 60000) return false;
    Application()->ProcessMessages();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return true;
}

struct TExceptionSink {
  std::vector<std::string> Messages;
  TObject* LastSender = nullptr;
  void Handle(TObject* sender, const std::exception& e) {
    LastSender = sender;
    Messages.push_back(e.what());
  }
};

class TWorker : public TThread {
public:
  std::function<void(TWorker*)> Body;
  using TThread::Synchronize;
protected:
  ~TWorker() override = default;
  void Execute() override { Body(this); }
};

struct TEndWatch {
  std::atomic<int> Calls{0};
  DWORD ThreadSeen = 0;
  void Ended(TObject*) {
    ThreadSeen = GetCurrentThreadId();
    ++Calls;
  }
};

TEST(Threads, EndEventAndSynchronisedCallsRunOnTheMainThread) {
  TEndWatch watch;
  DWORD syncThread = 0, workerThread = 0;
  auto* t = new TWorker;
  EXPECT_FALSE(t->Finished());
  t->Body = [&](TWorker* self) {
    workerThread = GetCurrentThreadId();
    self->Synchronize(self, [&] { syncThread = GetCurrentThreadId(); });
    while (!self->Terminated()) Sleep(5);
  };
  t->SetOnTerminate(MakeMethod<&TEndWatch::Ended>(&watch));
  t->Start();
  ASSERT_TRUE(PumpUntil([&] { return syncThread != 0; }));
  EXPECT_EQ(syncThread, GetCurrentThreadId());
  EXPECT_NE(workerThread, GetCurrentThreadId());
  EXPECT_EQ(watch.Calls, 0);  // created suspended, still running: no end event yet
  t->Terminate();
  t->WaitFor();  // serves the end event while it waits
  EXPECT_EQ(watch.Calls, 1);
  EXPECT_EQ(watch.ThreadSeen, GetCurrentThreadId());
  EXPECT_TRUE(t->Finished());
  TThread::Release(t);
}

TEST(Threads, FreeOnTerminateDeletesAfterTheEndEvent) {
  TEndWatch watch;
  auto* t = new TWorker;
  t->Body = [](TWorker*) {};
  t->FreeOnTerminate = true;
  t->SetOnTerminate(MakeMethod<&TEndWatch::Ended>(&watch));
  t->Start();
  ASSERT_TRUE(PumpUntil([&] { return watch.Calls == 1; }));
  EXPECT_EQ(watch.ThreadSeen, GetCurrentThreadId());
}

TEST(Threads, ExceptionsInExecuteAndInSynchronisedCallsAreCaptured) {
  std::string seenInThread;
  auto* t = new TWorker;
  t->Body = [&](TWorker* self) {
    try {
      self->Synchronize(self, [] { throw EDkException("raised on the main thread"); });
    } catch (const EDkException& e) {
      seenInThread = e.Message();
    }
    throw EConvertError("raised in the thread");
  };
  t->Start();
  t->WaitFor();
  EXPECT_EQ(seenInThread, "raised on the main thread");
  ASSERT_TRUE(t->FatalException());
  try {
    std::rethrow_exception(t->FatalException());
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "raised in the thread");
  }
  TThread::Release(t);
}

TEST(Threads, ExceptionOfAThreadThatFreesItselfReachesTheApplication) {
  TExceptionSink sink;
  Application()->OnException = MakeMethod<&TExceptionSink::Handle>(&sink);
  TEndWatch watch;
  auto* t = new TWorker;
  t->Body = [](TWorker*) { throw EConvertError("raised in a thread that frees itself"); };
  t->FreeOnTerminate = true;
  t->SetOnTerminate(MakeMethod<&TEndWatch::Ended>(&watch));
  t->Start();
  const bool reported = PumpUntil([&] { return !sink.Messages.empty(); });
  Application()->OnException = nullptr;
  ASSERT_TRUE(reported);
  EXPECT_EQ(sink.Messages, (std::vector<std::string>{"raised in a thread that frees itself"}));
  EXPECT_EQ(watch.Calls, 1);
}

TEST(Threads, EndEventRemovedWhileItsCallWaitsIsNotRun) {
  TEndWatch watch;
  std::atomic<bool> bodyDone{false};
  auto* t = new TWorker;
  t->Body = [&](TWorker*) { bodyDone = true; };
  t->SetOnTerminate(MakeMethod<&TEndWatch::Ended>(&watch));
  t->Start();
  while (!bodyDone) Sleep(1);
  // The thread now waits for this one to run its end event; removing the
  // handler meanwhile turns that call into nothing.
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(t->Handle(), 100));
  t->SetOnTerminate(nullptr);
  ASSERT_TRUE(PumpUntil([&] { return t->Finished(); }));
  EXPECT_EQ(watch.Calls, 0);
  TThread::Release(t);
}

TEST(Threads, DestroyingAnUnstartedThreadDoesNotRunIt) {
  bool ran = false;
  auto* t = new TWorker;
  t->Body = [&](TWorker*) { ran = true; };
  TThread::Release(t);
  EXPECT_FALSE(ran);
}

TEST(Threads, DestroyingARunningThreadWithAnEndEventReturns) {
  TEndWatch watch;
  std::atomic<bool> running{false};
  auto* t = new TWorker;
  t->Body = [&running](TWorker* self) {
    running = true;
    while (!self->Terminated()) Sleep(1);
  };
  t->SetOnTerminate(MakeMethod<&TEndWatch::Ended>(&watch));
  t->Start();
  while (!running) Sleep(1);
  TThread::Release(t);  // its end waits for this thread, which serves it meanwhile
  EXPECT_EQ(watch.Calls, 0);
}

// Released at once, a started thread still runs Execute on the whole object.
TEST(Threads, ReleasedRightAfterStartRunsOnTheWholeObject) {
  std::atomic<int> ran{0};
  for (int i = 0; i < 20; ++i) {
    TThreadPtr<TWorker> t(new TWorker);
    t->Body = [&ran](TWorker*) { ++ran; };
    t->Start();
  }
  EXPECT_EQ(ran, 20);
}

TEST(Application, ExceptionInAWindowProcedureGoesToTheHandler) {
  TExceptionSink sink;
  Application()->OnException = MakeMethod<&TExceptionSink::Handle>(&sink);
  auto* form = new testing::TWatchedForm(Application(), WM_USER + 77);
  form->Action = [](TMessage&) { throw EDkException("window procedure failed"); };
  SendMessageA(form->Handle(), WM_USER + 77, 0, 0);
  PostMessageA(form->Handle(), WM_USER + 77, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return form->Seen == 2; }));
  EXPECT_EQ(sink.Messages, (std::vector<std::string>{"window procedure failed", "window procedure failed"}));
  Application()->OnException = nullptr;
  delete form;
}

struct TMessageLog {
  std::vector<UINT> Seen;
  TWndMethod Old;
  void Spy(TMessage& m) {
    Seen.push_back(m.Msg);
    Old(m);
  }
};

TEST(Controls, ReplaceableWindowProcAndBounds) {
  TForm form(Application());
  form.SetBounds(50, 60, 300, 200);
  HWND h = form.Handle();
  RECT r;
  GetWindowRect(h, &r);
  EXPECT_EQ(r.left, 50);
  EXPECT_EQ(r.top, 60);
  EXPECT_EQ(r.right - r.left, 300);
  TMessageLog log;
  log.Old = form.WindowProc;
  form.WindowProc = MakeMethod<&TMessageLog::Spy>(&log);
  SetWindowPos(h, nullptr, 10, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(form.Left(), 10);  // still tracked: the spy passes messages on
  EXPECT_EQ(form.Top(), 20);
  EXPECT_NE(std::find(log.Seen.begin(), log.Seen.end(), UINT(WM_WINDOWPOSCHANGED)), log.Seen.end());
  form.WindowProc = log.Old;
  EXPECT_EQ(TWinControl::FindControl(h), &form);
  form.Show();
  EXPECT_TRUE(IsWindowVisible(h));
  EXPECT_EQ(GetWindow(h, GW_OWNER), Application()->Handle());  // no taskbar button of its own
  form.Hide();
  EXPECT_FALSE(IsWindowVisible(h));
}

struct TTickCounter {
  int Ticks = 0;
  TTimer* Timer = nullptr;
  void Tick(TObject* sender) {
    EXPECT_EQ(sender, Timer);
    if (++Ticks == 3) Timer->SetEnabled(false);
  }
};

TEST(Timers, FireUntilDisabled) {
  TTimer timer(nullptr);
  TTickCounter c;
  c.Timer = &timer;
  timer.SetInterval(10);
  timer.SetOnTimer(MakeMethod<&TTickCounter::Tick>(&c));
  ASSERT_TRUE(PumpUntil([&] { return c.Ticks == 3; }));
  Sleep(50);
  Application()->ProcessMessages();
  EXPECT_EQ(c.Ticks, 3);
}

TEST(Graphics, IconsAndImageLists) {
  TIcon a;
  EXPECT_TRUE(a.Empty());
  a.LoadFromResourceName(nullptr, reinterpret_cast<const char*>(IDI_APPLICATION));
  ASSERT_FALSE(a.Empty());
  TIcon b;
  int changes = 0;
  struct C { int* n; void On(TObject*) { ++*n; } } counter{&changes};
  b.OnChange = MakeMethod<&C::On>(&counter);
  b.Assign(&a);
  EXPECT_EQ(changes, 1);
  EXPECT_NE(b.Handle(), a.Handle());  // a copy with a handle of its own
  TImageList list(nullptr);
  EXPECT_EQ(list.Count(), 0);
  list.AddIcon(&a);
  list.AddIcon(&b);
  EXPECT_EQ(list.Count(), 2);
  TIcon c;
  list.GetIcon(1, &c);
  EXPECT_FALSE(c.Empty());
  ICONINFO info;
  ASSERT_TRUE(GetIconInfo(c.Handle(), &info));
  UniqueBitmap color(info.hbmColor), mask(info.hbmMask);
  EXPECT_THROW(list.GetIcon(2, &c), EInvalidOperation);
  EXPECT_EQ(list.Width(), c.ScreenWidth());
  EXPECT_EQ(list.Height(), c.ScreenHeight());
  b.Assign(nullptr);
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(0, b.ScreenWidth());
}

// With no room for a device context, converting raises the system error and
// leaves the bitmap as it was.
TEST(Graphics, BitmapConversionThatCannotDrawRaises) {
  TBitmap b;
  b.SetBitsPerPixel(8);
  b.SetSize(2, 1);
  b.Canvas();
  std::vector<UniqueBrush> brushes;
  while (HBRUSH brush = CreateSolidBrush(0)) brushes.emplace_back(brush);
  ASSERT_FALSE(brushes.empty());
  brushes.pop_back();  // room for the converted bitmap, none for its DC
  EXPECT_THROW(b.SetBitsPerPixel(24), EOSError);
  brushes.clear();
  EXPECT_EQ(8, b.BitsPerPixel());
}

// A 20 x 10 metafile (frame in hundredths of a millimetre of the screen) with a
// red rectangle at (2, 2)-(8, 6).
HENHMETAFILE RedRectangleMetafile() {
  WindowDc screen(nullptr);
  const int hres = GetDeviceCaps(screen.get(), HORZRES), vres = GetDeviceCaps(screen.get(), VERTRES);
  const int hsize = GetDeviceCaps(screen.get(), HORZSIZE), vsize = GetDeviceCaps(screen.get(), VERTSIZE);
  const RECT frame{0, 0, 20 * hsize * 100 / hres, 10 * vsize * 100 / vres};
  HDC dc = CreateEnhMetaFileA(screen.get(), nullptr, &frame, nullptr);
  UniqueBrush red(CreateSolidBrush(RGB(255, 0, 0)));
  const RECT r{2, 2, 8, 6};
  FillRect(dc, &r, red.get());
  return CloseEnhMetaFile(dc);
}

TEST(Graphics, MetafilesPlayCopyAndStream) {
  TMetafile m;
  EXPECT_TRUE(m.IsBlank());
  m.SetHandle(RedRectangleMetafile());
  ASSERT_FALSE(m.IsBlank());
  EXPECT_NEAR(20, m.ScreenWidth(), 1);
  EXPECT_NEAR(10, m.ScreenHeight(), 1);
  m.ResizeWidth(20);
  m.ResizeHeight(10);
  auto drawn = [](TGraphic& g) {
    TBitmap b;
    b.SetBitsPerPixel(32);
    b.SetSize(20, 10);
    b.Canvas().FillRect(RECT{0, 0, 20, 10}, RGB(255, 255, 255));
    g.DrawOn(b.Canvas(), TRect{0, 0, 20, 10});
    GdiFlush();
    auto at = [&b](int x, int y) {
      const uint8_t* p = b.ScanLine(y) + x * 4;
      return RGB(p[2], p[1], p[0]);
    };
    return std::make_pair(at(5, 4), at(15, 8));
  };
  EXPECT_EQ(std::make_pair(RGB(255, 0, 0), RGB(255, 255, 255)), drawn(m));
  // Streamed as an .emf file, copied, and on the clipboard: the same drawing.
  TMemoryStream s;
  m.SaveToStream(s);
  EXPECT_EQ(" EMF", std::string(reinterpret_cast<const char*>(s.Memory()) + 40, 4));
  s.SetPosition(0);
  TMetafile loaded;
  loaded.LoadFromStream(s);
  loaded.ResizeWidth(20);
  loaded.ResizeHeight(10);
  EXPECT_EQ(drawn(m), drawn(loaded));
  TPicture picture;
  picture.Assign(&m);
  ASSERT_NE(nullptr, dynamic_cast<TMetafile*>(picture.Graphic()));
  EXPECT_NE(m.Handle(), static_cast<TMetafile*>(picture.Graphic())->Handle());
  EXPECT_EQ(drawn(m), drawn(*picture.Graphic()));
  unsigned format = 0;
  uintptr_t data = 0, palette = 0;
  m.CopyToClipboard(format, data, palette);
  EXPECT_EQ(unsigned(CF_ENHMETAFILE), format);
  TMetafile pasted;
  pasted.PasteFromClipboard(format, data, palette);
  DeleteEnhMetaFile(reinterpret_cast<HENHMETAFILE>(data));
  EXPECT_FALSE(pasted.IsBlank());
  TMemoryStream garbage(std::string("not a metafile"));
  EXPECT_THROW(loaded.LoadFromStream(garbage), EInvalidGraphic);
  // A metafile cannot be copied into a bitmap the platform way.
  TBitmap b;
  EXPECT_THROW(b.Assign(&m), EConvertError);
}

// Closes the menu from inside its own modal loop.
void CALLBACK CloseMenu(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  EndMenu();
}

struct TMenuWatch {
  int Popups = 0;
  int Clicks = 0;
  void Popped(TObject*) {
    ++Popups;
    SetTimer(nullptr, 0, 50, CloseMenu);
  }
  void Clicked(TObject*) { ++Clicks; }
};

TEST(Menus, PopupRunsOnPopupAndReturnsWhenClosed) {
  TPopupMenu menu(nullptr);
  TMenuWatch w;
  auto* item = new TMenuItem(&menu);
  item->Caption = "Open";
  item->Default = true;
  item->OnClick = MakeMethod<&TMenuWatch::Clicked>(&w);
  menu.Items()->Add(item);
  auto* sep = new TMenuItem(nullptr);
  sep->Caption = "-";
  menu.Items()->Add(sep);
  menu.OnPopup = MakeMethod<&TMenuWatch::Popped>(&w);
  menu.Popup(100, 100);
  EXPECT_EQ(w.Popups, 1);
  EXPECT_EQ(menu.LastChosen(), nullptr);
  EXPECT_EQ(w.Clicks, 0);
  menu.Items()->Items(0)->Click();
  EXPECT_EQ(w.Clicks, 1);
  EXPECT_EQ(menu.Items()->Count(), 2);
}

TEST(Registry, ValuesRoundTripAndMissingValuesRaise) {
  TRegistry reg;
  reg.DeleteKey("\\Software\\OmFrameworkTest");
  ASSERT_FALSE(reg.OpenKey("\\Software\\OmFrameworkTest", false));
  ASSERT_TRUE(reg.OpenKey("\\Software\\OmFrameworkTest", true));
  reg.WriteString("Name", "value with spaces");
  reg.WriteInteger("Count", -7);
  reg.WriteBool("Flag", true);
  reg.WriteBinaryData("Blob", std::string("\x00\x01\xff", 3));
  EXPECT_EQ(reg.ReadString("Name"), "value with spaces");
  EXPECT_EQ(reg.ReadInteger("Count"), -7);
  EXPECT_TRUE(reg.ReadBool("Flag"));
  EXPECT_EQ(reg.ReadBinaryData("Blob"), std::string("\x00\x01\xff", 3));
  EXPECT_THROW(reg.ReadInteger("Name"), ERegistryException);
  EXPECT_THROW(reg.ReadInteger("Missing"), ERegistryException);
  EXPECT_THROW(reg.ReadString("Missing"), ERegistryException);
  EXPECT_THROW(reg.ReadString("Count"), ERegistryException);
  ASSERT_TRUE(reg.OpenKey("Sub", true));  // relative to the current key
  EXPECT_EQ(reg.CurrentPath(), "Software\\OmFrameworkTest\\Sub");
  reg.CloseKey();
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\Software\\OmFrameworkTest"));
  auto names = reg.GetValueNames();
  EXPECT_EQ(names.size(), 4u);
  EXPECT_EQ(reg.GetKeyNames(), (std::vector<std::string>{"Sub"}));
  EXPECT_TRUE(reg.DeleteKey("\\Software\\OmFrameworkTest"));
  EXPECT_FALSE(reg.KeyExists("\\Software\\OmFrameworkTest"));
}

TEST(Registry, MoveKeyTakesValuesAndSubKeysAlong) {
  const std::string root = "\\Software\\OmFrameworkMoveTest";
  TRegistry reg;
  reg.DeleteKey(root);
  ASSERT_TRUE(reg.OpenKey(root + "\\From\\Inner", true));
  reg.WriteString("Deep", "down here");
  ASSERT_TRUE(reg.OpenKey(root + "\\From", false));
  reg.WriteInteger("Top", 5);
  reg.CloseKey();
  EXPECT_TRUE(reg.MoveKey(root + "\\From", root + "\\Copy", false));
  EXPECT_TRUE(reg.KeyExists(root + "\\From"));  // kept without deleteOld
  EXPECT_TRUE(reg.MoveKey(root + "\\From", root + "\\To", true));
  EXPECT_FALSE(reg.KeyExists(root + "\\From"));
  ASSERT_TRUE(reg.OpenKeyReadOnly(root + "\\To"));
  EXPECT_EQ(reg.ReadInteger("Top"), 5);
  ASSERT_TRUE(reg.OpenKeyReadOnly(root + "\\To\\Inner"));
  EXPECT_EQ(reg.ReadString("Deep"), "down here");
  reg.CloseKey();
  EXPECT_FALSE(reg.MoveKey(root + "\\Nowhere", root + "\\Else", true));
  EXPECT_FALSE(reg.KeyExists(root + "\\Else"));
  // Never onto a key that exists: both stay as they were.
  ASSERT_TRUE(reg.OpenKey(root + "\\Other", true));
  reg.WriteInteger("Top", 6);
  reg.CloseKey();
  EXPECT_FALSE(reg.MoveKey(root + "\\To", root + "\\Other", true));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  ASSERT_TRUE(reg.OpenKeyReadOnly(root + "\\Other"));
  EXPECT_EQ(reg.ReadInteger("Top"), 6);
  EXPECT_EQ(reg.GetKeyNames(), std::vector<std::string>());
  EXPECT_TRUE(reg.KeyExists(root + "\\To"));
  reg.CloseKey();
  // Nor into one of its own sub-keys.
  EXPECT_FALSE(reg.MoveKey(root + "\\To", root + "\\to\\Inner\\Below", false));
  EXPECT_FALSE(reg.KeyExists(root + "\\To\\Inner\\Below"));
  // However the paths spell it: a doubled separator, a letter beyond ASCII in
  // the other case.
  EXPECT_FALSE(reg.MoveKey(root + "\\\\To", root + "\\To\\Below", false));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_FALSE(reg.KeyExists(root + "\\To\\Below"));
  ASSERT_TRUE(reg.OpenKey(root + "\\Zon\xE9", true));
  reg.CloseKey();
  EXPECT_FALSE(reg.MoveKey(root + "\\Zon\xE9", root + "\\ZON\xC9\\Sub", false));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_FALSE(reg.KeyExists(root + "\\Zon\xE9\\Sub"));
  EXPECT_TRUE(reg.DeleteKey(root));
}

}  // namespace
}  // namespace om
