// Test service for the service-control tests; its command line chooses what
// it does:
//   run          runs until stopped
//   exit15       stops during start with the agent's exit code 15 (service-specific)
//   exit5        stops during start with the Win32 exit code 5
//   exit0        stops during start without an error code
// The exit modes stay start-pending a moment first: Wine's service manager
// fails a start request (1053) whose service stopped before it had answered it.
//   hang         stays start-pending (wait hint 500 ms) for 6 s, then stops
//   stophang     runs; a stop leaves it stop-pending (wait hint 500 ms) for 6 s
//   sleep MS RC  not a service: sleeps MS milliseconds and exits with RC
#include "platform/win32.h"

#include <cstdlib>
#include <cstring>

namespace {

const char* gMode = "run";
SERVICE_STATUS_HANDLE gStatusHandle;
SERVICE_STATUS gStatus;
HANDLE gStop;

void Report(DWORD state, DWORD win32Exit = 0, DWORD specificExit = 0, DWORD waitHint = 0) {
  gStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  gStatus.dwCurrentState = state;
  gStatus.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  gStatus.dwWin32ExitCode = win32Exit;
  gStatus.dwServiceSpecificExitCode = specificExit;
  gStatus.dwWaitHint = waitHint;
  if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) ++gStatus.dwCheckPoint;
  else gStatus.dwCheckPoint = 0;
  SetServiceStatus(gStatusHandle, &gStatus);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING, 0, 0, 500);
    SetEvent(gStop);
  }
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, char** argv) {
  gStatusHandle = RegisterServiceCtrlHandlerExA(argv[0], Handler, nullptr);
  gStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  Report(SERVICE_START_PENDING, 0, 0, 500);
  if (!std::strncmp(gMode, "exit", 4)) Sleep(500);
  if (!std::strcmp(gMode, "exit15")) {
    Report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, 15);
    return;
  }
  if (!std::strcmp(gMode, "exit5")) {
    Report(SERVICE_STOPPED, ERROR_ACCESS_DENIED, 0);
    return;
  }
  if (!std::strcmp(gMode, "exit0")) {
    Report(SERVICE_STOPPED, 0, 0);
    return;
  }
  if (!std::strcmp(gMode, "hang")) {
    for (int i = 0; i < 12; ++i) {
      Sleep(500);
      Report(SERVICE_START_PENDING, 0, 0, 500);
    }
    Report(SERVICE_STOPPED, 0, 0);
    return;
  }
  Report(SERVICE_RUNNING);
  WaitForSingleObject(gStop, INFINITE);
  if (!std::strcmp(gMode, "stophang")) {
    for (int i = 0; i < 12; ++i) {
      Sleep(500);
      Report(SERVICE_STOP_PENDING, 0, 0, 500);
    }
  }
  Report(SERVICE_STOPPED);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && !std::strcmp(argv[1], "sleep")) {
    Sleep(static_cast<DWORD>(std::atoi(argv[2])));
    return std::atoi(argv[3]);
  }
  if (argc >= 2) gMode = argv[1];
  static char name[] = "";
  SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
