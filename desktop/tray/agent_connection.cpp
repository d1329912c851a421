#include "tray/agent_connection.h"

namespace om {

TAgentClient::TAgentClient(std::unique_ptr<TAgentSocket> socket) : FSocket(std::move(socket)) {}

void TAgentClient::Connect(const std::string& host, int port) {
  if (FSocket->IsOpen()) throw EAgentAlreadyConnected("Already connected.");
  FPending.clear();
  FSocket->Open(host, port);
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
  FSocket->Send(bytes);
}

void TAgentClient::ReadReply(const TDecoder& decode) {
  for (;;) {
    TDecodeInfo info;
    TDecodeStatus st = decode(FPending.data(), FPending.size(), info);
    if (st == TDecodeStatus::Complete) {
      FPending.erase(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(info.Consumed));
      return;
    }
    if (st == TDecodeStatus::Malformed) {
      // The rest of the stream cannot be framed any more.
      Disconnect();
      throw EAgentMalformedReply("Malformed reply from the agent: " + info.Error);
    }
    uint8_t buf[4096];
    size_t n = FSocket->Receive(buf, sizeof buf, ReadTimeout);
    FPending.insert(FPending.end(), buf, buf + n);
  }
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
