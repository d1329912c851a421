#include "service/service_controller.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "platform/win32_owners.h"
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

// The wait hint of a stop: how long the manager is to expect between two reports
// while the service stops, and how long the Java VM may take to end once Stop has
// returned (a thread the agent left running would keep it for ever).
constexpr DWORD kStopWaitHintMs = 20000;

// What the dispatcher's thread (the control handler), the service thread and
// the JVM's threads (the shutdown notification, the exit hook) share: the
// current controller, the status record with its handle and check point, and
// the stop event. Each is reached under its lock. The object is never
// destroyed: those threads may still run while the process exits.
class ServiceProcess {
 public:
  static ServiceProcess& get() {
    static ServiceProcess& process = *new ServiceProcess;
    return process;
  }

  // A controller that lasts as long as the process (dispatcher and console
  // runs), made the current one.
  ServiceController& keep(std::unique_ptr<ServiceController> controller) {
    std::lock_guard<std::mutex> hold(controllerLock_);
    kept_ = std::move(controller);
    current_ = kept_.get();
    return *kept_;
  }
  void setCurrent(ServiceController* controller) {
    std::lock_guard<std::mutex> hold(controllerLock_);
    current_ = controller;
  }
  // Runs `action` on the current controller, which cannot go away meanwhile;
  // nothing when there is none.
  template <class Action>
  void withCurrent(Action action) {
    std::lock_guard<std::mutex> hold(controllerLock_);
    if (current_) action(*current_);
  }

  void setStatusHandle(SERVICE_STATUS_HANDLE handle) {
    std::lock_guard<std::mutex> hold(statusLock_);
    statusHandle_ = handle;
  }
  bool hasStatusHandle() {
    std::lock_guard<std::mutex> hold(statusLock_);
    return statusHandle_ != nullptr;
  }
  void setServiceSpecificExitCode(DWORD code) {
    std::lock_guard<std::mutex> hold(statusLock_);
    status_.dwServiceSpecificExitCode = code;
  }
  bool stoppedReported() {
    std::lock_guard<std::mutex> hold(statusLock_);
    return stage_ == stageOf(SERVICE_STOPPED);
  }

  // Every report goes through here. The reported state only moves forward
  // (start pending, running, stop pending, stopped) and stopped is reported
  // once: a report that would go back, or a second stopped, is not made.
  StatusReport report(DWORD state, DWORD win32ExitCode, DWORD waitHint) {
    std::lock_guard<std::mutex> hold(statusLock_);
    return reportLocked(state, win32ExitCode, waitHint);
  }
  // Stopped with a service-specific exit code, in the same report.
  StatusReport reportStopped(DWORD win32ExitCode, DWORD serviceSpecificExitCode) {
    std::lock_guard<std::mutex> hold(statusLock_);
    if (stage_ == stageOf(SERVICE_STOPPED)) return StatusReport::Refused;
    status_.dwServiceSpecificExitCode = serviceSpecificExitCode;
    return reportLocked(SERVICE_STOPPED, win32ExitCode, 0);
  }
  // The current state once more (exit code 0, the same wait hint); nothing
  // before the first report or after stopped.
  StatusReport reportAgain() {
    std::lock_guard<std::mutex> hold(statusLock_);
    if (stage_ == 0) return StatusReport::Refused;
    return reportLocked(status_.dwCurrentState, NO_ERROR, status_.dwWaitHint);
  }
  // The Java side has shut down. Once the service has been reported running it
  // is reported stopped now. Before that the service thread is still starting
  // it and ends it itself (Stop, the VM destroyed, stopped reported), so the
  // service is reported stopping and can no longer be reported running.
  StatusReport reportJavaShutDown() {
    std::lock_guard<std::mutex> hold(statusLock_);
    if (!runningReported_ && stage_ != stageOf(SERVICE_STOPPED))
      return stage_ < stageOf(SERVICE_STOP_PENDING) ? reportLocked(SERVICE_STOP_PENDING, NO_ERROR, kStopWaitHintMs)
                                                     : StatusReport::Refused;
    return reportLocked(SERVICE_STOPPED, NO_ERROR, 0);
  }

  bool createStopEvent() {
    std::lock_guard<std::mutex> hold(eventLock_);
    stopEvent_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    return stopEvent_.valid();
  }
  // Only the thread that created the event closes it, so it outlasts the wait.
  void waitForStop() {
    HANDLE event;
    {
      std::lock_guard<std::mutex> hold(eventLock_);
      event = stopEvent_.get();
    }
    WaitForSingleObject(event, INFINITE);
  }
  void closeStopEvent() {
    std::lock_guard<std::mutex> hold(eventLock_);
    stopEvent_.reset();
  }
  void signalStop() {
    std::lock_guard<std::mutex> hold(eventLock_);
    if (!stopEvent_) return;
    writeLog("Received stop event", LOG_TRACE);
    SetEvent(stopEvent_.get());
  }

 private:
  ServiceProcess() = default;

  std::mutex controllerLock_;
  ServiceController* current_ = nullptr;
  std::unique_ptr<ServiceController> kept_;

  static int stageOf(DWORD state) {
    switch (state) {
      case SERVICE_START_PENDING: return 1;
      case SERVICE_RUNNING: return 2;
      case SERVICE_STOP_PENDING: return 3;
      case SERVICE_STOPPED: return 4;
    }
    return 0;
  }

  StatusReport reportLocked(DWORD state, DWORD win32ExitCode, DWORD waitHint) {
    int stage = stageOf(state);
    if (stage < stage_ || (stage == stage_ && state == SERVICE_STOPPED)) return StatusReport::Refused;
    status_.dwCurrentState = state;
    status_.dwWin32ExitCode = win32ExitCode;
    status_.dwWaitHint = waitHint;
    status_.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    status_.dwCheckPoint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : checkPoint_++;
    if (!SetServiceStatus(statusHandle_, &status_)) return StatusReport::Failed;
    stage_ = stage;
    if (state == SERVICE_RUNNING) runningReported_ = true;
    return StatusReport::Made;
  }

  std::mutex statusLock_;
  SERVICE_STATUS status_ = {SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
  SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
  DWORD checkPoint_ = 1;  // never reset
  int stage_ = 0;         // of the last state reported; 0 before the first report
  bool runningReported_ = false;

  std::mutex eventLock_;
  om::UniqueHandle stopEvent_;
};

void WINAPI serviceControlHandler(DWORD control) {
  ServiceProcess& process = ServiceProcess::get();
  process.withCurrent([&process, control](ServiceController& controller) {
    if (control == SERVICE_CONTROL_STOP) {
      controller.reportStatus(SERVICE_STOP_PENDING, NO_ERROR, kStopWaitHintMs);
      process.signalStop();
    } else {
      controller.checkReport(process.reportAgain());
    }
  });
}

// Awaits the end of the Java VM for a stop's wait hint while it lives; past that
// the service is reported stopped and the process ends. Without a thread of its
// own (none could be made) the end is awaited without bound.
class VmEndWatch {
 public:
  explicit VmEndWatch(ServiceController& controller)
      : controller_(controller), ended_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    if (ended_) thread_.reset(CreateThread(nullptr, 0, watch, this, 0, nullptr));
  }
  // The VM has ended.
  ~VmEndWatch() {
    if (!thread_) return;
    SetEvent(ended_.get());
    WaitForSingleObject(thread_.get(), INFINITE);
  }
  VmEndWatch(const VmEndWatch&) = delete;
  VmEndWatch& operator=(const VmEndWatch&) = delete;

 private:
  static DWORD WINAPI watch(void* parameter) {
    auto* self = static_cast<VmEndWatch*>(parameter);
    if (WaitForSingleObject(self->ended_.get(), kStopWaitHintMs) != WAIT_TIMEOUT) return 0;
    writeLogf(LOG_ERROR, "Java VM did not end within %u s; stopping anyway",
              static_cast<unsigned>(kStopWaitHintMs / 1000));
    if (ServiceProcess::get().hasStatusHandle()) self->controller_.reportStatus(SERVICE_STOPPED, NO_ERROR, 0);
    endProcessNow(0);
  }

  ServiceController& controller_;
  om::UniqueHandle ended_;
  om::UniqueHandle thread_;
};

BOOL WINAPI consoleControlHandler(DWORD event) { return event == CTRL_LOGOFF_EVENT ? TRUE : FALSE; }

void WINAPI serviceMain(DWORD argc, LPSTR* argv) {
  ServiceProcess& process = ServiceProcess::get();
  ServiceController controller;
  process.setCurrent(&controller);
  if (controller.init(static_cast<int>(argc), argv)) controller.start();
  controller.stop();
  process.setCurrent(nullptr);
}

// How long a removal waits for its stop: as long as the service's check point
// moves within its wait hint (but at least 20 seconds), at most 3 minutes.
constexpr DWORD kStopProgressMinimumMs = 20000;
constexpr DWORD kStopWaitLimitMs = 180000;

// Polls once a second, printing "." while the service is stop pending. `status`
// is left with the last state read; true when that is still stop pending (the
// wait gave up), false when the state changed or could not be read.
bool awaitStop(SC_HANDLE service, SERVICE_STATUS& status) {
  DWORD start = GetTickCount();
  DWORD progress = start;
  DWORD checkPoint = status.dwCheckPoint;
  Sleep(1000);
  while (QueryServiceStatus(service, &status)) {
    if (status.dwCurrentState != SERVICE_STOP_PENDING) return false;
    DWORD now = GetTickCount();
    if (status.dwCheckPoint != checkPoint) {
      checkPoint = status.dwCheckPoint;
      progress = now;
    }
    if (now - progress > std::max(status.dwWaitHint, kStopProgressMinimumMs) || now - start > kStopWaitLimitMs)
      return true;
    std::printf(".");
    std::fflush(stdout);
    Sleep(1000);
  }
  return false;
}

// The manager with full access, or none after saying why.
om::UniqueServiceHandle openManager() {
  om::UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) std::printf("OpenSCManager failed - %s\n", formatLastError().c_str());
  return manager;
}

}  // namespace

std::string formatLastError(size_t size) {
  DWORD code = GetLastError();
  std::string text = om::systemMessage(code);
  // Room for the line end the system's text came with, the code and the terminator.
  if (text.empty() || text.size() + 2 + 14 > size) return std::string();
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, " (0x%x)", static_cast<unsigned>(code));
  return text + suffix;
}

std::unique_ptr<ServiceRegistration> loadServiceRegistration() {
  auto registration = std::make_unique<ServiceRegistration>();
  std::string path = om::moduleFileName();
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
  std::string path = om::moduleFileName();
  if (path.empty()) {
    std::printf("Unable to install %s - %s\n", displayName.c_str(), formatLastError().c_str());
    return;
  }
  std::string commandLine = "\"" + path + "\" -start";
  om::UniqueServiceHandle manager = openManager();
  if (!manager) return;
  om::UniqueServiceHandle service(CreateServiceA(manager.get(), serviceName.c_str(), displayName.c_str(),
                                                 SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                                 SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr, nullptr, "",
                                                 nullptr, nullptr));
  if (service)
    std::printf("%s installed.\n", displayName.c_str());
  else
    std::printf("CreateService failed - %s\n", formatLastError().c_str());
}

int ServiceRegistration::removeService() {
  om::UniqueServiceHandle manager = openManager();
  if (!manager) return 0;
  om::UniqueServiceHandle service(OpenServiceA(manager.get(), serviceName.c_str(), SERVICE_ALL_ACCESS));
  if (!service) {
    std::printf("OpenService failed - %s\n", formatLastError().c_str());
    return 0;
  }
  SERVICE_STATUS status;
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    std::printf("Stopping %s.", displayName.c_str());
    std::fflush(stdout);
    bool stillStopping = awaitStop(service.get(), status);
    if (status.dwCurrentState == SERVICE_STOPPED)
      std::printf("\n%s stopped.\n", displayName.c_str());
    else if (stillStopping)
      std::printf("\n");  // what follows says so
    else
      std::printf("\n%s failed to stop.\n", displayName.c_str());
  }
  if (!DeleteService(service.get())) {
    std::printf("DeleteService failed - %s\n", formatLastError().c_str());
    return 0;
  }
  // Marked for deletion: the manager removes it once it has stopped.
  if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED) {
    std::printf("%s has not stopped; it is removed once it stops.\n", displayName.c_str());
    return 1;
  }
  std::printf("%s removed.\n", displayName.c_str());
  return 0;
}

void ServiceRegistration::reportServiceError(const char* text) {
  EventLogSource source;
  source.open(serviceName.c_str(), nullptr);
  source.report(EVENTLOG_ERROR_TYPE, text);
  lastReportError = GetLastError();
}

ServiceController::ServiceController() { openLog(); }

ServiceController::~ServiceController() { writeLog("In service destructor", LOG_TRACE); }

void ServiceController::onShutdownNotification() {
  writeLog("Notifying SCM of state STOPPED", LOG_TRACE);
  ServiceProcess& process = ServiceProcess::get();
  if (process.hasStatusHandle() && checkReport(process.reportJavaShutDown()) && process.stoppedReported())
    writeLog("SCM notified of state STOPPED", LOG_TRACE);
}

void ServiceController::onJavaExit(int code) {
  writeLogf(code ? LOG_ERROR : LOG_MESSAGE, "Java VM exited with code %d", code);
  ServiceProcess& process = ServiceProcess::get();
  if (process.hasStatusHandle())
    checkReport(process.reportStopped(code ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR, static_cast<DWORD>(code)));
}

bool ServiceController::stoppedReported() const { return ServiceProcess::get().stoppedReported(); }

bool ServiceController::reportStatus(DWORD state, DWORD win32ExitCode, DWORD waitHint) {
  return checkReport(ServiceProcess::get().report(state, win32ExitCode, waitHint));
}

bool ServiceController::checkReport(StatusReport result) {
  if (result == StatusReport::Made) return true;
  if (result == StatusReport::Failed) {
    writeLog("Failed to set service status", LOG_ERROR);
    if (registration) registration->reportServiceError("SetServiceStatus");
  }
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
  ServiceProcess& process = ServiceProcess::get();
  SERVICE_STATUS_HANDLE statusHandle =
      RegisterServiceCtrlHandlerA(registration->serviceName.c_str(), serviceControlHandler);
  process.setStatusHandle(statusHandle);
  if (!statusHandle) writeLog("Failed to register service handler", LOG_ERROR);
  invoker = setupInvoker();
  // Without an invoker the service still goes through start, which ends it with
  // its service-specific code and the event-log report.
  if (!statusHandle) return false;
  process.setServiceSpecificExitCode(0);
  return reportStatus(SERVICE_START_PENDING, NO_ERROR, 3000);
}

void ServiceController::start() {
  writeLog("In start", LOG_TRACE);
  launchAndWait();
  ServiceProcess::get().closeStopEvent();
  writeLog("Exit start", LOG_TRACE);
}

void ServiceController::launchAndWait() {
  if (!reportStatus(SERVICE_START_PENDING, NO_ERROR, 3000)) return;
  if (!invoker) {
    // The report goes first: once stopped is reported the process may end.
    registration->reportServiceError("invocation failed");
    reportFailedStart(1);
    return;
  }
  writeLog("Invoking service", LOG_TRACE);
  invoker->onCreationAbort = [this] { reportFailedStart(2); };
  invoker->onExit = [this](int code) { onJavaExit(code); };
  if (!invoker->launch(argc, argv)) {
    reportFailedStart(2);
    return;
  }
  SetConsoleCtrlHandler(consoleControlHandler, TRUE);
  invoker->registerShutdownHook(this);
  ServiceProcess& process = ServiceProcess::get();
  if (!process.createStopEvent()) {
    writeLog("Failed to create stop event", LOG_ERROR);
    return;
  }
  // Not reported when the Java side shut down meanwhile: the start ends here.
  if (reportStatus(SERVICE_RUNNING, NO_ERROR, 0)) {
    writeLog("Waiting for stop event...", LOG_TRACE);
    process.waitForStop();
  }
}

void ServiceController::reportFailedStart(DWORD serviceSpecificExitCode) {
  checkReport(ServiceProcess::get().reportStopped(ERROR_SERVICE_SPECIFIC_ERROR, serviceSpecificExitCode));
}

void ServiceController::stop() {
  writeLog("In stop", LOG_TRACE);
  if (invoker) {
    try {
      writeLog("Calling invoker stop", LOG_TRACE);
      invoker->stop();
      endJava();
      writeLog("Invoker Stopped", LOG_DEBUG);
    } catch (...) {
      writeLog("Error Stopping Service", LOG_DEBUG);
    }
  }
  if (stoppedReported()) return;
  writeLog("Notifying SCM", LOG_TRACE);
  if (ServiceProcess::get().hasStatusHandle()) reportStatus(SERVICE_STOPPED, NO_ERROR, 0);
}

void ServiceController::endJava() {
  if (!invoker->hasVm()) {
    invoker.reset();
    return;
  }
  // Stop has returned: the wait for the VM's end is a step of its own.
  if (ServiceProcess::get().hasStatusHandle()) reportStatus(SERVICE_STOP_PENDING, NO_ERROR, kStopWaitHintMs);
  {
    VmEndWatch watch(*this);
    invoker.reset();
  }
  writeLog("Java VM ended", LOG_MESSAGE);
}

namespace {

int usage() {
  std::printf("Invalid arguments\nusage:\n\tombackup -[install|uninstall|debug]\n");
  return 0;
}

int runDispatcher() {
  std::unique_ptr<ServiceRegistration> registration = loadServiceRegistration();
  ServiceProcess::get().keep(std::make_unique<ServiceController>());
  SERVICE_TABLE_ENTRYA table[] = {{&registration->serviceName[0], serviceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) {
    registration->reportServiceError("StartServiceCtrlDispatcher failed.");
    return 1;
  }
  return 0;
}

int runConsole(int argc, char** argv) {
  ServiceController& controller = ServiceProcess::get().keep(std::make_unique<ServiceController>());
  controller.invoker = setupInvoker();
  if (!controller.invoker) return 1;
  if (!controller.invoker->launch(argc, argv)) {
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
    loadServiceRegistration()->installService();
    return 0;
  }
  if (compareNoCase(word, "uninstall") == 0 || compareNoCase(word, "remove") == 0)
    return loadServiceRegistration()->removeService();
  if (compareNoCase(word, "debug") == 0) return runConsole(argc, argv);
  if (compareNoCase(word, "start") == 0) return runDispatcher();
  return usage();
}

}  // namespace ombackup
