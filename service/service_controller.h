// The service: registration record, install/remove, status reporting, control
// handler and stop event, and the command line.
#pragma once
#include <string>

#include "service/java_invoker.h"
#include "platform/win32.h"

namespace ombackup {

struct ServiceRegistration {
  std::string serviceName = "OmBackup Service";
  std::string displayName = "Ombrel Pro Service";
  DWORD lastReportError = 0;

  void installService();
  void removeService();
  void reportServiceError(const char* text);
};

ServiceRegistration* loadServiceRegistration();
// The system text of GetLastError() as "text (0x..)", or empty (buffer of `size`).
void formatLastError(char* buffer, size_t size);

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
  bool reportStatus(DWORD state, DWORD win32ExitCode, DWORD waitHint);

  bool stoppedReported = false;
  int argc = 0;
  char** argv = nullptr;
  JavaInvoker* invoker = nullptr;
  ServiceRegistration* registration = nullptr;
};

// The command line: returns the process exit code (or does not return).
int runCommandLine(int argc, char** argv);

}  // namespace ombackup
