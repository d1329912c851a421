// What the tray monitor knows about the backup agent: the shared status record
// (written by the service state thread, read by the status form, under one
// multi-reader single-writer lock) and the thread's polling round.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>

#include "tray/agent_connection.h"

namespace om {

using TDateTime = double;

// Service states of the status record.
enum : uint8_t {
  ssIdle = 0,
  ssNotReachable = 1,
  ssBackingUp = 2,
  ssRestoring = 3,
  ssConnecting = 4,
  ssHealthCheck = 5,
  ssUpdatingCache = 6,
  ssIdleBusy = 7,
  ssLastBackupFailed = 8,
  ssSelectionEmpty = 9,
  ssUpdating = 10,
};

// The service state for an agent state; nothing for values outside 0..9.
std::optional<uint8_t> ServiceStateOfAgentState(int32_t agentState);

struct TNotificationCopy {
  int64_t ChangeCount = 0;
  int64_t Stamp = -1;
  int32_t Kind = 0;  // 1 success, 2 warning, 3 failure
  std::string Text;
};

// The lock of the status record. It is reference counted: FreeStatusLock drops
// the program's reference, a writer that took the lock before keeps it alive
// until its write is done.
class TStatusLock {
public:
  std::shared_mutex Mutex;
};

// Creates the lock (the form does it before the thread starts) and frees it
// (when the program closes). Without a lock the setters do nothing.
void CreateStatusLock();
void FreeStatusLock();
bool StatusLockExists();
// The lock itself, for tests that hold it.
std::shared_ptr<TStatusLock> CurrentStatusLock();
// Back to the start values (tests).
void ResetStatusRecord();

void SetServiceState(uint8_t state);
// Stores kind, text and stamp and counts the change when stamp is new.
void StoreNotification(int32_t kind, const std::string& text, int64_t stamp);
// Raw times are milliseconds since 1970-01-01 UTC; > 0 is a time, otherwise
// "none" (last: 0, next: -1).
void StoreBackupTimes(const std::string& identifier, int64_t nextRaw, int64_t lastRaw);
TNotificationCopy GetNotification();
uint8_t GetServiceState();
TDateTime GetLastBackupTime();
TDateTime GetNextBackupTime();

// Milliseconds since 1970 (UTC) as a local date-time.
TDateTime AgentMillisToLocal(int64_t millis);

// One thread's long-lived connection to the agent and its polling round.
class TServiceStatePoller {
public:
  explicit TServiceStatePoller(std::unique_ptr<TAgentSocket> socket);

  // One round without the pause: (re)connect when down, then poll the
  // notification, the state and (in the states that have them) the backup
  // times, storing what came into the status record.
  void Round();
  // The end: 99 on a connected client, then disconnect.
  void Finish();
  // "service.port" of ombackup.properties in the program folder.
  int GetServicePort();
  void ConnectMonitor();

  TAgentClient& Client() { return FClient; }
  bool FirstRound() const { return FFirstRound; }
  int64_t NextBackupRaw() const { return FNextBackupRaw; }
  int64_t LastBackupRaw() const { return FLastBackupRaw; }
  const std::string& NextBackupIdentifier() const { return FNextBackupIdentifier; }

private:
  void DisconnectQuietly();

  TAgentClient FClient;
  bool FFirstRound = true;
  int64_t FLastBackupRaw = 0;
  int64_t FNextBackupRaw = 0;
  std::string FNextBackupIdentifier;
};

}  // namespace om

#ifdef _WIN32
#include "framework/thread.h"

namespace om {

// Polls the agent once a second until told to terminate. Its owner stops it
// (Stop) before the owner goes; a wait for the agent ends soon after the
// thread is told to terminate.
class TServiceStateThread final : public TThread {
public:
  // Starts at once.
  explicit TServiceStateThread(std::unique_ptr<TAgentSocket> socket = NewAgentSocket());
  // Stops the thread first: deleting it is safe.
  ~TServiceStateThread() override;

  // Tells the thread to terminate and waits for its end.
  void Stop();

  // Pause between rounds (tests shorten it).
  static unsigned RoundPauseMs;
  // Threads of this class not yet destroyed.
  static int InstanceCount();

protected:
  void Execute() override;

private:
  TServiceStatePoller* FPoller;
};

}  // namespace om
#endif
