// omtray.exe as a program: started from a folder of its own against the Java
// test agent, it polls the agent, takes command texts from later starts and
// from omloader (the atom message and the hand-over file), starts the Java
// console of its installation, ends on "-close", and replaces itself when an
// installer leaves a copy of the old program file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "agent_control.h"
#include "platform/win32.h"
#include "test_folder.h"
#include "tray/routines.h"
#include "tray/status_display.h"
#include "tray/tray_seams.h"
#include "tray_fixture.h"

using namespace om;
using namespace om::testing;

namespace {

const std::string kMonitorHex = TAgentControl::HexOf("MONITOR\r\n");

struct TFind {
  DWORD Pid;
  HWND Found;
};

BOOL CALLBACK FindFormProc(HWND w, LPARAM lp) {
  auto* f = reinterpret_cast<TFind*>(lp);
  char cls[64] = {};
  GetClassNameA(w, cls, sizeof cls);
  DWORD p = 0;
  GetWindowThreadProcessId(w, &p);
  if (std::string(cls) == "TfrmServiceStatus" && (f->Pid == 0 || p == f->Pid)) {
    f->Found = w;
    return FALSE;
  }
  return TRUE;
}

HWND FindFormOf(DWORD pid) {
  TFind f{pid, nullptr};
  EnumWindows(&FindFormProc, reinterpret_cast<LPARAM>(&f));
  return f.Found;
}

template <class F>
bool WaitFor(F f, int ms = 20000) {
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
    Program = Folder.File("omtray.exe");
    std::filesystem::copy_file(OM_OMTRAY_EXE, Program);
  }
  void TearDown() override {
    for (HANDLE p : Processes) {
      if (WaitForSingleObject(p, 0) == WAIT_TIMEOUT) TerminateProcess(p, 9);
      CloseHandle(p);
    }
  }

  HANDLE Launch(const std::string& args, DWORD* pid) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string line = "\"" + Program + "\" " + args;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, Folder.Path().c_str(), &si, &pi))
      return nullptr;
    CloseHandle(pi.hThread);
    Processes.push_back(pi.hProcess);
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
    std::string line = "\"" + Folder.File(exe) + "\" " + args;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, Folder.Path().c_str(), &si, &pi))
      return 99;
    CloseHandle(pi.hThread);
    DWORD code = 98;
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    else TerminateProcess(pi.hProcess, 97);
    CloseHandle(pi.hProcess);
    return code;
  }

  // Connections that carry the state thread's polls.
  int PollConnections() {
    int n = 0;
    for (auto& c : Agent.Recorded())
      if (c.rfind(kMonitorHex + "1907", 0) == 0) ++n;
    return n;
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
  TTempFolder Folder;
  std::string Program;
  std::vector<HANDLE> Processes;
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
  ASSERT_EQ(WaitForSingleObject(p, 15000), WAIT_OBJECT_0);
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
  std::filesystem::copy_file(Program, Folder.File("omtray.exe.bak1"));
  ASSERT_EQ(WaitForSingleObject(p, 20000), WAIT_OBJECT_0) << "the old instance did not end";
  // The new program runs from the same folder and removes the old copy.
  HWND w = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (w = FindFormOf(0)) != nullptr; }));
  DWORD newPid = 0;
  GetWindowThreadProcessId(w, &newPid);
  EXPECT_NE(newPid, pid);
  EXPECT_TRUE(WaitFor([&] { return !std::filesystem::exists(Folder.File("omtray.exe.bak1")); }));
  HANDLE np = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, newPid);
  ASSERT_NE(np, nullptr);
  Processes.push_back(np);
  HandOver(" -close");
  EXPECT_EQ(WaitForSingleObject(np, 15000), WAIT_OBJECT_0);
}

TEST_F(OmtrayProgram, ALaterStartHandsOverItsWordsOrClosesTheRunningOne) {
  DWORD pid = 0;
  HANDLE p = StartHidden(pid);
  ASSERT_NE(p, nullptr);
  // The second start finds the first (same folder) and hands it "monitor".
  EXPECT_EQ(RunToEnd("omtray.exe", "monitor"), 0u);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(FindFormOf(pid)) != FALSE; }));
  // "min" with an instance running: ends quietly, the window stays as it is.
  EXPECT_EQ(RunToEnd("omtray.exe", "-min"), 0u);
  EXPECT_EQ(WaitForSingleObject(p, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  // "-close" asks the running one to quit.
  EXPECT_EQ(RunToEnd("omtray.exe", "-close"), 0u);
  ASSERT_EQ(WaitForSingleObject(p, 15000), WAIT_OBJECT_0);
  // Nothing left to close: ends at once.
  EXPECT_EQ(RunToEnd("omtray.exe", "-close"), 0u);
}

TEST_F(OmtrayProgram, TheLoaderHandsItsCommandLineToTheRunningTray) {
  std::filesystem::copy_file(OM_LOADER_EXE, Folder.File("omloader.exe"));
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
  ASSERT_EQ(WaitForSingleObject(p, 15000), WAIT_OBJECT_0);
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
  const std::string javaw = Folder.File(std::string(kConsoleBin) + "\\javaw.exe");
  EXPECT_EQ(cmd.rfind("\"" + javaw + "\" -Xmx", 0), 0u) << cmd;
  EXPECT_NE(cmd.find(" -classpath \"" + Folder.Path() + "\\lib\\*\""), std::string::npos) << cmd;
  const std::string tail = std::string(kConsoleMainClass) + " 0 nosuchword";
  EXPECT_EQ(cmd.substr(cmd.size() - std::min(cmd.size(), tail.size())), tail);
  HandOver(" -close");
  EXPECT_EQ(WaitForSingleObject(p, 15000), WAIT_OBJECT_0);
}
