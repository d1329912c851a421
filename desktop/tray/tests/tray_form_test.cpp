// The status form in this process against the scriptable Java agent, on
// Wine's desktop with a notification area: the icon, tip, labels and gauge
// follow the agent's states, notifications become balloons, the menu follows
// the agent's permission and the policy files, the actions send their bytes,
// the profiling prompt stores its answer, the hand-over file is acted on and
// the program ends with the state thread's last bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "agent_control.h"
#include "platform/win32_owners.h"
#include "screen_capture.h"
#include "platform/testing/temp_folder.h"
#include "tray/default_user.h"
#include "tray/frmmain.h"
#include "tray/resources.h"
#include "tray/tray_platform.h"
#include "tray_fixture.h"
#include "../../support/tests/png_writer.h"

namespace om {
}

using namespace om;
using namespace om::testing;

namespace {

struct TShellCall {
  DWORD Message;
  UINT Flags;
  std::string Tip, InfoTitle, Info;
  DWORD InfoFlags;
};
std::vector<TShellCall> GShell;
// Called on each of the form's calls to the shell for its icon.
std::function<void()> GOnShellNotify;


BOOL WINAPI RecordingShellNotify(DWORD message, PNOTIFYICONDATAA data) {
  if (GOnShellNotify) GOnShellNotify();
  GShell.push_back({message, data->uFlags, data->szTip, data->szInfoTitle, data->szInfo, data->dwInfoFlags});
  Shell_NotifyIconA(message, data);
  return TRUE;
}

std::vector<TShellCall> Balloons() {
  std::vector<TShellCall> out;
  for (auto& c : GShell)
    if ((c.Flags & NIF_INFO) && !c.Info.empty()) out.push_back(c);
  return out;
}

int GConfirmCount = 0;
bool GConfirmAnswer = false;
std::string GConfirmText;
bool TestConfirm(const std::string& text) {
  ++GConfirmCount;
  GConfirmText = text;
  return GConfirmAnswer;
}

// The messages the form showed, in order.
std::vector<std::string> GMessages;

// The form with its message boxes recorded instead of shown.
class TTestForm : public TfrmServiceStatus {
public:
  using TfrmServiceStatus::TfrmServiceStatus;
  void ShowMessage(const std::string& text) override { GMessages.push_back(text); }
};

std::function<void(TdlgDefaultUser&)> GDialog;
void TestDialog(TdlgDefaultUser& d) {
  if (GDialog) GDialog(d);
}

// The account the prompt offers: the system's own answers.
std::string ProfileName() { return GetCurrentUserDomain() + "." + GetLocalUserName(); }

const std::string kBrand = "Ombrel Test Backup";

class TrayForm : public ::testing::Test {
protected:
  void SetUp() override {
    if (!Agent.Available()) GTEST_SKIP() << "OM_TRAY_TEST_AGENT not set (run through with-test-agent)";
    Agent("reset");
    MakeTrayFolder(Folder, Agent.AgentPort());
    InstallConsole(Folder);
    SetProgramFileNameForTesting(Folder.file("omtray.exe"));
    ResetStatusRecord();
    InitResources();
    TServiceStateThread::RoundPauseMs = 100;
    TDkTrayIcon::ShellNotify = &RecordingShellNotify;
    TfrmServiceStatus::Confirm = &TestConfirm;
    TfrmServiceStatus::RunDefaultUserDialog = &TestDialog;
    GShell.clear();
    GMessages.clear();
    GOnShellNotify = nullptr;
    GConfirmCount = 0;
    GConfirmAnswer = false;
    GDialog = nullptr;
  }
  void TearDown() override {
    if (Form) {
      Form->QuitProgram();
      // The state thread ends on its own; give it its last round.
      Pump([] { return false; }, 300);
    }
    FreeApplication();
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    Form = nullptr;
    FreeStatusLock();
    FreeResources();
    SetProgramFileNameForTesting("");
    TDkTrayIcon::ShellNotify = &Shell_NotifyIconA;
  }

  void Start() { Form = new TTestForm(Application()); }

  // The console of an earlier launch has ended and the form saw it end.
  bool ConsoleIdle() {
    return Pump([&] { return !Form->ConsoleProcess()->Waiting() && Launches() > 0; });
  }
  size_t Launches() const { return ConsoleLaunches(Folder).size(); }
  // The arguments the console got at the launch after the first count ones,
  // once the form saw that console end ("" when none came).
  std::string AwaitLaunch(size_t count) {
    if (!Pump([&] { return Launches() > count && !Form->ConsoleProcess()->Waiting(); })) return "<no launch>";
    const std::string cmd = ConsoleLaunches(Folder)[count];
    const std::string mark = std::string(kConsoleMainClass) + " 0 ";
    const size_t at = cmd.find(mark);
    return at == std::string::npos ? "<" + cmd + ">" : cmd.substr(at + mark.size());
  }

  // Waits for a state; the bound is generous, Wine starts processes slowly on
  // a busy machine.
  static bool Pump(const std::function<bool()>& done, int ms = 60000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      Application()->ProcessMessages();
      CheckSynchronize();
      if (done()) return true;
      Sleep(10);
    }
    return done();
  }

  std::vector<std::string> RecordedWhen(const std::function<bool(const std::vector<std::string>&)>& ok) {
    std::vector<std::string> r;
    Pump([&] {
      r = Agent.Recorded();
      return ok(r);
    });
    return r;
  }
  // Connections on which the form read a setting.
  static int SettingReads(const std::vector<std::string>& r) {
    int n = 0;
    for (auto& c : r) n += c.rfind(kMonitorHex + "42", 0) == 0;
    return n;
  }
  static bool HasConnection(const std::vector<std::string>& r, const std::string& hex) {
    for (auto& c : r)
      if (c == hex) return true;
    return false;
  }

  // An idle agent whose profiling runs for another user and asks again: the
  // form shows the default-user dialog when it connects.
  void ScriptAnotherProfilingUser() {
    Agent("state 0");
    Agent("permission 0");
    Agent("setting profiling.user.name " + TAgentControl::HexOf(GetLocalComputerName() + ".bob"));
    Agent("setting profiling.on " + TAgentControl::HexOf("true"));
    Agent("setting profiling.user.ask " + TAgentControl::HexOf("true"));
  }

  // The agent's stored settings once it holds all of names: the form's writes
  // go out on its worker, each on a connection of its own.
  std::string SettingsOnceStored(std::initializer_list<std::string> names) {
    std::string settings;
    Pump([&] {
      settings = Agent("settings");
      for (const std::string& name : names)
        if (settings.find(name + "=") == std::string::npos) return false;
      return true;
    });
    return settings;
  }

  std::string Tip() { return Form->TrayIcon()->Hint(); }
  bool ShowsMain(int index) {
    return !Form->TrayIcon()->Animated() && Form->TrayIcon()->Icons() == Form->imglMain &&
           Form->TrayIcon()->IconIndex() == index;
  }
  bool ShowsBusy() { return Form->TrayIcon()->Animated() && Form->TrayIcon()->Icons() == Form->imglBackingUp; }

  TAgentControl Agent;
  TempFolder Folder;
  TfrmServiceStatus* Form = nullptr;
};

}  // namespace

TEST_F(TrayForm, StartsHiddenWithItsIconsAndPlacement) {
  Agent("state 0");
  // The console launch at start reads the state once: nothing allows the
  // cancel entry or the notification switches.
  Agent("permission 0");
  Start();
  EXPECT_FALSE(Form->Visible());
  EXPECT_EQ(Form->Caption(), "Backup Service");
  EXPECT_EQ(Form->imglBackingUp->Count(), 8);
  EXPECT_EQ(Form->imglMain->Count(), 2);
  EXPECT_TRUE(Form->TrayIcon()->Active());
  EXPECT_TRUE(Form->TrayIcon()->IconShown());
  EXPECT_TRUE(Form->Timer->Enabled());
  EXPECT_TRUE(StatusLockExists());
  EXPECT_EQ(Form->menOpen->Caption, "Open console");
  EXPECT_EQ(Form->menExit->Caption, "Exit monitor");
  EXPECT_FALSE(Form->CancelBackup1->Visible);
  EXPECT_FALSE(Form->mnuOptions->Visible);
  EXPECT_EQ(Form->Schedule()->PropertiesPath(), Folder.path() + "\\ombackup.properties");
  // Started without switches: the whole command line went through the command
  // words, which open the console with the program's own arguments.
  std::string own;
  for (const std::string& a : Form->ProgramArguments()) own += (own.empty() ? "" : " ") + a;
  EXPECT_EQ(AwaitLaunch(0), own);
  EXPECT_EQ(Launches(), 1u);
  // Next to the taskbar, inside the screen.
  RECT r;
  GetWindowRect(Form->Handle(), &r);
  EXPECT_LE(r.right, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_LE(r.bottom, GetSystemMetrics(SM_CYSCREEN));
  EXPECT_GT(r.left, 0);
  LONG ex = GetWindowLongA(Form->Handle(), GWL_EXSTYLE);
  EXPECT_TRUE(ex & WS_EX_TOPMOST);
  EXPECT_TRUE(ex & WS_EX_TOOLWINDOW);
  RECT client;
  GetClientRect(Form->Handle(), &client);
  EXPECT_EQ(client.right, 290);
  EXPECT_EQ(client.bottom, 70);
  char cls[64];
  GetClassNameA(Form->Handle(), cls, sizeof cls);
  EXPECT_STREQ(cls, "TfrmServiceStatus");
}

TEST_F(TrayForm, IconTipLabelsAndGaugeFollowTheAgent) {
  Agent("state 0");
  // The version is known: no installation balloon turns the icon to the main
  // one for a moment while the busy icon is looked at.
  Agent("setting runner.last_known_client_version " + TAgentControl::HexOf("1.0.0"));
  int64_t now = static_cast<int64_t>(std::time(nullptr)) * 1000;
  Agent("next " + std::to_string(now + 3600000) + " " + TAgentControl::HexOf("id-1"));
  Agent("last " + std::to_string(now - 60000));
  Start();
  ASSERT_TRUE(Pump([&] { return GetServiceState() == ssIdle && Tip().find("Next backup:") != std::string::npos; }))
      << Tip();
  EXPECT_TRUE(ShowsMain(0));
  EXPECT_EQ(Tip().substr(0, kBrand.size() + 2), kBrand + "\r\n");
  EXPECT_NE(Tip().find("\r\nLast backup: "), std::string::npos);
  EXPECT_EQ(Form->lblCurrentStatus->Caption(), kBrand);
  EXPECT_EQ(Form->lblCurrent->Caption().rfind("Last backup: ", 0), 0u) << Form->lblCurrent->Caption();
  EXPECT_EQ(Form->lblNow->Caption().rfind("Next backup: ", 0), 0u) << Form->lblNow->Caption();
  EXPECT_FALSE(Form->Gauge->Visible());

  // The status window as the user sees it (test artefacts beside the program).
  Form->Show();
  Pump([] { return false; }, 300);
  SaveScreenshot(BesideProgram("tray_status_window_idle.png"));
  Form->Hide();

  Agent("state 1");
  ASSERT_TRUE(Pump([&] { return ShowsBusy(); }));
  EXPECT_EQ(Tip(), kBrand + "\r\nBacking up");
  EXPECT_EQ(Form->lblCurrentStatus->Caption(), "Backing up");

  Agent("state 3");
  ASSERT_TRUE(Pump([&] { return Form->Gauge->Visible(); }));
  EXPECT_EQ(Form->lblCurrentStatus->Caption(), "Checking the backup set");
  EXPECT_EQ(Form->lblNow->Caption(), "");
  EXPECT_TRUE(ShowsBusy());
  Form->Show();
  Pump([] { return false; }, 300);
  SaveScreenshot(BesideProgram("tray_status_window_health_check.png"));
  Form->Hide();

  Agent("state 8");
  ASSERT_TRUE(Pump([&] { return GetServiceState() == ssUpdating && Tip().find("% done") != std::string::npos; }));
  EXPECT_EQ(Tip(), kBrand + "\r\n\r\n 0% done");

  // The agent goes away and does not come back.
  Folder.write("ombackup.properties", "service.port=" + Agent("freeport") + "\r\n");
  Agent("reset");
  ASSERT_TRUE(Pump([&] { return ShowsMain(1); }));
  EXPECT_EQ(Tip(), kBrand + "\r\nThe backup service is not running");
  EXPECT_EQ(Form->lblCurrentStatus->Caption(), "The backup service is not running");
  EXPECT_FALSE(Form->Gauge->Visible());
  // Backup Now is disabled while the agent is not reachable.
  Form->actLMain->UpdateActions();
  EXPECT_FALSE(Form->actBackupNow->Enabled());
  EXPECT_FALSE(Form->menBackupNow->Enabled);
}

TEST_F(TrayForm, NotificationsBecomeBalloons) {
  // Last backup failed: the idle form that keeps its icon between ticks.
  Agent("state 5");
  Agent("permission 1");
  Agent("setting runner.displaysuccess " + TAgentControl::HexOf("false"));
  Agent("notification 1 3 " + TAgentControl::HexOf("old failure"));
  Start();
  // Connected: the permission offers the cancel entry and the switches.
  ASSERT_TRUE(Pump([&] { return Form->mnuOptions->Visible && !Form->mnuNotifyonSuccess->Checked; }));
  EXPECT_TRUE(Form->CancelBackup1->Visible);
  EXPECT_TRUE(Form->MenuPermission());
  EXPECT_TRUE(Form->mnuNotifyonWarnings->Checked);
  ASSERT_TRUE(Pump([&] { return GetNotification().ChangeCount == 1; }));
  // The version check of a first connection stores the version; its
  // installation balloon is a success balloon, which is switched off here.
  ASSERT_TRUE(Pump([&] {
    return Agent("settings").find("runner.last_known_client_version=" + TAgentControl::HexOf("1.0.0")) !=
           std::string::npos;
  }));
  EXPECT_TRUE(Balloons().empty());

  Agent("notification 2 3 " + TAgentControl::HexOf("Backup failed"));
  ASSERT_TRUE(Pump([&] { return !Balloons().empty(); })) << [&] {
    std::string s = "count " + std::to_string(GetNotification().ChangeCount) + " pending " +
                    Form->PendingBalloonText() + " timer " + std::to_string(Form->NotifyTimer->Enabled()) +
                    " shown " + std::to_string(Form->TrayIcon()->IconShown()) + " calls:";
    for (auto& c : GShell) s += " " + std::to_string(c.Message) + "/" + std::to_string(c.Flags) + "/" + c.Info;
    return s;
  }();
  auto b = Balloons();
  ASSERT_EQ(b.size(), 1u);  // the first notification (stamp 1) was never shown
  EXPECT_EQ(b[0].InfoTitle, kBrand);
  EXPECT_EQ(b[0].Info, "Backup failed");
  EXPECT_EQ(b[0].InfoFlags & 3u, static_cast<DWORD>(NIIF_ERROR));
  // Error balloons leave the two main icons alternating; a double click then
  // opens the console's log.
  EXPECT_TRUE(Form->TrayIcon()->Animated());
  EXPECT_EQ(Form->TrayIcon()->Icons(), Form->imglMain);
  ASSERT_TRUE(ConsoleIdle());
  size_t launches = Launches();
  Form->TrayIconDblClick(nullptr, mbLeft, 0, 0, 0);
  EXPECT_EQ(AwaitLaunch(launches), "-show log");

  // Success with "Notify on Success" unchecked: dropped.
  GShell.clear();
  Agent("notification 3 1 " + TAgentControl::HexOf("Backup done"));
  ASSERT_TRUE(Pump([&] { return GetNotification().Stamp == 3; }));
  Pump([] { return false; }, 300);
  EXPECT_FALSE(Form->NotifyTimer->Enabled());
  Agent("notification 4 2 " + TAgentControl::HexOf("Some files skipped"));
  ASSERT_TRUE(Pump([&] { return !Balloons().empty(); }));
  EXPECT_EQ(Balloons().size(), 1u);
  EXPECT_EQ(Balloons()[0].Info, "Some files skipped");
  EXPECT_EQ(Balloons()[0].InfoFlags & 3u, static_cast<DWORD>(NIIF_WARNING));

  // A click on the balloon opens the log.
  launches = Launches();
  Form->TrayIconBalloonClick(nullptr);
  EXPECT_EQ(AwaitLaunch(launches), "-show log");
}

TEST_F(TrayForm, EitherFrameOfTheFlashingIconOpensTheLog) {
  Agent("state 0");
  Start();
  ASSERT_TRUE(Pump([&] { return GetServiceState() == ssIdle && ShowsMain(0); }));
  ASSERT_TRUE(ConsoleIdle());
  const size_t launches = Launches();
  // An error balloon left the two main icons flashing; the second one shows.
  Form->TrayIcon()->SetAnimated(true);
  Form->TrayIcon()->SetIconIndex(1);
  Form->TrayIconDblClick(nullptr, mbLeft, 0, 0, 0);
  EXPECT_EQ(AwaitLaunch(launches), "-show log");
  EXPECT_TRUE(GMessages.empty()) << GMessages[0];
}

namespace {

BOOL CALLBACK FindOwnForm(HWND w, LPARAM found) {
  char cls[64] = {};
  GetClassNameA(w, cls, sizeof cls);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != GetCurrentProcessId() || std::string(cls) != "TfrmServiceStatus") return TRUE;
  *reinterpret_cast<bool*>(found) = true;
  return FALSE;
}

// A second start or a loader would find this process's status window.
bool OwnFormFindable() {
  bool found = false;
  EnumWindows(FindOwnForm, reinterpret_cast<LPARAM>(&found));
  return found;
}

}  // namespace

TEST_F(TrayForm, NothingOfTheFormIsReachableBeforeItIsReady) {
  Agent("state 0");
  ParamsFilePath.clear();
  // Each time the shell hears of the icon (and so may hand back clicks), a
  // window that others find must already know where words are handed over.
  int calls = 0, reachableEarly = 0;
  GOnShellNotify = [&] {
    ++calls;
    if (OwnFormFindable() && ParamsFilePath.empty()) ++reachableEarly;
  };
  Start();
  GOnShellNotify = nullptr;
  EXPECT_GT(calls, 0);
  EXPECT_EQ(reachableEarly, 0);
}

TEST_F(TrayForm, BackUpNowGoesAheadOfTheSettingsReads) {
  Agent("state 0");
  Agent("permission 0");
  Agent("slow 66 4000");  // each read just within the time-out
  Start();
  // The settings refresh reads the profiling user, one read after the other.
  ASSERT_TRUE(Pump([&] { return GetServiceState() == ssIdle && SettingReads(Agent.Recorded()) >= 1; }));
  Form->PopupPopup(nullptr);
  Form->menBackupNow->Click();
  auto rec = RecordedWhen([](auto& r) { return HasConnection(r, kMonitorHex + "0163"); });
  EXPECT_TRUE(HasConnection(rec, kMonitorHex + "0163"));
  EXPECT_LT(SettingReads(rec), 4);
}

TEST_F(TrayForm, ABackUpNowGivenJustBeforeTheEndStillReachesTheAgent) {
  Agent("state 0");
  Start();
  ASSERT_TRUE(Pump([&] { return GetServiceState() == ssIdle; }));
  Agent("trickle 40");  // a greeting of about a second on each new connection
  Form->PopupPopup(nullptr);
  Form->menBackupNow->Click();
  Form->QuitProgram();
  FreeApplication();  // the form goes with the application
  Form = nullptr;
  std::vector<std::string> rec;
  for (int i = 0; i < 600 && !HasConnection(rec = Agent.Recorded(), kMonitorHex + "0163"); ++i) Sleep(100);
  EXPECT_TRUE(HasConnection(rec, kMonitorHex + "0163"));
}

TEST_F(TrayForm, ABackUpNowThatCannotReachTheAgentSaysSo) {
  Agent("state 0");
  Start();
  ASSERT_TRUE(Pump([&] { return GetServiceState() == ssIdle && !Form->Composer().SettingsRefreshDue; }));
  // The state connection stays; new exchanges are refused.
  Agent("ack 0");
  Form->PopupPopup(nullptr);
  Form->menBackupNow->Click();
  ASSERT_TRUE(Pump([&] { return !GMessages.empty(); }));
  EXPECT_EQ(GMessages[0], "The backup service cannot be reached");
}

TEST_F(TrayForm, PolicyFilesDecideWithoutThePermission) {
  Agent("state 0");
  Agent("permission 0");
  Folder.write("system2.properties", "cancelbackup=ON\r\noption=on\r\n");
  Folder.write("defaults.properties", "HASH=TI1OfMsxnYt4Qp07cjPXEQ\\=\\=\r\n");
  Start();
  ASSERT_TRUE(Pump([&] { return Form->CancelBackup1->Visible; }));
  EXPECT_TRUE(Form->mnuOptions->Visible);
  EXPECT_TRUE(Form->CancelAllowed());
  EXPECT_FALSE(Form->MenuPermission());
}

TEST_F(TrayForm, ActionsSendTheirCommands) {
  Agent("state 0");
  Agent("permission 0");
  Start();
  ASSERT_TRUE(Pump([&] { return GetServiceState() == ssIdle && !Form->Composer().SettingsRefreshDue; }));
  // First run without a stored profiling user: stored without a dialog.
  std::string settings = SettingsOnceStored({"profiling.user.ask", "profiling.user.name", "profiling.user.home"});
  EXPECT_NE(settings.find("profiling.user.ask=" + TAgentControl::HexOf("true")), std::string::npos) << settings;
  EXPECT_NE(settings.find("profiling.user.name=" + TAgentControl::HexOf(ProfileName())), std::string::npos);
  EXPECT_NE(settings.find("profiling.user.home=" + TAgentControl::HexOf(GetProfileFolder())), std::string::npos);

  Form->PopupPopup(nullptr);
  // Neither the agent nor a policy file allows the cancel entry.
  EXPECT_FALSE(Form->CancelBackup1->Visible);
  EXPECT_TRUE(Form->actBackupNow->Enabled());
  EXPECT_TRUE(Form->actBackupNow->Visible());
  EXPECT_FALSE(Form->actCancelBackup->Enabled());
  EXPECT_EQ(Form->menBackupNow->Caption, "Back up now");
  Form->menBackupNow->Click();
  EXPECT_TRUE(Form->Composer().BackupRequested);
  auto rec = RecordedWhen([](auto& r) { return HasConnection(r, kMonitorHex + "0163"); });
  EXPECT_TRUE(HasConnection(rec, kMonitorHex + "0163"));

  Agent("state 1");
  ASSERT_TRUE(Pump([&] { return GetServiceState() == ssBackingUp; }));
  Form->actLMain->UpdateActions();
  EXPECT_TRUE(Form->actCancelBackup->Enabled());
  EXPECT_FALSE(Form->actBackupNow->Enabled());
  Form->actCancelBackup->Execute();
  rec = RecordedWhen([](auto& r) { return HasConnection(r, kMonitorHex + "0463"); });
  EXPECT_TRUE(HasConnection(rec, kMonitorHex + "0463"));

  // The requested backup ends with an empty selection: asked once; No opens nothing.
  ASSERT_TRUE(ConsoleIdle());
  size_t launches = Launches();
  Agent("state 9");
  ASSERT_TRUE(Pump([&] { return GConfirmCount == 1; }));
  EXPECT_EQ(GConfirmText, "Nothing is selected for backup. Open the console?");
  Pump([] { return false; }, 400);
  EXPECT_EQ(GConfirmCount, 1);
  EXPECT_EQ(Launches(), launches);
  // Backup Now in state 9 asks instead of sending; Yes opens the console.
  GConfirmAnswer = true;
  Form->actBackupNow->Execute();
  EXPECT_EQ(GConfirmCount, 2);
  EXPECT_EQ(AwaitLaunch(launches), "");

  // A notification switch writes its setting (behind any request in flight).
  Form->mnuNotifyonSuccess->Click();
  EXPECT_FALSE(Form->mnuNotifyonSuccess->Checked);
  EXPECT_TRUE(Pump([&] {
    return Agent("settings").find("runner.displaysuccess=" + TAgentControl::HexOf("false")) != std::string::npos;
  }));

  // Command words: a silent backup in state 9 is sent without opening anything.
  launches = Launches();
  EXPECT_FALSE(Form->HandleCommandWords(" BackupNow silent"));
  EXPECT_TRUE(Form->HandleCommandWords(" -show log"));
  Pump([] { return false; }, 300);
  EXPECT_EQ(Launches(), launches);
  EXPECT_FALSE(Form->Visible());
  EXPECT_TRUE(Form->HandleCommandWords("monitor"));
  EXPECT_TRUE(Form->Visible());
  EXPECT_EQ(Application()->Title(), "Backup status");
  // Closing the window only hides it.
  SendMessageA(Form->Handle(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(Form->Visible());
  EXPECT_EQ(Application()->Title(), "");
  EXPECT_FALSE(Application()->Terminated());
  EXPECT_TRUE(StatusLockExists());
  // A right click on the icon does nothing.
  int popups = 0;
  TNotifyEvent saved = Form->Popup->OnPopup;
  struct TCount {
    int* N;
    void Hit(TObject*) { ++*N; }
  } counter{&popups};
  Form->Popup->OnPopup = MakeMethod<&TCount::Hit>(&counter);
  Form->TrayIconClick(nullptr, mbRight, 0, 10, 10);
  EXPECT_EQ(popups, 0);
  Form->Popup->OnPopup = saved;

  // Exit: the state thread ends its exchange with 99.
  Form->actExit->Execute();
  EXPECT_TRUE(Application()->Terminated());
  EXPECT_TRUE(Form->Closing());
  EXPECT_FALSE(Form->TrayIcon()->Active());
  rec = RecordedWhen([](auto& r) {
    return !r.empty() && r[0].size() >= 2 && r[0].substr(r[0].size() - 2) == "63" && r[0].find("1907") != std::string::npos;
  });
  ASSERT_FALSE(rec.empty());
  EXPECT_EQ(rec[0].substr(0, kMonitorHex.size()), kMonitorHex);
  EXPECT_EQ(rec[0].substr(rec[0].size() - 2), "63");
  // Closing now frees the status lock; the record is then no longer written.
  SendMessageA(Form->Handle(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(StatusLockExists());
  Form = nullptr;  // freed with the application
}

TEST_F(TrayForm, ProfilingPromptStoresTheAnswer) {
  ScriptAnotherProfilingUser();
  bool shown = false;
  GDialog = [&](TdlgDefaultUser& d) {
    shown = true;
    EXPECT_EQ(d.Caption(), "Profiling user");
    EXPECT_EQ(d.lblMessage->Caption(), "Which user's profile should be used?");
    EXPECT_EQ(d.cbAsk->Caption(), "Do not ask again");
    EXPECT_EQ(d.btnOk->Caption(), "OK");
    ASSERT_EQ(d.rgUsers->Items.size(), 2u);
    EXPECT_EQ(d.rgUsers->Items[0], "bob");
    EXPECT_EQ(d.rgUsers->Items[1],
              GetCurrentUserDomain() == GetLocalComputerName() ? GetLocalUserName() : ProfileName());
    EXPECT_EQ(d.rgUsers->ItemIndex(), 0);
    d.rgUsers->SetItemIndex(1);
    d.cbAsk->SetChecked(true);
  };
  Start();
  ASSERT_TRUE(Pump([&] { return shown && !Form->Composer().SettingsRefreshDue; }));
  std::string settings = SettingsOnceStored({"profiling.user.ask", "profiling.user.name", "profiling.user.home"});
  EXPECT_NE(settings.find("profiling.user.name=" + TAgentControl::HexOf(ProfileName())), std::string::npos) << settings;
  EXPECT_NE(settings.find("profiling.user.home=" + TAgentControl::HexOf(GetProfileFolder())), std::string::npos);
  EXPECT_NE(settings.find("profiling.user.ask=" + TAgentControl::HexOf("false")), std::string::npos);
}

TEST_F(TrayForm, NoStateThreadOutlivesTheForm) {
  Agent("state 0");
  Start();
  ASSERT_TRUE(Pump([&] { return GetServiceState() == ssIdle; }));
  EXPECT_EQ(TServiceStateThread::InstanceCount(), 1);
  Form->QuitProgram();
  FreeApplication();  // the form goes with the application
  Form = nullptr;
  EXPECT_EQ(TServiceStateThread::InstanceCount(), 0);
  // Its last bytes ended its exchange.
  auto rec = Agent.Recorded();
  ASSERT_FALSE(rec.empty());
  EXPECT_EQ(rec[0].substr(rec[0].size() - 2), "63");
}

TEST_F(TrayForm, TheTickGoesOnWhileADialogOfItIsOpen) {
  ScriptAnotherProfilingUser();
  int shown = 0;
  bool handedOverMeanwhile = false;
  GDialog = [&](TdlgDefaultUser&) {
    ++shown;
    // Words handed over while the user thinks are acted on.
    std::filesystem::create_directories(std::filesystem::path(ParamsFilePath).parent_path());
    WriteParamsFile(ParamsFilePath, " monitor");
    handedOverMeanwhile = Pump([&] { return Form->Visible(); });
    Pump([] { return false; }, 1500);  // more ticks: the dialog is not asked again
  };
  Start();
  ASSERT_TRUE(Pump([&] { return shown > 0 && !Form->Composer().SettingsRefreshDue; }));
  EXPECT_TRUE(handedOverMeanwhile);
  EXPECT_EQ(shown, 1);
  EXPECT_TRUE(Form->Timer->Enabled());
}

TEST_F(TrayForm, TheGaugeStretchesWithTheWindow) {
  Agent("state 0");
  Start();
  Form->Show();
  EXPECT_EQ(Form->Gauge->Left(), 6);
  EXPECT_EQ(Form->Gauge->Width(), 279);
  SetWindowPos(Form->Handle(), nullptr, 0, 0, 400, Form->Height(), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client;
  GetClientRect(Form->Handle(), &client);
  ASSERT_GT(client.right, 290);
  EXPECT_EQ(Form->Gauge->Left(), 6);
  EXPECT_EQ(Form->Gauge->Width(), client.right - 11);
  Form->Hide();
}

TEST_F(TrayForm, HandOverFileAndLeftoverCopies) {
  Agent("state 0");
  Folder.write("omtray.exe.bak1", "old");
  Start();
  EXPECT_FALSE(std::filesystem::exists(Folder.file("omtray.exe.bak1")));
  EXPECT_TRUE(Form->NoBackupCopiesAtStart());
  ASSERT_FALSE(ParamsFilePath.empty());
  EXPECT_NE(ParamsFilePath.find("\\omparams\\"), std::string::npos);
  std::filesystem::create_directories(std::filesystem::path(ParamsFilePath).parent_path());

  // Through the real file: the loader's writer, the tick's reader, and a real
  // console launch with the text as its arguments.
  ASSERT_TRUE(ConsoleIdle());
  const size_t launches = Launches();
  WriteParamsFile(ParamsFilePath, " -show log");
  EXPECT_EQ(AwaitLaunch(launches), "-show log");
  EXPECT_FALSE(std::filesystem::exists(ParamsFilePath));

  WriteParamsFile(ParamsFilePath, " -close");
  ASSERT_TRUE(Pump([&] { return Application()->Terminated(); }));
  EXPECT_TRUE(Form->Closing());
  EXPECT_FALSE(Form->TrayIcon()->Active());
  EXPECT_FALSE(std::filesystem::exists(ParamsFilePath));
}

TEST_F(TrayForm, ALeftoverCopyThatCannotBeDeletedKeepsUpgradeDetectionOff) {
  Agent("state 0");
  Folder.write("omtray.exe", "program");
  Folder.write("omtray.exe.bak1", "old");
  UniqueFile held(CreateFileA(Folder.file("omtray.exe.bak1").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr));
  ASSERT_TRUE(held);
  Start();
  EXPECT_TRUE(std::filesystem::exists(Folder.file("omtray.exe.bak1")));
  EXPECT_FALSE(Form->NoBackupCopiesAtStart());
  // Ticks go on (no self-upgrade) while the copy stays.
  ASSERT_TRUE(Pump([&] { return GetServiceState() == ssIdle && ShowsMain(0); }));
  EXPECT_FALSE(Application()->Terminated());
  held.reset();
  ASSERT_TRUE(Pump([&] { return Form->NoBackupCopiesAtStart(); }));
  EXPECT_FALSE(std::filesystem::exists(Folder.file("omtray.exe.bak1")));
  EXPECT_FALSE(Application()->Terminated());
}

namespace {

// The colours on the screen in a rectangle of a window's client area.
std::vector<COLORREF> ScreenColours(HWND w, int left, int top, int width, int height) {
  std::vector<COLORREF> out;
  for (uint32_t c : CaptureClient(w, RECT{left, top, left + width, top + height}))
    out.push_back(RGB(c >> 16, (c >> 8) & 255, c & 255));
  return out;
}

COLORREF ScreenColour(HWND w, int x, int y) { return ScreenColours(w, x, y, 1, 1).at(0); }

// Something other than the dialog's face is drawn in the rectangle (a text,
// a button, a check box).
bool ShowsSomething(HWND w, int left, int top, int width, int height) {
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  for (COLORREF c : ScreenColours(w, left, top, width, height))
    if (c != face) return true;
  return false;
}

}  // namespace

TEST_F(TrayForm, DefaultUserDialogGrowsUpwardsForItsHelp) {
  TdlgDefaultUser d(nullptr);
  d.lblMessage->SetCaption("Which user's profile should be used?");
  d.lblHelp->SetCaption("The profile of the chosen user is used.");
  d.cbAsk->SetCaption("Do not ask again");
  d.rgUsers->Items = {"a", "b"};
  d.Show();
  d.ShowControls();
  Pump([] { return false; }, 300);
  // The frame covers none of the texts and choices: they show, and the
  // dialog's face between them.
  EXPECT_TRUE(ShowsSomething(d.Handle(), 28, 24, 369, 29));   // the message
  EXPECT_TRUE(ShowsSomething(d.Handle(), 36, 83, 100, 60));   // the choices
  EXPECT_TRUE(ShowsSomething(d.Handle(), 28, 172, 100, 17));  // the check box
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  EXPECT_EQ(ScreenColour(d.Handle(), 18, 100), face);   // inside the frame, left of the choices
  EXPECT_EQ(ScreenColour(d.Handle(), 392, 30), face);   // the message line after its text
  EXPECT_EQ(ScreenColour(d.Handle(), 392, 180), face);  // the check box line after its text
  RECT client;
  GetClientRect(d.Handle(), &client);
  EXPECT_EQ(client.right, 426);
  EXPECT_EQ(client.bottom, 245);
  EXPECT_TRUE(GetWindowLongA(d.Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  int top = d.Top(), height = d.Height(), rgTop = d.rgUsers->Top(), okTop = d.btnOk->Top();
  d.btnHelp->Click();
  Pump([] { return false; }, 300);
  SaveScreenshot(BesideProgram("tray_default_user_dialog_help.png"));
  // No copy of the buttons stays where they were drawn before (between the
  // choices and the check box now).
  EXPECT_FALSE(ShowsSomething(d.Handle(), 110, 223, 75, 13));
  EXPECT_EQ(ScreenColour(d.Handle(), 18, 100), face);
  EXPECT_TRUE(d.btnHelp->Down());
  EXPECT_EQ(d.Top(), top - 65);
  EXPECT_EQ(d.Height(), height + 65);
  EXPECT_TRUE(d.lblHelp->Visible());
  EXPECT_EQ(d.rgUsers->Top(), rgTop + 65);
  EXPECT_EQ(d.btnOk->Top(), okTop + 65);
  EXPECT_EQ(d.lblMessage->Top(), 24);
  d.btnHelp->Click();
  EXPECT_FALSE(d.btnHelp->Down());
  EXPECT_EQ(d.Top(), top);
  EXPECT_EQ(d.Height(), height);
  EXPECT_FALSE(d.lblHelp->Visible());
  EXPECT_EQ(d.rgUsers->Top(), rgTop);
  // OK ends the modal loop with its result.
  PostMessageA(d.btnOk->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(d.ShowModal(), IDOK);
}

namespace {

// How the program runs the default-user dialog (before the fixture replaces it).
void (*const kProgramDefaultUserDialog)(TdlgDefaultUser&) = TfrmServiceStatus::RunDefaultUserDialog;

// Runs on a timer of this thread, so also inside a modal loop.
std::function<void()> GOnTimer;
void CALLBACK RunOnTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (GOnTimer) GOnTimer();
}

// Pixels of a rectangle of w's client area that the screen shows in another
// colour than the dialog face.
int PixelsOffFace(HWND w, int left, int top, int width, int height) {
  const WindowDc dc(w);
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  int off = 0;
  for (int y = top; y < top + height; ++y)
    for (int x = left; x < left + width; ++x) off += GetPixel(dc.get(), x, y) != face;
  return off;
}

}  // namespace

TEST_F(TrayForm, TheProfilingPromptShowsItsChoicesOnTheDialogsFace) {
  // Opened as the program opens it: the agent asks for the profiling user.
  ScriptAnotherProfilingUser();
  TfrmServiceStatus::RunDefaultUserDialog = kProgramDefaultUserDialog;
  int seen = 0;
  std::vector<std::string> wrong;
  bool checked = false;
  GOnTimer = [&] {
    HWND d = FindWindowA("TdlgDefaultUser", nullptr);
    if (checked || !d || !IsWindowVisible(d) || ++seen < 4) return;  // shown and drawn
    checked = true;
    SaveScreenshot(BesideProgram("tray_default_user_dialog.png"));
    // The group's inside, the strip above its frame line and the choices'
    // own background right of their texts are all the dialog's colour.
    struct TArea {
      const char* Name;
      int Left, Top, Width, Height;
    };
    const TArea areas[] = {{"above the frame line", 200, 67, 180, 4},
                           {"the first choice", 200, 85, 180, 16},
                           {"the second choice", 200, 118, 180, 16},
                           {"inside the group", 200, 140, 180, 10}};
    for (const TArea& a : areas)
      if (int off = PixelsOffFace(d, a.Left, a.Top, a.Width, a.Height))
        wrong.push_back(std::string(a.Name) + ": " + std::to_string(off) + " pixels");
    EXPECT_GT(PixelsOffFace(d, 36, 83, 100, 60), 0);  // the choices themselves
    PostMessageA(d, WM_CLOSE, 0, 0);
  };
  const UINT_PTR timer = SetTimer(nullptr, 0, 100, &RunOnTimer);
  Start();
  const bool done = Pump([&] { return checked && !Form->Composer().SettingsRefreshDue; }, 30000);
  KillTimer(nullptr, timer);
  GOnTimer = nullptr;
  ASSERT_TRUE(done) << "the dialog did not come";
  EXPECT_TRUE(wrong.empty()) << ::testing::PrintToString(wrong);
}
