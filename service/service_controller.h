// The service: registration record, install/remove, status reporting, control
// handler and stop event, and the command line.
#pragma once
#include <atomic>
#include <memory>
#include <string>

#include "service/java_invoker.h"
#include "platform/win32.h"

namespace ombackup {

struct ServiceRegistration {
  std::string serviceName = "OmBackup Service";
  std::string displayName = "Ombrel Pro Service";
  std::atomic<DWORD> lastReportError{0};

  void installService();
  // Stops (waiting a bounded time) and deletes the service; the process exit
  // code: 1 when it has not stopped yet, so it goes only once it stops.
  int removeService();
  void reportServiceError(const char* text);
};

std::unique_ptr<ServiceRegistration> loadServiceRegistration();
// The system text of GetLastError() as "text (0x..)"; empty when the system has
// none or the result would not fit a buffer of `size` characters.
std::string formatLastError(size_t size = 256);

// What became of a status report.
enum class StatusReport { Made, Refused, Failed };

class ServiceController : public ShutdownNotificationListener {
 public:
  ServiceController();
  ~ServiceController() override;
  ServiceController(const ServiceController&) = delete;
  ServiceController& operator=(const ServiceController&) = delete;

  bool init(int argc, char** argv);
  void start();
  void stop();
  void onShutdownNotification() override;
  // The Java side ends the process (System.exit, Runtime.halt) with `code`: logged,
  // and the service reported stopped (service-specific code `code` when not 0).
  void onJavaExit(int code);
  // Whether the manager knows the service stopped (by whichever path).
  bool stoppedReported() const;
  bool reportStatus(DWORD state, DWORD win32ExitCode, DWORD waitHint);
  // True for a report made; a refused one is not an error, a failed one is
  // logged and reported to the event log.
  bool checkReport(StatusReport result);

  int argc = 0;
  char** argv = nullptr;
  std::unique_ptr<JavaInvoker> invoker;
  std::unique_ptr<ServiceRegistration> registration;

 private:
  void launchAndWait();
  // Destroys the invoker and with it the virtual machine, which waits for every
  // Java thread that is not a daemon; past a stop's wait hint the service is
  // reported stopped and the process ends.
  void endJava();
  void reportFailedStart(DWORD serviceSpecificExitCode);
};

// The command line: returns the process exit code (or does not return).
int runCommandLine(int argc, char** argv);

}  // namespace ombackup
