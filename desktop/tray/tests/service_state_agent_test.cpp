// The service state thread's polling round against the scriptable Java agent
// on loopback, through the real socket layer (Winsock under Wine): what it
// sends, what it stores in the status record, how it loses and regains the
// connection.
#include <gtest/gtest.h>

#include "agent_control.h"
#include "platform/testing/temp_folder.h"
#include "tray/service_state.h"
#include "tray/tray_platform.h"

using namespace om;
using namespace om::testing;

namespace {

class StatePolling : public ::testing::Test {
protected:
  void SetUp() override {
    if (!Agent.Available()) GTEST_SKIP() << "OM_TRAY_TEST_AGENT not set (run through with-test-agent)";
    Agent("reset");
    SetProgramFileNameForTesting(Folder.file("omtray.exe"));
    UsePort(Agent.AgentPort());
    CreateStatusLock();
    ResetStatusRecord();
  }
  void TearDown() override {
    SetProgramFileNameForTesting("");
    FreeStatusLock();
    ResetStatusRecord();
  }
  void UsePort(int port) { Folder.write("ombackup.properties", "service.port=" + std::to_string(port) + "\r\n"); }
  std::vector<std::string> RecordedWhen(size_t connections, size_t lastSize) {
    return Agent.RecordedWhen(connections, lastSize);
  }

  TAgentControl Agent;
  TempFolder Folder;
};

}  // namespace

TEST_F(StatePolling, UnreachableFromTheStart) {
  UsePort(std::stoi(Agent("freeport")));
  TServiceStatePoller p(NewAgentSocket());
  SetServiceState(0);
  p.Round();
  EXPECT_EQ(GetServiceState(), ssConnecting);
  EXPECT_FALSE(p.FirstRound());
  p.Round();
  EXPECT_EQ(GetServiceState(), ssNotReachable);
  p.Round();
  EXPECT_EQ(GetServiceState(), ssNotReachable);
  // The agent comes up: the next round connects and polls.
  UsePort(Agent.AgentPort());
  Agent("state 0");
  p.Round();
  EXPECT_EQ(GetServiceState(), ssIdle);
}

TEST_F(StatePolling, PollsAndStoresWhatTheAgentSays) {
  int64_t next = 1796558400000LL;  // 2026-12-09 12:00 UTC
  int64_t last = next - 86400000;
  Agent("state 5");
  Agent("next " + std::to_string(next) + " 8c1d-uuid");
  Agent("last " + std::to_string(last));
  Agent("notification 77 3 " + TAgentControl::HexOf("Backup failed"));
  TServiceStatePoller p(NewAgentSocket());
  p.Round();
  EXPECT_EQ(GetServiceState(), ssLastBackupFailed);
  EXPECT_EQ(p.NextBackupIdentifier(), "8c1d-uuid");
  EXPECT_DOUBLE_EQ(GetNextBackupTime(), AgentMillisToLocal(next));
  EXPECT_DOUBLE_EQ(GetLastBackupTime(), AgentMillisToLocal(last));
  TNotificationCopy n = GetNotification();
  EXPECT_EQ(n.ChangeCount, 1);
  EXPECT_EQ(n.Stamp, 77);
  EXPECT_EQ(n.Kind, 3);
  EXPECT_EQ(n.Text, "Backup failed");

  // Selection empty: no backup times asked; same stamp: no new notification.
  Agent("state 9");
  p.Round();
  EXPECT_EQ(GetServiceState(), ssSelectionEmpty);
  EXPECT_EQ(GetNotification().ChangeCount, 1);
  // An unknown agent state leaves the service state.
  Agent("state 12");
  p.Round();
  EXPECT_EQ(GetServiceState(), ssSelectionEmpty);
  // No next backup: -1, no identifier read; last 0: none.
  Agent("state 0");
  Agent("next 0");
  Agent("last 0");
  Agent("notification 78 1 " + TAgentControl::HexOf("ok"));
  p.Round();
  EXPECT_EQ(GetNextBackupTime(), -1);
  EXPECT_EQ(GetLastBackupTime(), 0);
  EXPECT_EQ(p.NextBackupIdentifier(), "8c1d-uuid");
  EXPECT_EQ(GetNotification().ChangeCount, 2);
  p.Finish();

  // One connection: handshake, then 25 7 20 24 | 25 7 | 25 7 | 25 7 20 24, and 99.
  std::string expected = kMonitorHex + "19071418" + "1907" + "1907" + "19071418" + "63";
  auto rec = RecordedWhen(1, expected.size());
  ASSERT_EQ(rec.size(), 1u);
  EXPECT_EQ(rec[0], expected);
}

TEST_F(StatePolling, ARefusedHandshakeStillPolls) {
  // The refusal itself does not end the connection: the poll is sent and
  // fails on its own (this agent answers nothing after a refusal).
  Agent("ack 0");
  Agent("state 1");
  TServiceStatePoller p(NewAgentSocket());
  p.Client().ReadTimeout = 300;
  p.Round();
  EXPECT_EQ(GetServiceState(), ssConnecting);
  EXPECT_FALSE(p.Client().Connected());
  auto rec = RecordedWhen(1, kMonitorHex.size() + 2);
  ASSERT_EQ(rec.size(), 1u);
  EXPECT_EQ(rec[0], kMonitorHex + "19");
}

TEST_F(StatePolling, ABrokenConnectionIsMadeAgain) {
  Agent("state 3");
  TServiceStatePoller p(NewAgentSocket());
  p.Round();
  EXPECT_EQ(GetServiceState(), ssHealthCheck);
  // The agent drops the connection in the middle of the state reply.
  Agent("closemid 7 2");
  p.Round();
  EXPECT_EQ(GetServiceState(), ssHealthCheck);  // what was stored stays
  EXPECT_FALSE(p.Client().Connected());
  Agent("closemid -1 0");
  Agent("state 4");
  p.Round();  // down: "not reachable" (not the first round), then connected again
  EXPECT_EQ(GetServiceState(), ssUpdatingCache);
  auto rec = RecordedWhen(2, 1);
  EXPECT_EQ(rec.size(), 2u);
}

TEST_F(StatePolling, AReadTimeOutDisconnects) {
  Agent("state 0");
  TServiceStatePoller p(NewAgentSocket());
  p.Client().ReadTimeout = 300;
  Agent("delay 1500");
  p.Round();
  EXPECT_FALSE(p.Client().Connected());
  // A reply that never ends (a byte every 100 ms) ends at the time-out too.
  Agent("reset");
  Agent("state 0");
  Agent("stream 20 100");
  p.Client().ReadTimeout = 1000;
  p.Round();
  EXPECT_EQ(GetServiceState(), ssIdle);
  EXPECT_FALSE(p.Client().Connected());
}

TEST_F(StatePolling, TricklingRepliesAndABadNotification) {
  Agent("state 5");
  Agent("next 1796803200000 0f2e-77");
  Agent("last 1796700000000");
  Agent("notification 1001 2 42C3A9");
  Agent("trickle 1");
  TServiceStatePoller p(NewAgentSocket());
  p.Round();
  EXPECT_EQ(GetServiceState(), ssLastBackupFailed);
  EXPECT_EQ(p.NextBackupRaw(), 1796803200000LL);
  EXPECT_EQ(p.NextBackupIdentifier(), "0f2e-77");
  EXPECT_EQ(p.LastBackupRaw(), 1796700000000LL);
  EXPECT_EQ(GetNotification().Stamp, 1001);
  EXPECT_EQ(GetNotification().Text, "B\xC3\xA9");
  Agent("trickle 0");
  Agent("state 3");
  p.Round();
  EXPECT_EQ(GetServiceState(), ssHealthCheck);
  // A negative byte count fails the round; the next one starts a new exchange.
  Agent("reply 25 000000000000000200000001FFFFFFFE");
  p.Round();
  EXPECT_FALSE(p.Client().Connected());
  Agent("reset");
  p.Round();
  EXPECT_EQ(GetServiceState(), ssHealthCheck);
  p.Finish();
  auto rec = RecordedWhen(1, (kMonitorHex + "190763").size());
  ASSERT_GE(rec.size(), 1u);
  EXPECT_EQ(rec.back(), kMonitorHex + "190763");
}
