// The status form's actions, menu and tray-icon handlers and the profiling
// prompt are members of TfrmServiceStatus (frmmain.h); this header names the
// texts and settings they use.
#pragma once

namespace om {

// Extra text for the console that opens its log view.
constexpr char kShowLogArgument[] = "-show log";

}  // namespace om
