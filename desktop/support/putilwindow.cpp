#include "support/putilwindow.h"

#include "framework/exceptions.h"
#include "framework/forms.h"

namespace om {
namespace {

constexpr int kCodeOffset = 0;
constexpr int kDataOffset = sizeof(void*);

LRESULT CALLBACK UtilityWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto code = reinterpret_cast<TWndMethod::TCode>(GetWindowLongPtrA(wnd, kCodeOffset));
  void* data = reinterpret_cast<void*>(GetWindowLongPtrA(wnd, kDataOffset));
  if (!code) return DefWindowProcA(wnd, msg, wp, lp);
  TMessage m{msg, wp, lp, 0};
  try {
    TWndMethod(code, data)(m);
  } catch (...) {
    if (ApplicationExists()) Application()->HandleException(nullptr);
  }
  return m.Result;
}

}  // namespace

HWND AllocateUtilityWindow(TWndMethod Method, const char* ClassName) {
  HINSTANCE instance = MainInstance();
  WNDCLASSA found{};
  BOOL registered = GetClassInfoA(instance, ClassName, &found);
  if (!registered || found.lpfnWndProc != reinterpret_cast<WNDPROC>(&DefWindowProcA)) {
    if (registered) UnregisterClassA(ClassName, instance);
    WNDCLASSA wc{};
    wc.style = 0;
    wc.lpfnWndProc = DefWindowProcA;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 2 * sizeof(void*);
    wc.hInstance = instance;
    wc.lpszClassName = ClassName;
    if (!RegisterClassA(&wc)) RaiseLastOSError();
  }
  HWND wnd = CreateWindowExA(WS_EX_TOOLWINDOW, ClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                             nullptr, instance, nullptr);
  if (!wnd) RaiseLastOSError();
  if (Method.Assigned()) {
    SetWindowLongPtrA(wnd, kCodeOffset, reinterpret_cast<LONG_PTR>(Method.Code()));
    SetWindowLongPtrA(wnd, kDataOffset, reinterpret_cast<LONG_PTR>(Method.Data()));
    SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&UtilityWndProc));
  }
  return wnd;
}

void DeallocateUtilityWindow(HWND Wnd) {
  if (Wnd) DestroyWindow(Wnd);
}

void DefineDragCursors() {
  try {
    if (!ScreenExists()) return;
    Screen()->SetCursor(100, Screen()->Cursor(-16));
    Screen()->SetCursor(101, Screen()->Cursor(-12));
    Screen()->SetCursor(102, Screen()->Cursor(-16));
    Screen()->SetCursor(103, Screen()->Cursor(-16));
  } catch (...) {
  }
}

namespace {
// Program start, after the forms unit's start-up has made the screen object.
struct TDragCursorsInit {
  TDragCursorsInit() {
    InitializeFormsUnit();
    DefineDragCursors();
  }
} GDragCursorsInit;
}  // namespace

}  // namespace om
