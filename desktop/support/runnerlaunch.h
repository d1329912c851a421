// Starting a child process for the runner: creation flags, environment block,
// start-up record and, on request, pipes for its standard handles.
#pragma once

#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "framework/object.h"
#include "platform/win32_owners.h"
#include "support/runner.h"

namespace om {

// A system call of the runner failed: the last error and its message.
class EDkProcessError : public EOSError {
public:
  using EOSError::EOSError;
};
// The system's text for an error code (a generic one when it has none).
std::string ProcessErrorText(DWORD code);
// Raises EDkProcessError with GetLastError and the system's text for it.
[[noreturn]] void RaiseLastProcessError();

// Three handle slots: 0 read, 1 write, 2 error. Setting a slot closes what it
// held; taking one hands it over and leaves the slot empty; destruction
// closes all three.
class TDkRWEHandles : public TObject {
public:
  enum Slot { Read = 0, Write = 1, Error = 2 };
  HANDLE Get(Slot slot) const { return FHandles[slot].get(); }
  void Set(Slot slot, HANDLE handle);
  HANDLE Take(Slot slot) { return FHandles[slot].release(); }

private:
  UniqueHandle FHandles[3];
};

// Fills the empty slots of child with inheritable pipe ends and the matching
// parent slots with non-inheritable ones: child.Write/parent.Read carry the
// child's output, child.Error its error (its own pipe into parent.Error with
// separateError, else a duplicate of child.Write), child.Read/parent.Write its
// input. Raises EDkProcessError when a call fails.
void CreateChildPipes(TDkRWEHandles& parent, TDkRWEHandles& child, bool separateError);

struct TDkLaunchRequest {
  std::string ApplicationName;  // trimmed; empty passes none
  std::string CommandLine;      // as is
  std::string CurrentDirectory; // trimmed; empty passes none
  std::vector<std::string> Environment;  // name=value lines; empty passes the parent's
  TDkCPSFlags CreationFlags = 0;
  TDkProcessPriority Priority = ppNormal;
  TDkCPSStartupInfo StartupInfo;
  TDkConsoleOptions ConsoleOptions = consoleOption(coOwnerData);
};

// Starts the child. With coRedirect the parent's ends of the pipes are left in
// parent (Read: output, Error: error with coSeparateError, Write: input) and the
// child's ends are closed here. Raises EDsError for an empty environment line
// (before anything starts) and EDkProcessError when the start fails; the
// process and thread handles are then closed.
PROCESS_INFORMATION StartChildProcess(const TDkLaunchRequest& request, TDkRWEHandles& parent);

}  // namespace om
