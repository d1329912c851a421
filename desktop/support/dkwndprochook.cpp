#include "support/dkwndprochook.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "framework/exceptions.h"
#include "support/putilwindow.h"

namespace om {
namespace {

const char* const kHookProp = "OmDkHookInfos";
TDkWndProcHook* GManager = nullptr;
TDkReleaser* GReleaser = nullptr;
bool GFinalizerRegistered = false;

void RegisterFinalizer() {
  if (!GFinalizerRegistered) {
    GFinalizerRegistered = true;
    std::atexit(FinalizeDkWndProcHooks);
  }
}

// Code addresses below 64 KiB are never real handlers.
bool PlausibleCode(const TDkHookMessageEvent& h) {
  return reinterpret_cast<uintptr_t>(h.Code()) >= 0x10000;
}

}  // namespace

// ---------------------------------------------------------------------------
// TDkHookInfos

TDkHookInfos::TDkHookInfos(TDkWndProcHook* Manager, TWinControl* Control, HWND Wnd)
    : FControl(Control), FWnd(Wnd), FManager(Manager) {}

TDkHookInfos::~TDkHookInfos() {
  if (FManager) FManager->Unlist(this);
  if (!FControlDestroyed) UnhookControl();
  for (int order = 0; order < 2; ++order) {
    TNode* n = FFirst[order];
    while (n) {
      TNode* next = n->Next;
      delete n;
      n = next;
    }
    FFirst[order] = FLast[order] = nullptr;
  }
}

int TDkHookInfos::HandlerCount(TDkHookOrder Order) const {
  int n = 0;
  for (TNode* p = FFirst[Order]; p; p = p->Next) ++n;
  return n;
}

void TDkHookInfos::Add(TDkHookOrder Order, TDkHookMessageEvent Handler) {
  auto* node = new TNode{Handler, nullptr};
  if (FLast[Order]) FLast[Order]->Next = node;
  else FFirst[Order] = node;
  FLast[Order] = node;
  // A dispatch that has run off the end of this chain still calls the new node.
  for (int i = 0; i < FLevel; ++i)
    if (!FStack[i].Next[Order]) FStack[i].Next[Order] = node;
  if (!FHooked && !FControlDestroyed) HookControl();
}

bool TDkHookInfos::Remove(TDkHookOrder Order, TDkHookMessageEvent Handler) {
  TNode* prev = nullptr;
  TNode* n = FFirst[Order];
  while (n && n->Handler != Handler) {
    prev = n;
    n = n->Next;
  }
  if (!n) return false;
  if (prev) prev->Next = n->Next;
  else FFirst[Order] = n->Next;
  if (FLast[Order] == n) FLast[Order] = prev;
  for (int i = 0; i < FLevel; ++i)
    if (FStack[i].Next[Order] == n) FStack[i].Next[Order] = n->Next;
  delete n;
  // Inside a dispatch the saved procedure is still needed for the message
  // under way: the record lets go when the outermost dispatch returns.
  if (FFirst[hoBeforeMsg] || FFirst[hoAfterMsg] || FLevel > 0) return true;
  UnhookControl();
  // Unhooked, a bare window tells its record nothing more, not even its
  // destruction: the record goes now. A control's goes with the control.
  if (!FControl) delete this;
  return true;
}

void TDkHookInfos::HookControl() {
  if (FHooked || FControlDestroyed) return;
  if (FControl) {
    FOldWndMethod = FControl->WindowProc;
    FControl->WindowProc = MakeMethod<&TDkHookInfos::Dispatch>(this);
  } else if (FWnd) {
    SetPropA(FWnd, kHookProp, this);
    FOldWndProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(FWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BareWndProc)));
  }
  FHooked = true;
}

void TDkHookInfos::UnhookControl() {
  if (!FHooked) return;
  FHooked = false;
  if (FControlDestroyed) return;
  if (FControl) {
    FControl->WindowProc = FOldWndMethod;
    FOldWndMethod = nullptr;
  } else if (FWnd) {
    if (IsWindow(FWnd)) {
      SetWindowLongPtrA(FWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FOldWndProc));
      RemovePropA(FWnd, kHookProp);
    }
    FOldWndProc = nullptr;
  }
}

LRESULT CALLBACK TDkHookInfos::BareWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  auto* infos = static_cast<TDkHookInfos*>(GetPropA(Wnd, kHookProp));
  if (!infos) return DefWindowProcA(Wnd, Msg, WParam, LParam);
  TMessage m{Msg, WParam, LParam, 0};
  try {
    infos->Dispatch(m);
  } catch (...) {
    if (ApplicationExists()) Application()->HandleException(nullptr);
  }
  return m.Result;
}

void TDkHookInfos::DefaultProc(TMessage& Msg) {
  if (FOldWndMethod.Assigned()) {
    FOldWndMethod(Msg);
  } else if (FOldWndProc) {
    Msg.Result = CallWindowProcA(FOldWndProc, FWnd, Msg.Msg, Msg.WParam, Msg.LParam);
  }
}

void TDkHookInfos::Dispatch(TMessage& Msg) {
  Msg.Result = 0;
  if (FLevel == static_cast<int>(FStack.size())) FStack.resize(FStack.size() * 2 + 2);
  const int level = FLevel++;
  FStack[level].Next[hoBeforeMsg] = FFirst[hoBeforeMsg];
  FStack[level].Next[hoAfterMsg] = nullptr;
  // The bare window's destruction is seen after its own procedure had it.
  const bool bareDestroy = !FControl && Msg.Msg == WM_DESTROY;
  struct TPop {
    TDkHookInfos* Self;
    bool BareDestroy;
    ~TPop() {
      --Self->FLevel;
      if (BareDestroy) Self->ControlDestroyed();
      if (Self->FLevel == 0) Self->DispatchesEnded();
    }
  } pop{this, bareDestroy};

  // The stack may move when a nested dispatch grows it: always index it.
  while (TNode* n = FStack[level].Next[hoBeforeMsg]) {
    FStack[level].Next[hoBeforeMsg] = n->Next;
    TDkHookMessageEvent h = n->Handler;  // n may be freed during the call
    if (h(Msg) || FControlDestroyed) return;
  }
  DefaultProc(Msg);
  if (FControlDestroyed) return;
  FStack[level].Next[hoAfterMsg] = FFirst[hoAfterMsg];
  while (TNode* n = FStack[level].Next[hoAfterMsg]) {
    FStack[level].Next[hoAfterMsg] = n->Next;
    TDkHookMessageEvent h = n->Handler;
    if (h(Msg) || FControlDestroyed) return;
  }
}

void TDkHookInfos::DispatchesEnded() {
  // A record whose control went, or whose handlers were all removed during
  // its dispatch, is handed over now that nothing runs on it any more.
  if (FControlDestroyed) {
    DkReleaser()->Release(this);
  } else if (FHooked && !FFirst[hoBeforeMsg] && !FFirst[hoAfterMsg]) {
    UnhookControl();
    if (FManager) FManager->Unlist(this);
    DkReleaser()->Release(this);
  }
}

void TDkHookInfos::ControlDestroyed() {
  if (FControlDestroyed) return;
  if (!FControl && FWnd && FHooked && IsWindow(FWnd)) {
    // The window's own procedure gets the messages that remain (WM_NCDESTROY).
    SetWindowLongPtrA(FWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FOldWndProc));
    RemovePropA(FWnd, kHookProp);
  }
  FControlDestroyed = true;
  FHooked = false;
  FOldWndMethod = nullptr;
  FOldWndProc = nullptr;
  if (FManager) FManager->Unlist(this);
  // Inside its own dispatch the record is handed over when the outermost
  // level returns (see Dispatch).
  if (FLevel == 0) DkReleaser()->Release(this);
}

// ---------------------------------------------------------------------------
// TDkWndProcHook

TDkWndProcHook::TDkWndProcHook() : TComponent(nullptr) {}

TDkWndProcHook::~TDkWndProcHook() {
  if (FList) {
    while (!FList->empty()) delete FList->back();  // each unlists itself
    delete FList;
    FList = nullptr;
  }
}

void TDkWndProcHook::Unlist(TDkHookInfos* Infos) {
  if (FList) FList->erase(std::remove(FList->begin(), FList->end(), Infos), FList->end());
  if (Infos->FControl) RemoveFreeNotification(Infos->FControl);
  Infos->FManager = nullptr;
}

TDkHookInfos* TDkWndProcHook::Find(TWinControl* Control) const {
  if (!FList || !Control) return nullptr;
  for (TDkHookInfos* i : *FList)
    if (i->FControl == Control) return i;
  return nullptr;
}

TDkHookInfos* TDkWndProcHook::Find(HWND Wnd) const {
  if (!FList || !Wnd) return nullptr;
  for (TDkHookInfos* i : *FList)
    if (!i->FControl && i->FWnd == Wnd) return i;
  return nullptr;
}

void TDkWndProcHook::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != opRemove || !FList) return;
  // Called from the control's destructor: match by address, touch nothing else.
  for (TDkHookInfos* i : *FList)
    if (i->FControl && static_cast<TComponent*>(i->FControl) == AComponent) {
      i->ControlDestroyed();
      return;
    }
}

bool TDkWndProcHook::HookControl(TWinControl* Control, TDkHookOrder Order,
                                 TDkHookMessageEvent Handler) {
  if (!Control || Control->Destroying() || !PlausibleCode(Handler)) return false;
  TDkHookInfos* infos = Find(Control);
  if (!infos) {
    if (!FList) FList = new std::vector<TDkHookInfos*>;
    infos = new TDkHookInfos(this, Control, nullptr);
    FList->push_back(infos);
    Control->FreeNotification(this);
  }
  infos->Add(Order, Handler);
  return true;
}

bool TDkWndProcHook::UnhookControl(TWinControl* Control, TDkHookOrder Order,
                                   TDkHookMessageEvent Handler) {
  if (!Control || !PlausibleCode(Handler) || !FList) return false;
  TDkHookInfos* infos = Find(Control);
  if (!infos) return false;
  infos->Remove(Order, Handler);
  return true;
}

bool TDkWndProcHook::HookWnd(HWND Wnd, TDkHookOrder Order, TDkHookMessageEvent Handler) {
  if (!Wnd || !IsWindow(Wnd) || !PlausibleCode(Handler)) return false;
  TDkHookInfos* infos = Find(Wnd);
  if (!infos) {
    if (!FList) FList = new std::vector<TDkHookInfos*>;
    infos = new TDkHookInfos(this, nullptr, Wnd);
    FList->push_back(infos);
  }
  infos->Add(Order, Handler);
  return true;
}

bool TDkWndProcHook::UnhookWnd(HWND Wnd, TDkHookOrder Order, TDkHookMessageEvent Handler) {
  if (!Wnd || !PlausibleCode(Handler) || !FList) return false;
  TDkHookInfos* infos = Find(Wnd);
  if (!infos) return false;
  infos->Remove(Order, Handler);
  return true;
}

// ---------------------------------------------------------------------------
// TDkReleaser

TDkReleaser::~TDkReleaser() {
  while (!FList.empty()) {
    TObject* o = FList.back();
    FList.pop_back();
    delete o;
  }
  if (FWindow) DeallocateUtilityWindow(FWindow);
}

bool TDkReleaser::IsPending(const TObject* Obj) const {
  return std::find(FList.begin(), FList.end(), Obj) != FList.end();
}

void TDkReleaser::Release(TObject* Obj) {
  if (!Obj || IsPending(Obj)) return;
  if (!FWindow) FWindow = AllocateUtilityWindow(MakeMethod<&TDkReleaser::WndProc>(this));
  FList.push_back(Obj);
  PostMessageA(FWindow, CM_RELEASE_HOOK_INFOS, reinterpret_cast<WPARAM>(Obj), 0);
}

void TDkReleaser::WndProc(TMessage& Msg) {
  if (Msg.Msg != CM_RELEASE_HOOK_INFOS) {
    Msg.Result = DefWindowProcA(FWindow, Msg.Msg, Msg.WParam, Msg.LParam);
    return;
  }
  auto* obj = reinterpret_cast<TObject*>(Msg.WParam);
  auto it = std::find(FList.begin(), FList.end(), obj);
  if (it == FList.end()) return;
  FList.erase(it);
  delete obj;
}

// ---------------------------------------------------------------------------

TDkWndProcHook* DkWndProcHook() {
  if (!GManager) {
    RegisterFinalizer();
    GManager = new TDkWndProcHook;
  }
  return GManager;
}

TDkReleaser* DkReleaser() {
  if (!GReleaser) {
    RegisterFinalizer();
    GReleaser = new TDkReleaser;
  }
  return GReleaser;
}

void FinalizeDkWndProcHooks() {
  delete GReleaser;
  GReleaser = nullptr;
  delete GManager;
  GManager = nullptr;
}

bool HookWindowProc(TWinControl* Control, TDkHookOrder Order, TDkHookMessageEvent Handler) {
  return DkWndProcHook()->HookControl(Control, Order, Handler);
}

bool UnhookWindowProc(TWinControl* Control, TDkHookOrder Order, TDkHookMessageEvent Handler) {
  return GManager ? GManager->UnhookControl(Control, Order, Handler) : false;
}

bool HookWindowProc(HWND Wnd, TDkHookOrder Order, TDkHookMessageEvent Handler) {
  return DkWndProcHook()->HookWnd(Wnd, Order, Handler);
}

bool UnhookWindowProc(HWND Wnd, TDkHookOrder Order, TDkHookMessageEvent Handler) {
  return GManager ? GManager->UnhookWnd(Wnd, Order, Handler) : false;
}

}  // namespace om
