// Finding, starting and stopping the backup agent's Windows service through
// the Service Control Manager, with readable texts for the agent's exit codes.
#pragma once

#include <cstdint>
#include <string>

#include "framework/exceptions.h"
#include "framework/object.h"
#include "framework/stringlist.h"
#include "platform/win32.h"
#include "platform/win32_owners.h"

namespace om {

// Text of one of the agent's own exit codes, "" for any other code.
std::string AgentExitCodeText(uint32_t code);

// Message "%s [%d: %s]": the given text, the code and its text.
class EOmServiceControlError : public Exception {
public:
  // The calling thread's last error code with the system's text for it.
  explicit EOmServiceControlError(const std::string& message);
  // code with the agent's text for it (agentExitCode: the service's own exit
  // code) or the system's text.
  EOmServiceControlError(const std::string& message, uint32_t code, bool agentExitCode = false);
  uint32_t ErrorCode() const { return FCode; }

private:
  uint32_t FCode;
};
class EOmServiceNotExistError : public EOmServiceControlError {
public:
  using EOmServiceControlError::EOmServiceControlError;
};
class EOmServiceStartError : public EOmServiceControlError {
public:
  using EOmServiceControlError::EOmServiceControlError;
};
class EOmServiceStopError : public EOmServiceControlError {
public:
  using EOmServiceControlError::EOmServiceControlError;
};

class TOmServiceControl : public TObject {
public:
  TOmServiceControl();
  ~TOmServiceControl() override;

  // Adds "name=program path" for every Win32 service whose program file name
  // equals fileName (without regard to case).
  void FindServicesByImage(const std::string& fileName, TStringList& list);
  UniqueServiceHandle OpenBackupService(const std::string& name, DWORD access);
  std::string QueryServiceProgram(SC_HANDLE service);
  void StartBackupService(const std::string& name);
  void StopBackupService(const std::string& name);

  // Waiting for a pending state ends after the largest wait hint the service
  // reported, but never before this many milliseconds.
  uint32_t PendingWaitMinimumMs = 30000;

private:
  // Sends the start (start true) or stop request and waits out the pending state.
  void ChangeState(const std::string& name, bool start);

  UniqueServiceHandle FManager;
};

}  // namespace om
