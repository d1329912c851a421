// A service for the service-stop tests: runs until it is stopped, passes through
// stop pending without a wait hint (as some services report it) for 180 ms or
// the milliseconds of its third argument, and appends its name to the file given
// as its second argument when it has stopped.
//   stop_service_helper <service name> <log file> [<stop pending ms>]
#include <cstdlib>
#include <string>

#include "platform/win32.h"

namespace {

std::string serviceName;
std::string logFile;
DWORD stopPendingMs = 180;
SERVICE_STATUS_HANDLE statusHandle;
HANDLE stopEvent;

void report(DWORD state, DWORD waitHint, DWORD checkPoint) {
  SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, state, state == SERVICE_RUNNING ? DWORD(SERVICE_ACCEPT_STOP) : 0u,
                        0, 0, checkPoint, waitHint};
  SetServiceStatus(statusHandle, &status);
}

void WINAPI control(DWORD code) {
  if (code == SERVICE_CONTROL_STOP) SetEvent(stopEvent);
}

void WINAPI serviceMain(DWORD, LPSTR*) {
  statusHandle = RegisterServiceCtrlHandlerA(serviceName.c_str(), control);
  report(SERVICE_RUNNING, 0, 0);
  WaitForSingleObject(stopEvent, INFINITE);
  for (DWORD step = 1; step <= 3; ++step) {
    report(SERVICE_STOP_PENDING, 0, step);
    Sleep(stopPendingMs / 3);
  }
  HANDLE log = CreateFileA(logFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, 0, nullptr);
  std::string line = serviceName + "\n";
  DWORD written = 0;
  WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(log);
  report(SERVICE_STOPPED, 0, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  serviceName = argv[1];
  logFile = argv[2];
  if (argc > 3) stopPendingMs = static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10));
  stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SERVICE_TABLE_ENTRYA table[] = {{&serviceName[0], serviceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
