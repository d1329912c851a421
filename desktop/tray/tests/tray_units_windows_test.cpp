// Single instance and control messages between processes, the logon task
// through Wine's schtasks.exe, and the console launch with a fake
// installation (stand-in javaw) - all under Wine.
#include <gtest/gtest.h>

#include <memory>

#include "framework/strutils.h"
#include "platform/win32_owners.h"
#include "process_harness.h"
#include "tray/console_launch.h"
#include "tray/logon_task.h"
#include "tray/resources.h"
#include "tray/startup_switches.h"
#include "tray/tray_platform.h"

using namespace om;
using namespace om::testing;

namespace {

const std::string kHost = WinePath(OM_HOST_EXE);

struct THostDouble : TTrayHost {
  std::vector<std::string> Calls;
  void QuitProgram() override { Calls.push_back("quit"); }
  void TerminateApplication() override { Calls.push_back("terminate"); }
  bool HandleCommandWords(const std::string& text) override {
    Calls.push_back("words[" + text + "]");
    if (text == "boom") throw Exception("bad words");
    return true;
  }
  void LaunchJavaGui(const std::string& extra, bool noArguments) override {
    Calls.push_back("gui[" + extra + "]" + (noArguments ? "noargs" : "args"));
  }
  void ShowStatusError(const std::string& message) override { Calls.push_back("error[" + message + "]"); }
};

class SingleInstance : public ::testing::Test {
protected:
  void SetUp() override { Folder.Copy(kHost, "omtray.exe"); }
  void TearDown() override { SetProgramFileNameForTesting(""); }
  std::unique_ptr<TProcess> Start(TProcessFolder& folder, const std::string& args) {
    auto p = std::make_unique<TProcess>(folder.File("omtray.exe"), args);
    EXPECT_TRUE(p->Started);
    return p;
  }
  std::unique_ptr<TProcess> StartInstance(TProcessFolder& folder) {
    auto p = Start(folder, "");
    EXPECT_TRUE(folder.WaitForEvent("window"));
    return p;
  }
  TProcessFolder Folder;
};

}  // namespace

TEST_F(SingleInstance, SecondStartHandsItsTailToTheFirst) {
  auto first = StartInstance(Folder);
  EXPECT_EQ(Start(Folder, " monitor  x")->Wait(), 0);
  EXPECT_TRUE(Folder.WaitForEvent("words[ monitor  x]"));
  EXPECT_TRUE(Folder.WaitForEvent("gui[ monitor  x]noargs"));
  EXPECT_EQ(Folder.CountEvents("skip exit 0"), 1);
  EXPECT_EQ(Folder.CountEvents("window"), 1);
  // An error of the handler goes to the status label.
  EXPECT_EQ(Start(Folder, " fail")->Wait(), 0);
  EXPECT_TRUE(Folder.WaitForEvent("error[words failed]"));
  // "-min" sends nothing.
  EXPECT_EQ(Start(Folder, " -min")->Wait(), 0);
  EXPECT_EQ(Folder.CountEvents("skip exit 0"), 3);
  EXPECT_EQ(Folder.CountEvents("words["), 2);
}

TEST_F(SingleInstance, ATailTooLongForAnAtomArrivesWhole) {
  auto first = StartInstance(Folder);
  const std::string tail = " monitor " + std::string(300, 'x');
  EXPECT_EQ(Start(Folder, tail)->Wait(), 0);
  EXPECT_TRUE(Folder.WaitForEvent("words[" + tail + "]"));
  EXPECT_TRUE(Folder.WaitForEvent("gui[" + tail + "]noargs"));
}

TEST_F(SingleInstance, CloseEndsTheInstance) {
  auto first = StartInstance(Folder);
  EXPECT_EQ(Start(Folder, " /CLOSE")->Wait(), 0);
  EXPECT_EQ(first->Wait(), 0);
  EXPECT_GE(Folder.CountEvents("quit"), 1);
  // Without an instance "-close" ends at once.
  EXPECT_EQ(Start(Folder, " -close")->Wait(), 0);
  EXPECT_EQ(Folder.CountEvents("window"), 1);
}

TEST_F(SingleInstance, CloseThatIsIgnoredGivesUpWithExitCode1) {
  Folder.Write("host.cfg", "ignore");
  auto first = StartInstance(Folder);
  const DWORD start = GetTickCount();
  EXPECT_EQ(Start(Folder, " -close")->Wait(), 1);
  EXPECT_GE(GetTickCount() - start, 10000u);
  EXPECT_GE(Folder.CountEvents("ignored 18"), 2);
}

TEST_F(SingleInstance, UpgradeQuitsTheOldInstanceAndGoesOn) {
  auto first = StartInstance(Folder);
  auto second = Start(Folder, " -min -nosplash -upgrade");
  EXPECT_EQ(first->Wait(), 0);
  EXPECT_TRUE(Folder.WaitForEvent("window", "", 2));
}

TEST_F(SingleInstance, InstanceOfAnotherFolderIsNotFound) {
  TProcessFolder other("other");
  other.Copy(kHost, "omtray.exe");
  auto foreign = StartInstance(other);
  auto mine = Start(Folder, " monitor");
  EXPECT_TRUE(Folder.WaitForEvent("window"));
  EXPECT_EQ(other.CountEvents("words["), 0);
}

TEST_F(SingleInstance, WindowSearchAndCloseMessages) {
  auto first = StartInstance(Folder);
  SetProgramFileNameForTesting(Folder.File("omtray.exe"));
  HWND w = static_cast<HWND>(FindAppWindow(kTrayWindowClass, 0));
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(FindAppProcess(kTrayWindowClass), first->Id);
  EXPECT_TRUE(SameText(ProgramFolder(), Folder.Path()));
  EXPECT_TRUE(SameText(GetProcessImagePath(first->Id), Folder.File("omtray.exe")));
  SendMessageA(w, WM_CLOSE, 0, 0);
  EXPECT_TRUE(Folder.WaitForEvent("hide"));
  SendMessageA(w, WM_CLOSE, 0, 1);
  EXPECT_EQ(first->Wait(), 0);
  EXPECT_EQ(Folder.CountEvents("terminate"), 1);
  EXPECT_EQ(FindAppWindow(kTrayWindowClass, 0), nullptr);
}

TEST(ControlMessages, AtomTextQuitAndClose) {
  THostDouble host;
  ATOM atom = GlobalAddAtomA(" -show log");
  ASSERT_NE(atom, 0);
  HandleControlMessage(host, atom, kControlCommandText);
  EXPECT_EQ(GlobalFindAtomA(" -show log"), 0);  // deleted
  HandleControlMessage(host, 0, kControlCommandText);
  HandleControlMessage(host, 0x10000 | GlobalAddAtomA("boom"), kControlCommandText);  // low word is the atom
  HandleControlMessage(host, 123, 19);
  HandleControlMessage(host, kControlQuitWParam, kControlQuit);
  EXPECT_FALSE(HandleCloseMessage(host, 0));
  EXPECT_TRUE(HandleCloseMessage(host, 1));
  EXPECT_EQ(host.Calls, (std::vector<std::string>{"words[ -show log]", "gui[ -show log]noargs", "words[]",
                                                  "gui[]noargs", "words[boom]", "error[bad words]", "quit",
                                                  "terminate"}));
}

TEST(WindowSearch, ClassPrefixProcessIdAndFolder) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "Sun";
  RegisterClassA(&wc);
  HWND mine = CreateWindowExA(0, "Sun", "", 0, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(FindAppWindow("SunAwtFrame", 0), mine);  // this program's folder
  EXPECT_EQ(FindAppWindow("SunAwtFrameX", 0), mine);
  EXPECT_EQ(FindAppWindow("Su", 0), nullptr);
  SetProgramFileNameForTesting("C:\\elsewhere\\omtray.exe");
  EXPECT_EQ(FindAppWindow("SunAwtFrame", 0), nullptr);
  EXPECT_EQ(FindAppWindow("SunAwtFrame", GetCurrentProcessId()), mine);
  SetProgramFileNameForTesting("");
  DestroyWindow(mine);
  EXPECT_EQ(GetProcessImagePath(0x7FFFFFF0), "");
}

// ---- logon task ----

TEST(LogonTask, CreateRunAndRemoveThroughSchtasks) {
  TProcessFolder folder("task");
  folder.Copy(kHost, "omtray.exe");
  const std::string name = "Om Units Task " + std::to_string(GetCurrentProcessId());
  folder.Write("brand\\brand.properties", "brandLongName=" + name + "\r\n");
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  // A 32-bit test sees the 64-bit system folder as "Sysnative".
  std::string store = std::string(windows) + "\\Sysnative\\tasks\\";
  if (GetFileAttributesA(store.c_str()) == INVALID_FILE_ATTRIBUTES) store = std::string(windows) + "\\system32\\tasks\\";
  DeleteFileA((store + name).c_str());

  TProcess add(folder.File("omtray.exe"), " -AddScheduledTask");
  EXPECT_EQ(add.Wait(), 0);
  EXPECT_TRUE(folder.WaitForEvent("skip exit 0"));
  EXPECT_FALSE(folder.Exists(kTaskDefinitionFile));
  ASSERT_NE(GetFileAttributesA((store + name).c_str()), INVALID_FILE_ATTRIBUTES) << store + name;
  {
    // Wine's task service read the definition: its own copy carries our values.
    const UniqueFile f(
        CreateFileA((store + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string stored(8192, '\0');
    DWORD n = 0;
    ReadFile(f.get(), &stored[0], static_cast<DWORD>(stored.size()), &n, nullptr);
    stored.resize(n);
    std::string plain;
    for (char c : stored)
      if (c) plain += c;  // UTF-8 or UTF-16, whichever the service writes
    char user[256] = {};
    GetEnvironmentVariableA("USERNAME", user, sizeof user);
    EXPECT_NE(plain.find("<Date>2007-01-01T00:00:00</Date>"), std::string::npos) << plain;
    EXPECT_NE(plain.find(std::string("\\") + user + "</Author>"), std::string::npos) << plain;
    EXPECT_NE(plain.find("<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>"), std::string::npos);
  }

  // Wine's schtasks has no "/run": its failure becomes the exit code, after
  // the task was created for the given user.
  TProcess addRun(folder.File("omtray.exe"), " -AddScheduledTask bob -RunTask");
  long runCode = addRun.Wait();
  EXPECT_NE(runCode, -1);
  EXPECT_TRUE(folder.WaitForEvent("skip exit " + std::to_string(runCode)));
  EXPECT_FALSE(folder.Exists(kTaskDefinitionFile));

  TProcess remove(folder.File("omtray.exe"), " -RemoveScheduledTask anything \"" + name + "\"");
  EXPECT_EQ(remove.Wait(), 0);
  EXPECT_EQ(GetFileAttributesA((store + name).c_str()), INVALID_FILE_ATTRIBUTES);

  // A task that does not exist: schtasks' failure is the exit code.
  TProcess again(folder.File("omtray.exe"), " /removescheduledtask x \"" + name + "\"");
  EXPECT_NE(again.Wait(), 0);
}

// ---- console launch ----

namespace {

struct TConsoleDouble : TConsoleHost {
  std::vector<std::string> Calls;
  uint8_t State = 2;  // backing up: launches, no icon change, no service restart
  std::string Language;
  UniqueHandle Process;
  DWORD Pid = 0;
  ~TConsoleDouble() override {
    if (Process) TerminateProcess(Process.get(), 0);
  }
  uint32_t StartingPid = 0;
  uint32_t ConsoleProcessId() override {
    if (StartingPid) return StartingPid;
    return Process && WaitForSingleObject(Process.get(), 0) == WAIT_TIMEOUT ? Pid : 0;
  }
  void LaunchConsoleProcess(const std::string& commandLine, const std::string& folder) override {
    Calls.push_back("launch in " + folder);
    std::string cmd = commandLine;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi));
    UniqueHandle thread(pi.hThread);
    Process.reset(pi.hProcess);
    Pid = pi.dwProcessId;
  }
  uint8_t RefreshServiceState() override { return State; }
  void SetTrayIcons(int index) override { Calls.push_back("icons " + std::to_string(index)); }
  void BringFormToFront() override { Calls.push_back("front"); }
  void ShowMessage(const std::string& text) override { Calls.push_back("message[" + text + "]"); }
  void ShowWarning(const std::string& text) override { Calls.push_back("warning[" + text + "]"); }
  std::string BrandLongName() override { return "Brand"; }
  void SetApplicationTitle(const std::string& title) override { Calls.push_back("title[" + title + "]"); }
  std::string LanguageCode() override { return Language; }
  void SetLanguageCode(const std::string& code) override { Calls.push_back("language " + code); }
  void LoadTexts() override { Calls.push_back("texts"); }
  void ShowBalloon(const std::string& title, const std::string& text) override { Calls.push_back("balloon"); }
  void HideBalloons() override { Calls.push_back("hide balloons"); }
  void ProcessMessages() override {}
  void SetBusyCursor(bool busy) override { Calls.push_back(busy ? "busy" : "cursor"); }
  std::vector<std::string> ProgramArguments() override { return {"-min", "monitor"}; }
  bool Called(const std::string& what) const {
    for (const std::string& c : Calls)
      if (c == what) return true;
    return false;
  }
};

uint64_t TwoGigabytes() { return 2048ull * 1024 * 1024; }

class ConsoleLaunch : public ::testing::Test {
protected:
  void SetUp() override {
    Folder.Copy(kHost, "OmJre\\jre1.6\\bin\\javaw.exe");
    Folder.Copy(kHost, "OmJre\\jre1.8\\bin\\javaw.exe");
    Folder.Write("OmJre\\jre1.8\\lib\\ext\\readme.txt", "Java 8 layout");
    Folder.Write("OmJre\\jre1.9\\readme.txt", "no javaw");
    Folder.Write("lib\\omgui.jar", "jar");
    Folder.Write("ombackup.properties", "application.memory=2048\r\ngui.useddraw=false\r\n");
    Folder.Write("resource.properties",
                 "RUNNER_memory_adjusted_downwards=Heap %s cut to %s\r\n"
                 "RUNNER_Service_Not_Running=Agent down\r\n"
                 "RUNNER_JRE_not_installed=No runtime\r\n");
    SetProgramFileNameForTesting(Folder.File("omtray.exe"));
    LoadRunnerResources();
    SetPhysicalMemoryQuery(TwoGigabytes);
    Console.Language = GetLanguageCode();
  }
  void TearDown() override {
    Folder.Write("OmJre\\jre1.8\\bin\\stop", "");
    Folder.Write("OmJre\\jre1.6\\bin\\stop", "");
    SetPhysicalMemoryQuery(nullptr);
    SetProgramFileNameForTesting("");
    LoadRunnerResources();
  }
  TProcessFolder Folder{"console"};
  TConsoleDouble Console;
};

}  // namespace

TEST_F(ConsoleLaunch, StartsTheNewestRuntimeThenRaisesItsWindow) {
  std::string cmd;
  LaunchJavaGui(Console, cmd, "-show log", true);
  const std::string root = Folder.File("OmJre\\jre1.8\\");
  EXPECT_EQ(cmd, "\"" + root + "bin\\javaw.exe\" -Xmx1024m -Dsun.java2d.noddraw=true -Dsun.net.inetaddr.ttl=300"
                 " -classpath \"" + Folder.Path() + "\\lib\\*\" -Djava.ext.dirs=\"" + root +
                 "lib\\ext\" com.ombrel.agentconsole.boot.GuiMain 0 -show log");
  EXPECT_TRUE(Console.Called("warning[Heap 2048MB cut to 1024MB]"));
  EXPECT_TRUE(Console.Called("launch in " + Folder.Path()));
  EXPECT_EQ(Console.Calls.front(), "busy");
  EXPECT_EQ(Console.Calls.back(), "cursor");
  ASSERT_TRUE(Folder.WaitForEvent("windows", "OmJre\\jre1.8\\bin"));
  EXPECT_TRUE(Folder.WaitForEvent("console[" + cmd + "]", "OmJre\\jre1.8\\bin"));
  EXPECT_NE(FindGuiWindow(Console), nullptr);

  // Open already: brought forward, nothing started.
  Console.Calls.clear();
  LaunchJavaGui(Console, cmd, "", false);
  EXPECT_EQ(cmd, "");
  EXPECT_EQ(Console.Calls, (std::vector<std::string>{"busy", "cursor"}));
  EXPECT_EQ(Folder.CountEvents("start ", "OmJre\\jre1.8\\bin"), 1);
  EXPECT_EQ(Folder.CountEvents("start ", "OmJre\\jre1.6\\bin"), 0);
}

TEST_F(ConsoleLaunch, ALaterRuntimeGetsNoExtensionFolder) {
  // A runtime of Java 9 or later: lib\modules, no lib\ext.
  Folder.Copy(kHost, "OmJre\\jre11\\bin\\javaw.exe");
  Folder.Write("OmJre\\jre11\\lib\\modules", "image");
  std::string cmd;
  LaunchJavaGui(Console, cmd, "", true);
  EXPECT_EQ(cmd.rfind("\"" + Folder.File("OmJre\\jre11\\bin\\javaw.exe") + "\"", 0), 0u) << cmd;
  EXPECT_EQ(cmd.find("java.ext.dirs"), std::string::npos) << cmd;
  Folder.Write("OmJre\\jre11\\bin\\stop", "");
}

TEST_F(ConsoleLaunch, AConsoleStillStartingIsNotStartedAgain) {
  // This program started a console that shows no window yet.
  Console.StartingPid = GetCurrentProcessId();
  std::string cmd;
  LaunchJavaGui(Console, cmd, "", true);
  EXPECT_EQ(cmd, "");
  EXPECT_EQ(Console.Calls, (std::vector<std::string>{"busy", "cursor"}));
}

TEST_F(ConsoleLaunch, ProgramArgumentsAndLanguageChange) {
  Folder.Write("ombackup.properties", "gui.useddraw=TRUE\r\n");
  SetPhysicalMemoryQuery(nullptr);
  Console.Language = "zz";
  Console.State = 8;
  std::string cmd;
  LaunchJavaGui(Console, cmd, "", false);
  EXPECT_NE(cmd.find(" -Xmx"), std::string::npos);
  EXPECT_EQ(cmd.find("noddraw"), std::string::npos);
  EXPECT_EQ(cmd.substr(cmd.size() - 22), "GuiMain 0 -min monitor");
  EXPECT_TRUE(Console.Called("icons 0"));
  EXPECT_TRUE(Console.Called("texts"));
  EXPECT_TRUE(Console.Called("language " + GetLanguageCode()));
  EXPECT_TRUE(Console.Called("hide balloons"));  // no backup service here: nothing restarted
  EXPECT_TRUE(Console.Called("launch in " + Folder.Path()));
}

TEST_F(ConsoleLaunch, NothingStartsWithoutAgentRuntimeOrConsole) {
  std::string cmd;
  Console.State = 1;  // not reachable
  LaunchJavaGui(Console, cmd, "", true);
  EXPECT_EQ(Console.Calls, (std::vector<std::string>{"busy", "front", "message[Agent down]", "cursor"}));

  Console.State = 0;
  Console.Calls.clear();
  DeleteFileA(Folder.File("lib\\omgui.jar").c_str());
  LaunchJavaGui(Console, cmd, "", true);
  EXPECT_FALSE(cmd.empty());
  EXPECT_EQ(Console.Pid, 0u);
  EXPECT_FALSE(Console.Called("message[No runtime]"));

  Console.Calls.clear();
  Folder.Write("OmJre\\jre1.8\\bin\\stop", "");
  DeleteFileA(Folder.File("OmJre\\jre1.6\\bin\\javaw.exe").c_str());
  DeleteFileA(Folder.File("OmJre\\jre1.8\\bin\\javaw.exe").c_str());
  LaunchJavaGui(Console, cmd, "", true);
  EXPECT_TRUE(Console.Called("message[No runtime]"));
  EXPECT_TRUE(Console.Called("title[Brand]"));
  EXPECT_TRUE(Console.Called("title[]"));
  EXPECT_EQ(Console.Pid, 0u);
}

TEST_F(ConsoleLaunch, ConsoleOfAnotherInstallationIsNotTaken) {
  TProcessFolder other("otherinstall");
  other.Copy(kHost, "OmJre\\jre1.8\\bin\\javaw.exe");
  other.Write("ombackup.exe", "");
  Folder.Write("ombackup.exe", "");
  {
    TProcess foreign(other.File("OmJre\\jre1.8\\bin\\javaw.exe"), " x");
    ASSERT_TRUE(other.WaitForEvent("windows", "OmJre\\jre1.8\\bin"));
    EXPECT_EQ(FindGuiWindow(Console), nullptr);
    EXPECT_FALSE(IsGuiInForeground(Console));
    // One of this installation's runtime, not started by this program, is found
    // through its indicator window.
    TProcess own(Folder.File("OmJre\\jre1.6\\bin\\javaw.exe"), " y");
    ASSERT_TRUE(Folder.WaitForEvent("windows", "OmJre\\jre1.6\\bin"));
    HWND w = static_cast<HWND>(FindGuiWindow(Console));
    ASSERT_NE(w, nullptr);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    EXPECT_EQ(pid, own.Id);
  }
}
