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

// Connection failures: refused, reset, closed by the agent, a connect, write
// or reply not done in time, a reply that does not fit its layout.
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
// The waiting party gave up (the program is ending, the thread was told to stop).
class EAgentWaitCancelled : public EAgentConnectionError {
public:
  using EAgentConnectionError::EAgentConnectionError;
};

// The socket layer. Every call waits at most the time it is given.
class TAgentSocket : public TObject {
public:
  // Starts connecting; raises EAgentConnectionError when that fails at once.
  virtual void Open(const std::string& host, int port) = 0;
  // True once connected, false while still connecting after timeoutMs;
  // raises EAgentConnectionError when the connection failed.
  virtual bool WaitConnected(int timeoutMs) = 0;
  // Open and not found closed by the peer (a peer's close seen with nothing
  // left to read counts as closed).
  virtual bool IsOpen() = 0;
  virtual void Close() = 0;
  // Sends some of the bytes, waiting at most timeoutMs for room; returns how
  // many went (0: no room in time). Raises on failure.
  virtual size_t Send(const char* data, size_t size, int timeoutMs) = 0;
  // Receives 1..max bytes, waiting at most timeoutMs; raises EAgentReadTimeout
  // when nothing came, EAgentClosed when the peer closed.
  virtual size_t Receive(uint8_t* buffer, size_t max, int timeoutMs) = 0;
  // The clock the waits are measured on, in milliseconds (the system's
  // steady clock; a scripted socket keeps time of its own).
  virtual int64_t NowMs();
};

// The socket of this platform (Winsock on Windows).
std::unique_ptr<TAgentSocket> NewAgentSocket();

// Blocking client: connect, write, read replies; received bytes beyond a reply
// wait for the next read.
class TAgentClient : public TObject {
public:
  explicit TAgentClient(std::unique_ptr<TAgentSocket> socket);

  // One deadline for each connect, each write and each whole reply.
  int ReadTimeout = kAgentReadTimeoutMs;
  // When set, the client waits in short steps and calls this between them
  // (the user-interface thread serves its messages there); raising from it
  // gives the wait up.
  std::function<void()> OnWait;

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

  // Length of the steps of a wait with OnWait.
  static constexpr int kWaitStepMs = 50;

private:
  // Runs step with the time it may wait until it reports done; raises
  // EAgentReadTimeout with what when the deadline passes first.
  template <class Step>
  void WaitUntilDone(const char* what, Step&& step);

  std::unique_ptr<TAgentSocket> FSocket;
  std::vector<uint8_t> FPending;
};

}  // namespace om
