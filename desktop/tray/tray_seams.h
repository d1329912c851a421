// The units the status form calls: start-up switches and control messages,
// the hand-over file, the Java console launch, and the support library's
// system, user and time queries. What no unit offers yet lives here: the
// console process component over the child-process runner, and the splash
// form's entry.
#pragma once

#include <string>

#include "tray/console_launch.h"
#include "tray/handover.h"
#include "tray/startup_switches.h"

#ifdef _WIN32
#include "support/regtimezones.h"
#include "support/runnerprocess.h"
#include "support/sysqueries.h"
#endif

namespace om {

#ifdef _WIN32
// The console process component the form owns: runs the Java console, and the
// new program on a self-upgrade.
class TConsoleProcess : public TDkCreateProcess {
public:
  using TDkCreateProcess::TDkCreateProcess;
  // True while a started child is being waited on.
  bool Waiting() const { return State() == stWaiting; }
  // The child of the last launch.
  DWORD ProcessId() const { return ProcessInformation().dwProcessId; }
};
#else
using TDateTime = double;
// Natively there are no registry time zones: UTC as it is.
inline TDateTime utcToLocal(TDateTime t) { return t; }
#endif

// Shows the splash form: modal as the About box, otherwise briefly at start.
void ShowSplashForm(bool modal);

}  // namespace om
