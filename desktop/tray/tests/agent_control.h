// Control of the scriptable Java test agent: its ports come from
// OM_TRAY_TEST_AGENT ("CONTROL AGENT"); commands are lines answered with
// "OK ..." (see TestAgent.java).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tray/agent_connection.h"

namespace om::testing {

class TAgentControl {
public:
  TAgentControl() {
    const char* env = std::getenv("OM_TRAY_TEST_AGENT");
    if (!env) return;
    std::istringstream in(env);
    in >> FControlPort >> FAgentPort;
    FClient = std::make_unique<TAgentClient>(NewAgentSocket());
    FClient->Connect("127.0.0.1", FControlPort);
  }
  bool Available() const { return FClient != nullptr; }
  int AgentPort() const { return FAgentPort; }

  // Sends one command; returns what follows "OK" (fails the test on "ERR").
  std::string operator()(const std::string& command) {
    FClient->Write(command + "\n");
    std::string line;
    for (;;) {
      uint8_t b = FClient->ReadByte();
      if (b == '\n') break;
      line += static_cast<char>(b);
    }
    EXPECT_EQ(line.substr(0, 2), "OK") << command << ": " << line;
    return line.size() > 3 ? line.substr(3) : std::string();
  }

  // Bytes received per connection since the last reset.
  std::vector<std::string> Recorded() {
    std::vector<std::string> out;
    std::istringstream in((*this)("recorded"));
    std::string hex;
    while (in >> hex) out.push_back(hex == "-" ? std::string() : hex);
    return out;
  }

  // The agent records what it reads on its own threads: waits (up to five
  // seconds) until the recording of connection number `connections` holds at
  // least lastSize hex digits.
  std::vector<std::string> RecordedWhen(size_t connections, size_t lastSize) {
    std::vector<std::string> r;
    for (int i = 0; i < 200; ++i) {
      r = Recorded();
      if (r.size() >= connections && r[connections - 1].size() >= lastSize) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return r;
  }

  static std::string HexOf(const std::string& bytes) {
    static const char* d = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
      out += d[c >> 4];
      out += d[c & 15];
    }
    return out;
  }

private:
  int FControlPort = 0;
  int FAgentPort = 0;
  std::unique_ptr<TAgentClient> FClient;
};

// What every connection of the tray starts with, as the agent records it.
inline const std::string kMonitorHex = TAgentControl::HexOf("MONITOR\r\n");

}  // namespace om::testing
