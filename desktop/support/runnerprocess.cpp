#include "support/runnerprocess.h"

#include <mutex>

#include "framework/forms.h"
#include "framework/thread.h"
#include "platform/win32_owners.h"
#include "support/putilwindow.h"

namespace om {

namespace {

constexpr char kProcessRunning[] = "Cannot perform this operation when process is running";

UniqueHandle duplicateOwnHandle(HANDLE source) {
  UniqueHandle copy;
  if (!DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), copy.put(), 0, FALSE, DUPLICATE_SAME_ACCESS))
    RaiseLastProcessError();
  return copy;
}

UniqueHandle newEvent(bool signalled = false) {
  UniqueHandle event(CreateEventA(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr));
  if (!event) RaiseLastProcessError();
  return event;
}

// Starts one of the runner's threads: below normal priority, freeing itself
// when done; deleted when it cannot start.
void startThread(TThread* thread, TNotifyEvent onTerminate) {
  thread->FreeOnTerminate = true;
  thread->SetOnTerminate(onTerminate);
  SetThreadPriority(thread->Handle(), THREAD_PRIORITY_BELOW_NORMAL);
  try {
    thread->Start();
  } catch (...) {
    TThread::Release(thread);
    throw;
  }
}

// Hands an exception to the application's handler, as the runner's window does.
void reportToApplication(TObject* sender, std::exception_ptr error) {
  if (ApplicationExists()) Application()->HandleException(sender, error);
}

}  // namespace

// Waits for the child (or the cancel event) and keeps its exit code.
class TDkWaitForProcessThread : public TThread {
public:
  // Works on its own duplicate of process; run tags the ending it reports.
  TDkWaitForProcessThread(HANDLE process, uintptr_t run)
      : Run(run), FProcess(duplicateOwnHandle(process)), FCancelEvent(newEvent()) {}

  void Cancel() {
    Terminate();
    SetEvent(FCancelEvent.get());
  }

  const uintptr_t Run;
  uint32_t ExitCode = 0;

protected:
  // Frees itself when done (startThread).
  ~TDkWaitForProcessThread() override = default;
  void Execute() override {
    WaitForInputIdle(FProcess.get(), INFINITE);
    HANDLE handles[2] = {FCancelEvent.get(), FProcess.get()};
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
      GetExitCodeProcess(FProcess.get(), &code);
      ExitCode = code;
      return true;
    }
    return false;
  }

  UniqueHandle FProcess;
  UniqueHandle FCancelEvent;
};

// The waiting thread of a redirected child: also writes what is queued for
// the child's input while it waits.
class TDkConsoleThread : public TDkWaitForProcessThread {
public:
  // Takes over inputPipe, the write end of the child's input.
  TDkConsoleThread(HANDLE process, UniqueHandle inputPipe, uintptr_t run)
      : TDkWaitForProcessThread(process, run), FInputPipe(std::move(inputPipe)), FInputPending(newEvent()) {}

protected:
  void Execute() override {
    WaitForInputIdle(FProcess.get(), INFINITE);
    HANDLE handles[3] = {FCancelEvent.get(), FProcess.get(), FInputPending.get()};
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
    FInputPipe.reset();
  }

private:
  void WritePendingInput() {
    std::lock_guard<std::mutex> hold(FInputLock);
    if (FInputPipe && !FPendingInput.empty()) {
      DWORD written = 0;
      if (WriteFile(FInputPipe.get(), FPendingInput.data(), static_cast<DWORD>(FPendingInput.size()), &written,
                    nullptr)) {
        FPendingInput.erase(0, written);
      } else {
        const DWORD error = GetLastError();
        if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE) FInputPipe.reset();
      }
    }
    if (FPendingInput.empty() || !FInputPipe) ResetEvent(FInputPending.get());
  }

  UniqueHandle FInputPipe;
  UniqueHandle FInputPending;
  std::mutex FInputLock;
  std::string FPendingInput;
};

// Drains one pipe into the shared buffer and tells the runner's window.
class TDkReadThread : public TThread {
public:
  // Takes over pipe.
  TDkReadThread(TDkReader* reader, UniqueHandle pipe, HWND window)
      : FReader(reader), FPipe(std::move(pipe)), FWindow(window), FNotReading(newEvent(true)) {}

  // Main thread: the next buffered chunk; false when nothing is buffered.
  bool TakeChunk(std::string& chunk) {
    std::lock_guard<std::mutex> hold(FBufferLock);
    return FBuffer.Take(chunk);
  }

  // Main thread: ends the thread wherever it is. Once the flag is set the
  // thread starts no further read; one under way is cancelled, and the
  // cancel repeated until the thread has left it (a cancel that comes before
  // the read has really begun finds nothing, and under Wine may even be lost).
  void Stop() {
    {
      std::lock_guard<std::mutex> hold(FStateLock);
      Terminate();
    }
    while (WaitForSingleObject(FNotReading.get(), 0) == WAIT_TIMEOUT) {
      if (!CancelSynchronousIo(Handle()) && GetLastError() != ERROR_NOT_FOUND) break;
      WaitForSingleObject(FNotReading.get(), kCancelRepeatMs);
    }
  }

  // The error that ended the reading: 0 for the pipe's end or a stop.
  DWORD ReadError() const { return FReadError; }

protected:
  ~TDkReadThread() override = default;
  void Execute() override {
    char buffer[TDkReadBuffer::kChunk];
    for (;;) {
      {
        std::lock_guard<std::mutex> hold(FStateLock);
        if (Terminated()) break;
        ResetEvent(FNotReading.get());
      }
      DWORD n = 0;
      const BOOL ok = ReadFile(FPipe.get(), buffer, sizeof buffer, &n, nullptr);
      const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
      SetEvent(FNotReading.get());
      // Any failure but a partial message ends the pipe for good: retrying
      // a handle that cannot be read would only spin. Only the pipe's end
      // (or a stop) is a normal end.
      if (!ok && error != ERROR_MORE_DATA) {
        if (error != ERROR_BROKEN_PIPE && !Terminated()) FReadError = error;
        break;
      }
      if (n == 0) continue;
      {
        std::lock_guard<std::mutex> hold(FBufferLock);
        FBuffer.Append(buffer, n);
      }
      PostMessageA(FWindow, kRunnerReaderData, reinterpret_cast<WPARAM>(FReader), 0);
    }
    FPipe.reset();
  }

private:
  TDkReader* FReader;  // sent with the data messages, never touched here
  UniqueHandle FPipe;
  HWND FWindow;
  std::mutex FBufferLock;
  TDkReadBuffer FBuffer;
  static constexpr DWORD kCancelRepeatMs = 10;
  std::mutex FStateLock;  // the terminate flag against the start of a read
  UniqueHandle FNotReading;  // set while no read is under way
  DWORD FReadError = ERROR_SUCCESS;
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

DWORD TDkReader::ThreadID() const { return FThread ? FThread->ThreadID() : 0; }

void TDkReader::Start(HANDLE pipe) {
  UniqueHandle owned(pipe);
  FAssembler.OwnerData = (FOwner->ConsoleOptions & consoleOption(coOwnerData)) != 0;
  FAssembler.Reset();
  auto* thread = new TDkReadThread(this, std::move(owned), FOwner->Window());
  startThread(thread, MakeMethod<&TDkReader::ThreadTerminated>(this));
  FThread = thread;
  FRun = FOwner->FRun;
}

void TDkReader::Stop() {
  if (!FThread) return;
  // While its termination handler is set the thread cannot free itself (the
  // handler runs on this thread), so it is ended first and let go last.
  FThread->Stop();
  FThread->SetOnTerminate(nullptr);
  FThread = nullptr;
}

void TDkReader::TakeAndSplit() {
  std::string chunk;
  while (FThread && FThread->TakeChunk(chunk)) FAssembler.Split(chunk);
}

void TDkReader::ThreadTerminated(TObject* Sender) {
  auto* ending = static_cast<TDkReadThread*>(Sender);
  // A handler that raises (or stops the reader) ends the splitting, never the
  // run: the ending is posted whatever happens here.
  try {
    std::string chunk;
    while (FThread == ending && ending->TakeChunk(chunk)) FAssembler.Split(chunk);
    if (FThread == ending) FAssembler.Finish();
  } catch (...) {
    reportToApplication(FOwner, std::current_exception());
  }
  if (FThread != ending) return;  // stopped meanwhile: nothing more to report
  FThread = nullptr;
  PostMessageA(FOwner->Window(), kRunnerEnding, FRun, 0);
  if (const DWORD error = ending->ReadError())
    reportToApplication(FOwner, std::make_exception_ptr(EDkProcessError(
                                    "The output of the process was cut short: " + ProcessErrorText(error), error)));
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
        // Endings of an earlier run (detached before they were served) are not this run's.
        if (FState == stWaiting && Message.WParam == FRun && --FEndings <= 0) {
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
  auto* thread = static_cast<TDkWaitForProcessThread*>(Sender);
  FExitCode = thread->ExitCode;
  FWaitThread = nullptr;
  PostMessageA(Window(), kRunnerEnding, thread->Run, 0);
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
  ++FRun;

  auto startWaiting = [&](TDkWaitForProcessThread* thread) {
    startThread(thread, MakeMethod<&TDkCreateProcess::WaitThreadTerminated>(this));
    FWaitThread = thread;
  };

  try {
    if (ConsoleOptions & consoleOption(coRedirect)) {
      const bool separateError = (ConsoleOptions & consoleOption(coSeparateError)) != 0;
      FState = stWaiting;
      FEndings = separateError ? 3 : 2;
      startWaiting(new TDkConsoleThread(FProcessInfo.hProcess, UniqueHandle(parent.Take(TDkRWEHandles::Write)), FRun));
      FOutput.Start(parent.Take(TDkRWEHandles::Read));
      if (separateError) FError.Start(parent.Take(TDkRWEHandles::Error));
    } else if (FWaitForTerminate) {
      FState = stWaiting;
      FEndings = 1;
      startWaiting(new TDkWaitForProcessThread(FProcessInfo.hProcess, FRun));
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
    FWaitThread->SetOnTerminate(nullptr);
    FWaitThread = nullptr;
  }
  FOutput.Stop();
  FError.Stop();
  FEndings = 0;
  FState = stIdle;
  CloseProcessHandles();
}

}  // namespace om
