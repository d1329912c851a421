// Threads with a terminate flag, an end event run on the main thread and
// calls synchronised onto the main thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>

#include "framework/events.h"
#include "framework/object.h"
#include "platform/win32_owners.h"

namespace om {

using TThreadMethod = TEvent<void()>;

class TThread : public TObject {
public:
  // The thread is created suspended; Start runs Execute once the derived
  // object is complete. Destroying a running thread sets the terminate flag
  // and waits for it as WaitFor does; its end event is not run then.
  TThread();
  ~TThread() override;

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
  std::exception_ptr FFatalException;
};

// Id of the main (user-interface) thread: the thread that first asked.
DWORD MainThreadID();

// Runs the synchronised calls waiting for the main thread; true if any ran.
// Only the main thread runs them.
bool CheckSynchronize();

}  // namespace om
