#include "tray/agent_connection.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace om {

int64_t TAgentSocket::NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

TAgentClient::TAgentClient(std::unique_ptr<TAgentSocket> socket) : FSocket(std::move(socket)) {}

template <class Step>
void TAgentClient::WaitUntilDone(const char* what, Step&& step) {
  const int64_t deadline = FSocket->NowMs() + ReadTimeout;
  for (;;) {
    const int wait = static_cast<int>(std::max<int64_t>(0, deadline - FSocket->NowMs()));
    if (step(OnWait ? std::min(wait, kWaitStepMs) : wait)) return;
    if (FSocket->NowMs() >= deadline) throw EAgentReadTimeout(what);
    if (OnWait) OnWait();
  }
}

void TAgentClient::Connect(const std::string& host, int port) {
  if (FSocket->IsOpen()) throw EAgentAlreadyConnected("Already connected.");
  FPending.clear();
  FSocket->Open(host, port);
  try {
    WaitUntilDone("Connect timed out.", [&](int ms) { return FSocket->WaitConnected(ms); });
  } catch (...) {
    FSocket->Close();
    throw;
  }
}

bool TAgentClient::Connected() {
  // Unread bytes keep a connection usable even after the peer closed.
  return FSocket->IsOpen() || !FPending.empty();
}

void TAgentClient::Disconnect() {
  FSocket->Close();
  FPending.clear();
}

void TAgentClient::Write(const std::string& bytes) {
  if (!FSocket->IsOpen()) throw EAgentConnectionError("Not connected.");
  size_t done = 0;
  WaitUntilDone("Write timed out.", [&](int ms) {
    done += FSocket->Send(bytes.data() + done, bytes.size() - done, ms);
    return done == bytes.size();
  });
}

void TAgentClient::ReadReply(const TDecoder& decode) {
  TDecodeInfo info;
  auto decoded = [&] {
    TDecodeStatus st = decode(FPending.data(), FPending.size(), info);
    if (st == TDecodeStatus::Complete) {
      FPending.erase(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(info.Consumed));
      return true;
    }
    if (st == TDecodeStatus::Malformed) {
      // The rest of the stream cannot be framed any more.
      Disconnect();
      throw EAgentMalformedReply("Malformed reply from the agent: " + info.Error);
    }
    return false;
  };
  if (decoded()) return;
  WaitUntilDone("Read timed out.", [&](int ms) {
    uint8_t buf[4096];
    size_t n;
    try {
      n = FSocket->Receive(buf, sizeof buf, ms);
    } catch (const EAgentReadTimeout&) {
      return false;
    }
    FPending.insert(FPending.end(), buf, buf + n);
    return decoded();
  });
}

uint8_t TAgentClient::ReadByte() {
  uint8_t v = 0;
  ReadReply([&](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodeByte(d, n, v, i); });
  return v;
}

int32_t TAgentClient::ReadState() {
  int32_t v = 0;
  ReadReply([&](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodeState(d, n, v, i); });
  return v;
}

std::string TAgentClient::ReadZeroText() {
  std::string s;
  ReadReply([&](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodeZeroText(d, n, s, i); });
  return s;
}

std::string TAgentClient::ReadLine() {
  std::string s;
  ReadReply([&](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodeLine(d, n, s, i); });
  return s;
}

void TAgentClient::ReadPrompt() {
  ReadReply([&](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodePrompt(d, n, i); });
}

}  // namespace om
