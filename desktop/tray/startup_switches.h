// Single instance, start-up switches and the control messages a running tray
// monitor receives from later starts of the same program.
//
// A later start finds the running instance (a top-level window of class
// "TfrmServiceStatus" whose process lives in the same folder) before any form
// exists and hands it its command text in a global atom (WM_USER + 1, LParam
// 515), asks it to quit (WM_USER + 1, WParam 123, LParam 18), or goes on.
//
// The switch parsing and the decision are portable; the window search, the
// messages and HandleStartupSwitches itself are Windows code
// (startup_switches_win32.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace om {

// What these routines need from the tray's main form (TfrmServiceStatus).
// The form implements it; tests use a double.
struct TTrayHost {
  virtual ~TTrayHost() = default;
  // The form's QuitProgram: closing := true, state thread told to terminate,
  // Timer off, tray icon Active false, application terminated.
  virtual void QuitProgram() = 0;
  // Application().Terminate() and nothing else (WM_CLOSE with LParam 1).
  virtual void TerminateApplication() = 0;
  // The form's HandleCommandWords(text): true = open the console.
  virtual bool HandleCommandWords(const std::string& text) = 0;
  // LaunchJavaGui(extra, noArguments) of the console launch, run for the form
  // (console_launch.h, with the form's TConsoleHost).
  virtual void LaunchJavaGui(const std::string& extra, bool noArguments) = 0;
  // lblNow.Caption := message (errors of the control messages and the tick).
  virtual void ShowStatusError(const std::string& message) = 0;
};

// Private control message and its LParam values.
constexpr unsigned kControlMessage = 0x0400 + 1;  // WM_USER + 1
constexpr intptr_t kControlQuit = 18;
constexpr uintptr_t kControlQuitWParam = 123;
constexpr intptr_t kControlCommandText = 515;
// Window class of the tray's main form.
constexpr const char* kTrayWindowClass = "TfrmServiceStatus";

// Program-wide: true ends the process in the program body before any form
// exists; the exit code it ends with. Set by HandleStartupSwitches.
extern bool SkipInterface;
extern uint32_t StartupExitCode;

// The arguments of a command line the way the run-time library splits them:
// blanks (codes 1..32) separate, double quotes group and are removed, pairs of
// quotes before an argument are skipped. Element 0 is the program name.
std::vector<std::string> ParamStrList(const std::string& commandLine);
// A switch is given when an argument (from element 1 on) is "-" or "/"
// followed by exactly word, letter case ignored.
bool FindCmdLineSwitch(const std::vector<std::string>& args, const std::string& word);
// Element index of args, empty when there is none.
std::string ParamStr(const std::vector<std::string>& args, size_t index);

// What a start does, decided from its switches and whether an instance from
// the same folder is running.
enum class TStartupAction {
  CreateScheduledTask,  // "AddScheduledTask": create the logon task, end
  RemoveScheduledTask,  // "RemoveScheduledTask": remove it, end
  EndQuietly,           // instance running and "min": end without sending anything
  HandOver,             // instance running: send it the command tail, end
  CloseInstance,        // "close": ask the instance to quit (up to 10 s), end
  CloseNoInstance,      // "close" and no instance: end at once, exit code 0
  GoOn,                 // no instance: this start shows its tray icon
  UpgradeGoOn,          // "upgrade" and an instance: ask it to quit once, go on
};
// The scheduled-task switches are tested before the instance search, so
// instanceRunning is only consulted for the others.
TStartupAction DecideStartupAction(const std::vector<std::string>& args, bool instanceRunning);
bool StartupNeedsInstanceSearch(const std::vector<std::string>& args);

// The folder test of FindAppWindowProc for a window of another process:
// imageFolder is the folder of that process's program file (no trailing
// separator, empty when unreadable). A runtime under "\omjre" of an
// installation counts as that installation's; fileExists tests the
// installation's marker files.
bool AcceptWindowProcessFolder(const std::string& imageFolder, const std::string& programFolder,
                               const std::function<bool(const std::string&)>& fileExists);
// The class test of FindAppWindowProc: the window's class name, compared
// without regard to case with as many leading characters of wanted.
bool WindowClassMatches(const std::string& windowClass, const std::string& wanted);

// ---- Windows ----

// Search record of FindAppWindowProc.
struct TFindAppWindowRecord {
  std::string ClassName;  // wanted class
  void* Window = nullptr;  // found window (0 = none)
  uint32_t ProcessId = 0;  // in: 0 = any; out: the found window's process
};

// First top-level window accepted by FindAppWindowProc, or null.
void* FindAppWindow(const std::string& className, uint32_t processId);
// Process id of the first accepted window, or 0.
uint32_t FindAppProcess(const std::string& className);
// Enumeration callback (EnumWindows) over a TFindAppWindowRecord; returns
// whether enumeration goes on.
int FindAppWindowProc(void* window, TFindAppWindowRecord& record);
// Full program path of process id (at most 260 characters), empty when the
// process cannot be opened.
std::string GetProcessImagePath(uint32_t processId);

// Runs once at start, before the application object: sets SkipInterface and
// StartupExitCode from this process's command line (see TStartupAction); the
// scheduled-task switches run the routines of logon_task.h.
void HandleStartupSwitches();
void HandleStartupSwitches(const std::string& commandLine);

// WM_USER + 1 to the form: 18 quits, 515 takes the command text from the atom
// wparam (0: empty text). Errors go to ShowStatusError.
void HandleControlMessage(TTrayHost& host, uintptr_t wparam, intptr_t lparam);
// Longest command text a global atom carries; a later start hands a longer one
// over as WM_COPYDATA (dwData 515, the text's bytes without a terminating zero).
constexpr size_t kMaxAtomText = 255;
// WM_COPYDATA to the form (copyData: the COPYDATASTRUCT): a command text as
// from the atom message. False for data of another kind.
bool HandleCopyDataMessage(TTrayHost& host, const void* copyData);
// When this process started, in the units of FileWriteTime (handover.h).
int64_t ProcessStartTime();
// WM_CLOSE to the form: LParam 1 terminates the application at once and
// returns true; otherwise false (the form's standard close, which hides it).
bool HandleCloseMessage(TTrayHost& host, intptr_t lparam);

}  // namespace om
