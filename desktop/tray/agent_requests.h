// The status form's requests to the agent, on a thread of their own, so that
// the user-interface thread never waits for the agent: menus, clicks, control
// messages and the tick (hand-over files, the close) are served while an
// exchange waits. The work of a request runs on that thread with the form's
// TClientComms, one exchange at a time, in the order the requests came; what
// the work hands back runs on the user-interface thread, through a message to
// a window of this object.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "framework/messages.h"
#include "tray/client_comms.h"

namespace om {

class TAgentRequests {
public:
  // Runs on the user-interface thread once the work is done.
  using TDone = std::function<void()>;
  // The work of one request, on the request thread; it may hand back nothing.
  using TWork = std::function<TDone(TClientComms& comms)>;

  explicit TAgentRequests(std::unique_ptr<TClientComms> comms);
  // Gives up the exchange in flight (within one wait step of the client) and
  // drops the requests not yet run and the answers not yet delivered.
  ~TAgentRequests();
  TAgentRequests(const TAgentRequests&) = delete;
  TAgentRequests& operator=(const TAgentRequests&) = delete;

  void Post(TWork work);
  // Lets the requests posted so far run, for at most limitMs in all; their
  // answers are not delivered. At the program's end, so that a command the
  // user gave is still sent.
  void Finish(DWORD limitMs);

  // Where the message of an error raised by a request goes (on the
  // user-interface thread).
  std::function<void(const std::string& message)> OnError;

private:
  class TWorker;
  friend class TWorker;
  void WindowMethod(TMessage& Message);
  void Deliver();

  std::unique_ptr<TClientComms> FComms;
  std::mutex FLock;
  std::deque<TWork> FWork;  // the front is in flight while the worker runs it
  std::deque<TDone> FDone;
  std::condition_variable FWorkDone;  // a request left the queue
  HWND FWindow = nullptr;
  std::unique_ptr<TWorker> FWorker;
};

}  // namespace om
