// Windows side of the console launch: window lookup, runtime discovery and
// the start through the main form's console process.
#include "platform/win32.h"

#include "tray/console_launch.h"

#include "framework/stringlist.h"
#include "framework/strutils.h"
#include "tray/resources.h"
#include "tray/routines.h"
#include "tray/service_control.h"
#include "tray/startup_switches.h"
#include "tray/tray_platform.h"

namespace om {

namespace {

uint64_t SystemPhysicalMemory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return 0;
  return status.ullTotalPhys;
}

TPhysicalMemoryQuery gPhysicalMemory = SystemPhysicalMemory;

const char* const kConsoleWindowClasses[] = {"SunAwtWindow", "SunAwtFrame", "SunAwtDialog"};

uint32_t ConsoleProcess(TConsoleHost& host) {
  uint32_t pid = host.ConsoleProcessId();
  return pid != 0 ? pid : FindAppProcess(kAgentIndicatorClass);
}

void* ConsoleWindowOf(uint32_t pid) {
  for (const char* cls : kConsoleWindowClasses)
    if (void* w = FindAppWindow(cls, pid)) return w;
  return nullptr;
}

// The show command this program was started with.
int StartupShowCommand() {
  STARTUPINFOA info{};
  info.cb = sizeof info;
  GetStartupInfoA(&info);
  return (info.dwFlags & STARTF_USESHOWWINDOW) ? info.wShowWindow : SW_SHOWDEFAULT;
}

// After a change of language the agent follows once its service restarts.
void RestartServiceForLanguage(TConsoleHost& host, const std::string& folder) {
  try {
    TOmServiceControl control;
    TStringList services;
    std::string program = "ombackup.exe";
    control.FindServicesByImage(program, services);
    if (services.Count() == 0) {
      program = "ombackup64.exe";
      control.FindServicesByImage(program, services);
    }
    for (int i = 0; i < services.Count(); ++i) {
      if (!SameText(services.ValueFromIndex(i), folder + "\\" + program)) continue;
      host.ShowBalloon(host.BrandLongName(), GetResourceString("RUNNER_Lang_Change_Restart"));
      host.ProcessMessages();
      control.StopBackupService(services.Names(i));
      control.StartBackupService(services.Names(i));
      break;
    }
  } catch (...) {
  }
  try {
    host.HideBalloons();
  } catch (...) {
  }
}

}  // namespace

void SetPhysicalMemoryQuery(TPhysicalMemoryQuery query) { gPhysicalMemory = query ? query : SystemPhysicalMemory; }

void* FindGuiWindow(TConsoleHost& host) {
  uint32_t pid = ConsoleProcess(host);
  if (pid == 0) return nullptr;
  return ConsoleWindowOf(pid);
}

bool IsGuiInForeground(TConsoleHost& host) {
  uint32_t pid = ConsoleProcess(host);
  if (pid == 0 || !ConsoleWindowOf(pid)) return false;
  DWORD foregroundPid = 0;
  HWND foreground = GetForegroundWindow();
  if (!foreground) return false;
  GetWindowThreadProcessId(foreground, &foregroundPid);
  return foregroundPid == pid;
}

void LaunchJavaGui(TConsoleHost& host, std::string& commandLine, const std::string& extra, bool noArguments) {
  commandLine.clear();
  host.SetBusyCursor(true);
  struct TRestore {
    TConsoleHost& Host;
    ~TRestore() {
      Sleep(1000);
      Host.SetBusyCursor(false);
    }
  } restore{host};

  const uint8_t cur = host.RefreshServiceState();
  if (cur == 7 || cur == 8 || cur == 9) host.SetTrayIcons(0);

  if (HWND w = static_cast<HWND>(FindGuiWindow(host))) {
    ShowWindow(w, StartupShowCommand());
    SetForegroundWindow(w);
    return;
  }
  if (const uint32_t starting = host.ConsoleProcessId()) {
    // Started and not showing a window yet: it may take the foreground when
    // it does; no second console.
    AllowSetForegroundWindow(starting);
    return;
  }
  // 1: the agent is not reachable. Told by the state read, not by the icon,
  // which shows the not-reachable picture every other frame while it flashes.
  if (cur == 1) {
    host.BringFormToFront();
    host.ShowMessage(GetResourceString("RUNNER_Service_Not_Running"));
    return;
  }

  const std::string args = ConsoleArguments(extra, noArguments, noArguments ? std::vector<std::string>()
                                                                            : host.ProgramArguments());
  const std::string folder = ProgramFolder();
  const std::string container = folder + "\\OmJre";
  TStringList runtimes;
  ListSubfolders(runtimes, container, "jre", true, false);
  const std::string javaw =
      SelectJavaw(container, runtimes.Items(), [](const std::string& p) { return FileExists(p); });

  const int configured = GetConfiguredMemory(folder);
  TConsoleHeap heap = ComputeConsoleHeap(configured, gPhysicalMemory());
  if (heap.Warn)
    host.ShowWarning(GetResourceStringFmt("RUNNER_memory_adjusted_downwards",
                                          {std::to_string(configured) + "MB", std::to_string(heap.Heap) + "MB"}));

  commandLine = BuildConsoleCommandLine(javaw, heap.Heap, GetUseDirectDraw(folder), folder, args,
                                        DirectoryExists(RuntimeRoot(javaw) + "lib\\ext"));

  if (javaw.empty()) {
    host.SetApplicationTitle(host.BrandLongName());
    host.BringFormToFront();
    host.ShowMessage(GetResourceString("RUNNER_JRE_not_installed"));
    host.SetApplicationTitle(std::string());
    return;
  }
  if (!FileExists(folder + "\\lib\\omgui.jar")) return;

  try {
    const std::string code = GetLanguageCode();
    if (code != host.LanguageCode()) {
      LoadRunnerResources();
      host.LoadTexts();
      host.SetLanguageCode(code);
      if (cur == 0 || cur == 7 || cur == 8 || cur == 9) RestartServiceForLanguage(host, folder);
    }
  } catch (...) {
  }

  host.LaunchConsoleProcess(commandLine, folder);
}

}  // namespace om
