#include "support/runnerprocess.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace om {

namespace {

constexpr char kProcessRunning[] = "Cannot perform this operation when process is running";
constexpr char kWindowClass[] = "TDkRunnerWindow";
// A thread's last word to the main thread; LParam is the thread.
constexpr UINT kThreadDone = WM_APP + 0x2D1;

// Taken by an ending thread around its last post and by a component around
// the destruction of its window: a thread whose post finds no window (its
// component is gone) cleans up after itself.
std::mutex gOrphanLock;

}  // namespace

enum class TRunnerThreadKind { Wait, Console, Read };

// One background thread of the runner and everything it touches. Made and
// deleted by the main thread, except that an orphaned thread deletes itself.
struct TDkRunnerThread {
  TRunnerThreadKind Kind;
  HWND Window;
  TDkReader* Reader = nullptr;
  HANDLE Thread = nullptr;
  WPARAM ReaderTag = 0;          // sent with the data messages
  std::atomic<bool> Terminated{false};
  bool HandlerSet = true;        // main thread only
  uint32_t ExitCode = 0;

  // Wait and console threads.
  HANDLE Process = nullptr;      // own duplicate
  HANDLE CancelEvent = nullptr;
  HANDLE InputPipe = nullptr;    // console thread: write end of the child's input
  HANDLE InputPending = nullptr;
  CRITICAL_SECTION InputLock;
  std::string PendingInput;

  // Read threads.
  HANDLE Pipe = nullptr;
  CRITICAL_SECTION BufferLock;
  TDkReadBuffer Buffer;

  TDkRunnerThread(TRunnerThreadKind kind, HWND window) : Kind(kind), Window(window) {
    InitializeCriticalSection(&InputLock);
    InitializeCriticalSection(&BufferLock);
  }
  ~TDkRunnerThread() {
    for (HANDLE h : {Thread, Process, CancelEvent, InputPipe, InputPending, Pipe})
      if (h) CloseHandle(h);
    DeleteCriticalSection(&InputLock);
    DeleteCriticalSection(&BufferLock);
  }

  void Cancel() {
    Terminated = true;
    if (CancelEvent) SetEvent(CancelEvent);
  }

  static DWORD WINAPI Run(LPVOID param) {
    auto* self = static_cast<TDkRunnerThread*>(param);
    try {
      if (self->Kind == TRunnerThreadKind::Read)
        self->ExecuteRead();
      else
        self->ExecuteWait();
    } catch (...) {
    }
    std::lock_guard<std::mutex> hold(gOrphanLock);
    if (!PostMessageA(self->Window, kThreadDone, 0, reinterpret_cast<LPARAM>(self))) delete self;
    return 0;
  }

  void ExecuteWait() {
    WaitForInputIdle(Process, INFINITE);
    HANDLE handles[3] = {CancelEvent, Process, InputPending};
    DWORD count = Kind == TRunnerThreadKind::Console && InputPipe ? 3 : 2;
    while (!Terminated) {
      const DWORD r = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
      if (r == WAIT_OBJECT_0) {
        ExitCode = 0xFFFFFFFF;
        return;
      }
      if (r == WAIT_OBJECT_0 + 1) {
        DWORD code = 0;
        GetExitCodeProcess(Process, &code);
        ExitCode = code;
        return;
      }
      if (r == WAIT_OBJECT_0 + 2) {
        WritePendingInput();
        if (!InputPipe) count = 2;
        continue;
      }
      return;  // the wait failed: the ending is reported with the code held
    }
  }

  void WritePendingInput() {
    EnterCriticalSection(&InputLock);
    if (InputPipe && !PendingInput.empty()) {
      DWORD written = 0;
      if (WriteFile(InputPipe, PendingInput.data(), static_cast<DWORD>(PendingInput.size()), &written, nullptr)) {
        PendingInput.erase(0, written);
      } else {
        const DWORD error = GetLastError();
        if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE) {
          CloseHandle(InputPipe);
          InputPipe = nullptr;
        }
      }
    }
    if (PendingInput.empty() || !InputPipe) ResetEvent(InputPending);
    LeaveCriticalSection(&InputLock);
  }

  void ExecuteRead() {
    char buffer[TDkReadBuffer::kChunk];
    while (!Terminated) {
      DWORD n = 0;
      const BOOL ok = ReadFile(Pipe, buffer, sizeof buffer, &n, nullptr);
      // Any failure but a partial message ends the pipe for good: retrying
      // a handle that cannot be read would only spin.
      if (!ok && GetLastError() != ERROR_MORE_DATA) break;
      if (n == 0) continue;
      EnterCriticalSection(&BufferLock);
      Buffer.Append(buffer, n);
      LeaveCriticalSection(&BufferLock);
      PostMessageA(Window, kRunnerReaderData, ReaderTag, 0);
    }
  }

  bool TakeChunk(std::string& chunk) {
    EnterCriticalSection(&BufferLock);
    const bool got = Buffer.Take(chunk);
    LeaveCriticalSection(&BufferLock);
    return got;
  }

  void Start() {
    Thread = CreateThread(nullptr, 0, Run, this, CREATE_SUSPENDED, nullptr);
    if (!Thread) RaiseLastProcessError();
    SetThreadPriority(Thread, THREAD_PRIORITY_BELOW_NORMAL);
    ResumeThread(Thread);
  }
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
  auto* thread = new TDkRunnerThread(TRunnerThreadKind::Read, FOwner->Window());
  thread->Reader = this;
  thread->ReaderTag = reinterpret_cast<WPARAM>(this);
  thread->Pipe = pipe;
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
  FThread->HandlerSet = false;
  FThread->Terminated = true;
  // A blocked read ends here; otherwise the thread ends when the child closes
  // its end of the pipe.
  CancelSynchronousIo(FThread->Thread);
  FThread->Reader = nullptr;
  FThread = nullptr;
}

void TDkReader::TakeAndSplit() {
  std::string chunk;
  while (FThread && FThread->TakeChunk(chunk)) FAssembler.Split(chunk);
}

void TDkReader::ThreadEnded() {
  TakeAndSplit();
  FAssembler.Finish();
  FThread = nullptr;
  PostMessageA(FOwner->Window(), kRunnerEnding, 0, 0);
}

// --- TDkCreateProcess ---

TDkCreateProcess::TDkCreateProcess() : FError(this), FOutput(this) {}

TDkCreateProcess::~TDkCreateProcess() {
  try {
    DetachFromProcess();
  } catch (...) {
  }
  FOutput.Stop();
  FError.Stop();
  if (FWindow) {
    // Threads whose last word is already queued are finished here; those
    // still running clean up after themselves once the window is gone.
    std::lock_guard<std::mutex> hold(gOrphanLock);
    SetWindowLongPtrA(FWindow, GWLP_USERDATA, 0);
    MSG msg;
    while (PeekMessageA(&msg, FWindow, kThreadDone, kThreadDone, PM_REMOVE)) {
      auto* thread = reinterpret_cast<TDkRunnerThread*>(msg.lParam);
      WaitForSingleObject(thread->Thread, INFINITE);
      delete thread;
    }
    DestroyWindow(FWindow);
  }
  CloseProcessHandles();
}

HWND TDkCreateProcess::Window() {
  if (FWindow) return FWindow;
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA existing;
  if (!GetClassInfoA(instance, kWindowClass, &existing)) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassA(&wc)) RaiseLastProcessError();
  }
  FWindow = CreateWindowExA(WS_EX_TOOLWINDOW, kWindowClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance,
                            nullptr);
  if (!FWindow) RaiseLastProcessError();
  SetWindowLongPtrA(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return FWindow;
}

LRESULT CALLBACK TDkCreateProcess::WindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kThreadDone) {
    auto* thread = reinterpret_cast<TDkRunnerThread*>(lParam);
    auto* self = reinterpret_cast<TDkCreateProcess*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    WaitForSingleObject(thread->Thread, INFINITE);  // it posted as its last step
    try {
      if (self) self->ThreadDone(thread);
    } catch (...) {
    }
    delete thread;
    return 0;
  }
  auto* self = reinterpret_cast<TDkCreateProcess*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  if (!self) return DefWindowProcA(wnd, msg, wParam, lParam);
  try {
    return self->HandleMessage(msg, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

LRESULT TDkCreateProcess::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case kRunnerReaderData: {
      auto* reader = reinterpret_cast<TDkReader*>(wParam);
      if (reader == &FOutput || reader == &FError) reader->TakeAndSplit();
      return 0;
    }
    case kRunnerEnding:
      if (FState == stWaiting) {
        if (--FEndings <= 0) {
          ResetToIdle();
          if (OnTerminate) OnTerminate(this, FExitCode);
        }
      }
      return 0;
    default:
      return DefWindowProcA(FWindow, msg, wParam, lParam);
  }
}

void TDkCreateProcess::ThreadDone(TDkRunnerThread* thread) {
  if (!thread->HandlerSet) return;
  if (thread->Kind == TRunnerThreadKind::Read) {
    if (thread->Reader) thread->Reader->ThreadEnded();
  } else {
    WaitThreadEnded(thread->ExitCode);
  }
}

void TDkCreateProcess::WaitThreadEnded(uint32_t exitCode) {
  FExitCode = exitCode;
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

  HWND window = Window();
  TDkRWEHandles parent;
  FProcessInfo = StartChildProcess(request, parent);

  auto watcher = [&](TRunnerThreadKind kind) {
    auto* thread = new TDkRunnerThread(kind, window);
    if (!DuplicateHandle(GetCurrentProcess(), FProcessInfo.hProcess, GetCurrentProcess(), &thread->Process, 0, FALSE,
                         DUPLICATE_SAME_ACCESS) ||
        !(thread->CancelEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr))) {
      delete thread;
      RaiseLastProcessError();
    }
    return thread;
  };
  auto startWatcher = [&](TDkRunnerThread* thread) {
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
      TDkRunnerThread* console = watcher(TRunnerThreadKind::Console);
      console->InputPipe = parent.Take(TDkRWEHandles::Write);
      console->InputPending = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      startWatcher(console);
      FOutput.Start(parent.Take(TDkRWEHandles::Read));
      if (separateError) FError.Start(parent.Take(TDkRWEHandles::Error));
    } else if (FWaitForTerminate) {
      FState = stWaiting;
      FEndings = 1;
      startWatcher(watcher(TRunnerThreadKind::Wait));
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
    FWaitThread->HandlerSet = false;
    FWaitThread->Cancel();
    FWaitThread = nullptr;
  }
  FOutput.Stop();
  FError.Stop();
  FEndings = 0;
  FState = stIdle;
  CloseProcessHandles();
}

}  // namespace om
