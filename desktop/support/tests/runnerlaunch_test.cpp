#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32_owners.h"
#include "support/chartables.h"
#include "support/runnerlaunch.h"

namespace om {
namespace {

std::string systemFolder() {
  char path[MAX_PATH];
  UINT n = GetSystemDirectoryA(path, MAX_PATH);
  return std::string(path, n);
}

std::string windowsFolder() {
  char path[MAX_PATH];
  UINT n = GetWindowsDirectoryA(path, MAX_PATH);
  return std::string(path, n);
}

// Drains one pipe the way a reader does: a thread appends what it reads to the
// shared buffer until the pipe breaks, the caller splits the chunks into lines.
class PipeDrain {
public:
  explicit PipeDrain(HANDLE pipe) : FPipe(pipe) {
    FThread = std::thread([this] {
      char buffer[1024];
      for (;;) {
        DWORD n = 0;
        if (!ReadFile(FPipe.get(), buffer, sizeof buffer, &n, nullptr)) {
          if (GetLastError() == ERROR_BROKEN_PIPE) break;
          continue;
        }
        std::lock_guard<std::mutex> hold(FLock);
        FBuffer.Append(buffer, n);
      }
    });
  }
  // Waits for the end of the pipe and returns the lines.
  std::vector<std::string> Lines() {
    FThread.join();
    FPipe.reset();
    TDkLineAssembler a;
    a.OwnerData = false;
    std::string chunk;
    while (FBuffer.Take(chunk)) a.Split(chunk);
    a.Finish();
    std::vector<std::string> lines;
    for (const std::string& l : a.Lines())
      if (!l.empty()) lines.push_back(l);
    return lines;
  }

private:
  UniqueHandle FPipe;
  std::mutex FLock;
  TDkReadBuffer FBuffer;
  std::thread FThread;
};

DWORD waitAndClose(PROCESS_INFORMATION& pi) {
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.get(), 30000));
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  return code;
}

TDkLaunchRequest cmd(const std::string& arguments, TDkConsoleOptions options) {
  TDkLaunchRequest r;
  r.ApplicationName = "  " + systemFolder() + "\\cmd.exe ";
  r.CommandLine = "cmd.exe /q /c " + arguments;
  r.ConsoleOptions = options;
  r.CreationFlags = cpsFlag(cfNewConsole);
  r.StartupInfo.DefaultWindowState = false;
  r.StartupInfo.ShowWindow = swHide;
  return r;
}

TEST(ChildLaunch, OutputAndErrorOnSeparatePipes) {
  TDkRWEHandles parent;
  PROCESS_INFORMATION pi = StartChildProcess(
      cmd("echo out1&echo err1>&2&echo out2&exit 3",
          consoleOption(coRedirect) | consoleOption(coSeparateError)),
      parent);
  ASSERT_NE(nullptr, parent.Get(TDkRWEHandles::Read));
  ASSERT_NE(nullptr, parent.Get(TDkRWEHandles::Error));
  ASSERT_NE(nullptr, parent.Get(TDkRWEHandles::Write));
  PipeDrain out(parent.Take(TDkRWEHandles::Read));
  PipeDrain err(parent.Take(TDkRWEHandles::Error));
  EXPECT_EQ((std::vector<std::string>{"out1", "out2"}), out.Lines());
  EXPECT_EQ((std::vector<std::string>{"err1"}), err.Lines());
  EXPECT_EQ(3u, waitAndClose(pi));
}

TEST(ChildLaunch, ErrorSharesTheOutputPipeByDefault) {
  TDkRWEHandles parent;
  PROCESS_INFORMATION pi = StartChildProcess(cmd("echo out1&echo err1>&2", consoleOption(coRedirect)), parent);
  EXPECT_EQ(nullptr, parent.Get(TDkRWEHandles::Error));
  PipeDrain out(parent.Take(TDkRWEHandles::Read));
  EXPECT_EQ((std::vector<std::string>{"out1", "err1"}), out.Lines());
  waitAndClose(pi);
}

TEST(ChildLaunch, InputPipeFeedsTheChild) {
  TDkRWEHandles parent;
  TDkLaunchRequest r = cmd("", consoleOption(coRedirect));
  r.CommandLine = "cmd.exe /q";
  PROCESS_INFORMATION pi = StartChildProcess(r, parent);
  PipeDrain out(parent.Take(TDkRWEHandles::Read));
  UniqueHandle input(parent.Take(TDkRWEHandles::Write));
  const char script[] = "echo piped through\r\nexit 0\r\n";
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(input.get(), script, sizeof script - 1, &written, nullptr));
  input.reset();
  bool seen = false;
  for (const std::string& line : out.Lines())
    if (line.find("piped through") != std::string::npos && line.find("echo") == std::string::npos) seen = true;
  EXPECT_TRUE(seen);
  waitAndClose(pi);
}

TEST(ChildLaunch, EnvironmentDirectoryAndPriority) {
  TDkRWEHandles parent;
  TDkLaunchRequest r = cmd("echo [%OM_RUNNER%]&cd", consoleOption(coRedirect));
  r.Environment = {"OM_RUNNER=from the block", "SystemRoot=" + windowsFolder()};
  r.CurrentDirectory = "  " + windowsFolder() + "  ";
  r.Priority = ppIdle;
  r.CreationFlags |= cpsFlag(cfSuspended);
  PROCESS_INFORMATION pi = StartChildProcess(r, parent);
  // (Wine reports every process as of normal priority, so the class is not checked here.)
  PipeDrain out(parent.Take(TDkRWEHandles::Read));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(pi.hProcess, 200));  // still suspended
  EXPECT_EQ(1u, ResumeThread(pi.hThread));
  std::vector<std::string> lines = out.Lines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("[from the block]", lines[0]);
  EXPECT_EQ(0, lstrcmpiA(windowsFolder().c_str(), lines[1].c_str())) << lines[1];
  waitAndClose(pi);
}

TEST(ChildLaunch, EmptyEnvironmentLineRefusedBeforeAnythingStarts) {
  TDkRWEHandles parent;
  TDkLaunchRequest r = cmd("echo never", consoleOption(coRedirect));
  r.Environment = {"A=1", "", "B=2"};
  try {
    StartChildProcess(r, parent);
    FAIL() << "no exception";
  } catch (const EDsError& e) {
    EXPECT_STREQ("String list passed to StringsToMultiSz cannot contain empty strings.", e.what());
  }
  EXPECT_EQ(nullptr, parent.Get(TDkRWEHandles::Read));
  EXPECT_EQ(nullptr, parent.Get(TDkRWEHandles::Write));
}

TEST(ChildLaunch, FailedStartRaisesTheSystemError) {
  TDkRWEHandles parent;
  TDkLaunchRequest r;
  r.ApplicationName = "C:\\om-no-such-folder\\no-such-program.exe";
  r.CommandLine = "no-such-program.exe";
  try {
    StartChildProcess(r, parent);
    FAIL() << "no exception";
  } catch (const EDkProcessError& e) {
    EXPECT_TRUE(e.ErrorCode() == ERROR_PATH_NOT_FOUND || e.ErrorCode() == ERROR_FILE_NOT_FOUND) << e.ErrorCode();
    EXPECT_FALSE(e.Message().empty());
  }
}

TEST(ChildLaunch, HandleSlots) {
  HANDLE a = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE b = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD info;
  {
    TDkRWEHandles h;
    h.Set(TDkRWEHandles::Error, a);
    h.Set(TDkRWEHandles::Error, a);  // the same handle stays open
    EXPECT_TRUE(GetHandleInformation(a, &info));
    h.Set(TDkRWEHandles::Error, b);  // another one closes the old
    EXPECT_FALSE(GetHandleInformation(a, &info));
    EXPECT_EQ(b, h.Take(TDkRWEHandles::Error));
    EXPECT_EQ(nullptr, h.Get(TDkRWEHandles::Error));
    h.Set(TDkRWEHandles::Read, b);
  }
  EXPECT_FALSE(GetHandleInformation(b, &info));  // closed with the set
}

}  // namespace
}  // namespace om
