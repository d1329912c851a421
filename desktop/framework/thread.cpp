#include "framework/thread.h"

#include <deque>
#include <mutex>

#include "framework/exceptions.h"
#include "framework/forms.h"

namespace om {
namespace {

struct TSyncRequest {
  const std::function<void()>* Method;
  std::exception_ptr Error;
  UniqueHandle Done;
};

std::mutex& SyncLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}
std::deque<TSyncRequest*>& SyncQueue() {
  static auto* q = new std::deque<TSyncRequest*>;
  return *q;
}
// Set while calls wait, so a main thread blocked in WaitFor wakes for them.
HANDLE SyncEvent() {
  static HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return e;
}

DWORD GMainThreadID = 0;
struct TMainThreadInit {
  TMainThreadInit() { GMainThreadID = GetCurrentThreadId(); }
} GMainThreadInit;

}  // namespace

DWORD MainThreadID() {
  if (!GMainThreadID) GMainThreadID = GetCurrentThreadId();
  return GMainThreadID;
}

bool CheckSynchronize() {
  if (GetCurrentThreadId() != MainThreadID()) return false;
  bool ran = false;
  for (;;) {
    TSyncRequest* r;
    {
      std::lock_guard<std::mutex> g(SyncLock());
      if (SyncQueue().empty()) {
        ResetEvent(SyncEvent());
        return ran;
      }
      r = SyncQueue().front();
      SyncQueue().pop_front();
    }
    try {
      (*r->Method)();
    } catch (...) {
      r->Error = std::current_exception();
    }
    ran = true;
    SetEvent(r->Done.get());
  }
}

void TThread::Synchronize(TThread* Thread, const std::function<void()>& Method) {
  if (GetCurrentThreadId() == MainThreadID()) {
    Method();
    return;
  }
  TSyncRequest r{&Method, nullptr, UniqueHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr))};
  if (!r.Done) RaiseLastOSError();
  {
    std::lock_guard<std::mutex> g(SyncLock());
    SyncQueue().push_back(&r);
    SetEvent(SyncEvent());
  }
  if (ApplicationExists()) PostMessageA(Application()->Handle(), WM_NULL, 0, 0);
  WaitForSingleObject(r.Done.get(), INFINITE);
  if (r.Error) std::rethrow_exception(r.Error);
}

void TThread::Synchronize(TThreadMethod Method) {
  Synchronize(this, [Method] { Method(); });
}

TThread::TThread() {
  MainThreadID();
  FHandle.reset(CreateThread(nullptr, 0, ThreadProc, this, CREATE_SUSPENDED, &FThreadID));
  if (!FHandle) RaiseLastOSError();
}

TThread::~TThread() {
  if (!FHandle || FFinished || GetCurrentThreadId() == FThreadID) return;
  // Its owner is destroying it: no end event, which would see the object
  // half gone.
  SetOnTerminate(nullptr);
  FTerminated = true;
  if (!FStarted) {
    // Never started: let it run to its end without Execute.
    FStarted = true;
    FFinished = true;
    ResumeThread(FHandle.get());
  }
  WaitForEnd();
}

void TThread::Release(TThread* thread) {
  if (!thread) return;
  // A thread that frees itself and got here first deletes itself.
  if (thread->FDeleteClaimed.exchange(true)) return;
  thread->SetOnTerminate(nullptr);
  thread->Terminate();
  if (thread->FStarted) thread->WaitForEnd();
  delete thread;
}

TNotifyEvent TThread::OnTerminate() const {
  std::lock_guard<std::mutex> hold(FLock);
  return FOnTerminate;
}

void TThread::SetOnTerminate(TNotifyEvent handler) {
  std::lock_guard<std::mutex> hold(FLock);
  FOnTerminate = handler;
}

void TThread::Start() {
  if (FStarted) throw EThread("Thread already started");
  FStarted = true;
  if (ResumeThread(FHandle.get()) == static_cast<DWORD>(-1)) RaiseLastOSError();
}

DWORD WINAPI TThread::ThreadProc(LPVOID param) {
  auto* t = static_cast<TThread*>(param);
  if (t->FFinished) return 0;  // destroyed before it was started
  try {
    t->Execute();
  } catch (...) {
    t->FFatalException = std::current_exception();
  }
  try {
    t->DoTerminate();
  } catch (...) {
    if (!t->FFatalException) t->FFatalException = std::current_exception();
  }
  DWORD rc = t->ReturnValue;
  // Released meanwhile: the releaser waits for this end and deletes it.
  const bool freeIt = t->FreeOnTerminate && !t->FDeleteClaimed.exchange(true);
  // Nobody can ask a thread that frees itself how it ended: the application
  // hears of its exception instead.
  if (freeIt && t->FFatalException && ApplicationExists()) {
    try {
      Synchronize(t, [t] {
        if (ApplicationExists()) Application()->HandleException(t, t->FFatalException);
      });
    } catch (...) {
    }
  }
  t->FFinished = true;
  if (freeIt) delete t;
  return rc;
}

void TThread::DoTerminate() {
  // The handler is looked at again on the main thread: it may have been
  // cleared there while this call waited.
  if (OnTerminate()) Synchronize(this, [this] {
    if (TNotifyEvent handler = OnTerminate()) handler(this);
  });
}

bool TThread::WaitForEnd() {
  if (GetCurrentThreadId() != MainThreadID()) return WaitForSingleObject(FHandle.get(), INFINITE) == WAIT_OBJECT_0;
  HANDLE handles[2] = {FHandle.get(), SyncEvent()};
  for (;;) {
    DWORD r = MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, QS_SENDMESSAGE);
    if (r == WAIT_OBJECT_0) return true;
    if (r == WAIT_OBJECT_0 + 1) {
      CheckSynchronize();
    } else if (r == WAIT_OBJECT_0 + 2) {
      MSG msg;
      PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // serves sent messages
    } else if (r == WAIT_FAILED) {
      return false;
    }
  }
}

DWORD TThread::WaitFor() {
  if (GetCurrentThreadId() == FThreadID) throw EThread("A thread cannot wait for itself");
  if (!WaitForEnd()) RaiseLastOSError();
  DWORD code = 0;
  GetExitCodeThread(FHandle.get(), &code);
  return code;
}

}  // namespace om
