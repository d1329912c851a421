// The notification-area icon against Wine's desktop shell: shell calls as the
// shell sees them, callback messages posted to the hidden window as the shell
// would, balloons, re-adding after "TaskbarCreated", animation without handle
// leaks, and hiding/restoring the application.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "platform/win32_owners.h"
#include "support/dktrayicon.h"
#include "support/tests/png_writer.h"

namespace om {
namespace {

// ---------------------------------------------------------------------------
// A recorder in front of the real shell call.

struct TShellCall {
  DWORD Message;
  NOTIFYICONDATAA Data;
  BOOL Result;
};
std::vector<TShellCall> Calls;
// When set, decides the outcome instead of the shell (and sets the last error).
std::function<BOOL(DWORD, PNOTIFYICONDATAA)> Script;
int Sleeps = 0;

BOOL WINAPI RecordingShellNotify(DWORD message, PNOTIFYICONDATAA data) {
  BOOL r;
  if (Script) {
    r = Script(message, data);
  } else {
    r = Shell_NotifyIconA(message, data);
  }
  DWORD err = GetLastError();
  Calls.push_back(TShellCall{message, *data, r});
  SetLastError(err);
  return r;
}

void CountSleep(DWORD) { ++Sleeps; }

// Whether the shell has our icon: modifying nothing succeeds only then.
bool ShellHasIcon(HWND wnd) {
  NOTIFYICONDATAA d{};
  d.cbSize = TDkTrayIcon::kIconDataSize;
  d.hWnd = wnd;
  d.uID = 1;
  d.uFlags = 0;
  return Shell_NotifyIconA(NIM_MODIFY, &d) != FALSE;
}

std::vector<TShellCall> CallsOf(DWORD message) {
  std::vector<TShellCall> r;
  for (const auto& c : Calls)
    if (c.Message == message) r.push_back(c);
  return r;
}

bool PumpUntil(const std::function<bool()>& done, DWORD limit = 60000) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > limit) return false;
    Application()->ProcessMessages();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

void PumpFor(DWORD ms) {
  DWORD start = GetTickCount();
  PumpUntil([&] { return GetTickCount() - start >= ms; }, ms + 1000);
}

// A solid-colour 16x16 icon.
HICON SolidIcon(uint32_t rgb) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = 16;
  bi.bmiHeader.biHeight = 16;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  UniqueBitmap color(CreateDIBSection(WindowDc(nullptr).get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  for (int i = 0; i < 256; ++i) static_cast<uint32_t*>(bits)[i] = 0xFF000000u | rgb;
  UniqueBitmap mask(CreateBitmap(16, 16, 1, 1, nullptr));
  ICONINFO ii{TRUE, 0, 0, mask.get(), color.get()};
  return CreateIconIndirect(&ii);
}

// The colour of an icon's centre pixel.
uint32_t IconColour(HICON icon) {
  ICONINFO ii{};
  if (!GetIconInfo(icon, &ii)) return 0xFFFFFFFFu;
  UniqueBitmap color(ii.hbmColor), mask(ii.hbmMask);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  WindowDc dc(nullptr);
  GetDIBits(dc.get(), ii.hbmColor, 0, 0, nullptr, &bi, DIB_RGB_COLORS);
  int w = bi.bmiHeader.biWidth, h = std::abs(bi.bmiHeader.biHeight);
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  bi.bmiHeader.biHeight = -h;
  std::vector<uint32_t> px(static_cast<size_t>(w) * h);
  GetDIBits(dc.get(), ii.hbmColor, 0, h, px.data(), &bi, DIB_RGB_COLORS);
  return px[static_cast<size_t>(h / 2) * w + w / 2] & 0xFFFFFF;
}

// GDI and USER objects of this process. Where GetGuiResources does not count
// (Wine answers 0), the handle tables are probed instead: there a handle's
// low word alone finds a live object, so every GDI object and every icon or
// cursor of the process is found by trying each low word.
struct TGuiCounts {
  DWORD Gdi, User;
  bool operator==(const TGuiCounts& o) const { return Gdi == o.Gdi && User == o.User; }
};
std::ostream& operator<<(std::ostream& os, const TGuiCounts& c) {
  return os << "GDI " << c.Gdi << ", USER " << c.User;
}

TGuiCounts CountGuiObjects() {
  HANDLE process = GetCurrentProcess();
  TGuiCounts c{GetGuiResources(process, GR_GDIOBJECTS), GetGuiResources(process, GR_USEROBJECTS)};
  if (c.Gdi || c.User) return c;
  for (uintptr_t h = 1; h < 0x10000; ++h)
    if (GetObjectType(reinterpret_cast<HGDIOBJ>(h))) ++c.Gdi;
  for (uintptr_t h = 1; h < 0x10000; ++h) {
    ICONINFO ii{};
    if (GetIconInfo(reinterpret_cast<HICON>(h), &ii)) {
      ++c.User;
      UniqueBitmap color(ii.hbmColor), mask(ii.hbmMask);
    }
  }
  return c;
}

// Closes the menu from inside its own modal loop.
void CALLBACK CloseMenu(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  EndMenu();
}

// Visible task buttons on the shell's taskbar (the start button aside).
BOOL CALLBACK CountButton(HWND w, LPARAM lp) {
  char cls[32] = {};
  GetClassNameA(w, cls, sizeof cls);
  if (lstrcmpiA(cls, "Button") == 0 && IsWindowVisible(w)) ++*reinterpret_cast<int*>(lp);
  return TRUE;
}
int TaskbarButtons() {
  int n = 0;
  EnumChildWindows(FindWindowA("Shell_TrayWnd", nullptr), CountButton, reinterpret_cast<LPARAM>(&n));
  return n - 1;
}

struct TEvents {
  std::vector<std::string> Log;
  bool HandleContext = false;
  bool ThrowOnBalloonClick = false;
  void Click(TObject*, TMouseButton b, TShiftState, int, int) { Log.push_back(b == mbLeft ? "click" : "click-other"); }
  void DblClick(TObject*, TMouseButton, TShiftState, int, int) { Log.push_back("dblclick"); }
  void Context(TObject*, POINT, bool& handled) {
    Log.push_back("context");
    handled = HandleContext;
  }
  void Popup(TObject*) {
    Log.push_back("popup");
    SetTimer(nullptr, 0, 50, CloseMenu);
  }
  void MenuDefault(TObject*) { Log.push_back("default-item"); }
  void BalloonShow(TObject*) { Log.push_back("balloon-show"); }
  void BalloonClick(TObject*) {
    Log.push_back("balloon-click");
    if (ThrowOnBalloonClick) throw EDkException("balloon handler failed");
  }
  void Animate(TObject*, int index) { Log.push_back("animate " + std::to_string(index)); }
  int Count(const std::string& s) const { return static_cast<int>(std::count(Log.begin(), Log.end(), s)); }
};

struct TExceptionSink {
  std::vector<std::string> Seen;
  void On(TObject*, const std::exception& e) { Seen.push_back(e.what()); }
};

class TrayIcon : public ::testing::Test {
protected:
  void SetUp() override {
    Calls.clear();
    Script = nullptr;
    Sleeps = 0;
    TDkTrayIcon::ShellNotify = &RecordingShellNotify;
    TDkTrayIcon::RetrySleep = &CountSleep;
    Application()->OnException = MakeMethod<&TExceptionSink::On>(&Sink);
    Tray = new TDkTrayIcon(Application());
  }
  void TearDown() override {
    delete Tray;
    Script = nullptr;
    Application()->OnException = nullptr;
    EXPECT_EQ(Sink.Seen, std::vector<std::string>{});
  }
  void Callback(UINT event) {
    PostMessageA(Tray->WindowHandle(), TDkTrayIcon::kCallbackMessage, 1, event);
    Application()->ProcessMessages();
  }
  TDkTrayIcon* Tray = nullptr;
  TEvents Ev;
  TExceptionSink Sink;
};

TEST_F(TrayIcon, DesktopShellHasANotificationArea) {
  EXPECT_NE(FindWindowA("Shell_TrayWnd", nullptr), nullptr);
  EXPECT_GE(TDkTrayIcon::ShellVersion(), 0x50000u) << std::hex << TDkTrayIcon::ShellVersion();
#ifndef _WIN64
  EXPECT_EQ(TDkTrayIcon::kIconDataSize, 488u);
#endif
}

TEST_F(TrayIcon, AddModifyDeleteAsTheShellSeesThem) {
  EXPECT_FALSE(Tray->Active());
  EXPECT_EQ(Tray->Delay(), 100u);
  EXPECT_EQ(Tray->Visibility(), TrayVis(tvVisibleTaskBar) | TrayVis(tvVisibleTaskList) | TrayVis(tvAutoHide));
  Tray->SetHint("Backup agent|long help");
  Tray->SetActive(true);
  ASSERT_TRUE(Tray->IconShown());
  EXPECT_TRUE(ShellHasIcon(Tray->WindowHandle()));
  ASSERT_GE(Calls.size(), 2u);
  const TShellCall& add = Calls[0];
  EXPECT_EQ(add.Message, DWORD(NIM_ADD));
  EXPECT_EQ(add.Data.cbSize, TDkTrayIcon::kIconDataSize);
  EXPECT_EQ(add.Data.hWnd, Tray->WindowHandle());
  EXPECT_EQ(add.Data.uID, 1u);
  EXPECT_EQ(add.Data.uCallbackMessage, 1025u);
  EXPECT_EQ(add.Data.uFlags, UINT(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_STREQ(add.Data.szTip, "Backup agent");
  EXPECT_NE(add.Data.hIcon, nullptr);  // the application icon when none is set
  EXPECT_EQ(Calls[1].Message, DWORD(NIM_SETVERSION));
  EXPECT_EQ(Calls[1].Data.uVersion, 3u);

  Calls.clear();
  Tray->Icon()->SetHandle(SolidIcon(0x0000FF));
  ASSERT_EQ(Calls.size(), 1u);
  EXPECT_EQ(Calls[0].Message, DWORD(NIM_MODIFY));
  EXPECT_EQ(Calls[0].Data.uFlags, UINT(NIF_ICON));
  EXPECT_TRUE(Calls[0].Result);
  EXPECT_EQ(IconColour(Tray->ShownIconHandle()), 0x0000FFu);
  EXPECT_NE(Tray->ShownIconHandle(), Tray->Icon()->Handle());  // a copy of its own

  Calls.clear();
  Tray->SetActive(false);
  EXPECT_FALSE(Tray->IconShown());
  ASSERT_EQ(Calls.size(), 1u);
  EXPECT_EQ(Calls[0].Message, DWORD(NIM_DELETE));
  EXPECT_FALSE(ShellHasIcon(Tray->WindowHandle()));
}

TEST_F(TrayIcon, IconSelectionFromTheListTheIconOrTheApplication) {
  auto* list = new TImageList(Application());
  for (uint32_t c : {0xFF0000u, 0x00FF00u, 0x0000FFu}) {
    TIcon i;
    i.SetHandle(SolidIcon(c));
    list->AddIcon(&i);
  }
  Tray->Icon()->SetHandle(SolidIcon(0xFFFF00));
  Tray->SetIcons(list);
  Tray->SetIconIndex(1);
  EXPECT_EQ(IconColour(Tray->ShownIconHandle()), 0x00FF00u);
  Tray->SetIconIndex(7);  // out of range: the icon
  EXPECT_EQ(IconColour(Tray->ShownIconHandle()), 0xFFFF00u);
  Tray->SetIconIndex(0);
  EXPECT_EQ(IconColour(Tray->ShownIconHandle()), 0xFF0000u);
  delete list;  // the tray forgets the list and falls back to the icon
  EXPECT_EQ(Tray->Icons(), nullptr);
  EXPECT_EQ(IconColour(Tray->ShownIconHandle()), 0xFFFF00u);
  Tray->Icon()->SetHandle(nullptr);
  EXPECT_EQ(IconColour(Tray->ShownIconHandle()), IconColour(Application()->Icon()));
}

TEST_F(TrayIcon, TipIsSentAtTheNextMouseMoveAndCut) {
  Tray->SetActive(true);
  Calls.clear();
  std::string long_(200, 'x');
  Tray->SetHint(long_ + "|help");
  EXPECT_TRUE(Calls.empty());  // not before the mouse is over the icon
  Callback(WM_MOUSEMOVE);
  ASSERT_EQ(Calls.size(), 1u);
  EXPECT_EQ(Calls[0].Data.uFlags, UINT(NIF_TIP));
  EXPECT_EQ(std::string(Calls[0].Data.szTip), std::string(127, 'x'));
  Callback(WM_MOUSEMOVE);
  EXPECT_EQ(Calls.size(), 1u);  // unchanged tip: nothing more to send
  Tray->SetActive(false);

  // An old shell: 63 characters, lines joined with " - ".
  const uint32_t real = TDkTrayIcon::ShellVersion();
  TDkTrayIcon::OverrideShellVersion(0x40000);
  auto* old = new TDkTrayIcon(nullptr);
  old->SetHint("first\r\nsecond");
  EXPECT_EQ(old->Hint(), "first - second");
  old->SetHint(long_);
  old->SetActive(true);
  EXPECT_EQ(std::string(old->IconData().szTip), std::string(63, 'x'));
  Calls.clear();
  old->ShowBalloon("t", "x", btInfo, 3000, false);  // no balloons on an old shell
  EXPECT_TRUE(Calls.empty());
  delete old;
  TDkTrayIcon::OverrideShellVersion(real);
}

TEST_F(TrayIcon, ClickWaitsForTheDoubleClickTimeAndADoubleClickDropsIt) {
  Tray->OnClick = MakeMethod<&TEvents::Click>(&Ev);
  Tray->OnDblClick = MakeMethod<&TEvents::DblClick>(&Ev);
  Tray->SetActive(true);
  DWORD start = GetTickCount();
  Callback(WM_LBUTTONDOWN);
  Callback(WM_LBUTTONUP);
  EXPECT_EQ(Ev.Count("click"), 0);
  ASSERT_TRUE(PumpUntil([&] { return Ev.Count("click") == 1; }));
  EXPECT_GE(GetTickCount() - start + 20, GetDoubleClickTime());
  // Down, up, double click, up: only the double click.
  Ev.Log.clear();
  Callback(WM_LBUTTONDOWN);
  Callback(WM_LBUTTONUP);
  Callback(WM_LBUTTONDBLCLK);
  Callback(WM_LBUTTONUP);
  PumpFor(GetDoubleClickTime() + 300);
  EXPECT_EQ(Ev.Log, (std::vector<std::string>{"dblclick"}));
  // Without a double-click handler the click runs at once.
  Tray->OnDblClick = nullptr;
  Ev.Log.clear();
  Callback(WM_LBUTTONDOWN);
  Callback(WM_LBUTTONUP);
  EXPECT_EQ(Ev.Log, (std::vector<std::string>{"click"}));
  // An up without a down over the icon is no click.
  Ev.Log.clear();
  Callback(WM_LBUTTONUP);
  EXPECT_TRUE(Ev.Log.empty());
}

TEST_F(TrayIcon, DoubleClickWithoutHandlerClicksTheDefaultMenuItem) {
  auto* menu = new TPopupMenu(Application());
  auto* item = new TMenuItem(menu);
  item->Caption = "Open";
  item->Default = true;
  item->OnClick = MakeMethod<&TEvents::MenuDefault>(&Ev);
  menu->Items()->Add(item);
  Tray->SetPopupMenu(menu);
  Tray->SetActive(true);
  Callback(WM_LBUTTONDBLCLK);
  EXPECT_EQ(Ev.Log, (std::vector<std::string>{"default-item"}));
  // With a handler, only the handler.
  Tray->OnDblClick = MakeMethod<&TEvents::DblClick>(&Ev);
  Ev.Log.clear();
  Callback(WM_LBUTTONDBLCLK);
  EXPECT_EQ(Ev.Log, (std::vector<std::string>{"dblclick"}));
  delete menu;
  EXPECT_EQ(Tray->PopupMenu(), nullptr);
}

TEST_F(TrayIcon, MenuPopsUpOnTheContextMessage) {
  auto* menu = new TPopupMenu(Application());
  auto* item = new TMenuItem(menu);
  item->Caption = "Exit";
  menu->Items()->Add(item);
  menu->OnPopup = MakeMethod<&TEvents::Popup>(&Ev);
  Tray->SetPopupMenu(menu);
  Tray->OnContextPopup = MakeMethod<&TEvents::Context>(&Ev);
  Tray->SetActive(true);
  // The right button alone does not pop the menu up on a current shell.
  Callback(WM_RBUTTONDOWN);
  Callback(WM_RBUTTONUP);
  EXPECT_TRUE(Ev.Log.empty());
  Callback(WM_CONTEXTMENU);
  EXPECT_EQ(Ev.Log, (std::vector<std::string>{"context", "popup"}));
  Ev.Log.clear();
  Ev.HandleContext = true;
  Callback(WM_CONTEXTMENU);
  EXPECT_EQ(Ev.Log, (std::vector<std::string>{"context"}));
  // On an old shell the right button's release pops it up.
  const uint32_t real = TDkTrayIcon::ShellVersion();
  TDkTrayIcon::OverrideShellVersion(0x40000);
  Ev.Log.clear();
  Ev.HandleContext = false;
  Callback(WM_RBUTTONDOWN);
  Callback(WM_RBUTTONUP);
  TDkTrayIcon::OverrideShellVersion(real);
  EXPECT_EQ(Ev.Log, (std::vector<std::string>{"context", "popup"}));
  delete menu;
}

TEST_F(TrayIcon, BalloonsShowAndCloseWithTheirTimeout) {
  Tray->OnBalloonShow = MakeMethod<&TEvents::BalloonShow>(&Ev);
  Tray->OnBalloonClick = MakeMethod<&TEvents::BalloonClick>(&Ev);
  Tray->ShowBalloon("Not", "shown", btInfo, 3000, false);  // not active: nothing
  EXPECT_TRUE(Ev.Log.empty());
  Tray->SetActive(true);
  Calls.clear();
  Tray->ShowBalloon(std::string(100, 'T'), std::string(300, 'b'), btWarning, 3000, false);
  ASSERT_EQ(Calls.size(), 1u);
  EXPECT_EQ(Calls[0].Message, DWORD(NIM_MODIFY));
  EXPECT_EQ(Calls[0].Data.uFlags, UINT(NIF_INFO));
  EXPECT_EQ(std::string(Calls[0].Data.szInfoTitle), std::string(63, 'T'));
  EXPECT_EQ(std::string(Calls[0].Data.szInfo), std::string(255, 'b'));
  EXPECT_EQ(Calls[0].Data.uTimeout, 3000u);
  EXPECT_EQ(Calls[0].Data.dwInfoFlags, DWORD(NIIF_WARNING));
  EXPECT_EQ(Tray->BalloonCount(), 1);
  EXPECT_EQ(Ev.Log, (std::vector<std::string>{"balloon-show"}));
  // Closed by its own timer after 3 s with an empty balloon.
  DWORD start = GetTickCount();
  ASSERT_TRUE(PumpUntil([&] { return Tray->BalloonCount() == 0; }));
  EXPECT_GE(GetTickCount() - start + 50, 3000u);
  EXPECT_STREQ(Calls.back().Data.szInfo, "");
  EXPECT_STREQ(Calls.back().Data.szInfoTitle, "");

  // Longer than the shell's maximum: left to the shell's time-out message.
  Tray->ShowBalloon("Long", "balloon", btError, 15000, false);
  Callback(NIN_BALLOONTIMEOUT);  // right away: not yet over its time
  EXPECT_EQ(Tray->BalloonCount(), 1);
  // Two open balloons: three empty ones close them.
  Tray->ShowBalloon("Second", "balloon", btNone, 15000, false);
  EXPECT_EQ(Tray->BalloonCount(), 2);
  Calls.clear();
  Tray->HideBalloons();
  EXPECT_EQ(Calls.size(), 3u);
  EXPECT_EQ(Tray->BalloonCount(), 0);

  // A click on the balloon: the handler (its exception swallowed), then closed.
  Tray->ShowBalloon("Click", "me", btInfo, 15000, true);
  Ev.Log.clear();
  Ev.ThrowOnBalloonClick = true;
  Callback(NIN_BALLOONUSERCLICK);
  EXPECT_EQ(Ev.Count("balloon-click"), 1);
  EXPECT_EQ(Tray->BalloonCount(), 0);
}

TEST_F(TrayIcon, TaskbarCreatedReAddsTheIconWithVersion3) {
  Tray->SetActive(true);
  Tray->ShowBalloon("Backup", "done", btInfo, 3000, false);  // leaves 3000 in the shared word
  ASSERT_EQ(Tray->IconData().uTimeout, 3000u);
  Calls.clear();
  PostMessageA(Tray->WindowHandle(), Tray->TaskbarCreatedMessage(), 0, 0);
  ASSERT_TRUE(PumpUntil([] { return !CallsOf(NIM_SETVERSION).empty(); }));
  ASSERT_GE(Calls.size(), 3u);
  EXPECT_EQ(Calls[0].Message, DWORD(NIM_DELETE));
  EXPECT_EQ(CallsOf(NIM_ADD).size(), 1u);
  EXPECT_EQ(CallsOf(NIM_SETVERSION).back().Data.uVersion, 3u);
  EXPECT_TRUE(Tray->IconShown());
  EXPECT_TRUE(ShellHasIcon(Tray->WindowHandle()));

  // A restarted shell without the icon refuses the delete (Wine with E_FAIL):
  // the icon comes back all the same.
  Calls.clear();
  NOTIFYICONDATAA gone = Tray->IconData();
  gone.uFlags = 0;
  Shell_NotifyIconA(NIM_DELETE, &gone);
  ASSERT_FALSE(ShellHasIcon(Tray->WindowHandle()));
  PostMessageA(Tray->WindowHandle(), Tray->TaskbarCreatedMessage(), 0, 0);
  ASSERT_TRUE(PumpUntil([] { return !CallsOf(NIM_SETVERSION).empty(); }));
  EXPECT_FALSE(CallsOf(NIM_DELETE).at(0).Result);
  EXPECT_TRUE(Tray->IconShown());
  EXPECT_TRUE(ShellHasIcon(Tray->WindowHandle()));

  // One that answers without an error code: the probe after the first pause
  // shows the icon is gone, and the icon comes back.
  Calls.clear();
  NOTIFYICONDATAA d = Tray->IconData();
  d.uFlags = 0;
  Shell_NotifyIconA(NIM_DELETE, &d);
  ASSERT_FALSE(ShellHasIcon(Tray->WindowHandle()));
  Script = [](DWORD m, PNOTIFYICONDATAA p) {
    BOOL r = Shell_NotifyIconA(m, p);
    if (!r) SetLastError(0);  // what a shell without the icon reports
    return r;
  };
  PostMessageA(Tray->WindowHandle(), Tray->TaskbarCreatedMessage(), 0, 0);
  ASSERT_TRUE(PumpUntil([] { return !CallsOf(NIM_SETVERSION).empty(); }));
  EXPECT_EQ(Sleeps, 1);
  EXPECT_TRUE(ShellHasIcon(Tray->WindowHandle()));
}

TEST_F(TrayIcon, ShellRetries) {
  // Busy shell: the add times out but the icon is there.
  Script = [](DWORD m, PNOTIFYICONDATAA) {
    if (m == NIM_ADD) {
      SetLastError(ERROR_TIMEOUT);
      return FALSE;
    }
    return TRUE;
  };
  Tray->SetActive(true);
  EXPECT_TRUE(Tray->IconShown());
  EXPECT_EQ(Sleeps, 1);
  Tray->SetActive(false);
  // A plain refusal is not retried.
  Sleeps = 0;
  Calls.clear();
  Script = [](DWORD m, PNOTIFYICONDATAA) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  };
  Tray->SetActive(true);
  EXPECT_FALSE(Tray->IconShown());
  EXPECT_EQ(Sleeps, 0);
  EXPECT_EQ(Calls.size(), 1u);
  Tray->SetActive(false);
  // Time-outs without success: 31 rounds, then failure; the icon counts as not shown.
  Calls.clear();
  Script = [](DWORD, PNOTIFYICONDATAA) {
    SetLastError(ERROR_TIMEOUT);
    return FALSE;
  };
  Tray->SetActive(true);
  EXPECT_FALSE(Tray->IconShown());
  EXPECT_EQ(Sleeps, 31);
  EXPECT_EQ(Calls.size(), 1u + 31 * 2);
  // With no retries wanted: at once.
  Tray->SetActive(false);
  Sleeps = 0;
  Tray->SetVisibility(Tray->Visibility() | TrayVis(tvNoRetryOnFailure));
  Tray->SetActive(true);
  EXPECT_FALSE(Tray->IconShown());
  EXPECT_EQ(Sleeps, 0);
  // The next attempt, with a working shell, adds it.
  Script = nullptr;
  Tray->SetIconShown(true);
  EXPECT_TRUE(Tray->IconShown());
}

TEST_F(TrayIcon, AnimationRunsThroughTheListWithoutLeakingHandles) {
  auto* list = new TImageList(Application());
  for (uint32_t c : {0xFF0000u, 0x00FF00u, 0x0000FFu, 0xFFFFFFu}) {
    TIcon i;
    i.SetHandle(SolidIcon(c));
    list->AddIcon(&i);
  }
  Tray->SetIcons(list);
  Tray->OnAnimate = MakeMethod<&TEvents::Animate>(&Ev);
  Tray->SetActive(true);
  Tray->SetDelay(20);
  Tray->SetAnimated(true);
  ASSERT_TRUE(PumpUntil([&] { return Ev.Log.size() >= 3; }));
  EXPECT_EQ(Ev.Log[0], "animate 1");
  EXPECT_EQ(Ev.Log[1], "animate 2");
  Tray->SetAnimated(false);

  // Warm up, then count.
  for (int i = 0; i < 20; ++i) SendMessageA(Tray->WindowHandle(), WM_TIMER, 1, 0);
  TGuiCounts before = CountGuiObjects();
  EXPECT_GT(before.Gdi, 0u);
  EXPECT_GT(before.User, 0u);
  std::vector<HICON> shown;
  for (int i = 0; i < 1000; ++i) {
    SendMessageA(Tray->WindowHandle(), WM_TIMER, 1, 0);  // one animation tick
    shown.push_back(Tray->ShownIconHandle());
  }
  EXPECT_EQ(CountGuiObjects(), before);
  // Every icon shown before the current one has been destroyed.
  int alive = 0;
  for (size_t i = 0; i + 1 < shown.size(); ++i) {
    if (shown[i] == shown.back()) continue;
    ICONINFO ii{};
    if (GetIconInfo(shown[i], &ii)) {
      ++alive;
      UniqueBitmap color(ii.hbmColor), mask(ii.hbmMask);
    }
  }
  EXPECT_EQ(alive, 0);
  EXPECT_EQ(Tray->IconIndex(), (3 + 20 + 1000) % 4 == 0 ? 0 : Tray->IconIndex());
  EXPECT_EQ(Ev.Count("animate 0") + Ev.Count("animate 1") + Ev.Count("animate 2") + Ev.Count("animate 3"),
            static_cast<int>(Ev.Log.size()));
  Tray->SetIcons(nullptr);
  delete list;
}

TEST_F(TrayIcon, MinimiseToTrayAndRestoreWithAClick) {
  auto* main = new TForm(Application());
  main->SetCaption("Tray test main form");
  main->SetBounds(200, 150, 400, 250);
  Application()->SetMainForm(main);
  const int buttons = TaskbarButtons();
  ShowWindow(Application()->Handle(), SW_SHOW);
  main->Show();
  // The application window carries the one taskbar button (the form is owned).
  ASSERT_TRUE(PumpUntil([&] { return TaskbarButtons() == buttons + 1; }));
  Tray->SetVisibility(TrayVis(tvVisibleTaskBar) | TrayVis(tvVisibleTaskList) | TrayVis(tvAutoHide) |
                      TrayVis(tvRestoreClick));
  Tray->SetActive(true);
  ASSERT_TRUE(Tray->ApplicationVisible());

  // The application minimised (as from the taskbar): into the tray.
  SendMessageA(Application()->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  Application()->ProcessMessages();
  EXPECT_FALSE(IsWindowVisible(Application()->Handle()));
  EXPECT_TRUE(PumpUntil([&] { return TaskbarButtons() == buttons; }));  // the button is gone
  EXPECT_FALSE(IsWindowVisible(main->Handle()));
  EXPECT_FALSE(Tray->Visibility() & TrayVis(tvVisibleTaskBar));
  EXPECT_FALSE(Tray->ApplicationVisible());
  EXPECT_TRUE(Tray->IconShown());

  // A left click on the icon brings it back.
  Callback(WM_LBUTTONDOWN);
  Callback(WM_LBUTTONUP);
  EXPECT_TRUE(IsWindowVisible(Application()->Handle()));
  EXPECT_TRUE(PumpUntil([&] { return TaskbarButtons() == buttons + 1; }));  // and back
  EXPECT_TRUE(IsWindowVisible(main->Handle()));
  EXPECT_TRUE(Tray->Visibility() & TrayVis(tvVisibleTaskBar));
  EXPECT_TRUE(Tray->ApplicationVisible());

  // Taking tvVisibleTaskBar out of the set hides it again; putting it back restores.
  Tray->SetVisibility(Tray->Visibility() & ~TrayVis(tvVisibleTaskBar));
  EXPECT_FALSE(IsWindowVisible(main->Handle()));
  Tray->SetVisibility(Tray->Visibility() | TrayVis(tvVisibleTaskBar));
  EXPECT_TRUE(IsWindowVisible(main->Handle()));

  // The icon only while hidden.
  Tray->SetVisibility(Tray->Visibility() | TrayVis(tvAutoHideIcon));
  EXPECT_FALSE(Tray->IconShown());
  SendMessageA(Application()->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(Tray->IconShown());

  Tray->SetActive(false);
  ShowWindow(Application()->Handle(), SW_HIDE);
  Application()->SetMainForm(nullptr);
  delete main;
}

// Where the shell drew a pixel of the given colour, searched in the taskbar.
bool FindOnTaskbar(uint32_t rgb, POINT& at) {
  RECT bar;
  if (!GetWindowRect(FindWindowA("Shell_TrayWnd", nullptr), &bar)) return false;
  WindowDc screen(nullptr);
  bool found = false;
  for (int y = bar.bottom - 1; y >= bar.top && !found; --y)
    for (int x = bar.right - 1; x >= bar.left && !found; --x) {
      COLORREF c = GetPixel(screen.get(), x, y);
      if (c != CLR_INVALID && (uint32_t(GetRValue(c)) << 16 | uint32_t(GetGValue(c)) << 8 | GetBValue(c)) == rgb) {
        at = POINT{x, y};
        found = true;
      }
    }
  return found;
}

void ClickAt(POINT p) {
  SetCursorPos(p.x, p.y);
  INPUT in[2] = {};
  in[0].type = in[1].type = INPUT_MOUSE;
  in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, in, sizeof(INPUT));
}

TEST_F(TrayIcon, RealClicksOnTheShellsIconReachTheComponent) {
  Tray->OnClick = MakeMethod<&TEvents::Click>(&Ev);
  Tray->Icon()->SetHandle(SolidIcon(0xFF00FF));
  Tray->SetActive(true);
  // After a balloon (its time-out in the shared word) and a shell restart
  // message the icon is added again, still speaking version 3.
  Tray->ShowBalloon("Backup", "finished", btInfo, 3000, false);
  Tray->HideBalloons();
  PostMessageA(Tray->WindowHandle(), Tray->TaskbarCreatedMessage(), 0, 0);
  PumpFor(300);
  POINT at{};
  ASSERT_TRUE(PumpUntil([&] { return FindOnTaskbar(0xFF00FF, at); })) << "icon not drawn";
  ClickAt(at);
  ASSERT_TRUE(PumpUntil([&] { return Ev.Count("click") == 1; }));
  // The cursor position is where the click happened.
  POINT cur;
  GetCursorPos(&cur);
  EXPECT_EQ(cur.x, at.x);
}

TEST_F(TrayIcon, EndSessionRemovesAndReAdds) {
  Tray->SetActive(true);
  EXPECT_EQ(SendMessageA(Tray->WindowHandle(), WM_QUERYENDSESSION, 0, 0), 1);
  SendMessageA(Tray->WindowHandle(), WM_ENDSESSION, TRUE, 0);
  EXPECT_FALSE(Tray->IconShown());
  EXPECT_FALSE(ShellHasIcon(Tray->WindowHandle()));
  SendMessageA(Tray->WindowHandle(), WM_ENDSESSION, FALSE, 0);
  EXPECT_TRUE(Tray->IconShown());
  EXPECT_TRUE(ShellHasIcon(Tray->WindowHandle()));
}

TEST_F(TrayIcon, LoadingDefersActive) {
  auto* t = new TDkTrayIcon(nullptr);
  t->BeginLoading();
  t->SetActive(true);
  EXPECT_FALSE(t->Active());
  Calls.clear();
  t->EndLoading();
  EXPECT_TRUE(t->Active());
  EXPECT_TRUE(t->IconShown());
  delete t;
  EXPECT_EQ(CallsOf(NIM_DELETE).size(), 1u);
}

TEST_F(TrayIcon, LoadedWithoutTaskbarButtonStartsHidden) {
  auto* main = new TForm(Application());
  Application()->SetMainForm(main);
  ShowWindow(Application()->Handle(), SW_SHOW);
  auto* t = new TDkTrayIcon(Application());
  t->BeginLoading();
  t->SetVisibility(TrayVis(tvVisibleTaskList) | TrayVis(tvAutoHide) | TrayVis(tvRestoreClick));
  t->SetActive(true);
  t->EndLoading();
  EXPECT_TRUE(t->IconShown());
  EXPECT_FALSE(Application()->ShowMainForm);
  EXPECT_FALSE(IsWindowVisible(Application()->Handle()));
  EXPECT_FALSE(t->ApplicationVisible());
  t->RestoreFromTray();
  EXPECT_TRUE(t->ApplicationVisible());
  EXPECT_TRUE(IsWindowVisible(Application()->Handle()));
  EXPECT_TRUE(IsWindowVisible(main->Handle()));
  EXPECT_TRUE(Application()->ShowMainForm);
  delete t;
  ShowWindow(Application()->Handle(), SW_HIDE);
  Application()->ShowMainForm = true;
  Application()->SetMainForm(nullptr);
  delete main;
}

TEST_F(TrayIcon, DelayChangeKeepsTheAnimationRunning) {
  auto* list = new TImageList(Application());
  for (uint32_t c : {0xFF0000u, 0x00FF00u}) {
    TIcon i;
    i.SetHandle(SolidIcon(c));
    list->AddIcon(&i);
  }
  Tray->SetIcons(list);
  Tray->OnAnimate = MakeMethod<&TEvents::Animate>(&Ev);
  Tray->SetAnimated(true);  // not shown yet: nothing runs
  PumpFor(100);
  EXPECT_TRUE(Ev.Log.empty());
  Tray->SetActive(true);  // shown: the animation starts
  ASSERT_TRUE(PumpUntil([&] { return !Ev.Log.empty(); }));
  Tray->SetDelay(30);
  EXPECT_TRUE(Tray->Animated());
  Ev.Log.clear();
  ASSERT_TRUE(PumpUntil([&] { return Ev.Log.size() >= 2; }));
  Tray->SetActive(false);  // stops it
  Ev.Log.clear();
  PumpFor(150);
  EXPECT_TRUE(Ev.Log.empty());
  Tray->SetIcons(nullptr);
  delete list;
}

TEST_F(TrayIcon, ScreenshotOfAFormAndTheIcon) {
  auto* form = new TForm(Application());
  form->SetCaption("omtray test form");
  form->SetBounds(150, 120, 420, 260);
  form->Show();
  Tray->Icon()->SetHandle(SolidIcon(0xFF8000));
  Tray->SetHint("Backup agent");
  Tray->SetActive(true);
  POINT at{};
  ASSERT_TRUE(PumpUntil([&] { return IsWindowVisible(form->Handle()) && FindOnTaskbar(0xFF8000, at); }))
      << "icon not drawn";
  std::string path = om::testing::BesideProgram("trayicon-screenshot.png");
  ASSERT_TRUE(om::testing::SaveScreenshot(path)) << path;
  delete form;
}

}  // namespace
}  // namespace om
