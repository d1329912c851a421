#include "service/service_controller.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "service/properties.h"
#include "service/service_log.h"
#include "service/setup.h"

namespace ombackup {

namespace {

int compareNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    int x = (*a >= 'A' && *a <= 'Z') ? *a + 32 : static_cast<unsigned char>(*a);
    int y = (*b >= 'A' && *b <= 'Z') ? *b + 32 : static_cast<unsigned char>(*b);
    if (x != y || !x) return x - y;
  }
}

ServiceController* currentController = nullptr;
SERVICE_STATUS serviceStatus = {SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
SERVICE_STATUS_HANDLE statusHandle = nullptr;
HANDLE stopEvent = nullptr;
DWORD checkPoint = 1;

void setCurrent(ServiceController* controller) { currentController = controller; }

void signalStopEvent() {
  if (!stopEvent) return;
  writeLog("Received stop event", LOG_TRACE);
  SetEvent(stopEvent);
}

void WINAPI serviceControlHandler(DWORD control) {
  ServiceController* controller = currentController;
  if (!controller) return;
  if (control == SERVICE_CONTROL_STOP) {
    controller->reportStatus(SERVICE_STOP_PENDING, NO_ERROR, 0);
    signalStopEvent();
  } else {
    controller->reportStatus(serviceStatus.dwCurrentState, NO_ERROR, 0);
  }
}

BOOL WINAPI consoleControlHandler(DWORD event) { return event == CTRL_LOGOFF_EVENT ? TRUE : FALSE; }

void WINAPI serviceMain(DWORD argc, LPSTR* argv) {
  auto* controller = new ServiceController();
  setCurrent(controller);
  if (controller->init(static_cast<int>(argc), argv)) controller->start();
  controller->stop();
  setCurrent(nullptr);
  delete controller;
}

std::string modulePath(DWORD size) {
  std::string path(size, '\0');
  DWORD length = GetModuleFileNameA(nullptr, &path[0], size);
  if (length == 0 || length >= size) return std::string();
  path.resize(length);
  return path;
}

}  // namespace

void formatLastError(char* buffer, size_t size) {
  DWORD code = GetLastError();
  buffer[0] = '\0';
  LPSTR text = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (length && length + 14 <= size) {
    text[length - 2] = '\0';  // the line end
    std::snprintf(buffer, size, "%s (0x%x)", text, static_cast<unsigned>(code));
  }
  if (text) LocalFree(text);
}

ServiceRegistration* loadServiceRegistration() {
  auto* registration = new ServiceRegistration();
  std::string path = modulePath(512);
  if (path.empty()) {
    registration->reportServiceError("Failed to get module file name");
    return registration;
  }
  std::string file = path.substr(0, path.rfind('\\') + 1) + "service.properties";
  cpputil::Properties properties;
  if (properties.load(file.c_str()) != 0) return registration;
  if (const cpputil::Property* name = properties.find("service.name")) registration->serviceName = name->value;
  if (const cpputil::Property* display = properties.find("service.displayname"))
    registration->displayName = display->value;
  return registration;
}

void ServiceRegistration::installService() {
  char error[256];
  std::string path = modulePath(512);
  if (path.empty()) {
    formatLastError(error, sizeof error);
    std::printf("Unable to install %s - %s\n", displayName.c_str(), error);
    return;
  }
  std::string commandLine = "\"" + path + "\" -start";
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) {
    formatLastError(error, sizeof error);
    std::printf("OpenSCManager failed - %s\n", error);
    return;
  }
  SC_HANDLE service = CreateServiceA(manager, serviceName.c_str(), displayName.c_str(), SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                     commandLine.c_str(), nullptr, nullptr, "", nullptr, nullptr);
  if (service) {
    std::printf("%s installed.\n", displayName.c_str());
    CloseServiceHandle(service);
  } else {
    formatLastError(error, sizeof error);
    std::printf("CreateService failed - %s\n", error);
  }
  CloseServiceHandle(manager);
}

void ServiceRegistration::removeService() {
  char error[256];
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) {
    formatLastError(error, sizeof error);
    std::printf("OpenSCManager failed - %s\n", error);
    return;
  }
  SC_HANDLE service = OpenServiceA(manager, serviceName.c_str(), SERVICE_ALL_ACCESS);
  if (!service) {
    formatLastError(error, sizeof error);
    std::printf("OpenService failed - %s\n", error);
    CloseServiceHandle(manager);
    return;
  }
  SERVICE_STATUS status;
  if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    std::printf("Stopping %s.", displayName.c_str());
    std::fflush(stdout);
    Sleep(1000);
    while (QueryServiceStatus(service, &status)) {
      if (status.dwCurrentState != SERVICE_STOP_PENDING) break;
      std::printf(".");
      std::fflush(stdout);
      Sleep(1000);
    }
    if (status.dwCurrentState == SERVICE_STOPPED)
      std::printf("\n%s stopped.\n", displayName.c_str());
    else
      std::printf("\n%s failed to stop.\n", displayName.c_str());
  }
  if (DeleteService(service)) {
    std::printf("%s removed.\n", displayName.c_str());
  } else {
    formatLastError(error, sizeof error);
    std::printf("DeleteService failed - %s\n", error);
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

void ServiceRegistration::reportServiceError(const char* text) {
  EventLogSource source;
  source.open(serviceName.c_str(), nullptr);
  source.report(EVENTLOG_ERROR_TYPE, text);
  lastReportError = GetLastError();
  source.close();
}

ServiceController::ServiceController() { openLog(); }

ServiceController::~ServiceController() {
  writeLog("In service destructor", LOG_TRACE);
  delete invoker;
  delete registration;
}

void ServiceController::onShutdownNotification() {
  writeLog("Notifying SCM of state STOPPED", LOG_TRACE);
  if (statusHandle) {
    reportStatus(SERVICE_STOPPED, NO_ERROR, 0);
    writeLog("SCM notified of state STOPPED", LOG_TRACE);
  }
  stoppedReported = true;
}

bool ServiceController::reportStatus(DWORD state, DWORD win32ExitCode, DWORD waitHint) {
  serviceStatus.dwCurrentState = state;
  serviceStatus.dwWin32ExitCode = win32ExitCode;
  serviceStatus.dwWaitHint = waitHint;
  serviceStatus.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
  if (state == SERVICE_RUNNING || state == SERVICE_STOPPED)
    serviceStatus.dwCheckPoint = 0;
  else
    serviceStatus.dwCheckPoint = checkPoint++;
  if (SetServiceStatus(statusHandle, &serviceStatus)) return true;
  writeLog("Failed to set service status", LOG_ERROR);
  if (registration) registration->reportServiceError("SetServiceStatus");
  return false;
}

bool ServiceController::init(int count, char** args) {
  registration = loadServiceRegistration();
  writeLog("In init", LOG_TRACE);
  for (int i = 0; i < count; ++i) {
    writeLogf(LOG_DEBUG, "Argc:%d, s:%s", i, args[i]);
    if (i > 0 && compareNoCase(args[i], "-trace") == 0) setLogLevel(LOG_TRACE);
  }
  argc = count;
  argv = args;
  statusHandle = RegisterServiceCtrlHandlerA(registration->serviceName.c_str(), serviceControlHandler);
  if (!statusHandle) writeLog("Failed to register service handler", LOG_ERROR);
  invoker = setupInvoker();
  // Without an invoker the service still goes through start, which ends it with
  // its service-specific code and the event-log report.
  if (!statusHandle) return false;
  serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  serviceStatus.dwServiceSpecificExitCode = 0;
  return reportStatus(SERVICE_START_PENDING, NO_ERROR, 3000);
}

void ServiceController::start() {
  writeLog("In start", LOG_TRACE);
  if (reportStatus(SERVICE_START_PENDING, NO_ERROR, 3000)) {
    if (!invoker) {
      // The report goes first: once stopped is reported the process may end.
      registration->reportServiceError("invocation failed");
      serviceStatus.dwServiceSpecificExitCode = 1;
      reportStatus(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, 0);
      stoppedReported = true;
    } else {
      writeLog("Invoking service", LOG_TRACE);
      if (!invoker->launch(argc, argv)) {
        serviceStatus.dwServiceSpecificExitCode = 2;
        reportStatus(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, 0);
        stoppedReported = true;
      } else {
        SetConsoleCtrlHandler(consoleControlHandler, TRUE);
        invoker->registerShutdownHook(this);
        stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!stopEvent) {
          writeLog("Failed to create stop event", LOG_ERROR);
        } else if (reportStatus(SERVICE_RUNNING, NO_ERROR, 0)) {
          writeLog("Waiting for stop event...", LOG_TRACE);
          WaitForSingleObject(stopEvent, INFINITE);
        }
      }
    }
  }
  if (stopEvent) {
    CloseHandle(stopEvent);
    stopEvent = nullptr;
  }
  writeLog("Exit start", LOG_TRACE);
}

void ServiceController::stop() {
  writeLog("In stop", LOG_TRACE);
  if (invoker) {
    try {
      writeLog("Calling invoker stop", LOG_TRACE);
      invoker->stop();
      delete invoker;
      invoker = nullptr;
      writeLog("Invoker Stopped", LOG_DEBUG);
    } catch (...) {
      writeLog("Error Stopping Service", LOG_DEBUG);
    }
  }
  if (stoppedReported) return;
  writeLog("Notifying SCM", LOG_TRACE);
  if (statusHandle) reportStatus(SERVICE_STOPPED, NO_ERROR, 0);
}

namespace {

int usage() {
  std::printf("Invalid arguments\nusage:\n\tombackup -[install|uninstall|debug]\n");
  return 0;
}

int runDispatcher() {
  std::unique_ptr<ServiceRegistration> registration(loadServiceRegistration());
  auto* controller = new ServiceController();
  setCurrent(controller);
  SERVICE_TABLE_ENTRYA table[] = {{&registration->serviceName[0], serviceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) {
    registration->reportServiceError("StartServiceCtrlDispatcher failed.");
    return 1;
  }
  return 0;
}

int runConsole(int argc, char** argv) {
  auto* controller = new ServiceController();
  setCurrent(controller);
  JavaInvoker* invoker = setupInvoker();
  if (!invoker) return 1;
  controller->invoker = invoker;
  if (!invoker->launch(argc, argv)) {
    std::printf("Invoker failed\n");
    std::fflush(stdout);
    std::getchar();
    return 1;
  }
  std::printf("Service started, press Control-C to exit...\n");
  std::fflush(stdout);
  for (;;) Sleep(1000);
}

}  // namespace

int runCommandLine(int argc, char** argv) {
  if (argc < 2 || (argv[1][0] != '-' && argv[1][0] != '/')) return usage();
  const char* word = argv[1] + 1;
  if (compareNoCase(word, "install") == 0) {
    std::unique_ptr<ServiceRegistration> registration(loadServiceRegistration());
    registration->installService();
    return 0;
  }
  if (compareNoCase(word, "uninstall") == 0 || compareNoCase(word, "remove") == 0) {
    std::unique_ptr<ServiceRegistration> registration(loadServiceRegistration());
    registration->removeService();
    return 0;
  }
  if (compareNoCase(word, "debug") == 0) return runConsole(argc, argv);
  if (compareNoCase(word, "start") == 0) return runDispatcher();
  return usage();
}

}  // namespace ombackup
