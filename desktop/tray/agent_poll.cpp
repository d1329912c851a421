#include "tray/agent_poll.h"

#include "tray/client_comms.h"

namespace om {

TAgentPollSession::TAgentPollSession(std::unique_ptr<TAgentSocket> socket, std::function<int()> port)
    : FClient(std::move(socket)), FPort(std::move(port)) {}

TAgentPollSession::~TAgentPollSession() { Stop(); }

bool TAgentPollSession::Poll(TAgentPollResult& result, std::string& error) {
  try {
    if (!FOpen) {
      FClient.Disconnect();
      FClient.Connect(kAgentHost, FPort());
      if (AgentHandshake(FClient) != kAgentAccepted) throw EAgentConnectionError("The agent refused the monitor.");
      FOpen = true;
    }
    TAgentPollResult r;
    FClient.Write(EncodeRequest(cmdGetNotification));
    FClient.ReadReply([&](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodeNotification(d, n, r.Notification, i); });
    FClient.Write(EncodeRequest(cmdGetState));
    r.State = FClient.ReadState();
    if (StateHasBackupTimes(r.State)) {
      FClient.Write(EncodeRequest(cmdGetNextBackup));
      FClient.ReadReply([&](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodeNextBackup(d, n, r.NextBackup, i); });
      FClient.Write(EncodeRequest(cmdGetLastBackup));
      FClient.ReadReply([&](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodeLastBackup(d, n, r.LastBackup, i); });
      r.HasBackupTimes = true;
    }
    result = std::move(r);
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    FOpen = false;
    FClient.Disconnect();
    return false;
  }
}

void TAgentPollSession::Stop() {
  if (FOpen) {
    try {
      FClient.Write(EncodeRequest(cmdEndExchange));
    } catch (const std::exception&) {
    }
  }
  FOpen = false;
  FClient.Disconnect();
}

}  // namespace om
