// TClientComms against the scriptable Java agent on loopback, through the
// real socket layer (Winsock under Wine).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "agent_control.h"
#include "scripted_socket.h"
#include "platform/testing/temp_folder.h"
#include "tray/client_comms.h"
#include "tray/tray_platform.h"

using namespace om;
using namespace om::testing;

namespace {

class AgentEndToEnd : public ::testing::Test {
protected:
  void SetUp() override {
    if (!Agent.Available()) GTEST_SKIP() << "OM_TRAY_TEST_AGENT not set (run through with-test-agent)";
    Agent("reset");
    SetProgramFileNameForTesting(Folder.file("omtray.exe"));
    Folder.write("ombackup.properties", "service.port=" + std::to_string(Agent.AgentPort()) + "\r\n");
  }
  void TearDown() override { SetProgramFileNameForTesting(""); }

  TClientComms Comms() { return TClientComms(Folder.path(), "ombackup.properties"); }
  std::vector<std::string> RecordedWhen(size_t connections, const std::string& lastHex) {
    return Agent.RecordedWhen(connections, lastHex.size());
  }

  TAgentControl Agent;
  TempFolder Folder;
};

}  // namespace

TEST_F(AgentEndToEnd, OneShotRequests) {
  TClientComms c = Comms();
  Agent("permission 1");
  Agent("version 372E352E312062C3AA7461");  // "7.5.1 bêta"
  EXPECT_TRUE(c.SendCommand(cmdBackupNow));
  EXPECT_TRUE(c.SendCommand(cmdCancelBackup));
  EXPECT_EQ(c.SendQuery(cmdMenuPermission), 1);
  Agent("permission 0");
  EXPECT_EQ(c.SendQuery(cmdMenuPermission), 0);
  EXPECT_EQ(c.GetClientVersion(), Utf8ToAnsi("7.5.1 b\xC3\xAAta"));
  c.SetSetting("a", Utf8ToAnsi("\xC3\xA9"));
  c.SetBooleanSetting("runner.displaysuccess", true);
  auto rec = RecordedWhen(7, kMonitorHex + "43" + TAgentControl::HexOf("runner.displaysuccess=true") + "0063");
  ASSERT_EQ(rec.size(), 7u);
  EXPECT_EQ(rec[0], kMonitorHex + "0163");
  EXPECT_EQ(rec[1], kMonitorHex + "0463");
  EXPECT_EQ(rec[2], kMonitorHex + "1163");
  EXPECT_EQ(rec[4], kMonitorHex + "220063");
  EXPECT_EQ(rec[5], kMonitorHex + "43613DC3A90063");
  EXPECT_EQ(rec[6], kMonitorHex + "43" + TAgentControl::HexOf("runner.displaysuccess=true") + "0063");
  EXPECT_EQ(Agent("settings"), "a=C3A9 runner.displaysuccess=74727565");
}

TEST_F(AgentEndToEnd, ChainedSettingsReadIsOneExchange) {
  TClientComms c = Comms();
  Agent("setting runner.displaysuccess 66616C7365");  // false
  Agent("setting runner.displaywarning 54525545");    // TRUE
  Agent("trickle 2");
  EXPECT_FALSE(c.GetBooleanSetting("runner.displaysuccess", true, true));
  EXPECT_TRUE(c.GetBooleanSetting("runner.displaywarning", false, true));
  EXPECT_TRUE(c.GetBooleanSetting("runner.displayfailure", true, false));  // empty: default
  std::string expected = kMonitorHex + "42" + TAgentControl::HexOf("runner.displaysuccess") + "00" + "42" +
                         TAgentControl::HexOf("runner.displaywarning") + "00" + "42" +
                         TAgentControl::HexOf("runner.displayfailure") + "00" + "63";
  auto rec = RecordedWhen(1, expected);
  ASSERT_EQ(rec.size(), 1u);
  EXPECT_EQ(rec[0], expected);
  Agent("setting profiling.user.home 433A5C55736572735C4AC3B67267");
  EXPECT_EQ(c.GetSetting("profiling.user.home", "x", false), Utf8ToAnsi("C:\\Users\\J\xC3\xB6rg"));
  EXPECT_EQ(c.GetSetting("profiling.on", "x", false), "");
}

TEST_F(AgentEndToEnd, SilentAgentTimesOutAfterFiveSeconds) {
  TClientComms c = Comms();
  Agent("ack none");
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(c.SendCommand(cmdBackupNow));
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(s, 4.5);
  EXPECT_LT(s, 30.0);
  auto rec = RecordedWhen(1, kMonitorHex);
  ASSERT_EQ(rec.size(), 1u);
  EXPECT_EQ(rec[0], kMonitorHex);  // the command was not sent
  // A reply later than the read time-out: the error reaches the caller of a
  // query; a setting read falls back to its default. A shorter delay is fine.
  Agent("reset");
  Agent("delay 300");
  EXPECT_EQ(c.SendQuery(cmdMenuPermission), 1);
  Agent("delay 5600");
  EXPECT_THROW(c.SendQuery(cmdMenuPermission), EAgentReadTimeout);
  c.Client().Disconnect();
  EXPECT_EQ(c.GetSetting("x", "dflt", false), "dflt");
  // A reply that stalls: the setting read falls back to its default.
  Agent("reset");
  Agent("reply 66 6162");
  EXPECT_EQ(c.GetSetting("x", "dflt", false), "dflt");
}

TEST_F(AgentEndToEnd, RefusalAndCloseMidReply) {
  TClientComms c = Comms();
  Agent("ack 0");
  EXPECT_FALSE(c.SendCommand(cmdBackupNow));
  // The refused connection is reused for the next request, without a handshake.
  EXPECT_TRUE(c.SendCommand(cmdCancelBackup));
  auto rec = RecordedWhen(1, kMonitorHex + "0463");
  ASSERT_EQ(rec.size(), 1u);
  EXPECT_EQ(rec[0], kMonitorHex + "0463");

  Agent("reset");
  Agent("version 312E322E33");
  Agent("closemid 34 3");
  TClientComms d = Comms();
  EXPECT_THROW(d.GetClientVersion(), EAgentClosed);
  Agent("closemid 66 0");
  EXPECT_EQ(d.GetSetting("x", "dflt", false), "dflt");
  EXPECT_TRUE(d.GetBooleanSetting("x", true, false));
}

TEST_F(AgentEndToEnd, MissingOrInvalidPortAndNoAgent) {
  // No properties file: this program is not omtray.exe -> 10000; as omtray.exe -> 10100.
  std::filesystem::remove(Folder.file("ombackup.properties"));
  SetProgramFileNameForTesting(Folder.file("OMTRAY.EXE"));
  EXPECT_EQ(Comms().ReadServicePort(), 10100);
  SetProgramFileNameForTesting(Folder.file("monitor.exe"));
  EXPECT_EQ(Comms().ReadServicePort(), 10000);
  Folder.write("ombackup.properties", "service.port=" + std::to_string(Agent.AgentPort()) + " \r\n");
  EXPECT_EQ(Comms().ReadServicePort(), 10000);
  // Nothing listening on a port just released.
  Folder.write("ombackup.properties", "service.port=" + Agent("freeport") + "\r\n");
  TClientComms c = Comms();
  EXPECT_FALSE(c.OpenExchange());
  EXPECT_FALSE(c.SendCommand(cmdBackupNow));
  EXPECT_EQ(c.SendQuery(cmdMenuPermission), 0);
  EXPECT_EQ(c.GetClientVersion(), "");
  EXPECT_EQ(c.GetSetting("a", "d", false), "d");
  EXPECT_FALSE(c.GetBooleanSetting("a", false, false));
  c.SetSetting("a", "b");
  EXPECT_TRUE(Agent.Recorded().empty());
}

TEST_F(AgentEndToEnd, RepliesThatNeverEndOrNeverComeWholeEndAtTheTimeOut) {
  TClientComms c = Comms();
  c.Client().ReadTimeout = 1500;
  // A byte every 100 ms, never a terminator: each read gets something, the
  // reply never ends.
  Agent("stream 66 100");
  Agent("stream 34 100");
  EXPECT_EQ(c.GetSetting("x", "dflt", false), "dflt");
  EXPECT_FALSE(c.Client().Connected());
  EXPECT_THROW(c.GetClientVersion(), EAgentReadTimeout);
  EXPECT_FALSE(c.Client().Connected());
  // Noise without a terminator, then silence.
  Agent("reset");
  Agent("garbage 66 300");
  Agent("garbage 34 300");
  EXPECT_TRUE(c.GetBooleanSetting("x", true, false));
  EXPECT_THROW(c.GetClientVersion(), EAgentReadTimeout);
  EXPECT_FALSE(c.Client().Connected());
  // The next request starts over on a new connection and is answered.
  Agent("reset");
  EXPECT_EQ(c.SendQuery(cmdMenuPermission), 1);
}
