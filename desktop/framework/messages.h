// Window messages as the framework's window procedures see them.
#pragma once

#include <windows.h>

#include "framework/events.h"

namespace om {

// One message: id, parameters and the result handed back to the system.
struct TMessage {
  UINT Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

// A window procedure as a method.
using TWndMethod = TEvent<void(TMessage& Message)>;

// A hidden window whose messages go to Method (framework timers and menus use
// it). The method calls DefWindowProcA itself for messages it leaves alone.
HWND AllocateHWnd(TWndMethod Method);
void DeallocateHWnd(HWND Wnd);

}  // namespace om
