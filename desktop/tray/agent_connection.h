// A blocking TCP client to the agent's service port, and the reading of whole
// replies through the decoders of agent_protocol.h. The socket layer itself is
// per platform (Winsock on Windows); everything above it is portable.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "framework/object.h"
#include "tray/agent_protocol.h"

namespace om {

// Connection failures: refused, reset, closed by the agent, read time-out,
// a reply that does not fit its layout.
class EAgentConnectionError : public Exception {
public:
  using Exception::Exception;
};
class EAgentReadTimeout : public EAgentConnectionError {
public:
  using EAgentConnectionError::EAgentConnectionError;
};
class EAgentClosed : public EAgentConnectionError {
public:
  using EAgentConnectionError::EAgentConnectionError;
};
class EAgentMalformedReply : public EAgentConnectionError {
public:
  using EAgentConnectionError::EAgentConnectionError;
};
// Connect on a client that is connected already.
class EAgentAlreadyConnected : public EAgentConnectionError {
public:
  using EAgentConnectionError::EAgentConnectionError;
};

// The socket layer.
class TAgentSocket : public TObject {
public:
  // Raises EAgentConnectionError on failure.
  virtual void Open(const std::string& host, int port) = 0;
  // Open and not found closed by the peer (a peer's close seen with nothing
  // left to read counts as closed).
  virtual bool IsOpen() = 0;
  virtual void Close() = 0;
  // Sends every byte or raises.
  virtual void Send(const std::string& bytes) = 0;
  // Receives 1..max bytes, waiting at most timeoutMs; raises EAgentReadTimeout
  // when nothing came, EAgentClosed when the peer closed.
  virtual size_t Receive(uint8_t* buffer, size_t max, int timeoutMs) = 0;
};

// The socket of this platform (Winsock on Windows).
std::unique_ptr<TAgentSocket> NewAgentSocket();

// Blocking client: connect, write, read replies; received bytes beyond a reply
// wait for the next read.
class TAgentClient : public TObject {
public:
  explicit TAgentClient(std::unique_ptr<TAgentSocket> socket);

  int ReadTimeout = kAgentReadTimeoutMs;  // per receive

  // Raises EAgentAlreadyConnected when connected, EAgentConnectionError on failure.
  void Connect(const std::string& host, int port);
  bool Connected();
  void Disconnect();
  void Write(const std::string& bytes);

  // Receives until decode reports a whole reply and returns it; raises
  // EAgentReadTimeout, EAgentClosed or EAgentMalformedReply.
  using TDecoder = std::function<TDecodeStatus(const uint8_t*, size_t, TDecodeInfo&)>;
  void ReadReply(const TDecoder& decode);

  uint8_t ReadByte();
  int32_t ReadState();
  std::string ReadZeroText();
  std::string ReadLine();
  void ReadPrompt();

private:
  std::unique_ptr<TAgentSocket> FSocket;
  std::vector<uint8_t> FPending;
};

}  // namespace om
