// Stand-ins for the routines of tray_seams.h that other units provide. They
// let the status form build, run and be tested before those units are linked
// in; the program proper replaces this file with them.
#include "tray/tray_seams.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "framework/stringlist.h"
#include "hash/hashes.h"
#include "hash/protection.h"
#include "hash/string_formats.h"
#include "tray/tray_platform.h"

#ifdef _WIN32
#include "framework/exceptions.h"
#endif

namespace om {

bool SkipInterface = false;
uint32_t StartupExitCode = 0;
std::string AppProgramFolder;

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace

// Calls of the console launch, for tests: "extra|noArguments".
std::vector<std::string> SeamJavaGuiCalls;
// Calls of the splash form, for tests: "modal" or "splash".
std::vector<std::string> SeamSplashCalls;

void HandleStartupSwitches() { SkipInterface = false; }

void HandleControlMessage(TTrayHost& host, uintptr_t, intptr_t lparam) {
  if (lparam == 18) host.QuitProgram();
}

bool HandleCloseMessage(TTrayHost& host, intptr_t lparam) {
  if (lparam != 1) return false;
  host.TerminateApplication();
  return true;
}

std::string ParamsFileName(const std::string& programPath) {
  return THash::CalcStringDigest(THash_MD5::ClassInfo, programPath, nullptr, fmtHEX);
}

std::string HandOverFilePath(const std::string& expandedTemp, const std::string& programPath) {
  // A numbered last component (a per-session folder) is dropped.
  std::string folder = expandedTemp;
  size_t sep = folder.find_last_of("\\/");
  if (sep != std::string::npos && sep + 1 < folder.size() &&
      folder.find_first_not_of("0123456789", sep + 1) == std::string::npos)
    folder.erase(sep);
  return folder + "\\omparams\\" + ParamsFileName(programPath);
}

bool ProcessHandOverFile(TTrayHost& host, const std::string& path) {
  if (!FileExists(path)) return false;
#ifdef _WIN32
  Sleep(100);
#endif
  TStringList lines;
  lines.LoadFromFile(path);
#ifdef _WIN32
  if (!DeleteFileA(path.c_str())) RaiseLastOSError();
#else
  std::remove(path.c_str());
#endif
  std::string text = lines.Text();
  if (text.find("-close") != std::string::npos) host.QuitProgram();
  else if (host.HandleCommandWords(text)) host.LaunchJavaGui(text, true);
  return true;
}

void ShowSplashForm(bool modal) { SeamSplashCalls.push_back(modal ? "modal" : "splash"); }

void* FindGuiWindow(TConsoleHost&) { return nullptr; }
bool IsGuiInForeground(TConsoleHost&) { return false; }

void LaunchJavaGui(TConsoleHost&, std::string& commandLine, const std::string& extra, bool noArguments) {
  commandLine = extra;
  SeamJavaGuiCalls.push_back(extra + "|" + (noArguments ? "1" : "0"));
}

std::string GetLocalUserName() { return Env("USERNAME"); }
std::string GetCurrentUserDomain() { return Env("USERDOMAIN"); }
std::string GetProfileFolder() { return Env("USERPROFILE"); }
std::string GetLocalComputerName() { return Env("COMPUTERNAME"); }

// UTC as it is.
TDateTime utcToLocal(TDateTime t) { return t; }

#ifdef _WIN32

namespace {

class TSimpleConsoleProcess : public TConsoleProcess {
public:
  using TConsoleProcess::TConsoleProcess;
  ~TSimpleConsoleProcess() override { DetachFromProcess(); }
  bool Waiting() const override { return FProcess && WaitForSingleObject(FProcess, 0) == WAIT_TIMEOUT; }
  DWORD ProcessId() const override { return Waiting() ? FId : 0; }
  void DetachFromProcess() override {
    if (FProcess) CloseHandle(FProcess);
    FProcess = nullptr;
    FId = 0;
  }
  void LaunchProcess() override {
    DetachFromProcess();
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string line = CommandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        CurrentDirectory.empty() ? nullptr : CurrentDirectory.c_str(), &si, &pi))
      RaiseLastOSError();
    CloseHandle(pi.hThread);
    if (WaitForTerminate) {
      FProcess = pi.hProcess;
      FId = pi.dwProcessId;
    } else {
      CloseHandle(pi.hProcess);
    }
  }

private:
  HANDLE FProcess = nullptr;
  DWORD FId = 0;
};

}  // namespace

TConsoleProcess* CreateConsoleProcess(TComponent* owner) { return new TSimpleConsoleProcess(owner); }

#endif

}  // namespace om
