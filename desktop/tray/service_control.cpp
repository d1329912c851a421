#include "tray/service_control.h"

#include <algorithm>
#include <vector>

#include "framework/strutils.h"
#include "tray/routines.h"
#include "tray/tray_platform.h"

namespace om {

std::string AgentExitCodeText(uint32_t code) {
  switch (code) {
    case 1: return "No data drive has been specified.";
    case 2: return "No SSL password found.";
    case 3: return "Some SSL files are missing.";
    case 4: return "Incorrect SSL passsword.";
    case 5: return "Could not bind on standard port.";
    case 6: return "Could not bind on SSL port.";
    case 13: return "RSA library not found.";
    case 14: return "No write access to data folder. Please check permissions.";
    case 15: return "No write access to log folder. Please check permissions.";
    case 16: return "An undefined error occured, please see the error log.";
    case 17: return "This Fileserver will not start up without a special decrypt certificate.";
    default: return std::string();
  }
}

namespace {

std::string ComposeMessage(const std::string& message, uint32_t code, bool agentExitCode) {
  std::string text = agentExitCode ? AgentExitCodeText(code) : std::string();
  if (text.empty()) text = SysErrorMessage(code);
  return Format("%s [%d: %s]", message.c_str(), static_cast<int>(code), text.c_str());
}

}  // namespace

EOmServiceControlError::EOmServiceControlError(const std::string& message)
    : EOmServiceControlError(message, GetLastError(), false) {}

EOmServiceControlError::EOmServiceControlError(const std::string& message, uint32_t code, bool agentExitCode)
    : Exception(ComposeMessage(message, code, agentExitCode)), FCode(code) {}

TOmServiceControl::TOmServiceControl()
    : FManager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE)) {
  if (!FManager) throw EOmServiceControlError("Service Control Manager initialization failed", GetLastError());
}

TOmServiceControl::~TOmServiceControl() = default;

void TOmServiceControl::FindServicesByImage(const std::string& fileName, TStringList& list) {
  DWORD records = 1024;
  DWORD resume = 0;
  for (;;) {
    std::vector<ENUM_SERVICE_STATUSA> buf(records);
    DWORD needed = 0, count = 0;
    if (!EnumServicesStatusA(FManager.get(), SERVICE_WIN32, SERVICE_STATE_ALL, buf.data(),
                             static_cast<DWORD>(buf.size() * sizeof(ENUM_SERVICE_STATUSA)), &needed, &count,
                             &resume)) {
      DWORD code = GetLastError();
      if (code != ERROR_MORE_DATA) throw EOmServiceControlError("Error enumerating services", code);
    }
    for (DWORD i = 0; i < count; ++i) {
      UniqueServiceHandle service(
          OpenServiceA(FManager.get(), buf[i].lpServiceName, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
      if (!service) continue;
      // A service being removed meanwhile is skipped like one that cannot be opened.
      std::string program;
      try {
        program = QueryServiceProgram(service.get());
      } catch (const EOSError&) {
        continue;
      }
      if (SameText(ExtractFileName(program), fileName)) list.Add(std::string(buf[i].lpServiceName) + "=" + program);
    }
    if (resume == 0) return;
    records = static_cast<DWORD>((needed + sizeof(ENUM_SERVICE_STATUSA)) / sizeof(ENUM_SERVICE_STATUSA));
  }
}

UniqueServiceHandle TOmServiceControl::OpenBackupService(const std::string& name, DWORD access) {
  UniqueServiceHandle h(OpenServiceA(FManager.get(), name.c_str(), access | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
  if (h) return h;
  DWORD code = GetLastError();
  if (code == ERROR_SERVICE_DOES_NOT_EXIST)
    throw EOmServiceNotExistError(
        "The backup service does not exist\r\nFirst install the backup service and then try again.", code);
  throw EOmServiceControlError("Cannot open service", code);
}

std::string TOmServiceControl::QueryServiceProgram(SC_HANDLE service) {
  // 4096 bytes hold nearly every configuration; a larger one gets the room it asks for.
  std::vector<unsigned char> buf(4096);
  DWORD needed = 0;
  while (!QueryServiceConfigA(service, reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf.data()),
                              static_cast<DWORD>(buf.size()), &needed)) {
    DWORD code = GetLastError();
    if (code != ERROR_INSUFFICIENT_BUFFER || needed <= buf.size() || needed > 8 * 1024 * 1024) RaiseOSError(code);
    buf.resize(needed);
  }
  const char* cmd = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf.data())->lpBinaryPathName;
  return ExtractProgramPath(cmd ? cmd : "");
}

void TOmServiceControl::ChangeState(const std::string& name, bool start) {
  const DWORD pending = start ? SERVICE_START_PENDING : SERVICE_STOP_PENDING;
  const DWORD target = start ? SERVICE_RUNNING : SERVICE_STOPPED;
  const char* failure = start ? "Error starting backup service" : "Error stoping backup service";
  UniqueServiceHandle service = OpenBackupService(name, start ? SERVICE_START : SERVICE_STOP);

  SERVICE_STATUS st{};
  bool ok;
  DWORD queryError = 0;
  if (start) {
    if (!StartServiceA(service.get(), 0, nullptr)) RaiseOSError(GetLastError());
    ok = QueryServiceStatus(service.get(), &st) != 0;
  } else {
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &st)) RaiseOSError(GetLastError());
    ok = true;
  }
  if (!ok) queryError = GetLastError();

  // The wait ends after the largest wait hint reported, and never before the minimum.
  const uint32_t begin = GetTickCount();
  uint32_t bound = PendingWaitMinimumMs;
  bool timedOut = false;
  while (ok && st.dwCurrentState == pending) {
    bound = std::max<uint32_t>(bound, st.dwWaitHint);
    uint32_t elapsed = TicksSince(begin);
    if (elapsed >= bound) {
      timedOut = true;
      break;
    }
    // A hint of 0 reads again soon, without spinning on the manager.
    Sleep(std::min<uint32_t>(std::max<uint32_t>(st.dwWaitHint, 50), bound - elapsed));
    ok = QueryServiceStatus(service.get(), &st) != 0;
    if (!ok) queryError = GetLastError();
  }
  if (ok && st.dwCurrentState == target) return;

  if (timedOut) {
    if (start) throw EOmServiceStartError(failure, ERROR_SERVICE_REQUEST_TIMEOUT);
    throw EOmServiceStopError(failure, ERROR_SERVICE_REQUEST_TIMEOUT);
  }
  uint32_t code;
  bool agentCode = false;
  if (!ok) {
    code = queryError;
  } else if (st.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR || (st.dwWin32ExitCode == 0 && st.dwServiceSpecificExitCode != 0)) {
    code = st.dwServiceSpecificExitCode;
    agentCode = true;
  } else if (st.dwWin32ExitCode != 0) {
    code = st.dwWin32ExitCode;
  } else {
    // Stopped without an error of its own during start, or still running after a stop.
    code = start ? ERROR_SERVICE_NOT_ACTIVE : ERROR_SERVICE_REQUEST_TIMEOUT;
  }
  if (start) throw EOmServiceStartError(failure, code, agentCode);
  throw EOmServiceStopError(failure, code, agentCode);
}

void TOmServiceControl::StartBackupService(const std::string& name) { ChangeState(name, true); }
void TOmServiceControl::StopBackupService(const std::string& name) { ChangeState(name, false); }

}  // namespace om
