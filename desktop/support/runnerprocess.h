// TDkCreateProcess: starts one child process; optionally waits for it on a
// background thread and reports its end, with the exit code, on the main
// thread; optionally connects its standard handles to pipes whose output two
// readers turn into raw-text and line events on the main thread.
//
// Threads never touch the component: they post to its hidden window, whose
// messages the main thread's message loop delivers, and their termination
// handlers run on the main thread. All public operations run on the main
// thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "framework/messages.h"
#include "framework/object.h"
#include "platform/win32.h"
#include "support/dkcomponent.h"
#include "support/runner.h"
#include "support/runnerlaunch.h"

namespace om {

class TDkCreateProcess;
class TDkWaitForProcessThread;
class TDkReadThread;

using TDkCPSTerminateEvent = std::function<void(TObject* Sender, uint32_t ExitCode)>;
using TDkCPSReadEvent = std::function<void(TObject* Sender, const std::string& S, bool StartsOnNewLine)>;
using TDkCPSRawReadEvent = std::function<void(TObject* Sender, const std::string& S)>;

// An operation refused while the child is being waited for.
class EDkRunnerException : public EDkException {
public:
  using EDkException::EDkException;
};

// Hidden window messages.
constexpr UINT kRunnerReaderData = WM_USER + 1;   // WParam: the reader
constexpr UINT kRunnerEnding = WM_USER + 2;       // one of the runner's endings; WParam: its run

// Drains one pipe of the child (output or error) through a read thread.
class TDkReader : public TObject {
public:
  explicit TDkReader(TDkCreateProcess* owner);
  ~TDkReader() override;

  TDkCPSRawReadEvent OnRawRead;
  TDkCPSReadEvent OnRead;
  // The lines, unless the runner's ConsoleOptions hold coOwnerData.
  const std::vector<std::string>& Lines() const { return FAssembler.Lines(); }
  bool Running() const { return FThread != nullptr; }
  // Id of the read thread; 0 when none.
  DWORD ThreadID() const;

  // Main thread only. Start takes over the pipe; the thread's end is one of
  // the endings of the runner's current run. A read that fails (other than
  // at the pipe's end) is reported to the application's exception handler as
  // cut output. Stop ends the thread wherever it is and posts nothing.
  void Start(HANDLE pipe);
  void Stop();
  void TakeAndSplit();

private:
  // Termination handler of the read thread.
  void ThreadTerminated(TObject* Sender);

  TDkCreateProcess* FOwner;
  TDkReadThread* FThread = nullptr;
  uintptr_t FRun = 0;
  TDkLineAssembler FAssembler;
};

class TDkCreateProcess : public TDkComponent {
public:
  enum TState { stIdle, stStarted, stWaiting };

  explicit TDkCreateProcess(TComponent* AOwner = nullptr);
  ~TDkCreateProcess() override;

  std::string ApplicationName;
  std::string CommandLine;
  TDkCPSFlags CreationFlags = 0;
  std::string CurrentDirectory;
  std::vector<std::string> Environment;
  TDkProcessPriority Priority = ppNormal;
  TDkCPSStartupInfo StartupInfo;
  TDkConsoleOptions ConsoleOptions = consoleOption(coOwnerData);
  TDkCPSTerminateEvent OnTerminate;

  bool WaitForTerminate() const { return FWaitForTerminate; }
  // Resets to idle first (refused while waiting), then stores.
  void SetWaitForTerminate(bool value);

  // Events of the two readers.
  void SetOnRead(TDkCPSReadEvent e) { FOutput.OnRead = std::move(e); }
  void SetOnRawRead(TDkCPSRawReadEvent e) { FOutput.OnRawRead = std::move(e); }
  void SetOnErrorRead(TDkCPSReadEvent e) { FError.OnRead = std::move(e); }
  void SetOnErrorRawRead(TDkCPSRawReadEvent e) { FError.OnRawRead = std::move(e); }
  const TDkReader& OutputReader() const { return FOutput; }
  const TDkReader& ErrorReader() const { return FError; }

  void LaunchProcess();
  // Stops waiting without touching the child (waiting state only).
  void DetachFromProcess();

  TState State() const { return FState; }
  // Of the last launch; the handles are nil once not waiting.
  const PROCESS_INFORMATION& ProcessInformation() const { return FProcessInfo; }
  uint32_t LastExitCode() const { return FExitCode; }

  // The hidden window (made on first need).
  HWND Window();

private:
  friend class TDkReader;
  void WndProc(TMessage& Message);
  // Termination handler of the waiting thread.
  void WaitThreadTerminated(TObject* Sender);
  void CheckNotWaiting() const;
  void CheckIdle() const;
  void ResetToIdle();
  void CloseProcessHandles();

  TState FState = stIdle;
  PROCESS_INFORMATION FProcessInfo = {};
  bool FWaitForTerminate = true;
  TDkWaitForProcessThread* FWaitThread = nullptr;
  TDkReader FError;
  TDkReader FOutput;
  HWND FWindow = nullptr;
  uint32_t FExitCode = 0;
  int FEndings = 0;
  // Counts the launches: endings carry the run they belong to.
  uintptr_t FRun = 0;
};

}  // namespace om
