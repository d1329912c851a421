// Process-wide window-procedure hooks: handlers that see a control's messages
// before or after the control's own procedure, kept in two ordered chains per
// control. Handlers may be added or removed while a message is dispatched
// (also re-entrantly); a control destroyed in the middle of a message has its
// bookkeeping released only after the message has returned. Main thread only.
#pragma once

#include <windows.h>

#include <vector>

#include "framework/component.h"
#include "framework/forms.h"
#include "framework/messages.h"

namespace om {

enum TDkHookOrder { hoBeforeMsg = 0, hoAfterMsg = 1 };

// A hook handler; true means handled: no later handler (nor, before the
// control's procedure, the procedure itself) sees the message.
using TDkHookMessageEvent = TEvent<bool(TMessage& Msg)>;

class TDkWndProcHook;

// The hooks of one control (or bare window).
class TDkHookInfos : public TObject {
public:
  TDkHookInfos(TDkWndProcHook* Manager, TWinControl* Control, HWND Wnd);
  ~TDkHookInfos() override;

  void Add(TDkHookOrder Order, TDkHookMessageEvent Handler);
  // A bare window's record whose last handler goes outside a dispatch is
  // deleted here.
  bool Remove(TDkHookOrder Order, TDkHookMessageEvent Handler);
  // The replacement window procedure.
  void Dispatch(TMessage& Msg);
  // The control is gone: never touch it again; handed to the releaser once no
  // dispatch of the record runs any more.
  void ControlDestroyed();

  TWinControl* Control() const { return FControl; }
  HWND Wnd() const { return FWnd; }
  bool Hooked() const { return FHooked; }
  bool IsControlDestroyed() const { return FControlDestroyed; }
  bool Dispatching() const { return FLevel > 0; }
  int HandlerCount(TDkHookOrder Order) const;

private:
  struct TNode {
    TDkHookMessageEvent Handler;
    TNode* Next;
  };
  struct TLevel {
    TNode* Next[2];
  };
  void HookControl();
  void UnhookControl();
  // The outermost dispatch returned.
  void DispatchesEnded();
  void DefaultProc(TMessage& Msg);
  static LRESULT CALLBACK BareWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);

  TNode* FFirst[2] = {nullptr, nullptr};
  TNode* FLast[2] = {nullptr, nullptr};
  TWinControl* FControl;
  HWND FWnd;
  bool FControlDestroyed = false;
  bool FHooked = false;
  TWndMethod FOldWndMethod;
  WNDPROC FOldWndProc = nullptr;
  TDkWndProcHook* FManager;
  std::vector<TLevel> FStack;  // grows, never shrinks: levels below FLevel are in use
  int FLevel = 0;

  friend class TDkWndProcHook;
};

// The process-wide manager: one hook record per hooked control.
class TDkWndProcHook : public TComponent {
public:
  TDkWndProcHook();
  ~TDkWndProcHook() override;

  bool HookControl(TWinControl* Control, TDkHookOrder Order, TDkHookMessageEvent Handler);
  bool UnhookControl(TWinControl* Control, TDkHookOrder Order, TDkHookMessageEvent Handler);
  bool HookWnd(HWND Wnd, TDkHookOrder Order, TDkHookMessageEvent Handler);
  bool UnhookWnd(HWND Wnd, TDkHookOrder Order, TDkHookMessageEvent Handler);

  TDkHookInfos* Find(TWinControl* Control) const;
  TDkHookInfos* Find(HWND Wnd) const;
  int RecordCount() const { return FList ? static_cast<int>(FList->size()) : 0; }

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  void Unlist(TDkHookInfos* Infos);
  std::vector<TDkHookInfos*>* FList = nullptr;

  friend class TDkHookInfos;
};

// Objects whose release must wait until the current message has returned:
// releasing posts 0xB021 to the releaser's window; its handler frees them.
class TDkReleaser : public TObject {
public:
  TDkReleaser() = default;
  // Frees every object still pending, then the window.
  ~TDkReleaser() override;
  void Release(TObject* Obj);
  bool IsPending(const TObject* Obj) const;
  int PendingCount() const { return static_cast<int>(FList.size()); }

private:
  void WndProc(TMessage& Msg);
  std::vector<TObject*> FList;
  HWND FWindow = nullptr;
};

constexpr UINT CM_RELEASE_HOOK_INFOS = 0xB021;

// The manager and releaser, created on first use; freed at program end
// (releaser first).
TDkWndProcHook* DkWndProcHook();
TDkReleaser* DkReleaser();
// Frees the releaser, then the manager (also run at program end).
void FinalizeDkWndProcHooks();

bool HookWindowProc(TWinControl* Control, TDkHookOrder Order, TDkHookMessageEvent Handler);
bool UnhookWindowProc(TWinControl* Control, TDkHookOrder Order, TDkHookMessageEvent Handler);
// The same for a window without a control of ours.
bool HookWindowProc(HWND Wnd, TDkHookOrder Order, TDkHookMessageEvent Handler);
bool UnhookWindowProc(HWND Wnd, TDkHookOrder Order, TDkHookMessageEvent Handler);

}  // namespace om
