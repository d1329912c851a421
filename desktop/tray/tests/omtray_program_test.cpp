// omtray.exe as a program: started from a folder of its own against the Java
// test agent, it polls the agent, takes command texts from later starts and
// from omloader (the atom message and the hand-over file), starts the Java
// console of its installation, ends on "-close", replaces itself when an
// installer leaves a copy of the old program file, and keeps its window
// answering while the agent is slow or misbehaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "agent_control.h"
#include "process_harness.h"
#include "platform/win32.h"
#include "platform/win32_owners.h"
#include "platform/testing/temp_folder.h"
#include "tray/routines.h"
#include "tray/status_display.h"
#include "tray/tray_seams.h"
#include "tray_fixture.h"

using namespace om;
using namespace om::testing;

namespace {

struct TFind {
  DWORD Pid;  // 0: any process
  const char* Class;
  bool VisibleOnly;
  HWND Found;
};

BOOL CALLBACK FindProc(HWND w, LPARAM lp) {
  auto* f = reinterpret_cast<TFind*>(lp);
  char cls[64] = {};
  GetClassNameA(w, cls, sizeof cls);
  DWORD p = 0;
  GetWindowThreadProcessId(w, &p);
  if (std::string(cls) == f->Class && (f->Pid == 0 || p == f->Pid) && (!f->VisibleOnly || IsWindowVisible(w))) {
    f->Found = w;
    return FALSE;
  }
  return TRUE;
}

// The first top-level window of that class (of the process pid, unless 0).
HWND FindWindowOf(DWORD pid, const char* className, bool visibleOnly) {
  TFind f{pid, className, visibleOnly, nullptr};
  EnumWindows(&FindProc, reinterpret_cast<LPARAM>(&f));
  return f.Found;
}

HWND FindFormOf(DWORD pid) { return FindWindowOf(pid, "TfrmServiceStatus", false); }

// The window answers a sent message well within an exchange the agent delays
// (4.5 s, or a reply that never ends): a form blocked on one would not.
bool Answers(HWND w) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_NORMAL, 2500, &result) != 0;
}

// Waits for a state; the bound is generous, Wine starts processes slowly on a
// busy machine.
template <class F>
bool WaitFor(F f, int ms = 60000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (f()) return true;
    Sleep(50);
  }
  return f();
}

class OmtrayProgram : public ::testing::Test {
protected:
  void SetUp() override {
    if (!Agent.Available()) GTEST_SKIP() << "OM_TRAY_TEST_AGENT not set (run through with-test-agent)";
    Agent("reset");
    Agent("state 0");
    MakeTrayFolder(Folder, Agent.AgentPort());
    // "monitor" opens the console as well; without one the tray would stop in
    // its "no runtime" message.
    InstallConsole(Folder);
    Program = Folder.file("omtray.exe");
    std::filesystem::copy_file(OM_OMTRAY_EXE, Program);
  }
  void TearDown() override {
    for (const UniqueHandle& p : Processes)
      if (WaitForSingleObject(p.get(), 0) == WAIT_TIMEOUT) TerminateProcess(p.get(), 9);
  }

  HANDLE Launch(const std::string& args, DWORD* pid) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string line = "\"" + Program + "\" " + args;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, Folder.path().c_str(), &si, &pi))
      return nullptr;
    UniqueHandle thread(pi.hThread);
    Processes.emplace_back(pi.hProcess);
    *pid = pi.dwProcessId;
    return pi.hProcess;
  }

  // Starts omtray.exe "-min -nosplash"; null unless its status window came up hidden.
  HANDLE StartHidden(DWORD& pid) {
    HANDLE p = Launch("-min -nosplash", &pid);
    if (!p || !WaitFor([&] { return FindFormOf(pid) != nullptr; })) return nullptr;
    return IsWindowVisible(FindFormOf(pid)) ? nullptr : p;
  }

  // Runs a program of the folder to its end; its exit code (99: not started).
  DWORD RunToEnd(const std::string& exe, const std::string& args) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string line = "\"" + Folder.file(exe) + "\" " + args;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, Folder.path().c_str(), &si, &pi))
      return 99;
    UniqueHandle thread(pi.hThread), process(pi.hProcess);
    DWORD code = 98;
    if (WaitForSingleObject(process.get(), 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process.get(), &code);
    else TerminateProcess(process.get(), 97);
    return code;
  }

  // Connections whose bytes after the handshake begin with hex (whole: are hex).
  int Connections(const std::string& hex, bool whole = false) {
    int n = 0;
    for (auto& c : Agent.Recorded())
      if (whole ? c == kMonitorHex + hex : c.rfind(kMonitorHex + hex, 0) == 0) ++n;
    return n;
  }
  // Connections that carry the state thread's polls.
  int PollConnections() { return Connections("1907"); }
  // Connections that carried one request of the form: code (hex) and the end.
  int Requests(const std::string& hex) { return Connections(hex + "63", true); }
  // Connections on which the form asked for the menu permission.
  int PermissionQueries() { return Connections("11"); }
  // Connections on which the status form itself asked for a setting (the
  // state thread never does).
  int SettingReads() { return Connections("42"); }

  // Starts omtray.exe against the agent as scripted, asks its window until the
  // form has made `reads` setting reads, then ends it with a later start's
  // "-close", which must not be lost while the form waits for the agent.
  void ExpectAnsweringWhileTheFormWaits(int reads) {
    DWORD pid = 0;
    HANDLE p = StartHidden(pid);
    ASSERT_NE(p, nullptr);
    const HWND w = FindFormOf(pid);
    int asked = 0, unanswered = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (SettingReads() < reads && std::chrono::steady_clock::now() < end) {
      ++asked;
      if (!Answers(w)) ++unanswered;
      Sleep(100);
    }
    EXPECT_GE(SettingReads(), reads);
    EXPECT_EQ(unanswered, 0) << "of " << asked;
    EXPECT_EQ(RunToEnd("omtray.exe", "-close"), 0u);
    EXPECT_EQ(WaitForSingleObject(p, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
  }

  std::string HandOverPath() {
    return HandOverFilePath(ExpandEnvironment("%TEMP%"), Program);
  }
  void HandOver(const std::string& text) {
    std::string path = HandOverPath();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  TAgentControl Agent;
  // The installation folder's name holds a command word.
  TempFolder Folder{"Backup Monitor "};
  std::string Program;
  std::vector<UniqueHandle> Processes;
};

}  // namespace

TEST_F(OmtrayProgram, PollsTheAgentAndEndsOnAHandOverClose) {
  DWORD pid = 0;
  HANDLE p = Launch("-min -nosplash", &pid);
  ASSERT_NE(p, nullptr);
  ASSERT_TRUE(WaitFor([&] { return PollConnections() >= 1; })) << "no polls from omtray.exe";
  ASSERT_TRUE(WaitFor([&] { return FindFormOf(pid) != nullptr; }));
  EXPECT_FALSE(IsWindowVisible(FindFormOf(pid)));
  // "monitor" in a hand-over text shows the status window.
  HandOver(" monitor");
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(FindFormOf(pid)) != FALSE; }));
  EXPECT_FALSE(std::filesystem::exists(HandOverPath()));
  HandOver(" -close");
  ASSERT_EQ(WaitForSingleObject(p, 60000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(p, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(std::filesystem::exists(HandOverPath()));
}

TEST_F(OmtrayProgram, ReplacesItselfWhenAnInstallerLeavesACopy) {
  DWORD pid = 0;
  HANDLE p = Launch("-min -nosplash", &pid);
  ASSERT_NE(p, nullptr);
  ASSERT_TRUE(WaitFor([&] { return FindFormOf(pid) != nullptr && PollConnections() >= 1; }));
  // The installer moves the running program aside and puts a new one in place.
  std::filesystem::copy_file(Program, Folder.file("omtray.exe.bak1"));
  ASSERT_EQ(WaitForSingleObject(p, 60000), WAIT_OBJECT_0) << "the old instance did not end";
  // The new program runs from the same folder and removes the old copy.
  HWND w = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (w = FindFormOf(0)) != nullptr; }));
  DWORD newPid = 0;
  GetWindowThreadProcessId(w, &newPid);
  EXPECT_NE(newPid, pid);
  EXPECT_TRUE(WaitFor([&] { return !std::filesystem::exists(Folder.file("omtray.exe.bak1")); }));
  HANDLE np = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, newPid);
  ASSERT_NE(np, nullptr);
  Processes.emplace_back(np);
  HandOver(" -close");
  EXPECT_EQ(WaitForSingleObject(np, 60000), WAIT_OBJECT_0);
}

TEST_F(OmtrayProgram, ALaterStartHandsOverItsWordsOrClosesTheRunningOne) {
  DWORD pid = 0;
  HANDLE p = StartHidden(pid);
  ASSERT_NE(p, nullptr);
  // The second start finds the first (same folder) and hands it "monitor".
  EXPECT_EQ(RunToEnd("omtray.exe", "monitor"), 0u);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(FindFormOf(pid)) != FALSE; }));
  // A command tail too long for an atom arrives whole.
  SendMessageA(FindFormOf(pid), WM_CLOSE, 0, 0);
  ASSERT_FALSE(IsWindowVisible(FindFormOf(pid)));
  EXPECT_EQ(RunToEnd("omtray.exe", "monitor " + std::string(300, 'x')), 0u);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(FindFormOf(pid)) != FALSE; }));
  // "min" with an instance running: ends quietly, the window stays as it is.
  EXPECT_EQ(RunToEnd("omtray.exe", "-min"), 0u);
  EXPECT_EQ(WaitForSingleObject(p, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  // "-close" asks the running one to quit.
  EXPECT_EQ(RunToEnd("omtray.exe", "-close"), 0u);
  ASSERT_EQ(WaitForSingleObject(p, 60000), WAIT_OBJECT_0);
  // Nothing left to close: ends at once.
  EXPECT_EQ(RunToEnd("omtray.exe", "-close"), 0u);
}

TEST_F(OmtrayProgram, TheLoaderHandsItsCommandLineToTheRunningTray) {
  std::filesystem::copy_file(OM_LOADER_EXE, Folder.file("omloader.exe"));
  DWORD pid = 0;
  HANDLE p = StartHidden(pid);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(RunToEnd("omloader.exe", "monitor"), 0u);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(FindFormOf(pid)) != FALSE; }));
  // The words also open the console, without the tray's own arguments.
  ASSERT_TRUE(WaitFor([&] { return !ConsoleLaunches(Folder).empty(); }));
  const std::string cmd = ConsoleLaunches(Folder)[0];
  EXPECT_EQ(cmd.substr(cmd.find(kConsoleMainClass)), std::string(kConsoleMainClass) + " 0 monitor") << cmd;
  EXPECT_TRUE(WaitFor([&] { return !std::filesystem::exists(HandOverPath()); }));
  // The loader keeps handing "-close" over until the tray's window is gone.
  EXPECT_EQ(RunToEnd("omloader.exe", "-close"), 0u);
  ASSERT_EQ(WaitForSingleObject(p, 60000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(p, &code);
  EXPECT_EQ(code, 0u);
}

TEST_F(OmtrayProgram, StartsTheConsoleOfItsInstallation) {
  // Without "min" the whole command line goes through the command words,
  // which open the console with the program's own arguments.
  DWORD pid = 0;
  HANDLE p = Launch("nosuchword", &pid);
  ASSERT_NE(p, nullptr);
  ASSERT_TRUE(WaitFor([&] { return !ConsoleLaunches(Folder).empty(); })) << "no console started";
  const std::string cmd = ConsoleLaunches(Folder)[0];
  const std::string javaw = Folder.file(std::string(kConsoleBin) + "\\javaw.exe");
  EXPECT_EQ(cmd.rfind("\"" + javaw + "\" -Xmx", 0), 0u) << cmd;
  EXPECT_NE(cmd.find(" -classpath \"" + Folder.path() + "\\lib\\*\""), std::string::npos) << cmd;
  const std::string tail = std::string(kConsoleMainClass) + " 0 nosuchword";
  EXPECT_EQ(cmd.substr(cmd.size() - std::min(cmd.size(), tail.size())), tail);
  // The folder's name is not taken for a command word: no status window.
  ASSERT_TRUE(WaitFor([&] { return FindFormOf(pid) != nullptr; }));
  EXPECT_FALSE(IsWindowVisible(FindFormOf(pid)));
  HandOver(" -close");
  EXPECT_EQ(WaitForSingleObject(p, 60000), WAIT_OBJECT_0);
}

TEST_F(OmtrayProgram, AHandOverOlderThanTheTrayIsNotActedOn) {
  // A close that a loader left behind, an hour before this tray starts.
  HandOver(" -close");
  {
    UniqueFile f(CreateFileA(HandOverPath().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             0, nullptr));
    ASSERT_TRUE(f);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart -= 3600ULL * 10000000ULL;
    FILETIME old{t.LowPart, t.HighPart};
    EXPECT_TRUE(SetFileTime(f.get(), nullptr, nullptr, &old));
  }
  DWORD pid = 0;
  HANDLE p = StartHidden(pid);
  ASSERT_NE(p, nullptr);
  // Removed unread; the tray goes on and takes the words handed over later.
  ASSERT_TRUE(WaitFor([&] { return !std::filesystem::exists(HandOverPath()); }));
  HandOver(" monitor");
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(FindFormOf(pid)) != FALSE; }));
  EXPECT_EQ(WaitForSingleObject(p, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  HandOver(" -close");
  EXPECT_EQ(WaitForSingleObject(p, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
}

// The form asks the agent itself when the connection comes up (menu
// permission, profiling, notification switches, client version).
TEST_F(OmtrayProgram, TheWindowAnswersWhileASlowAgentReplies) {
  Agent("permission 0");
  Agent("delay 4500");  // every reply just within the time-out
  ExpectAnsweringWhileTheFormWaits(2);
}

TEST_F(OmtrayProgram, TheWindowAnswersWhileAReplyTricklesWithoutEnd) {
  Agent("permission 0");
  Agent("stream 66 2000");
  Agent("stream 34 2000");
  ExpectAnsweringWhileTheFormWaits(2);
}

TEST_F(OmtrayProgram, TheWindowAnswersWhileAnAgentSendsNoiseWithoutATerminator) {
  Agent("permission 0");
  Agent("garbage 66 200");
  Agent("garbage 34 200");
  ExpectAnsweringWhileTheFormWaits(2);
}

namespace {

BOOL CALLBACK CountTaskbarButton(HWND w, LPARAM lp) {
  char cls[16] = {};
  GetClassNameA(w, cls, sizeof cls);
  if (std::string(cls) == "Button" && IsWindowVisible(w)) ++*reinterpret_cast<int*>(lp);
  return TRUE;
}

// Buttons the desktop shell's taskbar shows.
int TaskbarButtons() {
  int n = 0;
  EnumChildWindows(FindWindowA("Shell_TrayWnd", nullptr), CountTaskbarButton, reinterpret_cast<LPARAM>(&n));
  return n;
}

HWND VisibleWindowOf(DWORD pid, const char* className) { return FindWindowOf(pid, className, true); }

}  // namespace

TEST_F(OmtrayProgram, TheSplashShowsNoTaskbarButton) {
  DWORD pid = 0;
  HANDLE p = Launch("-min", &pid);
  ASSERT_NE(p, nullptr);
  ASSERT_TRUE(WaitFor([&] { return VisibleWindowOf(pid, "TForm") != nullptr; })) << "no splash";
  EXPECT_EQ(VisibleWindowOf(pid, "TApplication"), nullptr);
  const int duringSplash = TaskbarButtons();
  ASSERT_TRUE(WaitFor([&] { return VisibleWindowOf(pid, "TForm") == nullptr; }));
  EXPECT_EQ(duringSplash, TaskbarButtons());
  HandOver(" -close");
  EXPECT_EQ(WaitForSingleObject(p, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST_F(OmtrayProgram, LoadersStartedTogetherEachHaveTheirBackupSent) {
  std::filesystem::copy_file(OM_LOADER_EXE, Folder.file("omloader.exe"));
  DWORD pid = 0;
  HANDLE p = StartHidden(pid);
  ASSERT_NE(p, nullptr);
  // The form knows the agent is idle once it asked for the menu permission.
  ASSERT_TRUE(WaitFor([&] { return PermissionQueries() >= 1; }));
  std::vector<std::unique_ptr<TProcess>> loaders;
  for (int i = 0; i < 10; ++i)
    loaders.push_back(std::make_unique<TProcess>(Folder.file("omloader.exe"), " monitor backupnow silent"));
  for (auto& loader : loaders) EXPECT_EQ(loader->Wait(90000), 0);
  EXPECT_TRUE(WaitFor([&] { return Requests("01") >= 10; }));
  Sleep(1500);
  EXPECT_EQ(Requests("01"), 10);
  HandOver(" -close");
  EXPECT_EQ(WaitForSingleObject(p, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
}

namespace {

long long MillisecondsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

TEST_F(OmtrayProgram, ALoadersCloseEndsTheTrayInItsWaitWithABackupStillPending) {
  std::filesystem::copy_file(OM_LOADER_EXE, Folder.file("omloader.exe"));
  DWORD pid = 0;
  HANDLE p = StartHidden(pid);
  ASSERT_NE(p, nullptr);
  // The agent is known to be idle, and the state thread has its connection.
  ASSERT_TRUE(WaitFor([&] { return PermissionQueries() >= 1 && PollConnections() >= 1; }));
  // New connections get their greeting slowly and then no answer: the backup
  // asked for now is still waiting for the agent when the close comes.
  Agent("trickle 200");
  Agent("ack none");
  EXPECT_EQ(RunToEnd("omloader.exe", "backupnow silent"), 0u);
  EXPECT_EQ(RunToEnd("omloader.exe", "-close"), 0u);
  EXPECT_EQ(WaitForSingleObject(p, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST_F(OmtrayProgram, MenusHandOversAndCloseAreServedWhileASlowAgentReplies) {
  std::filesystem::copy_file(OM_LOADER_EXE, Folder.file("omloader.exe"));
  Agent("permission 0");
  Agent("delay 4500");  // every reply just within the time-out
  DWORD pid = 0;
  HANDLE p = StartHidden(pid);
  ASSERT_NE(p, nullptr);
  const HWND w = FindFormOf(pid);
  // The connection came up: the form asks for the menu permission and waits.
  ASSERT_TRUE(WaitFor([&] { return PermissionQueries() >= 1; }, 60000));
  // The window's menu opens meanwhile...
  auto asked = std::chrono::steady_clock::now();
  PostMessageA(w, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(w), MAKELPARAM(-1, -1));
  ASSERT_TRUE(WaitFor([&] { return FindWindowOf(pid, "#32768", true) != nullptr; }));
  EXPECT_LT(MillisecondsSince(asked), 3500);
  PostMessageA(w, WM_CANCELMODE, 0, 0);
  EXPECT_TRUE(WaitFor([&] { return FindWindowOf(pid, "#32768", true) == nullptr; }));
  // ... a hand-over shows the window at the next tick...
  asked = std::chrono::steady_clock::now();
  HandOver(" monitor");
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(w) != FALSE; }));
  EXPECT_LT(MillisecondsSince(asked), 4000);
  // ... and the loader's close ends it within the loader's wait (it says so
  // only when the window went in time).
  EXPECT_EQ(RunToEnd("omloader.exe", "-close"), 0u);
  EXPECT_EQ(WaitForSingleObject(p, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
  // One question for the one time the connection came up.
  EXPECT_EQ(PermissionQueries(), 1);
}
