// Invisible tool windows whose messages go to a method of a non-visual
// component (timer ticks, shell callbacks, thread notifications).
#pragma once

#include <windows.h>

#include "framework/messages.h"

namespace om {

// Creates the window (class ClassName, registered on first use with
// DefWindowProcA as its procedure and room for the method in the window's
// extra bytes: code first, object after it). Without a method the window
// keeps DefWindowProcA. Raises EOSError when the window cannot be made.
HWND AllocateUtilityWindow(TWndMethod Method, const char* ClassName = "TPUtilWindowEx");
void DeallocateUtilityWindow(HWND Wnd);

// Screen cursors 100, 102 and 103 become the standard multi-drag cursor and
// 101 the drag cursor (program start); failures are ignored.
void DefineDragCursors();

}  // namespace om
