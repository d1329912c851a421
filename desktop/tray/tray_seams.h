// Routines the status form calls that live in other units of the tray monitor
// and of the support library: start-up switches and control messages, the
// hand-over file name, the Java console launch and lookup, and the system,
// user and time queries. The form is written against these declarations.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/component.h"

#ifdef _WIN32
#include "platform/win32.h"
#endif

namespace om {

// --- Program-wide values (the start-up switches unit defines them) -----------

// True ends the process in the program body before any form exists; the exit
// code it ends with.
extern bool SkipInterface;
extern uint32_t StartupExitCode;
// Folder of the running program file without a trailing separator; the window
// search of the start-up switches sets it as well.
extern std::string AppProgramFolder;

// --- Single instance, start-up switches, control messages -----------------

// What the start-up switches and control messages need from the main form.
struct TTrayHost {
  virtual ~TTrayHost() = default;
  // closing := true, state thread told to terminate, Timer off, tray icon
  // Active false, application terminated.
  virtual void QuitProgram() = 0;
  // Application().Terminate() and nothing else (WM_CLOSE with LParam 1).
  virtual void TerminateApplication() = 0;
  // true = open the console.
  virtual bool HandleCommandWords(const std::string& text) = 0;
  // LaunchJavaGui(extra, noArguments) of the console launch, run for the form.
  virtual void LaunchJavaGui(const std::string& extra, bool noArguments) = 0;
  // lblNow.Caption := message (errors of the control messages and the tick).
  virtual void ShowStatusError(const std::string& message) = 0;
};

// Unit start-up before the program body: tests the switches, hands the command
// text to a running instance or asks it to quit; sets SkipInterface and
// StartupExitCode.
void HandleStartupSwitches();
// WM_USER + 1 to the form: 18 quits, 515 takes the command text from the atom
// wparam (0: empty text). Errors go to ShowStatusError.
void HandleControlMessage(TTrayHost& host, uintptr_t wparam, intptr_t lparam);
// WM_CLOSE to the form: LParam 1 terminates the application at once and
// returns true; otherwise false (the form's standard close, which hides it).
bool HandleCloseMessage(TTrayHost& host, intptr_t lparam);

// --- Hand-over file ---------------------------------------------------------

// Upper-case hexadecimal MD5 of the bytes of programPath.
std::string ParamsFileName(const std::string& programPath);
// Full path of the hand-over file for the tray program programPath.
std::string HandOverFilePath(const std::string& expandedTemp, const std::string& programPath);
// The hand-over step of the tick: when the file at path exists, waits 100 ms,
// takes its text and deletes it; "-close" quits the program, any other text
// goes to HandleCommandWords and, when that asks for it, to LaunchJavaGui as
// extra text without the program's own arguments. True when a file was taken.
// Errors propagate to the tick.
bool ProcessHandOverFile(TTrayHost& host, const std::string& path);

// --- Java console -----------------------------------------------------------

// What the console launch needs from the main form.
struct TConsoleHost {
  virtual ~TConsoleHost() = default;
  // The console process component's child while it is waited on, else 0.
  virtual uint32_t ConsoleProcessId() = 0;
  // Console process: CommandLine, CurrentDirectory, LaunchProcess.
  virtual void LaunchConsoleProcess(const std::string& commandLine, const std::string& folder) = 0;
  virtual uint8_t RefreshServiceState() = 0;
  virtual void SetTrayIcons(int index) = 0;
  // The tray icon shows imglMain index 1 (agent not reachable).
  virtual bool AgentUnreachableShown() = 0;
  virtual void BringFormToFront() = 0;
  virtual void ShowMessage(const std::string& text) = 0;
  virtual void ShowWarning(const std::string& text) = 0;
  virtual std::string BrandLongName() = 0;
  virtual void SetApplicationTitle(const std::string& title) = 0;
  virtual std::string LanguageCode() = 0;
  virtual void SetLanguageCode(const std::string& code) = 0;
  virtual void LoadTexts() = 0;
  // Tray icon ShowBalloon(title, text, information, ms, true), HideBalloons.
  virtual void ShowBalloon(const std::string& title, const std::string& text) = 0;
  virtual void HideBalloons() = 0;
  virtual void ProcessMessages() = 0;
  virtual void SetBusyCursor(bool busy) = 0;
  // This program's arguments (ParamStr 1..n).
  virtual std::vector<std::string> ProgramArguments() = 0;
};

// The console's first window, null when none.
void* FindGuiWindow(TConsoleHost& host);
// A console window exists and the foreground window belongs to its process.
bool IsGuiInForeground(TConsoleHost& host);
// Brings an open console forward or starts one; commandLine receives the
// command line built.
void LaunchJavaGui(TConsoleHost& host, std::string& commandLine, const std::string& extra, bool noArguments);

#ifdef _WIN32
// The console process component the form owns (the support library's child
// process runner): runs the Java console, and the new program on a self-upgrade.
class TConsoleProcess : public TComponent {
public:
  using TComponent::TComponent;
  std::string CommandLine;
  std::string CurrentDirectory;
  bool WaitForTerminate = true;
  // True while a started child is being waited on.
  virtual bool Waiting() const = 0;
  virtual DWORD ProcessId() const = 0;
  // Stops waiting on the child without ending it.
  virtual void DetachFromProcess() = 0;
  // Starts CommandLine in CurrentDirectory; raises the system error on failure.
  virtual void LaunchProcess() = 0;
};
TConsoleProcess* CreateConsoleProcess(TComponent* owner);
#endif

// --- Splash screen ------------------------------------------------------------

// Shows the splash form: modal as the About box, otherwise briefly at start.
void ShowSplashForm(bool modal);

// --- System and user queries, time ------------------------------------------

std::string GetLocalUserName();
std::string GetCurrentUserDomain();
std::string GetProfileFolder();
std::string GetLocalComputerName();

using TDateTime = double;
// UTC to local time by the system's time zone.
TDateTime utcToLocal(TDateTime t);

}  // namespace om
