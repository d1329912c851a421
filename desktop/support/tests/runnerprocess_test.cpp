#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "framework/forms.h"
#include "framework/thread.h"
#include "platform/testing/temp_folder.h"
#include "platform/win32_owners.h"
#include "support/chartables.h"
#include "support/runnerprocess.h"


namespace om {
namespace {

std::string cmdPath() {
  char path[MAX_PATH];
  UINT n = GetSystemDirectoryA(path, MAX_PATH);
  return std::string(path, n) + "\\cmd.exe";
}

// Launches cmd.exe with that command line and creation flags.
void launchCmd(TDkCreateProcess& p, const std::string& commandLine, TDkCPSFlags flags) {
  p.ApplicationName = cmdPath();
  p.CommandLine = commandLine;
  p.CreationFlags = flags;
  p.LaunchProcess();
}

// Serves what is queued for this thread now, and nothing else.
void dispatchQueued() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

// Repeats step() until done() holds; false when the limit passed first.
template <class Pred, class Step>
bool repeatUntil(Pred done, DWORD limitMs, Step step) {
  const ULONGLONG end = GetTickCount64() + limitMs;
  while (!done()) {
    if (GetTickCount64() > end) return false;
    step();
  }
  return true;
}

// Runs the message loop (and the calls threads synchronise onto this
// thread) until done() holds (or a generous safety limit).
template <class Pred>
bool pumpUntil(Pred done, DWORD limitMs = 30000) {
  return repeatUntil(done, limitMs, [] {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    dispatchQueued();
    CheckSynchronize();  // the threads' termination handlers
  });
}

// Lets queued messages run for a while (for checks that something does not happen).
void pumpFor(DWORD ms) {
  pumpUntil([] { return false; }, ms);
}

// Runs only the calls threads synchronise onto this thread (their end
// handlers, which post the runner's messages) until done() holds; posted
// messages stay queued.
template <class Pred>
bool synchronizeUntil(Pred done, DWORD limitMs = 30000) {
  return repeatUntil(done, limitMs, [] {
    CheckSynchronize();
    Sleep(1);
  });
}

struct Events {
  int terminations = 0;
  uint32_t exitCode = 0;
  std::vector<std::pair<std::string, bool>> out, err;
  std::string raw;
  // What the readers had delivered when the end was reported.
  size_t outAtEnd = 0, errAtEnd = 0;

  explicit Events(TDkCreateProcess& p) {
    p.OnTerminate = [this, &p](TObject* sender, uint32_t code) {
      EXPECT_EQ(&p, sender);
      ++terminations;
      exitCode = code;
      outAtEnd = out.size();
      errAtEnd = err.size();
    };
    p.SetOnRead([this](TObject*, const std::string& s, bool n) { out.emplace_back(s, n); });
    p.SetOnErrorRead([this](TObject*, const std::string& s, bool n) { err.emplace_back(s, n); });
    p.SetOnRawRead([this](TObject*, const std::string& s) { raw += s; });
  }
};

std::vector<std::string> nonEmpty(const std::vector<std::pair<std::string, bool>>& lines) {
  std::vector<std::string> out;
  for (size_t i = 0; i < lines.size(); ++i) {
    // A line reported several times as it grows counts once, in its last form.
    if (i + 1 < lines.size() && !lines[i + 1].second) continue;
    if (!lines[i].first.empty()) out.push_back(lines[i].first);
  }
  return out;
}

TEST(ProcessRunner, Defaults) {
  TDkCreateProcess p;
  EXPECT_TRUE(p.WaitForTerminate());
  EXPECT_EQ(TDkCreateProcess::stIdle, p.State());
  EXPECT_EQ(ppNormal, p.Priority);
  EXPECT_EQ(consoleOption(coOwnerData), p.ConsoleOptions);
  EXPECT_TRUE(p.StartupInfo.DefaultPosition);
  EXPECT_TRUE(p.StartupInfo.DefaultSize);
  EXPECT_TRUE(p.StartupInfo.DefaultWindowState);
  EXPECT_EQ(swNormal, p.StartupInfo.ShowWindow);
  p.DetachFromProcess();  // idle: nothing happens
  EXPECT_EQ(TDkCreateProcess::stIdle, p.State());
}

TEST(ProcessRunner, OwnedByAComponent) {
  auto* owner = new TComponent(nullptr);
  auto* p = new TDkCreateProcess(owner);
  EXPECT_EQ(owner, p->Owner());
  EXPECT_EQ(1, owner->ComponentCount());
  delete owner;  // takes the runner with it
}

// Takes the application's exceptions while it lives.
struct ExceptionSink {
  ExceptionSink() { Application()->OnException = MakeMethod<&ExceptionSink::Handle>(this); }
  ~ExceptionSink() { Application()->OnException = nullptr; }
  int calls = 0;
  TObject* sender = nullptr;
  std::string message;
  uint32_t code = 0;
  void Handle(TObject* s, const std::exception& e) {
    ++calls;
    sender = s;
    message = e.what();
    if (auto* os = dynamic_cast<const EOSError*>(&e)) code = os->ErrorCode();
  }
};

TEST(ProcessRunner, ExceptionsOfItsEventsGoToTheApplication) {
  ExceptionSink sink;
  TDkCreateProcess p;
  int terminations = 0;
  p.OnTerminate = [&](TObject*, uint32_t) {
    ++terminations;
    throw EConvertError("raised by the end event");
  };
  launchCmd(p, "cmd.exe /q /c exit 1", cpsFlag(cfNewConsole));
  ASSERT_TRUE(pumpUntil([&] { return sink.calls > 0; }));
  EXPECT_EQ(1, terminations);
  EXPECT_EQ(&p, sink.sender);
  EXPECT_EQ("raised by the end event", sink.message);
  EXPECT_EQ(TDkCreateProcess::stIdle, p.State());
  // The runner is still usable afterwards.
  p.OnTerminate = [&](TObject*, uint32_t) { ++terminations; };
  p.LaunchProcess();
  ASSERT_TRUE(pumpUntil([&] { return terminations > 1; }));
}

TEST(ProcessRunner, RedirectedWithSeparateErrorEndsAfterAllThree) {
  TDkCreateProcess p;
  Events e(p);
  p.ConsoleOptions = consoleOption(coOwnerData) | consoleOption(coRedirect) | consoleOption(coSeparateError);
  p.StartupInfo.DefaultWindowState = false;
  p.StartupInfo.ShowWindow = swHide;
  launchCmd(p, "cmd.exe /q /c echo out1&echo err1>&2&echo out2&exit 7", cpsFlag(cfNewConsole));
  EXPECT_EQ(TDkCreateProcess::stWaiting, p.State());
  EXPECT_NE(0u, p.ProcessInformation().dwProcessId);
  // A second launch while this one is waited for is refused.
  try {
    p.LaunchProcess();
    FAIL() << "no exception";
  } catch (const EDkRunnerException& ex) {
    EXPECT_STREQ("Cannot perform this operation when process is running", ex.what());
  }
  EXPECT_THROW(p.SetWaitForTerminate(false), EDkRunnerException);
  EXPECT_THROW(p.SetWaitForTerminate(false), EDkException);  // the components' common base
  EXPECT_TRUE(p.WaitForTerminate());
  ASSERT_TRUE(pumpUntil([&] { return e.terminations > 0; }));
  EXPECT_EQ(1, e.terminations);
  EXPECT_EQ(7u, e.exitCode);
  EXPECT_EQ(TDkCreateProcess::stIdle, p.State());
  EXPECT_EQ(nullptr, p.ProcessInformation().hProcess);
  // Both readers were done before the end was reported.
  EXPECT_EQ(e.out.size(), e.outAtEnd);
  EXPECT_EQ(e.err.size(), e.errAtEnd);
  EXPECT_EQ((std::vector<std::string>{"out1", "out2"}), nonEmpty(e.out));
  EXPECT_EQ((std::vector<std::string>{"err1"}), nonEmpty(e.err));
  EXPECT_EQ("out1\r\nout2\r\n", e.raw);
  EXPECT_TRUE(p.OutputReader().Lines().empty());  // coOwnerData: no list kept
  pumpFor(200);
  EXPECT_EQ(1, e.terminations);
}

TEST(ProcessRunner, ReadersKeepLinesWithoutOwnerData) {
  TDkCreateProcess p;
  Events e(p);
  p.ConsoleOptions = consoleOption(coRedirect);
  launchCmd(p, "cmd.exe /q /c echo one&echo two>&2&echo three", 0);
  ASSERT_TRUE(pumpUntil([&] { return e.terminations > 0; }));
  std::vector<std::string> lines;
  for (const std::string& l : p.OutputReader().Lines())
    if (!l.empty()) lines.push_back(l);
  EXPECT_EQ((std::vector<std::string>{"one", "two", "three"}), lines);
  EXPECT_TRUE(e.err.empty());
  EXPECT_EQ(0u, e.exitCode);
}

TEST(ProcessRunner, WaitsWithoutRedirection) {
  TDkCreateProcess p;
  Events e(p);
  launchCmd(p, "cmd.exe /q /c exit 42", cpsFlag(cfNewConsole));
  EXPECT_EQ(TDkCreateProcess::stWaiting, p.State());
  ASSERT_TRUE(pumpUntil([&] { return e.terminations > 0; }));
  EXPECT_EQ(42u, e.exitCode);
  EXPECT_EQ(42u, p.LastExitCode());
  // A new launch after the end is fine.
  p.CommandLine = "cmd.exe /q /c exit 5";
  p.LaunchProcess();
  ASSERT_TRUE(pumpUntil([&] { return e.terminations > 1; }));
  EXPECT_EQ(5u, e.exitCode);
}

TEST(ProcessRunner, WithoutWaitingReturnsStartedAndReportsNothing) {
  TDkCreateProcess p;
  Events e(p);
  p.SetWaitForTerminate(false);
  launchCmd(p, "cmd.exe /q /c exit 3", cpsFlag(cfNewConsole));
  EXPECT_EQ(TDkCreateProcess::stStarted, p.State());
  EXPECT_EQ(nullptr, p.ProcessInformation().hProcess);
  EXPECT_EQ(nullptr, p.ProcessInformation().hThread);
  const DWORD pid = p.ProcessInformation().dwProcessId;
  EXPECT_NE(0u, pid);
  if (UniqueHandle child{OpenProcess(SYNCHRONIZE, FALSE, pid)}) WaitForSingleObject(child.get(), 30000);
  pumpFor(200);
  EXPECT_EQ(0, e.terminations);
  p.DetachFromProcess();  // started: nothing happens
  EXPECT_EQ(TDkCreateProcess::stStarted, p.State());
  // From started a new launch is allowed.
  p.LaunchProcess();
  EXPECT_EQ(TDkCreateProcess::stStarted, p.State());
}

TEST(ProcessRunner, DetachStopsWaitingWithoutTouchingTheChild) {
  TDkCreateProcess p;
  Events e(p);
  // The child waits on its input, which the runner's console thread holds.
  p.ConsoleOptions = consoleOption(coRedirect);
  launchCmd(p, "cmd.exe /q", 0);
  const DWORD pid = p.ProcessInformation().dwProcessId;
  UniqueHandle child(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
  ASSERT_TRUE(child);
  p.DetachFromProcess();
  EXPECT_EQ(TDkCreateProcess::stIdle, p.State());
  EXPECT_EQ(nullptr, p.ProcessInformation().hProcess);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(child.get(), 0));  // still running
  // The upgrade path: a new command line, no waiting, launched again.
  p.SetWaitForTerminate(false);
  p.CommandLine = "cmd.exe /q /c exit 0";
  p.ConsoleOptions = consoleOption(coOwnerData);
  p.LaunchProcess();
  EXPECT_EQ(TDkCreateProcess::stStarted, p.State());
  TerminateProcess(child.get(), 0);
  WaitForSingleObject(child.get(), 30000);
  pumpFor(300);
  EXPECT_EQ(0, e.terminations);
}

TEST(ProcessRunner, EmptyEnvironmentLineRaisesBeforeAnythingStarts) {
  TDkCreateProcess p;
  p.ApplicationName = cmdPath();
  p.CommandLine = "cmd.exe /q /c exit 0";
  p.Environment = {"A=1", ""};
  EXPECT_THROW(p.LaunchProcess(), EDsError);
  EXPECT_EQ(TDkCreateProcess::stIdle, p.State());
  EXPECT_EQ(0u, p.ProcessInformation().dwProcessId);
}

TEST(ProcessRunner, FailedStartRaisesAndStaysIdle) {
  TDkCreateProcess p;
  p.ApplicationName = "C:\\om-no-such-folder\\x.exe";
  p.CommandLine = "x.exe";
  try {
    p.LaunchProcess();
    FAIL() << "no exception";
  } catch (const EDkProcessError& e) {
    const EOSError& os = e;  // a system error like any other
    EXPECT_TRUE(os.ErrorCode() == ERROR_PATH_NOT_FOUND || os.ErrorCode() == ERROR_FILE_NOT_FOUND) << os.ErrorCode();
    EXPECT_FALSE(os.Message().empty());
  }
  EXPECT_EQ(TDkCreateProcess::stIdle, p.State());
}

TEST(ProcessRunner, DestroyedWhileWaitingLeavesTheChildRunning) {
  DWORD pid = 0;
  {
    TDkCreateProcess p;
    Events e(p);
    p.ConsoleOptions = consoleOption(coRedirect) | consoleOption(coSeparateError);
    launchCmd(p, "cmd.exe /q", 0);
    pid = p.ProcessInformation().dwProcessId;
  }
  UniqueHandle child(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
  ASSERT_TRUE(child);
  // Its input pipe went with the runner, so the child ends on its own.
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.get(), 30000));
  pumpFor(200);  // late posts of the runner's threads find no window
}

TEST(ProcessRunner, EndOfAnEarlierRunIsNotTakenForTheNextOne) {
  TDkCreateProcess p;
  Events e(p);
  launchCmd(p, "cmd.exe /q /c exit 7", cpsFlag(cfNewConsole));
  // The first child ends; its waiting thread's end handler runs and posts the
  // run's end, but the runner detaches before that message is served.
  ASSERT_TRUE(synchronizeUntil([&] { return p.LastExitCode() == 7; }));
  p.DetachFromProcess();
  // The second child waits suspended until the test lets it run.
  launchCmd(p, "cmd.exe /q /c exit 9", cpsFlag(cfNewConsole) | cpsFlag(cfSuspended));
  dispatchQueued();
  EXPECT_EQ(0, e.terminations);
  EXPECT_EQ(TDkCreateProcess::stWaiting, p.State());
  ASSERT_NE(nullptr, p.ProcessInformation().hThread);
  ResumeThread(p.ProcessInformation().hThread);
  ASSERT_TRUE(pumpUntil([&] { return e.terminations > 0; }));
  EXPECT_EQ(1, e.terminations);
  EXPECT_EQ(9u, e.exitCode);
}

TEST(ProcessRunner, HandlerRaisingAtTheReadersEndStillEndsTheRun) {
  ExceptionSink sink;
  TDkCreateProcess p;
  int terminations = 0, reads = 0;
  p.OnTerminate = [&](TObject*, uint32_t) { ++terminations; };
  p.SetOnRead([&](TObject*, const std::string&, bool) {
    ++reads;
    throw EConvertError("raised by OnRead");
  });
  p.ConsoleOptions = consoleOption(coRedirect);
  launchCmd(p, "cmd.exe /q /c echo boom", 0);
  // Without serving messages the output is split by the reader's end handler.
  ASSERT_TRUE(synchronizeUntil([&] { return reads > 0; }));
  ASSERT_EQ(1, reads);
  ASSERT_TRUE(pumpUntil([&] { return terminations > 0; }));
  EXPECT_EQ(TDkCreateProcess::stIdle, p.State());
  ASSERT_EQ(1, sink.calls);
  EXPECT_EQ(&p, sink.sender);
  EXPECT_EQ("raised by OnRead", sink.message);
  // The runner can start the next child.
  p.SetOnRead(nullptr);
  p.LaunchProcess();
  ASSERT_TRUE(pumpUntil([&] { return terminations > 1; }));
}

TEST(ProcessRunner, ReadErrorIsReportedAsCutOutput) {
  ExceptionSink sink;
  testing::TempFolder folder;
  TDkCreateProcess p;
  TDkReader reader(&p);
  // A handle that cannot be read: the first read fails with access denied.
  UniqueFile writeOnly(CreateFileA(folder.file("out.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writeOnly);
  reader.Start(writeOnly.release());
  ASSERT_TRUE(pumpUntil([&] { return sink.calls > 0; }));
  EXPECT_FALSE(reader.Running());
  EXPECT_EQ(&p, sink.sender);
  EXPECT_NE(std::string::npos, sink.message.find("cut")) << sink.message;
  EXPECT_EQ(static_cast<uint32_t>(ERROR_ACCESS_DENIED), sink.code);
}

TEST(ProcessRunner, StoppedReaderEndsWhereverItsThreadWas) {
  TDkCreateProcess p;
  std::mt19937 rng(14);
  for (int round = 0; round < 150; ++round) {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    UniqueHandle writer(writeEnd);  // held open: the reader never sees the pipe end
    TDkReader reader(&p);
    reader.Start(readEnd);
    UniqueHandle thread(OpenThread(SYNCHRONIZE, FALSE, reader.ThreadID()));
    ASSERT_TRUE(thread) << round;
    // Stop lands anywhere between the thread's start and its blocked read
    // (up to a millisecond after the start).
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    const LONGLONG until = now.QuadPart + frequency.QuadPart * (rng() % 1000) / 1000000;
    do QueryPerformanceCounter(&now);
    while (now.QuadPart < until);
    reader.Stop();
    // The thread may still wait for this one to serve its end (which Stop has
    // made a call that does nothing).
    ASSERT_TRUE(synchronizeUntil([&] { return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0; }, 60000))
        << "round " << round;
  }
}

}  // namespace
}  // namespace om
