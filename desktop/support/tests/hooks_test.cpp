// Window-procedure hooks on real windows: chain order, changes during
// dispatch, re-entrancy and release of a control destroyed mid-message.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "platform/win32_owners.h"
#include "support/dkwndprochook.h"
#include "support/putilwindow.h"

namespace om {
namespace {

constexpr UINT kProbe = WM_USER + 10;
constexpr UINT kNested = WM_USER + 11;

std::vector<std::string> Log;

class TProbeForm : public TForm {
public:
  using TForm::TForm;
protected:
  void WndProc(TMessage& m) override {
    if (m.Msg == kProbe || m.Msg == kNested) {
      Log.push_back(m.Msg == kProbe ? "own" : "own-nested");
      m.Result = 42;
      return;
    }
    TForm::WndProc(m);
  }
};

// A handler with a name and an optional action run during its call.
struct THandler {
  std::string Name;
  bool Handled = false;
  std::function<void(TMessage&)> Action;
  bool Call(TMessage& m) {
    if (m.Msg != kProbe && m.Msg != kNested) return false;
    Log.push_back(m.Msg == kProbe ? Name : Name + "-nested");
    if (Action) Action(m);
    return Handled;
  }
  TDkHookMessageEvent Event() { return MakeMethod<&THandler::Call>(this); }
};

bool Pump(const std::function<bool()>& done) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > 60000) return false;
    Application()->ProcessMessages();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

class Hooks : public ::testing::Test {
protected:
  void SetUp() override {
    Log.clear();
    Form = new TProbeForm(Application());
    Form->Handle();
  }
  void TearDown() override {
    delete Form;
    Pump([] { return DkReleaser()->PendingCount() == 0; });
  }
  LRESULT Send(UINT msg = kProbe) { return SendMessageA(Form->Handle(), msg, 0, 0); }
  TProbeForm* Form = nullptr;
};

TEST_F(Hooks, BeforeAndAfterChainsRunInOrderAroundTheControl) {
  THandler b1{"b1"}, b2{"b2"}, a1{"a1"}, a2{"a2"};
  TWndMethod original = Form->WindowProc;
  ASSERT_TRUE(HookWindowProc(Form, hoAfterMsg, a1.Event()));
  ASSERT_TRUE(HookWindowProc(Form, hoBeforeMsg, b1.Event()));
  ASSERT_TRUE(HookWindowProc(Form, hoAfterMsg, a2.Event()));
  ASSERT_TRUE(HookWindowProc(Form, hoBeforeMsg, b2.Event()));
  EXPECT_NE(Form->WindowProc, original);
  EXPECT_EQ(Send(), 42);
  EXPECT_EQ(Log, (std::vector<std::string>{"b1", "b2", "own", "a1", "a2"}));
  for (THandler* h : {&b1, &b2}) EXPECT_TRUE(UnhookWindowProc(Form, hoBeforeMsg, h->Event()));
  for (THandler* h : {&a1, &a2}) EXPECT_TRUE(UnhookWindowProc(Form, hoAfterMsg, h->Event()));
  EXPECT_EQ(Form->WindowProc, original);  // the control's own procedure is back
  Log.clear();
  Send();
  EXPECT_EQ(Log, (std::vector<std::string>{"own"}));
}

TEST_F(Hooks, HandledBeforeMessageSkipsTheControlAndTheAfterChain) {
  THandler b1{"b1"}, a1{"a1"};
  b1.Handled = true;
  b1.Action = [](TMessage& m) { m.Result = 7; };
  HookWindowProc(Form, hoBeforeMsg, b1.Event());
  HookWindowProc(Form, hoAfterMsg, a1.Event());
  EXPECT_EQ(Send(), 7);
  EXPECT_EQ(Log, (std::vector<std::string>{"b1"}));
  UnhookWindowProc(Form, hoBeforeMsg, b1.Event());
  UnhookWindowProc(Form, hoAfterMsg, a1.Event());
}

TEST_F(Hooks, HandlersRemovedOrAddedDuringDispatch) {
  THandler b1{"b1"}, b2{"b2"}, b3{"b3"}, late{"late"};
  // b1 removes itself, b2 removes b3 (not yet called), the last one adds "late".
  b1.Action = [&](TMessage&) { UnhookWindowProc(Form, hoBeforeMsg, b1.Event()); };
  b2.Action = [&](TMessage&) {
    UnhookWindowProc(Form, hoBeforeMsg, b3.Event());
    HookWindowProc(Form, hoBeforeMsg, late.Event());
  };
  for (THandler* h : {&b1, &b2, &b3}) HookWindowProc(Form, hoBeforeMsg, h->Event());
  Send();
  EXPECT_EQ(Log, (std::vector<std::string>{"b1", "b2", "late", "own"}));
  Log.clear();
  b2.Action = nullptr;
  Send();
  EXPECT_EQ(Log, (std::vector<std::string>{"b2", "late", "own"}));
  UnhookWindowProc(Form, hoBeforeMsg, b2.Event());
  UnhookWindowProc(Form, hoBeforeMsg, late.Event());
}

TEST_F(Hooks, HandlerAddedByTheLastOfItsChainRunsInTheSameDispatch) {
  THandler a1{"a1"}, a2{"a2"};
  bool added = false;
  a1.Action = [&](TMessage&) {
    if (!added) HookWindowProc(Form, hoAfterMsg, a2.Event());
    added = true;
  };
  HookWindowProc(Form, hoAfterMsg, a1.Event());
  Send();
  EXPECT_EQ(Log, (std::vector<std::string>{"own", "a1", "a2"}));
  UnhookWindowProc(Form, hoAfterMsg, a1.Event());
  UnhookWindowProc(Form, hoAfterMsg, a2.Event());
}

TEST_F(Hooks, SameHandlerTwiceIsTwoNodes) {
  THandler b{"b"};
  HookWindowProc(Form, hoBeforeMsg, b.Event());
  HookWindowProc(Form, hoBeforeMsg, b.Event());
  Send();
  EXPECT_EQ(Log, (std::vector<std::string>{"b", "b", "own"}));
  UnhookWindowProc(Form, hoBeforeMsg, b.Event());
  Log.clear();
  Send();
  EXPECT_EQ(Log, (std::vector<std::string>{"b", "own"}));
  UnhookWindowProc(Form, hoBeforeMsg, b.Event());
  EXPECT_EQ(DkWndProcHook()->Find(Form)->HandlerCount(hoBeforeMsg), 0);
}

TEST_F(Hooks, ReentrantDispatchKeepsEachLevelsPlace) {
  THandler b1{"b1"}, b2{"b2"}, a1{"a1"};
  // b1 sends a nested message to the same control; during the nested dispatch
  // it removes b2, which the outer level was about to call next.
  b1.Action = [&](TMessage& m) {
    if (m.Msg == kProbe) SendMessageA(Form->Handle(), kNested, 0, 0);
    else UnhookWindowProc(Form, hoBeforeMsg, b2.Event());
  };
  HookWindowProc(Form, hoBeforeMsg, b1.Event());
  HookWindowProc(Form, hoBeforeMsg, b2.Event());
  HookWindowProc(Form, hoAfterMsg, a1.Event());
  EXPECT_EQ(Send(), 42);
  EXPECT_EQ(Log, (std::vector<std::string>{"b1", "b1-nested", "own-nested", "a1-nested", "own", "a1"}));
  // Deep nesting grows the level stack without losing places.
  Log.clear();
  int depth = 0;
  b1.Action = [&](TMessage&) {
    if (++depth < 12) SendMessageA(Form->Handle(), kNested, 0, 0);
  };
  HookWindowProc(Form, hoBeforeMsg, b2.Event());
  Send();
  EXPECT_EQ(std::count(Log.begin(), Log.end(), "b2-nested"), 11);
  EXPECT_EQ(std::count(Log.begin(), Log.end(), "own-nested"), 11);
  EXPECT_EQ(std::count(Log.begin(), Log.end(), "a1-nested"), 11);
  EXPECT_EQ(Log.back(), "a1");
  EXPECT_FALSE(DkWndProcHook()->Find(Form)->Dispatching());
  UnhookWindowProc(Form, hoBeforeMsg, b1.Event());
  UnhookWindowProc(Form, hoBeforeMsg, b2.Event());
  UnhookWindowProc(Form, hoAfterMsg, a1.Event());
}

TEST_F(Hooks, ControlDestroyedDuringAMessageIsReleasedAfterIt) {
  THandler b1{"b1"}, b2{"b2"}, a1{"a1"};
  b1.Action = [&](TMessage&) {
    delete Form;
    Form = nullptr;
  };
  HookWindowProc(Form, hoBeforeMsg, b1.Event());
  HookWindowProc(Form, hoBeforeMsg, b2.Event());
  HookWindowProc(Form, hoAfterMsg, a1.Event());
  TDkHookInfos* infos = DkWndProcHook()->Find(Form);
  ASSERT_NE(infos, nullptr);
  HWND wnd = Form->Handle();
  int records = DkWndProcHook()->RecordCount();
  SendMessageA(wnd, kProbe, 0, 0);
  EXPECT_EQ(Log, (std::vector<std::string>{"b1"}));  // nothing runs on a destroyed control
  EXPECT_FALSE(IsWindow(wnd));
  // Unlisted at once, freed only once the message has returned.
  EXPECT_EQ(DkWndProcHook()->RecordCount(), records - 1);
  EXPECT_TRUE(DkReleaser()->IsPending(infos));
  ASSERT_TRUE(Pump([] { return DkReleaser()->PendingCount() == 0; }));
}

TEST_F(Hooks, NestedLoopOfAHandlerWhoseControlWentDrainsItsQueue) {
  TDkHookInfos* infos = nullptr;
  int served = 0;
  bool pendingInside = true;
  THandler b1{"b1"};
  b1.Action = [&](TMessage&) {
    delete Form;
    Form = nullptr;
    // A modal loop inside the handler: the record's release waits for the
    // message to return without keeping the queue busy meanwhile.
    MSG m;
    while (served < 1000 && PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessageA(&m);
      ++served;
    }
    pendingInside = DkReleaser()->IsPending(infos);
  };
  HookWindowProc(Form, hoBeforeMsg, b1.Event());
  infos = DkWndProcHook()->Find(Form);
  ASSERT_NE(infos, nullptr);
  Send();
  EXPECT_LT(served, 1000);
  EXPECT_FALSE(pendingInside);  // handed over only once the message has returned
  EXPECT_TRUE(DkReleaser()->IsPending(infos));
  ASSERT_TRUE(Pump([] { return DkReleaser()->PendingCount() == 0; }));
}

TEST_F(Hooks, ExceptionInAHandlerReachesTheApplicationAndUnwindsTheLevel) {
  struct TSink {
    std::vector<std::string> Seen;
    void On(TObject*, const std::exception& e) { Seen.push_back(e.what()); }
  } sink;
  Application()->OnException = MakeMethod<&TSink::On>(&sink);
  THandler b{"b"};
  b.Action = [](TMessage&) { throw EDkException("handler failed"); };
  HookWindowProc(Form, hoBeforeMsg, b.Event());
  Send();
  EXPECT_EQ(sink.Seen, (std::vector<std::string>{"handler failed"}));
  EXPECT_FALSE(DkWndProcHook()->Find(Form)->Dispatching());
  b.Action = nullptr;
  Log.clear();
  Send();
  EXPECT_EQ(Log, (std::vector<std::string>{"b", "own"}));
  UnhookWindowProc(Form, hoBeforeMsg, b.Event());
  Application()->OnException = nullptr;
}

TEST_F(Hooks, RefusedRegistrations) {
  THandler b{"b"};
  EXPECT_FALSE(HookWindowProc(static_cast<TWinControl*>(nullptr), hoBeforeMsg, b.Event()));
  TDkHookMessageEvent bogus(reinterpret_cast<TDkHookMessageEvent::TCode>(uintptr_t(0x1234)), &b);
  EXPECT_FALSE(HookWindowProc(Form, hoBeforeMsg, bogus));
  EXPECT_FALSE(UnhookWindowProc(Form, hoBeforeMsg, bogus));
  TForm other(nullptr);
  EXPECT_FALSE(UnhookWindowProc(&other, hoBeforeMsg, b.Event()));  // never hooked
}

// A window of no control of ours.
LRESULT CALLBACK PlainProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == kProbe) {
    Log.push_back("plain");
    return 5;
  }
  if (m == WM_NCDESTROY) Log.push_back("plain-ncdestroy");
  return DefWindowProcA(w, m, wp, lp);
}

HWND NewPlainWindow() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = PlainProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "OmHookPlain";
  RegisterClassA(&wc);
  return CreateWindowExA(0, "OmHookPlain", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
}

TEST(BareWindowHooks, ChainsAroundTheWindowsProcedureAndReleaseAfterDestruction) {
  Log.clear();
  HWND w = NewPlainWindow();
  ASSERT_TRUE(w);
  THandler b{"b"}, a{"a"};
  ASSERT_TRUE(HookWindowProc(w, hoBeforeMsg, b.Event()));
  ASSERT_TRUE(HookWindowProc(w, hoAfterMsg, a.Event()));
  EXPECT_EQ(SendMessageA(w, kProbe, 0, 0), 5);
  EXPECT_EQ(Log, (std::vector<std::string>{"b", "plain", "a"}));
  TDkHookInfos* infos = DkWndProcHook()->Find(w);
  DestroyWindow(w);
  EXPECT_EQ(Log.back(), "plain-ncdestroy");  // the window's own procedure still ends it
  EXPECT_EQ(DkWndProcHook()->Find(w), nullptr);
  EXPECT_TRUE(DkReleaser()->IsPending(infos));
  ASSERT_TRUE(Pump([] { return DkReleaser()->PendingCount() == 0; }));
}

TEST(BareWindowHooks, UnhookedOutsideAMessageItsRecordGoes) {
  HWND w = NewPlainWindow();
  ASSERT_TRUE(w);
  THandler b{"b"};
  ASSERT_TRUE(HookWindowProc(w, hoBeforeMsg, b.Event()));
  ASSERT_TRUE(UnhookWindowProc(w, hoBeforeMsg, b.Event()));
  EXPECT_EQ(GetWindowLongPtrA(w, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&PlainProc));
  DestroyWindow(w);
  EXPECT_EQ(DkWndProcHook()->Find(w), nullptr);
}

// The only handler unhooking itself: its message still reaches the window's
// own procedure, and the record goes once the message has returned.
struct TSelfRemover {
  std::function<void(TSelfRemover*)> Unhook;
  bool Call(TMessage& m) {
    if (m.Msg == WM_SETTEXT) Unhook(this);
    return false;
  }
  TDkHookMessageEvent Event() { return MakeMethod<&TSelfRemover::Call>(this); }
};

TEST_F(Hooks, OnlyHandlerRemovingItselfLetsItsMessageThrough) {
  auto textOf = [](HWND w) {
    char text[8] = {};
    GetWindowTextA(w, text, sizeof text);
    return std::string(text);
  };
  TSelfRemover r{[this](TSelfRemover* self) { UnhookWindowProc(Form, hoBeforeMsg, self->Event()); }};
  const TWndMethod original = Form->WindowProc;
  ASSERT_TRUE(HookWindowProc(Form, hoBeforeMsg, r.Event()));
  SetWindowTextA(Form->Handle(), "x");
  EXPECT_EQ(textOf(Form->Handle()), "x");
  EXPECT_EQ(Form->WindowProc, original);
  EXPECT_EQ(DkWndProcHook()->Find(Form), nullptr);

  HWND w = NewPlainWindow();
  ASSERT_TRUE(w);
  r.Unhook = [w](TSelfRemover* self) { UnhookWindowProc(w, hoBeforeMsg, self->Event()); };
  ASSERT_TRUE(HookWindowProc(w, hoBeforeMsg, r.Event()));
  SetWindowTextA(w, "x");
  EXPECT_EQ(textOf(w), "x");
  EXPECT_EQ(GetWindowLongPtrA(w, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&PlainProc));
  DestroyWindow(w);
}

TEST(UtilityWindow, DragCursorsComeFromTheStandardOnes) {
  // Defined by the program's start-up: the screen object exists by then.
  ASSERT_TRUE(ScreenExists());
  TScreen* screen = Screen();
  // An id nobody defined reads as the default cursor: make that one differ.
  const HCURSOR arrow = screen->Cursor(0);
  screen->SetCursor(0, LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)));
  EXPECT_EQ(screen->Cursor(100), screen->Cursor(-16));
  EXPECT_EQ(screen->Cursor(101), screen->Cursor(-12));
  EXPECT_EQ(screen->Cursor(102), screen->Cursor(-16));
  EXPECT_EQ(screen->Cursor(103), screen->Cursor(-16));
  screen->SetCursor(0, arrow);
  DefineDragCursors();  // again: the same
  EXPECT_EQ(screen->Cursor(100), screen->Cursor(-16));
  EXPECT_EQ(screen->Cursor(101), screen->Cursor(-12));
}

DWORD WINAPI PostFromThread(LPVOID p) {
  PostMessageA(static_cast<HWND>(p), WM_USER + 5, 0, 0);
  return 0;
}

TEST(UtilityWindow, MessagesReachTheMethodAndTheClassUsesDefWindowProc) {
  struct TCatcher {
    std::vector<UINT> Seen;
    HWND Wnd = nullptr;
    void Proc(TMessage& m) {
      Seen.push_back(m.Msg);
      if (m.Msg == WM_USER + 5) m.Result = 99;
      else m.Result = DefWindowProcA(Wnd, m.Msg, m.WParam, m.LParam);
    }
  } c;
  c.Wnd = AllocateUtilityWindow(MakeMethod<&TCatcher::Proc>(&c));
  ASSERT_TRUE(c.Wnd);
  char cls[64] = {};
  GetClassNameA(c.Wnd, cls, sizeof cls);
  EXPECT_STREQ(cls, "TPUtilWindowEx");
  WNDCLASSA wc{};
  ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "TPUtilWindowEx", &wc));
  EXPECT_EQ(wc.lpfnWndProc, reinterpret_cast<WNDPROC>(&DefWindowProcA));
  EXPECT_EQ(wc.cbWndExtra, int(2 * sizeof(void*)));
  EXPECT_EQ(GetWindowLongA(c.Wnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, WS_EX_TOOLWINDOW);
  EXPECT_FALSE(IsWindowVisible(c.Wnd));
  EXPECT_EQ(SendMessageA(c.Wnd, WM_USER + 5, 0, 0), 99);
  // Posted from another thread, handled on this one.
  UniqueHandle t(CreateThread(nullptr, 0, PostFromThread, c.Wnd, 0, nullptr));
  WaitForSingleObject(t.get(), INFINITE);
  ASSERT_TRUE(Pump([&] { return std::count(c.Seen.begin(), c.Seen.end(), WM_USER + 5) == 2; }));
  // Without a method the window keeps DefWindowProcA.
  HWND plain = AllocateUtilityWindow(TWndMethod());
  EXPECT_EQ(GetWindowLongPtrA(plain, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&DefWindowProcA));
  DeallocateUtilityWindow(plain);
  DeallocateUtilityWindow(c.Wnd);
  EXPECT_FALSE(IsWindow(c.Wnd));
}

}  // namespace
}  // namespace om
