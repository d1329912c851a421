// Windows side of the single-instance test, the start-up switches and the
// control messages.
#include "platform/win32.h"

#include "tray/startup_switches.h"

#include "framework/exceptions.h"
#include "framework/processstatus.h"
#include "platform/win32_owners.h"
#include "tray/handover.h"
#include "tray/logon_task.h"
#include "tray/routines.h"
#include "tray/tray_platform.h"

namespace om {

namespace {


BOOL CALLBACK EnumProc(HWND window, LPARAM param) {
  return FindAppWindowProc(window, *reinterpret_cast<TFindAppWindowRecord*>(param)) ? TRUE : FALSE;
}

// SendMessage that gives up on a hung receiver, so the caller's own time
// limits hold.
void SendQuit(HWND window) {
  DWORD_PTR result;
  SendMessageTimeoutA(window, kControlMessage, kControlQuitWParam, kControlQuit, SMTO_ABORTIFHUNG, 2000, &result);
}

}  // namespace

std::string GetProcessImagePath(uint32_t processId) {
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  return process ? ProcessImagePath(process.get()) : std::string();
}

int FindAppWindowProc(void* windowPtr, TFindAppWindowRecord& record) {
  HWND window = static_cast<HWND>(windowPtr);
  char cls[257] = {};
  int len = GetClassNameA(window, cls, 256);
  if (len <= 0 || !WindowClassMatches(std::string(cls, static_cast<size_t>(len)), record.ClassName)) return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  bool accept = record.ProcessId != 0 && record.ProcessId == pid;
  if (!accept) {
    std::string image = GetProcessImagePath(pid);
    accept = AcceptWindowProcessFolder(image.empty() ? std::string() : ExtractFileDir(image), ProgramFolder(),
                                       [](const std::string& p) { return FileExists(p); });
  }
  if (accept) {
    record.Window = window;
    record.ProcessId = pid;
  }
  return record.Window == nullptr;
}

void* FindAppWindow(const std::string& className, uint32_t processId) {
  TFindAppWindowRecord record;
  record.ClassName = className;
  record.ProcessId = processId;
  EnumWindows(EnumProc, reinterpret_cast<LPARAM>(&record));
  return record.Window;
}

uint32_t FindAppProcess(const std::string& className) {
  TFindAppWindowRecord record;
  record.ClassName = className;
  EnumWindows(EnumProc, reinterpret_cast<LPARAM>(&record));
  return record.Window ? record.ProcessId : 0;
}

void HandleStartupSwitches() { HandleStartupSwitches(GetCommandLineA()); }

void HandleStartupSwitches(const std::string& commandLine) {
  const std::vector<std::string> args = ParamStrList(commandLine);
  SkipInterface = true;
  StartupExitCode = 0;
  HWND instance = nullptr;
  if (StartupNeedsInstanceSearch(args)) instance = static_cast<HWND>(FindAppWindow(kTrayWindowClass, 0));
  switch (DecideStartupAction(args, instance != nullptr)) {
    case TStartupAction::CreateScheduledTask:
      StartupExitCode = CreateScheduledTask(args);
      return;
    case TStartupAction::RemoveScheduledTask:
      StartupExitCode = RemoveScheduledTask(args);
      return;
    case TStartupAction::EndQuietly:
    case TStartupAction::CloseNoInstance:
      return;
    case TStartupAction::HandOver: {
      SetForegroundWindow(instance);
      std::string tail = commandLine.substr(SkipProgramName(commandLine));
      if (tail.size() <= kMaxAtomText) {
        ATOM atom = GlobalAddAtomA(tail.c_str());
        SendMessageA(instance, kControlMessage, atom, kControlCommandText);
      } else {
        COPYDATASTRUCT data{static_cast<ULONG_PTR>(kControlCommandText), static_cast<DWORD>(tail.size()), &tail[0]};
        SendMessageA(instance, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
      }
      return;
    }
    case TStartupAction::CloseInstance: {
      const uint32_t start = GetTickCount();
      while (instance && TicksSince(start) < 10000) {
        SendQuit(instance);
        Sleep(100);
        instance = static_cast<HWND>(FindAppWindow(kTrayWindowClass, 0));
      }
      if (instance) StartupExitCode = 1;
      return;
    }
    case TStartupAction::UpgradeGoOn:
      SendQuit(instance);
      SkipInterface = false;
      return;
    case TStartupAction::GoOn:
      SkipInterface = false;
      return;
  }
}

namespace {

void HandleCommandText(TTrayHost& host, const std::string& text) {
  try {
    if (host.HandleCommandWords(text)) host.LaunchJavaGui(text, true);
  } catch (const std::exception& e) {
    if (e.what() && *e.what()) host.ShowStatusError(e.what());
  }
}

}  // namespace

void HandleControlMessage(TTrayHost& host, uintptr_t wparam, intptr_t lparam) {
  if (lparam == kControlQuit) {
    try {
      host.QuitProgram();
    } catch (const std::exception& e) {
      if (e.what() && *e.what()) host.ShowStatusError(e.what());
    }
  } else if (lparam == kControlCommandText) {
    std::string text;
    if (wparam != 0) {
      char buffer[MAX_PATH + 1] = {};
      UINT n = GlobalGetAtomNameA(static_cast<ATOM>(wparam & 0xFFFF), buffer, MAX_PATH);
      text.assign(buffer, n);
      GlobalDeleteAtom(static_cast<ATOM>(wparam & 0xFFFF));
    }
    HandleCommandText(host, text);
  }
}

bool HandleCopyDataMessage(TTrayHost& host, const void* copyData) {
  const auto* data = static_cast<const COPYDATASTRUCT*>(copyData);
  if (!data || data->dwData != static_cast<ULONG_PTR>(kControlCommandText)) return false;
  HandleCommandText(host, std::string(static_cast<const char*>(data->lpData), data->lpData ? data->cbData : 0));
  return true;
}

int64_t ProcessStartTime() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  return static_cast<int64_t>((static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime);
}

bool HandleCloseMessage(TTrayHost& host, intptr_t lparam) {
  if (lparam != 1) return false;
  host.TerminateApplication();
  return true;
}

}  // namespace om
