#include "support/runnerlaunch.h"

#include "framework/strutils.h"
#include "support/chartables.h"

namespace om {

std::string ProcessErrorText(DWORD code) {
  std::string message = Trim(SysErrorMessage(code));
  if (message.empty()) message = Format("System Error.  Code: %lu.", static_cast<unsigned long>(code));
  return message;
}

void RaiseLastProcessError() {
  const DWORD code = GetLastError();
  throw EDkProcessError(ProcessErrorText(code), code);
}

void TDkRWEHandles::Set(Slot slot, HANDLE handle) {
  if (handle != FHandles[slot].get()) FHandles[slot].reset(handle);
}

namespace {

HANDLE duplicate(HANDLE source, bool inheritable, bool closeSource) {
  HANDLE process = GetCurrentProcess();
  HANDLE copy = nullptr;
  DWORD options = DUPLICATE_SAME_ACCESS | (closeSource ? DUPLICATE_CLOSE_SOURCE : 0);
  if (!DuplicateHandle(process, source, process, &copy, 0, inheritable ? TRUE : FALSE, options))
    RaiseLastProcessError();
  return copy;
}

// Inheritable attributes; on NT with an empty (nil) DACL so any child may use
// the pipe.
struct TPipeSecurity {
  SECURITY_ATTRIBUTES attributes = {};
  SECURITY_DESCRIPTOR descriptor = {};
  TPipeSecurity() {
    attributes.nLength = sizeof attributes;
    attributes.bInheritHandle = TRUE;
    if (InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE))
      attributes.lpSecurityDescriptor = &descriptor;
  }
};

}  // namespace

void CreateChildPipes(TDkRWEHandles& parent, TDkRWEHandles& child, bool separateError) {
  TPipeSecurity security;
  HANDLE readEnd, writeEnd;
  if (!child.Get(TDkRWEHandles::Write)) {
    if (!CreatePipe(&readEnd, &writeEnd, &security.attributes, 0)) RaiseLastProcessError();
    child.Set(TDkRWEHandles::Write, writeEnd);
    parent.Set(TDkRWEHandles::Read, duplicate(readEnd, false, true));
  }
  if (!child.Get(TDkRWEHandles::Error)) {
    if (separateError) {
      if (!CreatePipe(&readEnd, &writeEnd, &security.attributes, 0)) RaiseLastProcessError();
      child.Set(TDkRWEHandles::Error, writeEnd);
      parent.Set(TDkRWEHandles::Error, duplicate(readEnd, false, true));
    } else {
      child.Set(TDkRWEHandles::Error, duplicate(child.Get(TDkRWEHandles::Write), true, false));
    }
  }
  if (!child.Get(TDkRWEHandles::Read)) {
    if (!CreatePipe(&readEnd, &writeEnd, &security.attributes, 0)) RaiseLastProcessError();
    child.Set(TDkRWEHandles::Read, readEnd);
    parent.Set(TDkRWEHandles::Write, duplicate(writeEnd, false, true));
  }
}

PROCESS_INFORMATION StartChildProcess(const TDkLaunchRequest& request, TDkRWEHandles& parent) {
  const DWORD flags = creationFlagsOf(request.Priority, request.CreationFlags);
  const std::string applicationName = Trim(request.ApplicationName);
  const std::string directory = Trim(request.CurrentDirectory);

  struct BlockHolder {
    char* block = nullptr;
    ~BlockHolder() { ReleaseStringBlock(block); }
  } environment;
  if (!request.Environment.empty()) StringsToMultiSz(environment.block, request.Environment);

  STARTUPINFOA si = {};
  si.cb = sizeof si;
  const TDkStartupRecord record = startupRecordOf(request.StartupInfo);
  si.lpDesktop = const_cast<LPSTR>(record.lpDesktop);
  si.lpTitle = const_cast<LPSTR>(record.lpTitle);
  si.dwX = record.dwX;
  si.dwY = record.dwY;
  si.dwXSize = record.dwXSize;
  si.dwYSize = record.dwYSize;
  si.wShowWindow = record.wShowWindow;
  si.dwFlags = record.dwFlags;

  const bool redirect = (request.ConsoleOptions & consoleOption(coRedirect)) != 0;
  TDkRWEHandles child;
  if (redirect) {
    CreateChildPipes(parent, child, (request.ConsoleOptions & consoleOption(coSeparateError)) != 0);
    si.dwFlags |= STARTF_USESTDHANDLES;
    si.hStdInput = child.Get(TDkRWEHandles::Read);
    si.hStdOutput = child.Get(TDkRWEHandles::Write);
    si.hStdError = child.Get(TDkRWEHandles::Error);
  }

  std::string commandLine = request.CommandLine;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(applicationName.empty() ? nullptr : applicationName.c_str(),
                      commandLine.empty() ? nullptr : &commandLine[0], nullptr, nullptr, redirect ? TRUE : FALSE,
                      flags, environment.block, directory.empty() ? nullptr : directory.c_str(), &si, &pi)) {
    UniqueHandle process(pi.hProcess), thread(pi.hThread);  // closed keeping the last error
    RaiseLastProcessError();
  }
  return pi;
}

}  // namespace om
