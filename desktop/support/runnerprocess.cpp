#include "support/runnerprocess.h"

#include <mutex>

#include "framework/forms.h"
#include "framework/thread.h"
#include "support/putilwindow.h"

namespace om {

namespace {

constexpr char kProcessRunning[] = "Cannot perform this operation when process is running";

HANDLE duplicateOwnHandle(HANDLE source) {
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
    RaiseLastProcessError();
  return copy;
}

HANDLE newEvent() {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!event) RaiseLastProcessError();
  return event;
}

// The runner's threads run below normal priority and free themselves when done.
void prepareThread(TThread& thread, TNotifyEvent onTerminate) {
  thread.FreeOnTerminate = true;
  thread.OnTerminate = onTerminate;
  SetThreadPriority(thread.Handle(), THREAD_PRIORITY_BELOW_NORMAL);
}

}  // namespace

// Waits for the child (or the cancel event) and keeps its exit code.
class TDkWaitForProcessThread : public TThread {
public:
  // Works on its own duplicate of process.
  explicit TDkWaitForProcessThread(HANDLE process) : FProcess(duplicateOwnHandle(process)) {
    try {
      FCancelEvent = newEvent();
    } catch (...) {
      CloseHandle(FProcess);
      throw;
    }
  }
  ~TDkWaitForProcessThread() override {
    CloseHandle(FProcess);
    CloseHandle(FCancelEvent);
  }

  void Cancel() {
    Terminate();
    SetEvent(FCancelEvent);
  }

  uint32_t ExitCode = 0;

protected:
  void Execute() override {
    WaitForInputIdle(FProcess, INFINITE);
    HANDLE handles[2] = {FCancelEvent, FProcess};
    // A failed wait ends the thread: the ending is reported with the code held.
    ended(WaitForMultipleObjects(2, handles, FALSE, INFINITE));
  }

  // The cancel event or the child's end; false for any other result.
  bool ended(DWORD result) {
    if (result == WAIT_OBJECT_0) {
      ExitCode = 0xFFFFFFFF;
      return true;
    }
    if (result == WAIT_OBJECT_0 + 1) {
      DWORD code = 0;
      GetExitCodeProcess(FProcess, &code);
      ExitCode = code;
      return true;
    }
    return false;
  }

  HANDLE FProcess;
  HANDLE FCancelEvent = nullptr;
};

// The waiting thread of a redirected child: also writes what is queued for
// the child's input while it waits.
class TDkConsoleThread : public TDkWaitForProcessThread {
public:
  // Takes over inputPipe, the write end of the child's input.
  TDkConsoleThread(HANDLE process, HANDLE inputPipe) : TDkWaitForProcessThread(process), FInputPipe(inputPipe) {
    FInputPending = newEvent();
  }
  ~TDkConsoleThread() override {
    closeInput();
    CloseHandle(FInputPending);
  }

protected:
  void Execute() override {
    WaitForInputIdle(FProcess, INFINITE);
    HANDLE handles[3] = {FCancelEvent, FProcess, FInputPending};
    DWORD count = FInputPipe ? 3 : 2;
    while (!Terminated()) {
      const DWORD r = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
      if (r == WAIT_OBJECT_0 + 2) {
        WritePendingInput();
        if (!FInputPipe) count = 2;
        continue;
      }
      ended(r);
      break;
    }
    // The child's input ends with the wait, not only once the end event has
    // run on the main thread.
    std::lock_guard<std::mutex> hold(FInputLock);
    closeInput();
  }

private:
  void WritePendingInput() {
    std::lock_guard<std::mutex> hold(FInputLock);
    if (FInputPipe && !FPendingInput.empty()) {
      DWORD written = 0;
      if (WriteFile(FInputPipe, FPendingInput.data(), static_cast<DWORD>(FPendingInput.size()), &written, nullptr)) {
        FPendingInput.erase(0, written);
      } else {
        const DWORD error = GetLastError();
        if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE) closeInput();
      }
    }
    if (FPendingInput.empty() || !FInputPipe) ResetEvent(FInputPending);
  }

  void closeInput() {
    if (FInputPipe) CloseHandle(FInputPipe);
    FInputPipe = nullptr;
  }

  HANDLE FInputPipe;
  HANDLE FInputPending;
  std::mutex FInputLock;
  std::string FPendingInput;
};

// Drains one pipe into the shared buffer and tells the runner's window.
class TDkReadThread : public TThread {
public:
  // Takes over pipe.
  TDkReadThread(TDkReader* reader, HANDLE pipe, HWND window) : FReader(reader), FPipe(pipe), FWindow(window) {}
  ~TDkReadThread() override {
    if (FPipe) CloseHandle(FPipe);
  }

  // Main thread: the next buffered chunk; false when nothing is buffered.
  bool TakeChunk(std::string& chunk) {
    std::lock_guard<std::mutex> hold(FBufferLock);
    return FBuffer.Take(chunk);
  }

protected:
  void Execute() override {
    char buffer[TDkReadBuffer::kChunk];
    while (!Terminated()) {
      DWORD n = 0;
      const BOOL ok = ReadFile(FPipe, buffer, sizeof buffer, &n, nullptr);
      // Any failure but a partial message ends the pipe for good: retrying
      // a handle that cannot be read would only spin.
      if (!ok && GetLastError() != ERROR_MORE_DATA) break;
      if (n == 0) continue;
      {
        std::lock_guard<std::mutex> hold(FBufferLock);
        FBuffer.Append(buffer, n);
      }
      PostMessageA(FWindow, kRunnerReaderData, reinterpret_cast<WPARAM>(FReader), 0);
    }
    CloseHandle(FPipe);
    FPipe = nullptr;
  }

private:
  TDkReader* FReader;  // sent with the data messages, never touched here
  HANDLE FPipe;
  HWND FWindow;
  std::mutex FBufferLock;
  TDkReadBuffer FBuffer;
};

// --- TDkReader ---

TDkReader::TDkReader(TDkCreateProcess* owner) : FOwner(owner) {
  FAssembler.OnRawRead = [this](const std::string& raw) {
    if (OnRawRead) OnRawRead(FOwner, raw);
  };
  FAssembler.OnRead = [this](const std::string& line, bool startsOnNewLine) {
    if (OnRead) OnRead(FOwner, line, startsOnNewLine);
  };
}

TDkReader::~TDkReader() { Stop(); }

void TDkReader::Start(HANDLE pipe) {
  FAssembler.OwnerData = (FOwner->ConsoleOptions & consoleOption(coOwnerData)) != 0;
  FAssembler.Reset();
  TDkReadThread* thread;
  try {
    thread = new TDkReadThread(this, pipe, FOwner->Window());
  } catch (...) {
    CloseHandle(pipe);
    throw;
  }
  prepareThread(*thread, MakeMethod<&TDkReader::ThreadTerminated>(this));
  try {
    thread->Start();
  } catch (...) {
    delete thread;
    throw;
  }
  FThread = thread;
}

void TDkReader::Stop() {
  if (!FThread) return;
  // While its termination handler is set the thread cannot free itself (the
  // handler runs on this thread), so it is ended first and let go last. A
  // blocked read ends here; otherwise the thread ends when the child closes
  // its end of the pipe.
  FThread->Terminate();
  CancelSynchronousIo(FThread->Handle());
  FThread->OnTerminate = nullptr;
  FThread = nullptr;
}

void TDkReader::TakeAndSplit() {
  std::string chunk;
  while (FThread && FThread->TakeChunk(chunk)) FAssembler.Split(chunk);
}

void TDkReader::ThreadTerminated(TObject*) {
  TakeAndSplit();
  FAssembler.Finish();
  FThread = nullptr;
  PostMessageA(FOwner->Window(), kRunnerEnding, 0, 0);
}

// --- TDkCreateProcess ---

TDkCreateProcess::TDkCreateProcess(TComponent* AOwner) : TDkComponent(AOwner), FError(this), FOutput(this) {}

TDkCreateProcess::~TDkCreateProcess() {
  try {
    DetachFromProcess();
  } catch (...) {
  }
  FOutput.Stop();
  FError.Stop();
  // Threads still running were let go above: they post nothing that needs the
  // component, and what they post after this finds no window.
  DeallocateUtilityWindow(FWindow);
  try {
    CloseProcessHandles();
  } catch (...) {
  }
}

HWND TDkCreateProcess::Window() {
  if (!FWindow) FWindow = AllocateUtilityWindow(MakeMethod<&TDkCreateProcess::WndProc>(this));
  return FWindow;
}

void TDkCreateProcess::WndProc(TMessage& Message) {
  try {
    switch (Message.Msg) {
      case kRunnerReaderData: {
        auto* reader = reinterpret_cast<TDkReader*>(Message.WParam);
        if (reader == &FOutput || reader == &FError) reader->TakeAndSplit();
        break;
      }
      case kRunnerEnding:
        if (FState == stWaiting && --FEndings <= 0) {
          ResetToIdle();
          if (OnTerminate) OnTerminate(this, FExitCode);
        }
        break;
      default:
        Message.Result = DefWindowProcA(FWindow, Message.Msg, Message.WParam, Message.LParam);
    }
  } catch (...) {
    if (ApplicationExists()) Application()->HandleException(this);
  }
}

void TDkCreateProcess::WaitThreadTerminated(TObject* Sender) {
  FExitCode = static_cast<TDkWaitForProcessThread*>(Sender)->ExitCode;
  FWaitThread = nullptr;
  PostMessageA(Window(), kRunnerEnding, 0, 0);
}

void TDkCreateProcess::CheckNotWaiting() const {
  if (FState == stWaiting && FEndings > 0) throw EDkRunnerException(kProcessRunning);
}

void TDkCreateProcess::CheckIdle() const {
  if (FState != stIdle) throw EDkRunnerException(kProcessRunning);
}

void TDkCreateProcess::CloseProcessHandles() {
  for (HANDLE* h : {&FProcessInfo.hProcess, &FProcessInfo.hThread}) {
    if (!*h) continue;
    if (!CloseHandle(*h)) RaiseLastProcessError();
    *h = nullptr;
  }
}

void TDkCreateProcess::ResetToIdle() {
  CheckNotWaiting();
  FState = stIdle;
  CloseProcessHandles();
  FEndings = 0;
}

void TDkCreateProcess::SetWaitForTerminate(bool value) {
  ResetToIdle();
  FWaitForTerminate = value;
}

void TDkCreateProcess::LaunchProcess() {
  ResetToIdle();
  FProcessInfo = {};

  TDkLaunchRequest request;
  request.ApplicationName = ApplicationName;
  request.CommandLine = CommandLine;
  request.CurrentDirectory = CurrentDirectory;
  request.Environment = Environment;
  request.CreationFlags = CreationFlags;
  request.Priority = Priority;
  request.StartupInfo = StartupInfo;
  request.ConsoleOptions = ConsoleOptions;

  Window();
  TDkRWEHandles parent;
  FProcessInfo = StartChildProcess(request, parent);

  auto startWaiting = [&](TDkWaitForProcessThread* thread) {
    prepareThread(*thread, MakeMethod<&TDkCreateProcess::WaitThreadTerminated>(this));
    try {
      thread->Start();
    } catch (...) {
      delete thread;
      throw;
    }
    FWaitThread = thread;
  };

  try {
    if (ConsoleOptions & consoleOption(coRedirect)) {
      const bool separateError = (ConsoleOptions & consoleOption(coSeparateError)) != 0;
      FState = stWaiting;
      FEndings = separateError ? 3 : 2;
      HANDLE input = parent.Take(TDkRWEHandles::Write);
      TDkConsoleThread* console;
      try {
        console = new TDkConsoleThread(FProcessInfo.hProcess, input);
      } catch (...) {
        CloseHandle(input);
        throw;
      }
      startWaiting(console);
      FOutput.Start(parent.Take(TDkRWEHandles::Read));
      if (separateError) FError.Start(parent.Take(TDkRWEHandles::Error));
    } else if (FWaitForTerminate) {
      FState = stWaiting;
      FEndings = 1;
      startWaiting(new TDkWaitForProcessThread(FProcessInfo.hProcess));
    } else {
      WaitForInputIdle(FProcessInfo.hProcess, INFINITE);
      CheckIdle();
      FState = stStarted;
      CloseProcessHandles();
    }
  } catch (...) {
    // The child runs on, unwatched; the runner goes back to idle.
    DetachFromProcess();
    FState = stIdle;
    FEndings = 0;
    CloseProcessHandles();
    throw;
  }
}

void TDkCreateProcess::DetachFromProcess() {
  if (FState != stWaiting) return;
  if (FWaitThread) {
    // Cancelled before it is let go: see TDkReader::Stop.
    FWaitThread->Cancel();
    FWaitThread->OnTerminate = nullptr;
    FWaitThread = nullptr;
  }
  FOutput.Stop();
  FError.Stop();
  FEndings = 0;
  FState = stIdle;
  CloseProcessHandles();
}

}  // namespace om
