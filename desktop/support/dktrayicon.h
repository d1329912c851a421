// One icon in the taskbar notification area: kept there across Explorer
// restarts, animated through an image list, with tip text, balloon tips,
// mouse events, menus, and hiding/showing the whole application on clicks
// and minimising. Main thread only.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>

#include "framework/forms.h"
#include "framework/graphics.h"
#include "framework/menus.h"
#include "support/dkcomponent.h"

namespace om {

enum TTrayVisibility {
  tvVisibleTaskBar,    // the application has a taskbar button
  tvVisibleTaskList,   // the process is listed in the task list
  tvAutoHide,          // minimising hides the application into the notification area
  tvAutoHideIcon,      // the icon shows only while the application is hidden
  tvVisibleDesign,     // the icon shows while designing
  tvRestoreClick,      // a left click restores a hidden application
  tvRestoreDbClick,    // a left double click restores it
  tvMinimizeClick,     // a left click hides a visible application
  tvMinimizeDbClick,   // a left double click hides it
  tvAnimateToTray,     // hiding and restoring zoom the caption to and from the tray
  tvNoRetryOnFailure,  // a failed shell call is not retried
};
using TTrayVisibilities = uint16_t;  // bit (1 << member)
constexpr TTrayVisibilities TrayVis(TTrayVisibility v) { return static_cast<TTrayVisibilities>(1u << v); }

enum TTrayBalloonIcon { btNone = 0, btError = 1, btInfo = 2, btWarning = 3 };

using TAnimateEvent = TEvent<void(TObject* Sender, int ImageIndex)>;

class TDkTrayIcon : public TDkComponent {
public:
  explicit TDkTrayIcon(TComponent* AOwner);
  ~TDkTrayIcon() override;

  // Published properties.
  bool Active() const { return FActive; }
  void SetActive(bool value);
  bool Animated() const { return FAnimated; }
  void SetAnimated(bool value);
  TIcon* Icon() const { return FIcon; }
  void SetIcon(const TIcon* value) { FIcon->Assign(value); }
  int IconIndex() const { return FIconIndex; }
  void SetIconIndex(int value);
  TCustomImageList* Icons() const { return FIcons; }
  void SetIcons(TCustomImageList* value);
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& value);
  TPopupMenu* DropDownMenu() const { return FDropDownMenu; }
  void SetDropDownMenu(TPopupMenu* value);
  TPopupMenu* PopupMenu() const { return FPopupMenu; }
  void SetPopupMenu(TPopupMenu* value);
  unsigned Delay() const { return FDelay; }
  void SetDelay(unsigned value);
  bool Snap = false;
  TTrayVisibilities Visibility() const { return FVisibility; }
  void SetVisibility(TTrayVisibilities value);

  TAnimateEvent OnAnimate;
  TMouseEvent OnClick;
  TMouseEvent OnDblClick;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TNotifyEvent OnBalloonShow;
  TNotifyEvent OnBalloonHide;
  TNotifyEvent OnBalloonClick;
  TContextPopupEvent OnContextPopup;

  // Timeout in milliseconds.
  void ShowBalloon(const std::string& Title, const std::string& Text, TTrayBalloonIcon IconKind,
                   unsigned Timeout, bool CancelPrevious);
  void HideBalloons();
  // Shows or removes the icon without touching Active.
  void SetIconShown(bool Value);
  virtual void MinimizeToTray();
  virtual void RestoreFromTray();

  // State for callers and tests.
  HWND WindowHandle() const { return FWnd; }
  bool IconShown() const { return (FState & kShown) != 0; }
  bool ApplicationVisible() const;
  int BalloonCount() const { return FBalloonCount; }
  const NOTIFYICONDATAA& IconData() const { return FIconData; }
  HICON ShownIconHandle() const { return FShownIcon->Handle(); }
  UINT TaskbarCreatedMessage() const { return FTaskbarCreated; }

  // The record size handed to the shell: the layout without the GUID and
  // balloon-icon fields (488 bytes on 32-bit Windows).
  static constexpr DWORD kIconDataSize = NOTIFYICONDATAA_V2_SIZE;
  static constexpr UINT kCallbackMessage = WM_USER + 1;

  // The shell call and the pause between retries (replaceable for tests).
  using TShellNotifyProc = BOOL(WINAPI*)(DWORD Message, PNOTIFYICONDATAA Data);
  static TShellNotifyProc ShellNotify;
  using TRetrySleepProc = void (*)(DWORD Milliseconds);
  static TRetrySleepProc RetrySleep;
  // shell32's file version, major in the high word (read once).
  static uint32_t ShellVersion();
  static void OverrideShellVersion(uint32_t version);

protected:
  void Loaded() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  enum : uint8_t {
    kShown = 1,
    kAnimating = 2,
    kAppHooked = 4,
    kTipChanged = 8,
    kClickPending = 16,
    kHiddenByUs = 32,
    kButtonDown = 64,
  };

  bool CallShell(UINT Flags, DWORD Message);
  void FillIconRecord();
  void AddIcon();
  void RemoveIcon();
  void RefreshShownIcon();
  void MakeShownIcon(const TIcon* Source);
  void MakeShownIcon(HICON Source);
  void StartAnimation();
  void StopAnimation();
  void CopyTip();
  void IconChanged(TObject* Sender);
  void WndProc(TMessage& Msg);
  bool AppWindowHook(TMessage& Msg);
  void HookApp();
  void UnhookApp();
  void DoMouseMove(TShiftState Shift, int X, int Y);
  void DoMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
  void DoMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
  void DoClick(TMouseButton Button, TShiftState Shift, int X, int Y);
  void DoDblClick(TMouseButton Button, TShiftState Shift, int X, int Y);
  void DoContextPopup(int X, int Y);
  void PopupAt(TPopupMenu* Menu, int X, int Y);
  bool ClickWanted(TMouseButton Button) const;
  bool DblClickWanted() const;
  void SetTaskListVisible(bool Value);
  static bool Shell5();

  UINT FTaskbarCreated;
  TIcon* FShownIcon;
  uint8_t FState = 0;
  bool FDeferredActive = false;
  bool FActive = false;
  TIcon* FIcon;
  NOTIFYICONDATAA FIconData;
  HWND FWnd = nullptr;
  std::string FHint;
  TPopupMenu* FPopupMenu = nullptr;
  int FBalloonCount = 0;
  TMouseButton FPendingButton = mbLeft;
  TShiftState FPendingShift = 0;
  int FPendingX = 0, FPendingY = 0;
  bool FAnimated = false;
  unsigned FDelay = 100;
  TCustomImageList* FIcons = nullptr;
  int FIconIndex = 0;
  TPopupMenu* FDropDownMenu = nullptr;
  bool FTaskListVisible = true;
  double FBalloonShownAt = 0;
  int32_t FBalloonTimeout = 0;
  TTrayVisibilities FVisibility;
};

}  // namespace om
