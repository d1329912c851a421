// TClientComms: the tray monitor's one-shot requests to the local agent. Every
// request opens an exchange (connect, prompt, "MONITOR", acknowledgement),
// sends its bytes, ends the exchange with 99 and closes; setting reads may be
// chained on one exchange. A request that fails after the handshake closes
// its connection, so no later request reads a late reply as its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/object.h"
#include "tray/agent_connection.h"

namespace om {

// Port 10100 for a program file named omtray.exe (any letter case), else 10000.
int DefaultServicePort(const std::string& programFileName);
// "service.port" of folder\fileName (decoded from UTF-8, name matched without
// regard to case); the default port when the file, the key or a valid number is missing.
int ReadAgentServicePort(const std::string& folder, const std::string& fileName,
                         const std::string& programFileName);

// Handshake on a connected client: prompt, "MONITOR" CR LF, acknowledgement byte
// (returned; 1 means accepted). Raises on connection failures.
uint8_t AgentHandshake(TAgentClient& client);

class TClientComms : public TObject {
public:
  using TSocketFactory = std::function<std::unique_ptr<TAgentSocket>()>;
  // folder: where the agent's properties file is (no trailing separator).
  TClientComms(const std::string& folder, const std::string& fileName);
  TClientComms(const std::string& folder, const std::string& fileName, TSocketFactory newSocket);

  // Called while a request waits (TAgentClient::OnWait). A request made from
  // there, while another one waits, goes over a connection of its own.
  void SetOnWait(std::function<void()> onWait);
  // A request is waiting for the agent.
  bool Busy() const { return FDepth > 0; }

  int ReadServicePort();
  bool OpenExchange();
  bool SendCommand(uint8_t code);
  uint8_t SendQuery(uint8_t code);
  void SetBooleanSetting(const std::string& name, bool value);
  void SetSetting(const std::string& name, const std::string& value);
  bool GetBooleanSetting(const std::string& name, bool defaultValue, bool keepOpen);
  std::string GetSetting(const std::string& name, const std::string& defaultValue, bool keepOpen);
  std::string GetClientVersion();

  int Port() const { return FPort; }
  TAgentClient& Client() { return FClient; }

private:
  class TRequest;
  bool OpenExchange(TAgentClient& client);
  // Runs a request whose errors reach the caller; a failure closes the connection.
  template <class F>
  auto Request(F&& f);
  template <class F>
  void ReadSetting(const std::string& name, bool keepOpen, F&& apply);

  std::string FFolder;
  std::string FFileName;
  TSocketFactory FNewSocket;
  TAgentClient FClient;
  int FPort = 0;
  int FDepth = 0;
  std::function<void()> FOnWait;
};

}  // namespace om
