#include "support/dktrayicon.h"

#include <algorithm>
#include <cstring>

#include "support/dkformmagnet.h"
#include "support/putilwindow.h"

namespace om {
namespace {

constexpr UINT kTimerAnimate = 1;
constexpr UINT kTimerBalloon = 2;
constexpr UINT kTimerClick = 3;
constexpr unsigned kShellMaxBalloonTime = 10000;

#ifndef _WIN64
static_assert(TDkTrayIcon::kIconDataSize == 488, "the shell record's 32-bit layout is 488 bytes");
#endif

uint32_t GShellVersion = 0;
bool GShellVersionKnown = false;

uint32_t ReadShellVersion() {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA("shell32.dll", &ignored);
  if (!size) return 0;
  std::string data(size, '\0');
  if (!GetFileVersionInfoA("shell32.dll", 0, size, &data[0])) return 0;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT len = 0;
  if (!VerQueryValueA(&data[0], "\\", reinterpret_cast<void**>(&info), &len) || !info) return 0;
  return info->dwFileVersionMS;
}

// The text before the first "|", or all of it.
std::string ShortHint(const std::string& hint) {
  size_t bar = hint.find('|');
  return bar == std::string::npos ? hint : hint.substr(0, bar);
}

void CopyText(char* dest, size_t destSize, const std::string& text, size_t maxChars) {
  size_t n = std::min({text.size(), maxChars, destSize - 1});
  std::memcpy(dest, text.data(), n);
  dest[n] = '\0';
}

void SleepFor(DWORD ms) { Sleep(ms); }

// The button of a mouse callback message (button down, up or double click).
TMouseButton CallbackButton(LPARAM message) {
  switch (static_cast<UINT>(message)) {
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
      return mbRight;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK:
      return mbMiddle;
    default:
      return mbLeft;
  }
}

// Fires a balloon notification; what it raises does not reach the shell.
void NotifyQuietly(const TNotifyEvent& event, TObject* sender) {
  try {
    if (event) event(sender);
  } catch (...) {
  }
}

// ShowWindow with the minimise/restore animation switched off.
void ShowWindowWithoutAnimation(HWND wnd, int cmd) {
  ANIMATIONINFO ai{};
  ai.cbSize = sizeof ai;
  BOOL got = SystemParametersInfoA(SPI_GETANIMATION, sizeof ai, &ai, 0);
  int old = ai.iMinAnimate;
  if (got && old) {
    ai.iMinAnimate = 0;
    SystemParametersInfoA(SPI_SETANIMATION, sizeof ai, &ai, 0);
  }
  ShowWindow(wnd, cmd);
  if (got && old) {
    ai.iMinAnimate = old;
    SystemParametersInfoA(SPI_SETANIMATION, sizeof ai, &ai, 0);
  }
}

// The notification area's rectangle on the screen.
bool TrayRect(RECT& r) {
  HWND tray = FindWindowA("Shell_TrayWnd", nullptr);
  HWND notify = tray ? FindWindowExA(tray, nullptr, "TrayNotifyWnd", nullptr) : nullptr;
  return notify && GetWindowRect(notify, &r);
}

}  // namespace

TDkTrayIcon::TShellNotifyProc TDkTrayIcon::ShellNotify = &Shell_NotifyIconA;
TDkTrayIcon::TRetrySleepProc TDkTrayIcon::RetrySleep = &SleepFor;

uint32_t TDkTrayIcon::ShellVersion() {
  if (!GShellVersionKnown) {
    GShellVersion = ReadShellVersion();
    GShellVersionKnown = true;
  }
  return GShellVersion;
}

void TDkTrayIcon::OverrideShellVersion(uint32_t version) {
  GShellVersion = version;
  GShellVersionKnown = true;
}

bool TDkTrayIcon::Shell5() { return ShellVersion() >= 0x50000; }

TDkTrayIcon::TDkTrayIcon(TComponent* AOwner) : TDkComponent(AOwner) {
  std::memset(&FIconData, 0, sizeof FIconData);
  FShownIcon = new TIcon;
  FIcon = new TIcon;
  FIcon->OnChange = MakeMethod<&TDkTrayIcon::IconChanged>(this);
  Snap = false;
  FWnd = AllocateUtilityWindow(MakeMethod<&TDkTrayIcon::WndProc>(this));
  FState = 0;
  FVisibility = TrayVis(tvVisibleTaskBar) | TrayVis(tvVisibleTaskList) | TrayVis(tvAutoHide);
  FAnimated = false;
  FDelay = 100;
  FIconIndex = 0;
  FBalloonCount = 0;
  FActive = false;
  FTaskListVisible = true;
  FTaskbarCreated = RegisterWindowMessageA("TaskbarCreated");
}

TDkTrayIcon::~TDkTrayIcon() {
  KillTimer(FWnd, kTimerClick);
  KillTimer(FWnd, kTimerBalloon);
  try {
    SetActive(false);
    if (!(ApplicationExists() && Application()->Destroying())) SetTaskListVisible(false);
  } catch (...) {
  }
  delete FShownIcon;
  FShownIcon = nullptr;
  delete FIcon;
  FIcon = nullptr;
  DeallocateUtilityWindow(FWnd);
  FWnd = nullptr;
}

// ---------------------------------------------------------------------------
// Shell calls

bool TDkTrayIcon::CallShell(UINT Flags, DWORD Message) {
  FIconData.uFlags = Flags;
  if (ShellNotify(Message, &FIconData)) return true;
  if (FVisibility & TrayVis(tvNoRetryOnFailure)) return false;
  DWORD err = GetLastError();
  if (err != 0 && err != ERROR_TIMEOUT) return false;
  // The shell may be busy (or its answer late): probe and try again.
  for (int i = 0; i < 31; ++i) {
    RetrySleep(1000);
    if (Message == NIM_ADD) {
      if (ShellNotify(NIM_MODIFY, &FIconData)) return true;
    } else if (Message == NIM_DELETE) {
      if (!ShellNotify(NIM_MODIFY, &FIconData)) return true;
    }
    if (ShellNotify(Message, &FIconData)) return true;
  }
  return false;
}

void TDkTrayIcon::FillIconRecord() {
  FIconData.cbSize = kIconDataSize;
  if (Shell5()) FIconData.uVersion = NOTIFYICON_VERSION;
  FIconData.hWnd = FWnd;
  FIconData.uID = 1;
  FIconData.uCallbackMessage = kCallbackMessage;
  if (FShownIcon->Empty()) MakeShownIcon(Application()->Icon());
  FIconData.hIcon = FShownIcon->Handle();
  CopyTip();
  FIconData.uFlags = 0;
}

void TDkTrayIcon::CopyTip() {
  CopyText(FIconData.szTip, sizeof FIconData.szTip, ShortHint(FHint), Shell5() ? 127 : 63);
}

void TDkTrayIcon::AddIcon() {
  if (IconShown() || !FActive) return;
  if (!Designing()) {
    if ((FVisibility & TrayVis(tvAutoHideIcon)) && ApplicationVisible()) return;
  } else if (!(FVisibility & TrayVis(tvVisibleDesign))) {
    return;
  }
  if (!CallShell(NIF_MESSAGE | NIF_ICON | NIF_TIP, NIM_ADD)) return;
  FState |= kShown;
  if (Shell5()) {
    // The word is shared with the balloon time-out: a balloon shown earlier
    // has left its time-out in it.
    FIconData.uVersion = NOTIFYICON_VERSION;
    CallShell(0, NIM_SETVERSION);
  }
  if (FAnimated) StartAnimation();
}

void TDkTrayIcon::RemoveIcon() {
  if (!IconShown()) return;
  StopAnimation();
  if (CallShell(0, NIM_DELETE)) FState &= ~kShown;
}

void TDkTrayIcon::SetIconShown(bool Value) {
  if (Value) AddIcon();
  else RemoveIcon();
}

bool TDkTrayIcon::ApplicationVisible() const {
  return !(FState & kHiddenByUs) && !IsIconic(Application()->Handle());
}

// ---------------------------------------------------------------------------
// Properties

void TDkTrayIcon::SetActive(bool value) {
  if (Loading()) {
    FDeferredActive = value;
    return;
  }
  if (value == FActive) return;
  FActive = value;
  if (value) {
    FillIconRecord();
    if (!Designing()) HookApp();
    AddIcon();
  } else {
    StopAnimation();
    UnhookApp();
    RemoveIcon();
  }
}

void TDkTrayIcon::HookApp() {
  if (FState & kAppHooked) return;
  Application()->HookMainWindow(MakeMethod<&TDkTrayIcon::AppWindowHook>(this));
  FState |= kAppHooked;
}

void TDkTrayIcon::UnhookApp() {
  if (!(FState & kAppHooked)) return;
  if (ApplicationExists()) Application()->UnhookMainWindow(MakeMethod<&TDkTrayIcon::AppWindowHook>(this));
  FState &= ~kAppHooked;
}

void TDkTrayIcon::SetAnimated(bool value) {
  FAnimated = value;
  if (value) StartAnimation();
  else StopAnimation();
}

void TDkTrayIcon::SetDelay(unsigned value) {
  if (value == FDelay) return;
  bool was = FAnimated;
  SetAnimated(false);
  FDelay = value;
  SetAnimated(was);
}

void TDkTrayIcon::SetIconIndex(int value) {
  if (value == FIconIndex) return;
  FIconIndex = value;
  RefreshShownIcon();
}

void TDkTrayIcon::SetIcons(TCustomImageList* value) {
  if (value == FIcons) return;
  if (FIcons) FIcons->RemoveFreeNotification(this);
  FIcons = value;
  if (FIcons) FIcons->FreeNotification(this);
  RefreshShownIcon();
}

void TDkTrayIcon::SetPopupMenu(TPopupMenu* value) {
  if (FPopupMenu) FPopupMenu->RemoveFreeNotification(this);
  FPopupMenu = value;
  if (value) value->FreeNotification(this);
}

void TDkTrayIcon::SetDropDownMenu(TPopupMenu* value) {
  if (FDropDownMenu) FDropDownMenu->RemoveFreeNotification(this);
  FDropDownMenu = value;
  if (value) value->FreeNotification(this);
}

void TDkTrayIcon::SetHint(const std::string& value) {
  std::string v = value;
  if (!Shell5()) {
    for (size_t p; (p = v.find("\r\n")) != std::string::npos;) v.replace(p, 2, " - ");
  }
  if (v != FHint) {
    FHint = v;
    FState |= kTipChanged;
  }
}

void TDkTrayIcon::SetVisibility(TTrayVisibilities value) {
  TTrayVisibilities old = FVisibility;
  FVisibility = value;
  if (!FActive) return;
  TTrayVisibilities added = value & ~old, removed = old & ~value;
  if (!Designing()) {
    SetTaskListVisible((value & TrayVis(tvVisibleTaskList)) != 0);
    if ((added & TrayVis(tvAutoHide)) && !ApplicationVisible()) MinimizeToTray();
    if (added & TrayVis(tvVisibleTaskBar)) RestoreFromTray();
    else if (removed & TrayVis(tvVisibleTaskBar)) MinimizeToTray();
    if ((added & TrayVis(tvAutoHideIcon)) && !IsIconic(Application()->Handle())) RemoveIcon();
    if ((removed & TrayVis(tvAutoHideIcon)) && !IsIconic(Application()->Handle())) AddIcon();
  } else {
    if (added & TrayVis(tvVisibleDesign)) AddIcon();
    else if (removed & TrayVis(tvVisibleDesign)) RemoveIcon();
  }
}

void TDkTrayIcon::SetTaskListVisible(bool Value) {
  if (Value == FTaskListVisible) return;
  FTaskListVisible = Value;
  if (Designing()) return;
  using TRegisterServiceProcess = DWORD(WINAPI*)(DWORD, DWORD);
  static bool looked = false;
  static TRegisterServiceProcess proc = nullptr;
  if (!looked) {
    looked = true;
    if (HMODULE k = GetModuleHandleA("kernel32.dll"))
      proc = reinterpret_cast<TRegisterServiceProcess>(
          reinterpret_cast<void*>(GetProcAddress(k, "RegisterServiceProcess")));
  }
  if (proc) proc(GetCurrentProcessId(), Value ? 0 : 1);
}

void TDkTrayIcon::Loaded() {
  TDkComponent::Loaded();
  RefreshShownIcon();
  if (FDeferredActive) {
    SetActive(true);
    if (!Designing()) {
      if (!(FVisibility & TrayVis(tvVisibleTaskBar))) {
        Application()->ShowMainForm = false;
        Application()->NormalizeTopMosts();
        SetActiveWindow(Application()->Handle());
        ShowWindowWithoutAnimation(Application()->Handle(), SW_HIDE);
        FState |= kHiddenByUs;
      }
      if (!(FVisibility & TrayVis(tvVisibleTaskList))) SetTaskListVisible(false);
    }
  }
}

void TDkTrayIcon::Notification(TComponent* AComponent, TOperation Operation) {
  TDkComponent::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  if (AComponent == FDropDownMenu) FDropDownMenu = nullptr;
  if (AComponent == FPopupMenu) FPopupMenu = nullptr;
  if (AComponent == FIcons) {
    // Called while the list itself goes: only forget it.
    FIcons = nullptr;
    RefreshShownIcon();
  }
}

// ---------------------------------------------------------------------------
// Icons and animation

void TDkTrayIcon::IconChanged(TObject*) { RefreshShownIcon(); }

void TDkTrayIcon::RefreshShownIcon() {
  if (Loading() || !FShownIcon) return;
  if (FIcons && FIconIndex >= 0 && FIconIndex < FIcons->Count()) {
    TIcon image;  // a new handle, freed once its copy is the shown icon
    FIcons->GetIcon(FIconIndex, &image);
    MakeShownIcon(&image);
  } else if (!FIcon->Empty()) {
    MakeShownIcon(FIcon);
  } else {
    MakeShownIcon(Application()->Icon());
  }
}

void TDkTrayIcon::MakeShownIcon(const TIcon* Source) {
  FShownIcon->Assign(Source);
  FIconData.hIcon = FShownIcon->Handle();
  if (IconShown()) CallShell(NIF_ICON, NIM_MODIFY);
}

void TDkTrayIcon::MakeShownIcon(HICON Source) {
  TIcon copy;
  if (Source) copy.SetHandle(CopyIcon(Source));
  MakeShownIcon(&copy);
}

void TDkTrayIcon::StartAnimation() {
  if (!IconShown() || (FState & kAnimating)) return;
  FState |= kAnimating;
  SetTimer(FWnd, kTimerAnimate, FDelay, nullptr);
}

void TDkTrayIcon::StopAnimation() {
  if (!(FState & kAnimating)) return;
  FState &= ~kAnimating;
  KillTimer(FWnd, kTimerAnimate);
}

// ---------------------------------------------------------------------------
// Balloons

void TDkTrayIcon::ShowBalloon(const std::string& Title, const std::string& Text,
                              TTrayBalloonIcon IconKind, unsigned Timeout, bool CancelPrevious) {
  if (!IconShown() || !Shell5()) return;
  FBalloonShownAt = NowAsDateTime();
  FBalloonTimeout = static_cast<int32_t>(Timeout / 1000);
  if (CancelPrevious) HideBalloons();
  CopyText(FIconData.szInfoTitle, sizeof FIconData.szInfoTitle, Title, 63);
  CopyText(FIconData.szInfo, sizeof FIconData.szInfo, Text, 255);
  FIconData.uTimeout = Timeout;
  static const DWORD kInfoFlags[4] = {NIIF_NONE, NIIF_ERROR, NIIF_INFO, NIIF_WARNING};
  FIconData.dwInfoFlags = kInfoFlags[static_cast<unsigned>(IconKind) & 3];
  if (!CallShell(NIF_INFO, NIM_MODIFY)) return;
  bool any = !Title.empty() || !Text.empty();
  if (any) ++FBalloonCount;
  else FBalloonCount = std::max(0, FBalloonCount - 1);
  if (Timeout < kShellMaxBalloonTime && any) SetTimer(FWnd, kTimerBalloon, Timeout, nullptr);
  if (OnBalloonShow) OnBalloonShow(this);
}

void TDkTrayIcon::HideBalloons() {
  if (FBalloonCount < 0) return;
  for (int n = FBalloonCount + 1; n > 0; --n) ShowBalloon("", "", btNone, 5000, false);
}

// ---------------------------------------------------------------------------
// Mouse

bool TDkTrayIcon::ClickWanted(TMouseButton Button) const {
  return OnClick.Assigned() ||
         (Button == mbLeft &&
          (FDropDownMenu || (FVisibility & (TrayVis(tvRestoreClick) | TrayVis(tvMinimizeClick)))));
}

bool TDkTrayIcon::DblClickWanted() const {
  return OnDblClick.Assigned() ||
         (FVisibility & (TrayVis(tvRestoreDbClick) | TrayVis(tvMinimizeDbClick))) != 0;
}

void TDkTrayIcon::DoMouseMove(TShiftState Shift, int X, int Y) {
  if (FState & kTipChanged) {
    FState &= ~kTipChanged;
    CopyTip();
    if (IconShown()) CallShell(NIF_TIP, NIM_MODIFY);
  }
  if (OnMouseMove) OnMouseMove(this, Shift, X, Y);
}

void TDkTrayIcon::DoMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  FState |= kButtonDown;
  if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y);
}

void TDkTrayIcon::DoMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (FState & kButtonDown) {
    FState &= ~kButtonDown;
    if (ClickWanted(Button)) {
      if (DblClickWanted()) {
        FPendingButton = Button;
        FPendingShift = Shift;
        FPendingX = X;
        FPendingY = Y;
        if (!(FState & kClickPending)) {
          FState |= kClickPending;
          SetTimer(FWnd, kTimerClick, GetDoubleClickTime(), nullptr);
        }
      } else {
        DoClick(Button, Shift, X, Y);
      }
    }
  }
  if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y);
  if (Button == mbRight && !Shell5()) DoContextPopup(X, Y);
}

void TDkTrayIcon::PopupAt(TPopupMenu* Menu, int X, int Y) {
  SetForegroundWindow(FWnd);
  Menu->Popup(X, Y);
  PostMessageA(FWnd, WM_NULL, 0, 0);
}

void TDkTrayIcon::DoClick(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (OnClick) OnClick(this, Button, Shift, X, Y);
  if (Button != mbLeft) return;
  if (FDropDownMenu) PopupAt(FDropDownMenu, X, Y);
  bool visible = ApplicationVisible();
  if (visible && (FVisibility & TrayVis(tvMinimizeClick))) MinimizeToTray();
  else if (!visible && (FVisibility & TrayVis(tvRestoreClick))) RestoreFromTray();
}

void TDkTrayIcon::DoDblClick(TMouseButton Button, TShiftState Shift, int X, int Y) {
  FState &= ~kClickPending;
  KillTimer(FWnd, kTimerClick);
  if (OnDblClick) {
    OnDblClick(this, Button, Shift, X, Y);
    return;
  }
  if (Button != mbLeft) return;
  if (FPopupMenu) {
    TMenuItem* items = FPopupMenu->Items();
    for (int i = 0; i < items->Count(); ++i)
      if (items->Items(i)->Default) {
        items->Items(i)->Click();
        break;
      }
  }
  bool visible = ApplicationVisible();
  if (visible && (FVisibility & TrayVis(tvMinimizeDbClick))) MinimizeToTray();
  else if (!visible && (FVisibility & TrayVis(tvRestoreDbClick))) RestoreFromTray();
}

void TDkTrayIcon::DoContextPopup(int X, int Y) {
  bool handled = false;
  if (OnContextPopup) OnContextPopup(this, POINT{X, Y}, handled);
  if (handled || !FPopupMenu) return;
  PopupAt(FPopupMenu, X, Y);
}

// ---------------------------------------------------------------------------
// Hiding and showing the application

bool TDkTrayIcon::AppWindowHook(TMessage& Msg) {
  if (Msg.Msg == WM_SYSCOMMAND && (Msg.WParam & 0xFFF0) == SC_MINIMIZE &&
      (FVisibility & TrayVis(tvAutoHide)) && FActive)
    MinimizeToTray();
  return false;
}

void TDkTrayIcon::MinimizeToTray() {
  TApplication* app = Application();
  if (ApplicationVisible()) {
    TForm* main = app->MainForm();
    if ((Snap || (FVisibility & TrayVis(tvAnimateToTray))) && main) {
      RECT to;
      if ((FVisibility & TrayVis(tvAnimateToTray)) && TrayRect(to)) {
        RECT from;
        GetWindowRect(main->Handle(), &from);
        DrawAnimatedRects(main->Handle(), IDANI_CAPTION, &from, &to);
      }
      main->Hide();
      app->ShowMainForm = false;
    }
    app->Minimize();
  }
  ShowWindow(app->Handle(), SW_HIDE);
  FVisibility &= ~TrayVis(tvVisibleTaskBar);
  if (FVisibility & TrayVis(tvAutoHideIcon)) AddIcon();
}

void TDkTrayIcon::RestoreFromTray() {
  TApplication* app = Application();
  if (FState & kHiddenByUs) {
    ShowWindowWithoutAnimation(app->Handle(), SW_MINIMIZE);
    if (!(Snap || (FVisibility & TrayVis(tvAnimateToTray)))) app->ShowMainForm = true;
  }
  FVisibility |= TrayVis(tvVisibleTaskBar);
  ShowWindow(app->Handle(), SW_SHOW);
  if (!ApplicationVisible()) {
    TForm* main = app->MainForm();
    RECT from;
    if ((FVisibility & TrayVis(tvAnimateToTray)) && main && TrayRect(from)) {
      RECT to;
      GetWindowRect(main->Handle(), &to);
      DrawAnimatedRects(main->Handle(), IDANI_CAPTION, &from, &to);
    }
    app->Restore();
    if (main) main->Show();
  }
  FState &= ~kHiddenByUs;
  if (FVisibility & TrayVis(tvAutoHideIcon)) RemoveIcon();
}

// ---------------------------------------------------------------------------
// The hidden window

void TDkTrayIcon::WndProc(TMessage& Msg) {
  switch (Msg.Msg) {
    case WM_QUERYENDSESSION:
      Msg.Result = 1;
      return;
    case WM_ENDSESSION:
      if (Msg.WParam) RemoveIcon();
      else if (FActive) AddIcon();
      Msg.Result = 0;
      return;
    case WM_TIMER:
      Msg.Result = 0;
      switch (Msg.WParam) {
        case kTimerAnimate:
          if (IconShown() && FIcons && FIcons->Count() > 0) {
            SetIconIndex(FIconIndex < 0 ? 0 : (FIconIndex + 1) % FIcons->Count());
            if (OnAnimate) OnAnimate(this, FIconIndex);
          }
          break;
        case kTimerBalloon:
          KillTimer(FWnd, kTimerBalloon);
          HideBalloons();
          break;
        case kTimerClick:
          KillTimer(FWnd, kTimerClick);
          if (FState & kClickPending) {
            FState &= ~kClickPending;
            DoClick(FPendingButton, FPendingShift, FPendingX, FPendingY);
          }
          break;
        default:
          break;
      }
      return;
    default:
      break;
  }
  if (Msg.Msg == FTaskbarCreated) {
    // Explorer (re)started: the new shell holds none of our icons, whatever
    // it answers to the delete, so the icon has to be added again.
    RemoveIcon();
    FState &= ~kShown;
    if (FActive) AddIcon();
    Msg.Result = 0;
    return;
  }
  if (Msg.Msg == kCallbackMessage && !Designing()) {
    POINT pt{};
    GetCursorPos(&pt);
    TShiftState shift = KeyboardShiftState();
    Msg.Result = 1;
    switch (static_cast<UINT>(Msg.LParam)) {
      case WM_CONTEXTMENU:
      case NIN_KEYSELECT:
        DoContextPopup(pt.x, pt.y);
        break;
      case WM_MOUSEMOVE:
        DoMouseMove(shift, pt.x, pt.y);
        break;
      case WM_LBUTTONDOWN:
      case WM_RBUTTONDOWN:
      case WM_MBUTTONDOWN:
        DoMouseDown(CallbackButton(Msg.LParam), shift, pt.x, pt.y);
        break;
      case WM_LBUTTONUP:
      case WM_RBUTTONUP:
      case WM_MBUTTONUP:
        DoMouseUp(CallbackButton(Msg.LParam), shift, pt.x, pt.y);
        break;
      case WM_LBUTTONDBLCLK:
      case WM_RBUTTONDBLCLK:
      case WM_MBUTTONDBLCLK:
        DoDblClick(CallbackButton(Msg.LParam), shift | ssDouble, pt.x, pt.y);
        break;
      case NIN_BALLOONHIDE:
        NotifyQuietly(OnBalloonHide, this);
        break;
      case NIN_BALLOONTIMEOUT: {
        double seconds = (NowAsDateTime() - FBalloonShownAt) * 86400.0;
        if (static_cast<int64_t>(seconds) > FBalloonTimeout) HideBalloons();
        break;
      }
      case NIN_BALLOONUSERCLICK:
        NotifyQuietly(OnBalloonClick, this);
        HideBalloons();
        break;
      default:
        Msg.Result = 0;
        break;
    }
    return;
  }
  Msg.Result = DefWindowProcA(FWnd, Msg.Msg, Msg.WParam, Msg.LParam);
}

}  // namespace om
