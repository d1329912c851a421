// TClientComms over a scripted in-memory socket: the exact bytes of every
// request, the handshake, chaining, refusal, time-outs, malformed replies and
// the port discovery.
#include <gtest/gtest.h>

#include <cctype>

#include "scripted_socket.h"
#include "platform/testing/temp_folder.h"
#include "tray/client_comms.h"
#include "tray/tray_platform.h"

using namespace om;
using namespace om::testing;

namespace {

const std::string kHello = "Ombrel backup agent\r\n>";
const std::string kAccepted = kHello + Bytes({1});
const std::string kMonitor = "MONITOR\r\n";

class ClientCommsScripted : public ::testing::Test {
protected:
  void SetUp() override {
    SetProgramFileNameForTesting(Folder.file("omtray.exe"));
    Folder.write("ombackup.properties", "service.port=12345\r\n");
    Script->MaxChunk = 3;
  }
  void TearDown() override { SetProgramFileNameForTesting(""); }

  std::unique_ptr<TClientComms> Comms() {
    return std::make_unique<TClientComms>(Folder.path(), "ombackup.properties", ScriptedSockets(Script));
  }

  TempFolder Folder;
  std::shared_ptr<TScript> Script = std::make_shared<TScript>();
};

}  // namespace

TEST_F(ClientCommsScripted, OneShotRequestsOnTheWire) {
  auto c = Comms();
  Script->Inputs = {kAccepted, kAccepted, kAccepted + Bytes({1}), kAccepted + "7.5.1\r\n", kAccepted, kAccepted,
                    kAccepted + Bytes({0})};
  EXPECT_TRUE(c->SendCommand(cmdBackupNow));
  EXPECT_TRUE(c->SendCommand(cmdCancelBackup));
  EXPECT_EQ(c->SendQuery(cmdMenuPermission), 1);
  EXPECT_EQ(c->GetClientVersion(), "7.5.1");
  c->SetSetting("a", "\xE9");  // é in the ANSI code page
  c->SetBooleanSetting("runner.displaysuccess", false);
  EXPECT_EQ(c->SendQuery(cmdMenuPermission), 0);
  ASSERT_EQ(Script->Outputs.size(), 7u);
  EXPECT_EQ(Hex(Script->Outputs[0]), Hex(kMonitor + Bytes({1, 99})));
  EXPECT_EQ(Hex(Script->Outputs[1]), Hex(kMonitor + Bytes({4, 99})));
  EXPECT_EQ(Hex(Script->Outputs[2]), Hex(kMonitor + Bytes({17, 99})));
  EXPECT_EQ(Hex(Script->Outputs[3]), Hex(kMonitor + Bytes({34, 0, 99})));
  EXPECT_EQ(Hex(Script->Outputs[4]), Hex(kMonitor + Bytes({0x43, 0x61, 0x3D, 0xC3, 0xA9, 0x00, 0x63})));
  EXPECT_EQ(Script->Outputs[5], kMonitor + "\x43runner.displaysuccess=false" + Bytes({0, 99}));
  for (int port : Script->Ports) EXPECT_EQ(port, 12345);
  EXPECT_FALSE(c->Client().Connected());
}

TEST_F(ClientCommsScripted, SettingReadsAndTheirDefaults) {
  auto c = Comms();
  Script->Inputs = {kAccepted + Bytes({0}), kAccepted + Bytes({0}), kAccepted + "TRUE" + Bytes({0}),
                    kAccepted + "yes" + Bytes({0}), kAccepted + "C:\\Users\\J\xC3\xB6rg" + Bytes({0})};
  EXPECT_EQ(c->GetSetting("profiling.user.home", "dflt", false), "");  // empty reply is the value
  EXPECT_TRUE(c->GetBooleanSetting("runner.displayfailure", true, false));  // empty keeps the default
  EXPECT_TRUE(c->GetBooleanSetting("x", false, false));
  EXPECT_FALSE(c->GetBooleanSetting("x", true, false));
  EXPECT_EQ(c->GetSetting("profiling.user.home", "", false), "C:\\Users\\J\xF6rg");  // decoded to ANSI
  EXPECT_EQ(Script->Outputs[0], kMonitor + "\x42profiling.user.home" + Bytes({0, 99}));
  // No agent: the defaults, and nothing sent.
  EXPECT_EQ(c->GetSetting("a", "d", false), "d");
  EXPECT_FALSE(c->GetBooleanSetting("a", false, false));
  EXPECT_TRUE(c->GetBooleanSetting("a", true, false));
  EXPECT_FALSE(c->SendCommand(cmdBackupNow));
  EXPECT_EQ(c->SendQuery(cmdMenuPermission), 0);
  EXPECT_EQ(c->GetClientVersion(), "");
  c->SetSetting("a", "b");  // swallowed
  EXPECT_EQ(Script->Outputs.size(), 5u);
}

TEST_F(ClientCommsScripted, ChainedReadsShareOneExchange) {
  auto c = Comms();
  Script->Inputs = {kAccepted + "true" + Bytes({0}) + "false" + Bytes({0}) + Bytes({0})};
  EXPECT_TRUE(c->GetBooleanSetting("runner.displaysuccess", true, true));
  EXPECT_FALSE(c->GetBooleanSetting("runner.displaywarning", true, true));
  EXPECT_TRUE(c->GetBooleanSetting("runner.displayfailure", true, false));
  ASSERT_EQ(Script->Outputs.size(), 1u);
  EXPECT_EQ(Script->Outputs[0], kMonitor + "\x42runner.displaysuccess" + Bytes({0}) + "\x42runner.displaywarning" +
                                    Bytes({0}) + "\x42runner.displayfailure" + Bytes({0, 99}));
  EXPECT_FALSE(c->Client().Connected());
}

TEST_F(ClientCommsScripted, FailedReadInAChainClosesAndLaterReadsStartOver) {
  auto c = Comms();
  // The first reply never ends (time-out); the second exchange works.
  Script->Inputs = {kAccepted + "tru", kAccepted + "false" + Bytes({0})};
  EXPECT_TRUE(c->GetBooleanSetting("a", true, true));
  EXPECT_FALSE(c->Client().Connected());
  EXPECT_FALSE(c->GetBooleanSetting("b", true, false));
  ASSERT_EQ(Script->Outputs.size(), 2u);
  EXPECT_EQ(Script->Outputs[1], kMonitor + "\x42" "b" + Bytes({0, 99}));
}

TEST_F(ClientCommsScripted, OversizedAndClosedRepliesGiveDefaults) {
  auto c = Comms();
  Script->MaxChunk = 8192;
  Script->Inputs = {kAccepted + std::string(70000, 'v') + Bytes({0}), kAccepted + "abc"};
  EXPECT_EQ(c->GetSetting("a", "d", false), "d");
  Script->CloseAtEnd = true;
  EXPECT_EQ(c->GetSetting("a", "d", false), "d");
  EXPECT_FALSE(c->Client().Connected());
}

TEST_F(ClientCommsScripted, RefusedAcknowledgementLeavesTheConnectionForTheNextRequest) {
  auto c = Comms();
  Script->Inputs = {kHello + Bytes({0})};
  EXPECT_FALSE(c->SendCommand(cmdBackupNow));
  EXPECT_TRUE(c->Client().Connected());
  // Sent on the same connection without a new handshake.
  EXPECT_TRUE(c->SendCommand(cmdCancelBackup));
  ASSERT_EQ(Script->Outputs.size(), 1u);
  EXPECT_EQ(Script->Outputs[0], kMonitor + Bytes({4, 99}));
}

TEST_F(ClientCommsScripted, SilentOrBrokenAgentFailsTheHandshake) {
  auto c = Comms();
  Script->Inputs = {"", "no prompt here", kHello};
  EXPECT_FALSE(c->OpenExchange());  // nothing at all: read time-out
  EXPECT_FALSE(c->Client().Connected());
  EXPECT_FALSE(c->OpenExchange());
  EXPECT_FALSE(c->OpenExchange());  // prompt but no acknowledgement
  EXPECT_EQ(Script->Outputs[0], "");
  EXPECT_EQ(Script->Outputs[2], kMonitor);
}

TEST_F(ClientCommsScripted, ErrorsAfterTheHandshakeReachTheCallerAndClose) {
  auto c = Comms();
  Script->Inputs = {kAccepted, kAccepted + "1.0", kAccepted + Bytes({1})};
  EXPECT_THROW(c->SendQuery(cmdMenuPermission), EAgentReadTimeout);
  // A late reply must not answer the next request: the connection is closed.
  EXPECT_FALSE(c->Client().Connected());
  EXPECT_THROW(c->GetClientVersion(), EAgentReadTimeout);
  EXPECT_FALSE(c->Client().Connected());
  EXPECT_EQ(c->SendQuery(cmdMenuPermission), 1);
  ASSERT_EQ(Script->Outputs.size(), 3u);
  EXPECT_EQ(Script->Outputs[2], kMonitor + Bytes({17, 99}));
}

TEST_F(ClientCommsScripted, OneDeadlineForTheWholeReply) {
  auto c = Comms();
  // Every receive brings a byte, each within the time-out of one read, but the
  // whole reply does not come within the time-out.
  Script->Inputs = {kAccepted + std::string(40, 'x') + Bytes({0})};
  Script->MaxChunk = 1;
  Script->MsPerReceive = 200;
  EXPECT_EQ(c->GetSetting("a", "dflt", false), "dflt");
  EXPECT_FALSE(c->Client().Connected());
  EXPECT_LE(Script->NowMs, 2 * kAgentReadTimeoutMs);
}

TEST_F(ClientCommsScripted, ARequestMadeWhileAnotherWaitsHasAConnectionOfItsOwn) {
  auto c = Comms();
  bool nestedSent = false;
  int waits = 0;
  c->SetOnWait([&] {
    EXPECT_TRUE(c->Busy());
    if (waits++ == 0) nestedSent = c->SendCommand(cmdBackupNow);
  });
  // The scripted agent never answers 17 on the first connection; the command
  // sent while the query waits goes over a second connection.
  Script->Inputs = {kAccepted, kAccepted};
  EXPECT_THROW(c->SendQuery(cmdMenuPermission), EAgentReadTimeout);
  EXPECT_TRUE(nestedSent);
  EXPECT_FALSE(c->Busy());
  ASSERT_EQ(Script->Outputs.size(), 2u);
  EXPECT_EQ(Script->Outputs[0], kMonitor + Bytes({17}));
  EXPECT_EQ(Script->Outputs[1], kMonitor + Bytes({1, 99}));
}

TEST_F(ClientCommsScripted, ServicePortFromDamagedFiles) {
  // Mutated files: the first line named "service.port" (any letter case) wins;
  // a whole signed 32-bit decimal value is the port, anything else the default.
  // Names spelt with overlong UTF-8, behind a BOM or NUL, or without "=" never match.
  struct Value {
    std::string text;
    int port;  // 0: the default
  } values[] = {{"4242", 4242}, {"  17", 17}, {"-3", -3}, {"+8", 8}, {"2147483647", 2147483647},
                {"-2147483648", -2147483647 - 1}, {"2147483648", 0}, {"99999999999999999999999", 0},
                {"", 0}, {"12 ", 0}, {"1\xC3", 0}, {std::string("1\0" "2", 3), 0},
                {"\xC3\xB1", 0}, {"1=2", 0}};
  const char* const strangers[] = {"\xC1\xB3" "ervice.port=1", "service.port\xC0\xBD" "2", "\xEF\xBB\xBF" "service.port=3",
                                   "service.port", "service.por=4", "service.ports=5", " service.port=6",
                                   "\xE0\x80\xB3" "ervice.port=7", "\xF0\x80\x80\xB3" "ervice.port=8", "=9",
                                   "\xC3", "\xFF\xFE"};
  const char* const ends[] = {"\r\n", "\n", "\r"};
  std::mt19937 rng(5);
  for (int round = 0; round < 400; ++round) {
    std::string file;
    int expected = -1;
    for (int line = 0, lines = 1 + static_cast<int>(rng() % 6); line < lines; ++line) {
      if (rng() % 2) {
        const Value& v = values[rng() % (sizeof values / sizeof *values)];
        std::string name = "service.port";
        for (char& c : name) if (rng() % 2) c = static_cast<char>(toupper(c));
        file += name + "=" + v.text;
        if (expected == -1) expected = v.port ? v.port : 10100;
      } else {
        file += strangers[rng() % (sizeof strangers / sizeof *strangers)];
      }
      if (line + 1 < lines || rng() % 2) file += ends[rng() % 3];
    }
    if (round == 0) file = std::string(1 << 22, 'x') + "\n" + file;  // one long line first
    if (expected == -1) expected = 10100;
    Folder.write("ombackup.properties", file);
    ASSERT_EQ(ReadAgentServicePort(Folder.path(), "ombackup.properties", ProgramFileName()), expected)
        << ::testing::PrintToString(file.substr(file.size() > 200 ? file.size() - 200 : 0));
  }
}

TEST_F(ClientCommsScripted, ServicePortDiscovery) {
  struct Case {
    const char* file;
    const char* content;
    int expected;
  } cases[] = {
      {"omtray.exe", nullptr, 10100},
      {"OMTray.EXE", nullptr, 10100},
      {"omtray2.exe", nullptr, 10000},
      {"omtray.exe", "service.port=4242\r\n", 4242},
      {"omtray.exe", "SERVICE.PORT=4243", 4243},
      {"omtray.exe", "x=1\nservice.port=4244\n", 4244},
      {"omtray.exe", "service.port=4245 \r\n", 10100},
      {"omtray.exe", "service.port=\r\n", 10100},
      {"omtray.exe", "service.port=abc\r\n", 10100},
      {"omtray.exe", "service.port=99999999999\r\n", 10100},
      {"other.exe", "service.port=\r\n", 10000},
      {"other.exe", "service.port = 5\r\n", 10000},
      {"other.exe", "service.port=-3\r\n", -3},
  };
  for (const Case& k : cases) {
    SetProgramFileNameForTesting(Folder.file(k.file));
    std::filesystem::remove(Folder.file("ombackup.properties"));
    if (k.content) Folder.write("ombackup.properties", k.content);
    EXPECT_EQ(ReadAgentServicePort(Folder.path(), "ombackup.properties", ProgramFileName()), k.expected)
        << k.file << " " << (k.content ? k.content : "(no file)");
  }
  // Read again for every exchange.
  SetProgramFileNameForTesting(Folder.file("omtray.exe"));
  Folder.write("ombackup.properties", "service.port=2001\r\n");
  auto c = Comms();
  Script->Inputs = {kAccepted, kAccepted};
  c->SendCommand(cmdBackupNow);
  Folder.write("ombackup.properties", "service.port=2002\r\n");
  c->SendCommand(cmdBackupNow);
  EXPECT_EQ(Script->Ports, (std::vector<int>{2001, 2002}));
}

// The client fed with random agent bytes never crashes, hangs or grows
// without bound; each request gives a value or a default.
TEST(ClientCommsFuzz, RandomAgentBytes) {
  TempFolder folder;
  std::mt19937 rng(99);
  for (int round = 0; round < 400; ++round) {
    auto script = RandomScript(rng, static_cast<unsigned>(round), 4, 40);
    TClientComms c(folder.path(), "ombackup.properties", ScriptedSockets(script));
    c.GetSetting("a", "d", rng() % 2);
    c.GetBooleanSetting("b", true, false);
    c.SetSetting("c", "v");
    try {
      c.SendQuery(cmdMenuPermission);
      c.GetClientVersion();
    } catch (const EAgentConnectionError&) {
    }
  }
}
