// The status record's lock discipline and the status display's decisions:
// tip, balloons, texts and icon by state, command words, menu policy files,
// profiling prompt, placement.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/testing/temp_folder.h"
#include "scripted_socket.h"
#include "tray/service_state.h"
#include "tray/status_display.h"

using namespace om;
using namespace om::testing;

namespace {

constexpr TDateTime kWed = 46365;  // 2026-12-09, a Wednesday

class StatusRecord : public ::testing::Test {
protected:
  void SetUp() override {
    CreateStatusLock();
    ResetStatusRecord();
  }
  void TearDown() override {
    FreeStatusLock();
    ResetStatusRecord();
  }
};

}  // namespace

TEST_F(StatusRecord, StatesOfTheAgent) {
  const int map[][2] = {{0, 0}, {1, 2}, {2, 3}, {3, 5}, {4, 6}, {5, 8}, {6, 7}, {7, 7}, {8, 10}, {9, 9}};
  for (auto& m : map) EXPECT_EQ(ServiceStateOfAgentState(m[0]), m[1]) << m[0];
  EXPECT_FALSE(ServiceStateOfAgentState(-1));
  EXPECT_FALSE(ServiceStateOfAgentState(10));
  EXPECT_FALSE(ServiceStateOfAgentState(12));
}

TEST_F(StatusRecord, NotificationsCountNewStampsOnly) {
  TNotificationCopy start = GetNotification();
  EXPECT_EQ(start.ChangeCount, 0);
  EXPECT_EQ(start.Stamp, -1);
  StoreNotification(1, "done", 100);
  StoreNotification(2, "other text", 100);  // same stamp: nothing
  TNotificationCopy n = GetNotification();
  EXPECT_EQ(n.ChangeCount, 1);
  EXPECT_EQ(n.Kind, 1);
  EXPECT_EQ(n.Text, "done");
  StoreNotification(1, "done", 101);  // new stamp, same kind and text
  EXPECT_EQ(GetNotification().ChangeCount, 2);
  EXPECT_EQ(GetNotification().Stamp, 101);
}

TEST_F(StatusRecord, BackupTimes) {
  StoreBackupTimes("id", 0, 0);
  EXPECT_EQ(GetNextBackupTime(), -1);
  EXPECT_EQ(GetLastBackupTime(), 0);
  StoreBackupTimes("id", -5, -5);
  EXPECT_EQ(GetNextBackupTime(), -1);
  EXPECT_EQ(GetLastBackupTime(), 0);
  // 2026-12-09 12:00 UTC in milliseconds since 1970.
  int64_t noon = (46365LL - 25569) * 86400000 + 43200000;
  StoreBackupTimes("id", noon, noon - 86400000);
  EXPECT_DOUBLE_EQ(GetNextBackupTime(), AgentMillisToLocal(noon));
  EXPECT_DOUBLE_EQ(GetLastBackupTime(), AgentMillisToLocal(noon - 86400000));
  // Beyond the year 9999 a time is kept as the agent sent it.
  const int64_t beyond = 400000000000000LL;
  StoreBackupTimes("id", beyond, noon);
  EXPECT_DOUBLE_EQ(GetNextBackupTime(), static_cast<double>(beyond) / 86400000.0 + 25569.0);
}

TEST_F(StatusRecord, WithoutTheLockSettersDoNothing) {
  SetServiceState(5);
  FreeStatusLock();
  EXPECT_FALSE(StatusLockExists());
  SetServiceState(2);
  StoreNotification(3, "x", 7);
  EXPECT_EQ(GetServiceState(), 5);
  EXPECT_EQ(GetNotification().ChangeCount, 0);
}

TEST_F(StatusRecord, ReadersShareWritersWait) {
  auto lock = CurrentStatusLock();
  {
    std::shared_lock<std::shared_mutex> reading(lock->Mutex);
    // Another reader gets through while one reads.
    auto r = std::async(std::launch::async, [] { return GetServiceState(); });
    EXPECT_EQ(r.get(), 0);
  }
  std::unique_lock<std::shared_mutex> writing(lock->Mutex);
  std::atomic<bool> wrote{false};
  std::thread w([&] {
    SetServiceState(8);
    wrote = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(wrote);
  writing.unlock();
  w.join();
  EXPECT_TRUE(wrote);
  EXPECT_EQ(GetServiceState(), 8);
}

TEST_F(StatusRecord, FreeingTheLockDuringAWriteIsSafe) {
  // The writer waits on the lock while the program frees it: the write ends
  // on the lock it took, later writes do nothing.
  auto lock = CurrentStatusLock();
  std::unique_lock<std::shared_mutex> writing(lock->Mutex);
  std::thread w([] { StoreNotification(2, "late", 42); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  FreeStatusLock();
  writing.unlock();
  lock.reset();
  w.join();
  StoreNotification(3, "after", 43);
  TNotificationCopy n = GetNotification();
  EXPECT_LE(n.ChangeCount, 1);
  EXPECT_NE(n.Stamp, 43);
}

TEST_F(StatusRecord, CopiesAreConsistentUnderConcurrentWrites) {
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int64_t i = 0; i < 20000 && !stop; ++i)
      StoreNotification(static_cast<int32_t>(i % 3 + 1), "text " + std::to_string(i), i);
  });
  for (int i = 0; i < 20000; ++i) {
    TNotificationCopy c = GetNotification();
    if (c.Stamp < 0) continue;
    ASSERT_EQ(c.Text, "text " + std::to_string(c.Stamp));
    ASSERT_EQ(c.Kind, c.Stamp % 3 + 1);
    ASSERT_EQ(c.ChangeCount, c.Stamp + 1);
  }
  stop = true;
  writer.join();
}

// --- The state thread's polling round over a scripted socket -----------------

namespace {
const std::string kAccepted = std::string("Ombrel backup agent\r\n>") + Bytes({1});
const std::string kMonitor = "MONITOR\r\n";
}  // namespace

TEST_F(StatusRecord, PollerPollsBackToBackOnOneExchange) {
  auto script = std::make_shared<TScript>();
  script->MaxChunk = 5;
  const std::string note = BE64(1001) + BE32(2) + BE32(4) + "warn";
  script->Inputs = {kAccepted + note + BE32(5) + BE64(1796803200000LL) + "id-1" + Bytes({0}) +
                    BE64(1796700000000LL) + note + BE32(3) + note + BE32(0) + BE64(0) + BE64(-1) + BE64(1) +
                    BE32(1) + BE32(-1)};
  TServiceStatePoller p(std::make_unique<TScriptedSocket>(script));
  p.Round();
  EXPECT_EQ(GetServiceState(), ssLastBackupFailed);
  TNotificationCopy n = GetNotification();
  EXPECT_EQ(n.Stamp, 1001);
  EXPECT_EQ(n.Kind, 2);
  EXPECT_EQ(n.Text, "warn");
  EXPECT_EQ(p.NextBackupRaw(), 1796803200000LL);
  EXPECT_EQ(p.NextBackupIdentifier(), "id-1");
  EXPECT_EQ(p.LastBackupRaw(), 1796700000000LL);
  p.Round();
  EXPECT_EQ(GetServiceState(), ssHealthCheck);
  p.Round();
  EXPECT_EQ(GetServiceState(), ssIdle);
  EXPECT_EQ(GetNextBackupTime(), -1);
  EXPECT_EQ(GetLastBackupTime(), 0);
  EXPECT_EQ(p.NextBackupIdentifier(), "id-1");
  // A negative notification length fails this round cleanly and closes.
  p.Round();
  EXPECT_EQ(GetServiceState(), ssIdle);
  EXPECT_FALSE(p.Client().Connected());
  EXPECT_EQ(Hex(script->Outputs[0]), Hex(kMonitor + Bytes({25, 7, 20, 24, 25, 7, 25, 7, 20, 24, 25})));
  // Next round: not reachable, and a new handshake (no agent scripted: refused).
  p.Round();
  EXPECT_EQ(GetServiceState(), ssNotReachable);
  EXPECT_EQ(script->Ports.size(), 2u);
}

TEST_F(StatusRecord, PollerRefusesAHugeNotificationAndEndsWithTheEndByte) {
  auto script = std::make_shared<TScript>();
  script->Inputs = {kAccepted + BE64(1) + BE32(1) + BE32(0x7FFFFFF0), kAccepted + BE64(1) + BE32(0) + BE32(0) + BE32(4)};
  TServiceStatePoller p(std::make_unique<TScriptedSocket>(script));
  p.Round();
  EXPECT_FALSE(p.Client().Connected());
  EXPECT_LT(script->Receives, 10);  // refused from the header, not after reading 2 GiB
  p.Round();
  EXPECT_EQ(GetServiceState(), ssUpdatingCache);
  p.Finish();
  EXPECT_EQ(script->Outputs[1], kMonitor + Bytes({25, 7, 99}));
}

// The poller fed with random agent bytes never crashes, hangs or grows
// without bound.
TEST_F(StatusRecord, PollerTakesRandomAgentBytes) {
  std::mt19937 rng(99);
  for (int round = 0; round < 200; ++round) {
    TServiceStatePoller p(std::make_unique<TScriptedSocket>(RandomScript(rng, static_cast<unsigned>(round), 3, 60)));
    for (int k = 0; k < 4; ++k) p.Round();
    p.Finish();
  }
}

// --- Decisions ---------------------------------------------------------------

TEST(StatusDisplay, TipLength) {
  EXPECT_EQ(TrayTipText(std::string(120, 'a')), std::string(120, 'a'));
  EXPECT_EQ(TrayTipText(std::string(121, 'a')), std::string(121, 'a') + "...");
  std::string t200;
  for (int i = 0; i < 200; ++i) t200 += static_cast<char>('a' + i % 26);
  // The tip holds 127 characters: the text is cut so that "..." fits whole.
  EXPECT_EQ(TrayTipText(t200), t200.substr(0, 124) + "...");
  EXPECT_EQ(TrayTipText(t200).size(), kTrayTipLength);
  EXPECT_EQ(TrayTipText(std::string(124, 'a')), std::string(124, 'a') + "...");
}

TEST(StatusDisplay, NotificationBalloons) {
  int64_t last = -1;
  TNotificationCopy n{1, 10, 1, "x"};
  EXPECT_FALSE(NotificationBalloon(n, last));  // the first one after start
  n = {2, 11, 1, "x"};
  auto b = NotificationBalloon(n, last);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Kind, bkInfo);
  EXPECT_EQ(b->Seconds, 9);
  EXPECT_EQ(last, 11);
  EXPECT_FALSE(NotificationBalloon(n, last));  // same stamp again
  n = {3, 12, 2, "w"};
  EXPECT_EQ(NotificationBalloon(n, last)->Kind, bkWarning);
  n = {4, 13, 3, "f"};
  b = NotificationBalloon(n, last);
  EXPECT_EQ(b->Kind, bkError);
  EXPECT_EQ(b->Seconds, 86400);
  n = {5, 14, 7, "?"};
  EXPECT_FALSE(NotificationBalloon(n, last));
  EXPECT_EQ(last, 14);

  EXPECT_FALSE(BalloonAllowed(bkInfo, false, true, true, true));
  EXPECT_TRUE(BalloonAllowed(bkInfo, false, true, true, false));  // switches not offered
  EXPECT_TRUE(BalloonAllowed(bkWarning, false, true, false, true));
  EXPECT_FALSE(BalloonAllowed(bkError, true, true, false, true));
}

TEST(StatusDisplay, ClientVersion) {
  EXPECT_FALSE(ClientVersionAction("", "1").Store);
  EXPECT_EQ(ClientVersionAction("7.1", "").TextKey, "RUNNER_Hint_Installation_Success");
  EXPECT_EQ(ClientVersionAction("7.1", "7.0").TextKey, "RUNNER_Hint_Auto_Update_Success");
  EXPECT_FALSE(ClientVersionAction("7.1", "7.1").Store);
  EXPECT_EQ(ReplaceFirstPlaceholder("v %s and %s", "7"), "v 7 and %s");
}

TEST(StatusDisplay, DatesAndTimes) {
  EXPECT_EQ(DayOfTheWeek(kWed), 3);
  EXPECT_EQ(DayOfTheWeek(kWed + 4.99), 7);
  EXPECT_EQ(DayOfTheWeek(kWed + 5), 1);
  EXPECT_EQ(FormatHourMinuteAmPm(kWed + 0.5), "12:00 PM");
  EXPECT_EQ(FormatHourMinuteAmPm(kWed + (23 * 60 + 59) / 1440.0), "11:59 PM");
  EXPECT_EQ(FormatHourMinuteAmPm(kWed + 5 / 1440.0), "12:05 AM");
  EXPECT_EQ(FormatDateTimePortable(kWed + 0.75), "12/9/2026 6:00:00 PM");
  int dow = 0;
  EXPECT_TRUE(DayChanged(dow, kWed));
  EXPECT_FALSE(DayChanged(dow, kWed + 0.9));
  EXPECT_TRUE(DayChanged(dow, kWed + 1));
}

namespace {

struct Composer {
  TComposerState St;
  TComposeInput In;
  TDateTime Last = 0, Next = -1;
  Composer() {
    In.BrandLongName = "Ombrel Backup";
    In.NoAgentText = "no agent";
    In.DisabledText = "disabled";
    In.ConnectionFilePresent = true;
    In.Text = [](const std::string& k) { return "<" + k + ">"; };
    In.DayName = [](int i) { return "day" + std::to_string(i); };
    In.LastBackupTime = [this] { return Last; };
    In.NextBackupTime = [this] { return Next; };
  }
  TStatusView Run(uint8_t cur, TDateTime now) {
    In.Cur = cur;
    In.Now = now;
    return ComposeStatus(St, In);
  }
};

}  // namespace

TEST(StatusDisplay, IdleTextsAndTip) {
  Composer c;
  c.Last = kWed + 0.25;           // today 6:00 AM
  c.Next = kWed + 1 + 0.5;        // Thursday noon
  TStatusView v = c.Run(ssIdle, kWed + 0.5);
  EXPECT_EQ(*v.CurrentStatus, "Ombrel Backup");
  EXPECT_EQ(*v.Current, "<RUNNER_Last_Backup> 6:00 AM <RUNNER_today>");
  EXPECT_EQ(*v.Now, "<RUNNER_Next_Backup> day3 12:00 PM");
  EXPECT_EQ(*v.Tip, "Ombrel Backup\r\n<RUNNER_Last_Backup> 6:00 AM <RUNNER_today>\r\n<RUNNER_Next_Backup> day3 12:00 PM");
  EXPECT_EQ(v.Icon, iaMain);
  EXPECT_FALSE(*v.GaugeVisible);
  EXPECT_EQ(c.St.LastComposedState, ssIdle);

  // Next backup a week ahead reads as today (weekdays only are compared).
  c.Next = kWed + 7 + 0.5;
  v = c.Run(ssIdle, kWed + 0.5);
  EXPECT_EQ(*v.Now, "<RUNNER_Next_Backup> <RUNNER_today> 12:00 PM");

  // No schedule: the disabled text in the tip, lblNow as it was.
  c.Next = -1;
  v = c.Run(ssIdle, kWed + 0.5);
  EXPECT_FALSE(v.Now);
  EXPECT_EQ(v.Tip->substr(v.Tip->size() - 10), "\r\ndisabled");

  // Last backup failed.
  v = c.Run(ssLastBackupFailed, kWed + 0.5);
  EXPECT_EQ(*v.Current, "<RUNNER_Last_Backup> <RUNNER_Last_Backup_Fail>");
  EXPECT_EQ(v.Icon, iaMain);  // the state changed

  // Without the connection file: no backup texts, lblNow cleared.
  c.In.ConnectionFilePresent = false;
  v = c.Run(ssIdle, kWed + 0.5);
  EXPECT_EQ(*v.Now, "");
  EXPECT_FALSE(v.Current);
  EXPECT_EQ(*v.Tip, "Ombrel Backup");
}

TEST(StatusDisplay, YesterdayUntilMidnightPassesAgain) {
  Composer c;
  c.Last = kWed - 1 + (23 * 60 + 59) / 1440.0;
  TStatusView v = c.Run(ssIdle, kWed + 0.1);
  EXPECT_EQ(*v.Current, "<RUNNER_Last_Backup> 11:59 PM <RUNNER_yesterday>");
  v = c.Run(ssIdle, kWed + 0.99);
  EXPECT_EQ(*v.Current, "<RUNNER_Last_Backup> 11:59 PM <RUNNER_yesterday>");
  v = c.Run(ssIdle, kWed + 1.01);
  EXPECT_EQ(*v.Current, "<RUNNER_Last_Backup> " + FormatDefaultDateTime(c.Last));
}

TEST(StatusDisplay, BusyAndOtherStates) {
  Composer c;
  TStatusView v = c.Run(ssBackingUp, kWed);
  EXPECT_EQ(v.Icon, iaBusy);
  EXPECT_EQ(*v.CurrentStatus, "<RUNNER_Hint_Backup>");
  EXPECT_EQ(*v.Tip, "Ombrel Backup\r\n<RUNNER_Hint_Backup>");
  EXPECT_FALSE(v.Current);
  EXPECT_EQ(*c.Run(ssUpdatingCache, kWed).CurrentStatus, "<B_D_Updating_local_cache>");
  EXPECT_EQ(*c.Run(ssRestoring, kWed).CurrentStatus, "<RUNNER_Hint_Restore>");
  v = c.Run(ssHealthCheck, kWed);
  EXPECT_TRUE(*v.GaugeVisible);
  EXPECT_EQ(*v.Now, "");

  c.St.SettingsRefreshDue = false;
  v = c.Run(ssNotReachable, kWed);
  EXPECT_TRUE(v.NotifyTimerOff);
  EXPECT_EQ(v.Icon, iaNotReachable);
  EXPECT_EQ(*v.Tip, "Ombrel Backup\r\nno agent");
  EXPECT_TRUE(c.St.SettingsRefreshDue);

  c.St.SettingsRefreshDue = false;
  v = c.Run(ssConnecting, kWed);
  EXPECT_EQ(v.Icon, iaNone);
  EXPECT_EQ(*v.Tip, "Ombrel Backup");
  EXPECT_TRUE(c.St.SettingsRefreshDue);

  v = c.Run(ssUpdating, kWed);
  EXPECT_EQ(*v.Tip, "Ombrel Backup\r\n\r\n 0<RUNNER_Progress>");
  EXPECT_EQ(c.St.LastComposedState, ssConnecting);  // 10 is never the last composed state
  v = c.Run(11, kWed);
  EXPECT_FALSE(v.Tip);
}

TEST(StatusDisplay, EmptySelectionIsAskedOnceAfterARequestedBackup) {
  Composer c;
  c.Run(ssIdle, kWed);
  // Backup Now: the form marks the request and the last composed state 2.
  c.St.BackupRequested = true;
  c.St.LastComposedState = ssBackingUp;
  TStatusView v = c.Run(ssSelectionEmpty, kWed);
  EXPECT_TRUE(v.AskEmptySelection);
  EXPECT_FALSE(c.St.BackupRequested);
  EXPECT_FALSE(c.Run(ssSelectionEmpty, kWed).AskEmptySelection);
  // Without a request: no question.
  c.St.LastComposedState = ssBackingUp;
  EXPECT_FALSE(c.Run(ssSelectionEmpty, kWed).AskEmptySelection);
}

namespace {

// What a plan does, as words: "monitor", "backup", "console".
std::string PlanActions(const std::string& words, bool connectionFile = true, uint8_t state = ssIdle) {
  const TCommandWordsPlan p = PlanCommandWords(words, connectionFile, state);
  std::string actions;
  if (p.ShowMonitor) actions += " monitor";
  if (p.SendBackup) actions += " backup";
  if (p.OpenConsole) actions += " console";
  return actions;
}

}  // namespace

TEST(StatusDisplay, CommandWords) {
  EXPECT_EQ(PlanActions(" -show log"), " console");
  EXPECT_EQ(PlanActions("MONITOR"), " monitor console");
  EXPECT_EQ(PlanActions("xBackupNowx"), " console");
  EXPECT_EQ(PlanActions(" backupnow silent"), " backup");
  EXPECT_EQ(PlanActions(" backupnow silent", true, ssBackingUp), "");
  EXPECT_FALSE(PlanCommandWords("BACKUPNOW SILENT", false, ssIdle).SendBackup);
  for (uint8_t s : {ssIdleBusy, ssLastBackupFailed, ssSelectionEmpty})
    EXPECT_TRUE(PlanCommandWords("backupnow silent", true, s).SendBackup);
  // Handed over while the tray still connects: not dropped, decided later.
  EXPECT_EQ(PlanActions(" backupnow silent", true, ssConnecting), "");
  EXPECT_TRUE(PlanCommandWords(" backupnow silent", true, ssConnecting).BackupOnceKnown);
  EXPECT_FALSE(PlanCommandWords(" backupnow silent", true, ssNotReachable).BackupOnceKnown);
}

TEST(StatusDisplay, MenuPolicyFiles) {
  TempFolder f;
  bool cancel = true, options = true;
  EXPECT_THROW(ReadMenuPolicy(f.path(), cancel, options), std::exception);
  EXPECT_TRUE(cancel);  // a missing file changes nothing
  f.write("system2.properties", "cancelbackup=ON\r\noption=on\r\n");
  // Base 64 of the MD5 of the policy text, its "=" written escaped.
  f.write("defaults.properties", "HASH=TI1OfMsxnYt4Qp07cjPXEQ\\=\\=\r\n");
  EXPECT_FALSE(PolicyHashMismatch(f.path()));
  cancel = options = false;
  ReadMenuPolicy(f.path(), cancel, options);
  EXPECT_TRUE(cancel);
  EXPECT_TRUE(options);
  f.write("defaults.properties", "HASH=ti1ofmsxnyt4qp07cjpxeq==\r\n");  // letter case ignored
  EXPECT_FALSE(PolicyHashMismatch(f.path()));
  // The policy file changed: its digest no longer matches.
  f.write("system2.properties", "cancelbackup=ON\r\noption=ON\r\n");
  EXPECT_TRUE(PolicyHashMismatch(f.path()));
  ReadMenuPolicy(f.path(), cancel, options);
  EXPECT_FALSE(cancel);
  EXPECT_FALSE(options);
  f.write("defaults.properties", "OTHER=1\r\n");
  EXPECT_TRUE(PolicyHashMismatch(f.path()));
  std::string s = "a\\b\\\\c";
  RemoveChar(s, '\\');
  EXPECT_EQ(s, "abc");
}

TEST(StatusDisplay, ProfilingUser) {
  auto p = PlanProfilingUser("ann", "CORP", "PC1", "", "", "");
  EXPECT_EQ(p.Kind, TProfilingPlan::pkStoreAll);
  EXPECT_EQ(p.ProfileName, "CORP.ann");
  EXPECT_EQ(PlanProfilingUser("ann", "CORP", "PC1", "corp.ANN", "true", "true").Kind, TProfilingPlan::pkStoreHome);
  EXPECT_EQ(PlanProfilingUser("ann", "CORP", "PC1", "CORP.bob", "true", "false").Kind, TProfilingPlan::pkNothing);
  EXPECT_EQ(PlanProfilingUser("ann", "CORP", "PC1", "CORP.bob", "TRUE", "true").Kind, TProfilingPlan::pkNothing);
  p = PlanProfilingUser("ann", "CORP", "PC1", "CORP.bob", "true", "true");
  EXPECT_EQ(p.Kind, TProfilingPlan::pkAsk);
  EXPECT_EQ(p.Items[0], "CORP.bob");
  EXPECT_EQ(p.Items[1], "CORP.ann");
  p = PlanProfilingUser("ann", "PC1", "PC1", "PC1.bob", "true", "true");
  EXPECT_EQ(p.Items[0], "bob");
  EXPECT_EQ(p.Items[1], "ann");
  p = PlanProfilingUser("ann", "PC1", "PC1", "PC1." + std::string(150, 'x'), "true", "true");
  EXPECT_EQ(p.Items[0], std::string(100, 'x'));
}

TEST(StatusDisplay, Placement) {
  // Taskbar at the bottom, at the right, at the top, none.
  auto p = TrayCornerPosition(true, 0, 1040, 1920, 1080, 1920, 1080, 300, 100);
  EXPECT_EQ(p.Left, 1620);
  EXPECT_EQ(p.Top, 940);
  p = TrayCornerPosition(true, 1860, 0, 1920, 1080, 1920, 1080, 300, 100);
  EXPECT_EQ(p.Left, 1560);
  EXPECT_EQ(p.Top, 980);
  p = TrayCornerPosition(true, 0, 0, 1920, 40, 1920, 1080, 300, 100);
  EXPECT_EQ(p.Left, 1620);
  EXPECT_EQ(p.Top, 980);
  p = TrayCornerPosition(false, 0, 0, 0, 0, 1920, 1080, 300, 100);
  EXPECT_EQ(p.Left, 0);
  EXPECT_EQ(p.Top, 0);
}
