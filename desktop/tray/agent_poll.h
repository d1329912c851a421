// The service state thread's long-lived exchange with the agent: one
// handshake, then polls back to back (25, 7, and 20 and 24 in the states that
// have backup times) until the thread stops and sends 99.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/object.h"
#include "tray/agent_connection.h"

namespace om {

struct TAgentPollResult {
  TNotificationReply Notification;
  int32_t State = 0;
  bool HasBackupTimes = false;  // NextBackup and LastBackup were read
  TNextBackupReply NextBackup;
  int64_t LastBackup = 0;
};

class TAgentPollSession : public TObject {
public:
  // port: asked before every new exchange (the port may change between them).
  TAgentPollSession(std::unique_ptr<TAgentSocket> socket, std::function<int()> port);
  ~TAgentPollSession() override;

  // One poll cycle, opening a new exchange first when none is open. On any
  // failure the connection is closed, error says why and the result is false;
  // the next cycle starts over with a new handshake.
  bool Poll(TAgentPollResult& result, std::string& error);
  // Sends 99 on an open exchange and closes it.
  void Stop();
  bool Open() { return FOpen; }
  TAgentClient& Client() { return FClient; }

private:
  TAgentClient FClient;
  std::function<int()> FPort;
  bool FOpen = false;
};

}  // namespace om
