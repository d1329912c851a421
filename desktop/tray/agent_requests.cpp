#include "tray/agent_requests.h"

#include <chrono>

#include "framework/exceptions.h"
#include "framework/thread.h"

namespace om {

namespace {

// To the window of the requests: answers are waiting.
constexpr UINT kAnswersWaiting = WM_APP + 1;

}  // namespace

class TAgentRequests::TWorker final : public TThread {
public:
  explicit TWorker(TAgentRequests& owner) : FOwner(owner), FWake(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    if (!FWake) RaiseLastOSError();
    Start();
  }
  ~TWorker() override { Stop(); }

  void Wake() { SetEvent(FWake.get()); }
  // Tells the thread to end, cuts a wait for the agent short and waits for it.
  void Stop() {
    Terminate();
    Wake();
    if (!Finished()) WaitFor();
  }

protected:
  void Execute() override {
    while (!Terminated()) {
      TWork work;
      {
        std::lock_guard<std::mutex> guard(FOwner.FLock);
        if (!FOwner.FWork.empty()) work = FOwner.FWork.front();
      }
      if (!work) {
        WaitForSingleObject(FWake.get(), INFINITE);
        continue;
      }
      TDone done;
      try {
        done = work(*FOwner.FComms);
      } catch (const std::exception& e) {
        if (Terminated()) return;
        const std::string message = e.what();
        TAgentRequests& owner = FOwner;
        done = [&owner, message] {
          if (owner.OnError && !message.empty()) owner.OnError(message);
        };
      }
      if (Terminated()) return;
      const bool answered = static_cast<bool>(done);
      {
        std::lock_guard<std::mutex> guard(FOwner.FLock);
        FOwner.FWork.pop_front();
        if (answered) FOwner.FDone.push_back(std::move(done));
      }
      FOwner.FWorkDone.notify_all();
      if (answered) PostMessageA(FOwner.FWindow, kAnswersWaiting, 0, 0);
    }
  }

private:
  TAgentRequests& FOwner;
  UniqueHandle FWake;
};

TAgentRequests::TAgentRequests(std::unique_ptr<TClientComms> comms) : FComms(std::move(comms)) {
  FWindow = AllocateHWnd(MakeMethod<&TAgentRequests::WindowMethod>(this));
  FWorker = std::make_unique<TWorker>(*this);
  // The program is ending: the exchange in flight gives up within one step.
  TWorker* worker = FWorker.get();
  FComms->SetOnWait([worker] {
    if (worker->Terminated()) throw EAgentWaitCancelled("The program is ending.");
  });
}

TAgentRequests::~TAgentRequests() {
  FWorker.reset();
  DeallocateHWnd(FWindow);
}

void TAgentRequests::Post(TWork work) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FWork.push_back(std::move(work));
  }
  FWorker->Wake();
}

void TAgentRequests::Finish(DWORD limitMs) {
  std::unique_lock<std::mutex> guard(FLock);
  FWorkDone.wait_for(guard, std::chrono::milliseconds(limitMs), [this] { return FWork.empty(); });
}

void TAgentRequests::WindowMethod(TMessage& Message) {
  if (Message.Msg == kAnswersWaiting) Deliver();
  else Message.Result = DefWindowProcA(FWindow, Message.Msg, Message.WParam, Message.LParam);
}

void TAgentRequests::Deliver() {
  for (;;) {
    TDone done;
    {
      std::lock_guard<std::mutex> guard(FLock);
      if (FDone.empty()) return;
      done = std::move(FDone.front());
      FDone.pop_front();
    }
    try {
      done();
    } catch (const std::exception& e) {
      if (OnError && *e.what()) OnError(e.what());
    }
  }
}

}  // namespace om
