// Threads with a terminate flag, an end event run on the main thread and
// calls synchronised onto the main thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

#include "framework/events.h"
#include "framework/object.h"
#include "platform/win32_owners.h"

namespace om {

using TThreadMethod = TEvent<void()>;

// A thread object. It is created suspended: call Start once the object is
// complete (from its creator, or last in the constructor of a final class),
// so Execute never runs before the constructor chain has finished.
//
// Ending a thread object, one of:
// - TThread::Release(thread) (or a TThreadPtr): sets the terminate flag, waits
//   for Execute to return and only then deletes the object; its end event is
//   not run then. Never from the thread itself.
// - FreeOnTerminate set before Start: the thread deletes itself after its end
//   event; once started, nobody else deletes it.
// - A final class may give itself a public destructor that terminates and
//   waits for the thread first, while all its parts still exist.
// The destructor is protected: deleting a running thread by its base class
// would let Execute run on an object whose derived part is already gone.
class TThread : public TObject {
public:
  TThread();

  // Ends and deletes thread as said above; nothing for nullptr.
  static void Release(TThread* thread);

  void Start();
  void Resume() { Start(); }
  // Sets the terminate flag; Execute is expected to watch it.
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  // Waits for the end of the thread; on the main thread, synchronised calls
  // and sent messages are served meanwhile. Returns the exit code.
  DWORD WaitFor();

  bool Finished() const { return FFinished; }
  HANDLE Handle() const { return FHandle.get(); }
  DWORD ThreadID() const { return FThreadID; }

  // Deletes the object when Execute is done (after OnTerminate); an exception
  // that ended Execute then goes to the application's exception handler.
  bool FreeOnTerminate = false;
  // Runs on the main thread after Execute ended. Set and cleared on the main
  // thread; once cleared it is not run, even when the thread has ended.
  TNotifyEvent OnTerminate() const;
  void SetOnTerminate(TNotifyEvent handler);
  // The exception that ended Execute, if any.
  std::exception_ptr FatalException() const { return FFatalException; }
  DWORD ReturnValue = 0;

  // Runs Method on the main thread and waits for it; an exception raised there
  // is raised again in the calling thread.
  static void Synchronize(TThread* Thread, const std::function<void()>& Method);
  void Synchronize(TThreadMethod Method);

protected:
  // A running thread reaching here is told to terminate and waited for, but
  // its derived part is gone by then: see Release.
  ~TThread() override;
  virtual void Execute() = 0;
  virtual void DoTerminate();

private:
  static DWORD WINAPI ThreadProc(LPVOID param);
  // Waits for the end; on the main thread serves synchronised calls and sent
  // messages meanwhile. False when the wait failed.
  bool WaitForEnd();

  UniqueHandle FHandle;
  DWORD FThreadID = 0;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  mutable std::mutex FLock;  // the end event's handler, read by the ending thread
  TNotifyEvent FOnTerminate;
  bool FStarted = false;
  // Set by whichever deletes the object first: Release or the ending thread
  // of a FreeOnTerminate thread.
  std::atomic<bool> FDeleteClaimed{false};
  std::exception_ptr FFatalException;
};

// Owns a thread object and releases it (TThread::Release) when it goes.
struct TThreadRelease {
  void operator()(TThread* thread) const { TThread::Release(thread); }
};
template <class T>
using TThreadPtr = std::unique_ptr<T, TThreadRelease>;

// Id of the main (user-interface) thread: the thread that first asked.
DWORD MainThreadID();

// Runs the synchronised calls waiting for the main thread; true if any ran.
// Only the main thread runs them.
bool CheckSynchronize();

}  // namespace om
