// An in-memory agent socket for the tests: each Open takes the next scripted
// input (the bytes the agent would send), hands it out in chunks and records
// what the client sends. It keeps time of its own: a receive with nothing left
// to hand out takes the whole time it may wait.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tray/agent_connection.h"

namespace om::testing {

struct TScript {
  std::deque<std::string> Inputs;    // one per connection; none left: connect refused
  std::vector<std::string> Outputs;  // what the client sent, per connection
  std::vector<int> Ports;            // port of every connect attempt
  bool CloseAtEnd = false;           // after the input: peer closed (else: read time-out)
  size_t MaxChunk = 4096;            // largest piece one Receive hands out
  unsigned Seed = 1;
  int Receives = 0;
  int64_t NowMs = 0;                 // the socket's clock
  int MsPerReceive = 0;              // time every receive takes
};

class TScriptedSocket : public TAgentSocket {
public:
  explicit TScriptedSocket(std::shared_ptr<TScript> script) : FScript(std::move(script)), FRng(FScript->Seed) {}

  void Open(const std::string& host, int port) override {
    FScript->Ports.push_back(port);
    FOpen = false;
    if (FScript->Inputs.empty()) throw EAgentConnectionError("connect: refused");
    FInput = FScript->Inputs.front();
    FScript->Inputs.pop_front();
    FPos = 0;
    FScript->Outputs.emplace_back();
    FOutput = FScript->Outputs.size() - 1;
    FOpen = true;
    FPeerClosed = false;
  }
  bool WaitConnected(int) override { return true; }
  bool IsOpen() override {
    if (FOpen && FScript->CloseAtEnd && FPos >= FInput.size()) FPeerClosed = true;
    return FOpen && !FPeerClosed;
  }
  void Close() override { FOpen = false; }
  size_t Send(const char* data, size_t size, int) override {
    if (!FOpen) throw EAgentConnectionError("not connected");
    FScript->Outputs[FOutput].append(data, size);
    return size;
  }
  size_t Receive(uint8_t* buffer, size_t max, int timeoutMs) override {
    if (!FOpen) throw EAgentConnectionError("not connected");
    ++FScript->Receives;
    if (FPos >= FInput.size()) {
      if (FScript->CloseAtEnd) {
        FPeerClosed = true;
        throw EAgentClosed("closed");
      }
      FScript->NowMs += timeoutMs;
      throw EAgentReadTimeout("Read timed out.");
    }
    FScript->NowMs += std::min(FScript->MsPerReceive, timeoutMs);
    size_t n = std::min({max, FInput.size() - FPos, FScript->MaxChunk});
    if (n > 1) n = 1 + FRng() % n;
    std::copy(FInput.begin() + static_cast<std::ptrdiff_t>(FPos),
              FInput.begin() + static_cast<std::ptrdiff_t>(FPos + n), buffer);
    FPos += n;
    return n;
  }

  int64_t NowMs() override { return FScript->NowMs; }

private:
  std::shared_ptr<TScript> FScript;
  std::mt19937 FRng;
  std::string FInput;
  size_t FPos = 0;
  size_t FOutput = 0;
  bool FOpen = false;
  bool FPeerClosed = false;
};

// A script of random agent bytes for the given number of connections: most
// begin with an accepted handshake, the rest is noise with many zero bytes.
inline std::shared_ptr<TScript> RandomScript(std::mt19937& rng, unsigned seed, int connections, size_t maxLength) {
  auto script = std::make_shared<TScript>();
  script->Seed = seed;
  script->MaxChunk = 1 + rng() % 16;
  script->CloseAtEnd = rng() % 2;
  for (int k = 0; k < connections; ++k) {
    std::string in = rng() % 3 ? std::string("Ombrel backup agent\r\n>\x01") : std::string();
    size_t length = rng() % maxLength;
    for (size_t i = 0; i < length; ++i) in += static_cast<char>(rng() % 4 == 0 ? 0 : rng() % 256);
    script->Inputs.push_back(in);
  }
  return script;
}

// Sockets for a TClientComms that all play one script.
inline std::function<std::unique_ptr<TAgentSocket>()> ScriptedSockets(std::shared_ptr<TScript> script) {
  return [script] { return std::make_unique<TScriptedSocket>(script); };
}

inline std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int x : b) s += static_cast<char>(x);
  return s;
}

inline std::string Hex(const std::string& s) {
  static const char* d = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (!out.empty()) out += ' ';
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

inline std::string BE32(int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  return Bytes({static_cast<int>(u >> 24), static_cast<int>((u >> 16) & 255), static_cast<int>((u >> 8) & 255),
                static_cast<int>(u & 255)});
}
inline std::string BE64(int64_t v) {
  uint64_t u = static_cast<uint64_t>(v);
  return BE32(static_cast<int32_t>(u >> 32)) + BE32(static_cast<int32_t>(u & 0xFFFFFFFFu));
}

}  // namespace om::testing
