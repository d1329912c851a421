#include "tray/service_state.h"

#include <atomic>
#include <mutex>

#include "framework/exceptions.h"
#include "tray/client_comms.h"
#include "tray/tray_platform.h"
#include "tray/tray_seams.h"

namespace om {

std::optional<uint8_t> ServiceStateOfAgentState(int32_t agentState) {
  switch (agentState) {
    case 0: return ssIdle;
    case 1: return ssBackingUp;
    case 2: return ssRestoring;
    case 3: return ssHealthCheck;
    case 4: return ssUpdatingCache;
    case 5: return ssLastBackupFailed;
    case 6:
    case 7: return ssIdleBusy;
    case 8: return ssUpdating;
    case 9: return ssSelectionEmpty;
    default: return std::nullopt;
  }
}

namespace {

struct TStatusRecord {
  int64_t ChangeCount = 0;
  int64_t Stamp = -1;
  int32_t Kind = 0;
  std::string Text;
  uint8_t State = 0;
  TDateTime LastBackup = 0;
  TDateTime NextBackup = 0;
};

TStatusRecord GRecord;
// Guards only the lock reference itself.
std::mutex GLockRefGuard;
std::shared_ptr<TStatusLock> GLock;

}  // namespace

std::shared_ptr<TStatusLock> CurrentStatusLock() {
  std::lock_guard<std::mutex> g(GLockRefGuard);
  return GLock;
}

void CreateStatusLock() {
  std::lock_guard<std::mutex> g(GLockRefGuard);
  GLock = std::make_shared<TStatusLock>();
}

void FreeStatusLock() {
  std::shared_ptr<TStatusLock> old;
  {
    std::lock_guard<std::mutex> g(GLockRefGuard);
    old.swap(GLock);
  }
  // A writer still holding its reference finishes its write first.
}

bool StatusLockExists() { return CurrentStatusLock() != nullptr; }

void ResetStatusRecord() {
  auto lock = CurrentStatusLock();
  if (lock) {
    std::unique_lock<std::shared_mutex> w(lock->Mutex);
    GRecord = TStatusRecord();
  } else {
    GRecord = TStatusRecord();
  }
}

namespace {

template <class F>
void Write(F&& f) {
  auto lock = CurrentStatusLock();
  if (!lock) return;
  std::unique_lock<std::shared_mutex> w(lock->Mutex);
  f(GRecord);
}

// Reads take the lock when there is one; without it no writer can run.
template <class F>
auto Read(F&& f) {
  auto lock = CurrentStatusLock();
  if (!lock) return f(GRecord);
  std::shared_lock<std::shared_mutex> r(lock->Mutex);
  return f(GRecord);
}

}  // namespace

void SetServiceState(uint8_t state) {
  Write([&](TStatusRecord& r) { r.State = state; });
}

void StoreNotification(int32_t kind, const std::string& text, int64_t stamp) {
  Write([&](TStatusRecord& r) {
    if (r.Stamp == stamp) return;
    r.Stamp = stamp;
    r.Kind = kind;
    r.Text = text;
    ++r.ChangeCount;
  });
}

TDateTime AgentMillisToLocal(int64_t millis) {
  const TDateTime utc = static_cast<double>(millis) / 86400000.0 + 25569.0;
  // A time the calendar cannot hold is shown as it came.
  try {
    return utcToLocal(utc);
  } catch (const EConvertError&) {
    return utc;
  }
}

void StoreBackupTimes(const std::string& /*identifier*/, int64_t nextRaw, int64_t lastRaw) {
  // Converted outside the lock: the time-zone rules may read the registry.
  TDateTime last = lastRaw > 0 ? AgentMillisToLocal(lastRaw) : 0;
  TDateTime next = nextRaw > 0 ? AgentMillisToLocal(nextRaw) : -1;
  Write([&](TStatusRecord& r) {
    r.LastBackup = last;
    r.NextBackup = next;
  });
}

TNotificationCopy GetNotification() {
  return Read([](const TStatusRecord& r) {
    TNotificationCopy c;
    c.ChangeCount = r.ChangeCount;
    c.Stamp = r.Stamp;
    c.Kind = r.Kind;
    c.Text = r.Text;
    return c;
  });
}

uint8_t GetServiceState() {
  return Read([](const TStatusRecord& r) { return r.State; });
}
TDateTime GetLastBackupTime() {
  return Read([](const TStatusRecord& r) { return r.LastBackup; });
}
TDateTime GetNextBackupTime() {
  return Read([](const TStatusRecord& r) { return r.NextBackup; });
}

// ---------------------------------------------------------------------------

TServiceStatePoller::TServiceStatePoller(std::unique_ptr<TAgentSocket> socket)
    : FClient(std::move(socket)), FNextBackupIdentifier(kNoBackupId) {
  FClient.ReadTimeout = kAgentReadTimeoutMs;
}

int TServiceStatePoller::GetServicePort() {
  return ReadAgentServicePort(ProgramFolder(), "ombackup.properties", ProgramFileName());
}

void TServiceStatePoller::DisconnectQuietly() {
  try {
    FClient.Disconnect();
  } catch (const std::exception&) {
  }
}

void TServiceStatePoller::ConnectMonitor() {
  try {
    int port = GetServicePort();
    FClient.Connect(kAgentHost, port);
    // The acknowledgement is read but not judged: the polls tell.
    AgentHandshake(FClient);
  } catch (const std::exception&) {
    DisconnectQuietly();
  }
}

void TServiceStatePoller::Round() {
  try {
    if (!FClient.Connected()) {
      if (FFirstRound) {
        FFirstRound = false;
        SetServiceState(ssConnecting);
      } else {
        SetServiceState(ssNotReachable);
      }
      ConnectMonitor();
    }
    if (FClient.Connected()) {
      try {
        TNotificationReply n;
        FClient.Write(EncodeRequest(cmdGetNotification));
        FClient.ReadReply([&](const uint8_t* d, size_t s, TDecodeInfo& i) { return DecodeNotification(d, s, n, i); });
        StoreNotification(n.Kind, n.Text, n.Stamp);
      } catch (const std::exception&) {
        DisconnectQuietly();
      }
    }
    int32_t value = -1;
    if (FClient.Connected()) {
      try {
        FClient.Write(EncodeRequest(cmdGetState));
        value = FClient.ReadState();
      } catch (const std::exception&) {
        DisconnectQuietly();
      }
      if (auto s = ServiceStateOfAgentState(value)) SetServiceState(*s);
    }
    if (FClient.Connected() && StateHasBackupTimes(value)) {
      TNextBackupReply next;
      FClient.Write(EncodeRequest(cmdGetNextBackup));
      FClient.ReadReply([&](const uint8_t* d, size_t s, TDecodeInfo& i) { return DecodeNextBackup(d, s, next, i); });
      FNextBackupRaw = next.Millis;
      if (next.HasId) FNextBackupIdentifier = next.Id;
      int64_t last = 0;
      FClient.Write(EncodeRequest(cmdGetLastBackup));
      FClient.ReadReply([&](const uint8_t* d, size_t s, TDecodeInfo& i) { return DecodeLastBackup(d, s, last, i); });
      FLastBackupRaw = last;
      StoreBackupTimes(FNextBackupIdentifier, FNextBackupRaw, FLastBackupRaw);
    }
  } catch (const std::exception&) {
    DisconnectQuietly();
  }
}

void TServiceStatePoller::Finish() {
  if (FClient.Connected()) {
    try {
      FClient.Write(EncodeRequest(cmdEndExchange));
    } catch (const std::exception&) {
    }
    DisconnectQuietly();
  }
}

}  // namespace om

#ifdef _WIN32
namespace om {

unsigned TServiceStateThread::RoundPauseMs = 1000;

namespace {
std::atomic<int> gStateThreads{0};
}

int TServiceStateThread::InstanceCount() { return gStateThreads.load(); }

TServiceStateThread::TServiceStateThread(std::unique_ptr<TAgentSocket> socket)
    : FPoller(new TServiceStatePoller(std::move(socket))) {
  ++gStateThreads;
  FPoller->Client().OnWait = [this] {
    if (Terminated()) throw EAgentWaitCancelled("The state thread is stopping.");
  };
  Start();
}

TServiceStateThread::~TServiceStateThread() {
  Stop();
  delete FPoller;
  --gStateThreads;
}

void TServiceStateThread::Stop() {
  Terminate();
  if (!Finished()) WaitFor();
}

void TServiceStateThread::Execute() {
  while (!Terminated()) {
    // The pause, cut short when the thread is told to end.
    for (unsigned waited = 0; waited < RoundPauseMs && !Terminated(); waited += 20)
      Sleep(RoundPauseMs - waited < 20 ? RoundPauseMs - waited : 20);
    if (Terminated()) break;
    FPoller->Round();
  }
  FPoller->Finish();
}

}  // namespace om
#endif
