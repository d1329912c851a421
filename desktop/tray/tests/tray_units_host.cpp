// A stand-in tray program for the process tests: run as omtray.exe (or
// Velbrook.exe) it goes through the real start-up switches and then keeps a
// window of class "TfrmServiceStatus" whose control messages and hand-over
// file run through the real handlers; run as javaw.exe it plays the Java
// console (indicator and frame windows). Everything it sees goes, one line per
// event, to events.log in its own folder. A file "stop" there ends it;
// "host.cfg" holding "ignore" makes it ignore quit requests and hand-over files;
// holding "linger", its window stays a second after it was told to quit.
#include "platform/win32.h"

#include <string>

#include "framework/exceptions.h"
#include "platform/win32_owners.h"
#include "framework/strutils.h"
#include "tray/handover.h"
#include "tray/routines.h"
#include "tray/startup_switches.h"
#include "tray/tray_platform.h"

using namespace om;

namespace {

std::string gFolder;
bool gIgnore = false;
bool gLinger = false;
const int64_t gStartTime = ProcessStartTime();

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

void Log(const std::string& line) {
  std::string text = Escape(line) + "\r\n";
  const UniqueFile f(CreateFileA((gFolder + "events.log").c_str(), FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr));
  if (!f) return;
  DWORD written;
  WriteFile(f.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

struct THost : TTrayHost {
  void QuitProgram() override {
    Log("quit");
    if (gLinger) Sleep(1000);
    PostQuitMessage(0);
  }
  void TerminateApplication() override {
    Log("terminate");
    PostQuitMessage(0);
  }
  bool HandleCommandWords(const std::string& text) override {
    Log("words[" + text + "]");
    if (text.find("fail") != std::string::npos) throw Exception("words failed");
    return text.find("silent") == std::string::npos;
  }
  void LaunchJavaGui(const std::string& extra, bool noArguments) override {
    Log("gui[" + extra + "]" + (noArguments ? "noargs" : "args"));
  }
  void ShowStatusError(const std::string& message) override { Log("error[" + message + "]"); }
} gHost;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case kControlMessage:
      if (gIgnore) {
        Log("ignored " + std::to_string(lparam));
        return 0;
      }
      HandleControlMessage(gHost, wparam, lparam);
      return 0;
    case WM_COPYDATA:
      return HandleCopyDataMessage(gHost, reinterpret_cast<const void*>(lparam)) ? TRUE : FALSE;
    case WM_CLOSE:
      if (HandleCloseMessage(gHost, lparam)) return 0;
      Log("hide");
      ShowWindow(window, SW_HIDE);
      return 0;
    case WM_TIMER:
      if (GetFileAttributesA((gFolder + "stop").c_str()) != INVALID_FILE_ATTRIBUTES) {
        Log("stopped");
        PostQuitMessage(0);
      } else if (!gIgnore) {
        try {
          ProcessHandOverFile(gHost, HandOverFilePath(ExpandEnvironment("%TEMP%"), ProgramFileName()),
                              gStartTime);
        } catch (const std::exception& e) {
          Log(std::string("error[") + e.what() + "]");
        }
      }
      return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

HWND MakeWindow(const char* className) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = className;
  RegisterClassA(&wc);
  return CreateWindowExA(0, className, "Backup Service", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                         wc.hInstance, nullptr);
}

int RunLoop(HWND timerWindow) {
  SetTimer(timerWindow, 1, 100, nullptr);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}

}  // namespace

int main() {
  const std::string program = ProgramFileName();
  gFolder = ExtractFilePath(program);
  const std::string line = GetCommandLineA();
  const std::string tail = line.substr(SkipProgramName(line));
  Log("start " + std::to_string(GetCurrentProcessId()) + "[" + tail + "]");
  Log("program " + program);

  if (SameText(ExtractFileName(program), "javaw.exe")) {
    Log("console[" + line + "]");
    MakeWindow("OmbrelBackupWindowClass");
    HWND frame = MakeWindow("SunAwtFrame");
    Log("windows");
    RunLoop(frame);
    Log("exit 0");
    return 0;
  }

  {
    const UniqueFile f(CreateFileA((gFolder + "host.cfg").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    if (f) {
      char buffer[16] = {};
      DWORD read = 0;
      ReadFile(f.get(), buffer, sizeof buffer - 1, &read, nullptr);
      gIgnore = std::string(buffer, read).find("ignore") != std::string::npos;
      gLinger = std::string(buffer, read).find("linger") != std::string::npos;
    }
  }

  HandleStartupSwitches();
  if (SkipInterface) {
    Log("skip exit " + std::to_string(StartupExitCode));
    return static_cast<int>(StartupExitCode);
  }
  HWND window = MakeWindow(kTrayWindowClass);
  Log("window");
  RunLoop(window);
  Log("exit 0");
  return 0;
}
