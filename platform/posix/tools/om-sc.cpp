// om-sc: talks to the stand-in Service Control Manager the way sc.exe talks to
// Windows'. Commands: start NAME [args...], stop NAME, query NAME, qc NAME,
// interrogate NAME, control NAME CODE, delete NAME. Output follows sc.exe; the
// exit code is 0 or the Win32 error code of the failed call. It uses only the
// public service API, so it also builds for Windows, where the Wine tests use it
// for what Wine's own sc.exe lacks (qc).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

std::string errorText(DWORD code) {
  char buffer[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                buffer, sizeof buffer, nullptr);
  return length ? std::string(buffer, length) : std::string("\r\n");
}

int failed(const char* call) {
  DWORD code = GetLastError();
  std::printf("[SC] %s FAILED %u:\n\n%s\n", call, static_cast<unsigned>(code), errorText(code).c_str());
  return static_cast<int>(code);
}

const char* stateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return "STOPPED";
    case SERVICE_START_PENDING: return "START_PENDING";
    case SERVICE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_RUNNING: return "RUNNING";
    case SERVICE_CONTINUE_PENDING: return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING: return "PAUSE_PENDING";
    case SERVICE_PAUSED: return "PAUSED";
  }
  return "UNKNOWN";
}

void printStatus(const char* name, const SERVICE_STATUS& s) {
  std::printf("\nSERVICE_NAME: %s\n", name);
  std::printf("        TYPE               : %x  %s\n", static_cast<unsigned>(s.dwServiceType),
              s.dwServiceType == SERVICE_WIN32_OWN_PROCESS ? "WIN32_OWN_PROCESS" : "WIN32");
  std::printf("        STATE              : %u  %s\n", static_cast<unsigned>(s.dwCurrentState),
              stateName(s.dwCurrentState));
  std::printf("                                (%s, %s, %s)\n",
              s.dwControlsAccepted & SERVICE_ACCEPT_STOP ? "STOPPABLE" : "NOT_STOPPABLE",
              s.dwControlsAccepted & SERVICE_ACCEPT_PAUSE_CONTINUE ? "PAUSABLE" : "NOT_PAUSABLE",
              s.dwControlsAccepted & SERVICE_ACCEPT_SHUTDOWN ? "ACCEPTS_SHUTDOWN" : "IGNORES_SHUTDOWN");
  std::printf("        WIN32_EXIT_CODE    : %u  (0x%x)\n", static_cast<unsigned>(s.dwWin32ExitCode),
              static_cast<unsigned>(s.dwWin32ExitCode));
  std::printf("        SERVICE_EXIT_CODE  : %u  (0x%x)\n", static_cast<unsigned>(s.dwServiceSpecificExitCode),
              static_cast<unsigned>(s.dwServiceSpecificExitCode));
  std::printf("        CHECKPOINT         : 0x%x\n", static_cast<unsigned>(s.dwCheckPoint));
  std::printf("        WAIT_HINT          : 0x%x\n", static_cast<unsigned>(s.dwWaitHint));
}

const char* startTypeName(DWORD type) {
  switch (type) {
    case SERVICE_BOOT_START: return "BOOT_START";
    case SERVICE_SYSTEM_START: return "SYSTEM_START";
    case SERVICE_AUTO_START: return "AUTO_START";
    case SERVICE_DEMAND_START: return "DEMAND_START";
    case SERVICE_DISABLED: return "DISABLED";
  }
  return "UNKNOWN";
}

int usage() {
  std::printf(
      "DESCRIPTION:\n        om-sc talks to the stand-in Service Control Manager.\n"
      "USAGE:\n        om-sc <command> <service name> [options]\n\n"
      "        start NAME [arguments...]\n        stop NAME\n        query NAME\n        qc NAME\n"
      "        interrogate NAME\n        control NAME CODE\n        delete NAME\n");
  return ERROR_INVALID_PARAMETER;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  std::string command = argv[1];
  const char* name = argv[2];
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return failed("OpenSCManager");
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
  if (!service) return failed("OpenService");
  int rc = 0;
  SERVICE_STATUS status{};
  if (command == "start") {
    std::vector<LPCSTR> args(argv + 3, argv + argc);
    if (!StartServiceA(service, static_cast<DWORD>(args.size()), args.empty() ? nullptr : args.data()))
      return failed("StartService");
    QueryServiceStatus(service, &status);
    printStatus(name, status);
  } else if (command == "stop" || command == "interrogate" || command == "control") {
    DWORD code = command == "stop" ? SERVICE_CONTROL_STOP : SERVICE_CONTROL_INTERROGATE;
    if (command == "control") {
      if (argc < 4) return usage();
      code = static_cast<DWORD>(std::strtoul(argv[3], nullptr, 0));
    }
    if (!ControlService(service, code, &status)) return failed("ControlService");
    printStatus(name, status);
  } else if (command == "query") {
    if (!QueryServiceStatus(service, &status)) return failed("QueryServiceStatus");
    printStatus(name, status);
  } else if (command == "qc") {
    DWORD needed = 0;
    QueryServiceConfigA(service, nullptr, 0, &needed);
    std::vector<char> buffer(needed ? needed : 1);
    auto* config = reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(buffer.data());
    if (!QueryServiceConfigA(service, config, needed, &needed)) return failed("QueryServiceConfig");
    std::printf("[SC] QueryServiceConfig SUCCESS\n\nSERVICE_NAME: %s\n", name);
    std::printf("        TYPE               : %x  %s\n", static_cast<unsigned>(config->dwServiceType),
                config->dwServiceType == SERVICE_WIN32_OWN_PROCESS ? "WIN32_OWN_PROCESS" : "WIN32");
    std::printf("        START_TYPE         : %u   %s\n", static_cast<unsigned>(config->dwStartType),
                startTypeName(config->dwStartType));
    std::printf("        ERROR_CONTROL      : %u   %s\n", static_cast<unsigned>(config->dwErrorControl),
                config->dwErrorControl == SERVICE_ERROR_NORMAL ? "NORMAL" : "IGNORE");
    std::printf("        BINARY_PATH_NAME   : %s\n", config->lpBinaryPathName);
    std::printf("        LOAD_ORDER_GROUP   : %s\n", config->lpLoadOrderGroup);
    std::printf("        TAG                : %u\n", static_cast<unsigned>(config->dwTagId));
    std::printf("        DISPLAY_NAME       : %s\n", config->lpDisplayName);
    std::printf("        DEPENDENCIES       : %s\n", config->lpDependencies);
    std::printf("        SERVICE_START_NAME : %s\n", config->lpServiceStartName);
  } else if (command == "delete") {
    if (!DeleteService(service)) return failed("DeleteService");
    std::printf("[SC] DeleteService SUCCESS\n");
  } else {
    rc = usage();
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return rc;
}
