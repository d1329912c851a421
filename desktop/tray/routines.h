// Process, file and environment routines of the tray monitor.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "framework/exceptions.h"
#include "framework/stringlist.h"

namespace om {

// A failed system call: the system's error code and its text.
class ETrayOSError : public Exception {
public:
  ETrayOSError(uint32_t code, const std::string& message) : Exception(message), FCode(code) {}
  uint32_t ErrorCode() const { return FCode; }

private:
  uint32_t FCode;
};

// The system's message text for an error code, without its line end.
std::string SysErrorMessage(uint32_t code);
// Raises ETrayOSError for the calling thread's last error
// ("System Error.  Code: %d.\r\n%s").
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseOSError(uint32_t code);

// Set at program end; ShellExecuteAndWait stops waiting once it is set.
extern std::atomic<bool> ShuttingDown;

// Adds the files of folder matching mask (relative to base; base empty means
// folder), descending into subfolders when recurse is true.
void FindFiles(const std::string& folder, const std::string& mask, bool recurse, TStringList& list,
               const std::string& base = std::string());
// The program path of a service command line: a leading quoted part, else the
// longest leading part ending before a blank that names an existing file, else
// the trimmed text.
std::string ExtractProgramPath(const std::string& commandLine);
// Replaces list with the subfolders of folder whose names begin with prefix.
void ListSubfolders(TStringList& list, const std::string& folder, const std::string& prefix, bool sort,
                    bool caseSensitive);
// Milliseconds from start to now on the 32-bit tick counter, across a wrap.
inline uint32_t TicksBetween(uint32_t start, uint32_t now) { return now - start; }
uint32_t TicksSince(uint32_t start);
std::string ExpandEnvironment(const std::string& text);

using TWaitCallback = std::function<void()>;
// Starts file through the shell and waits for it in steps of 500 ms, calling
// onWait between steps; returns its exit code (0 when the shell handed the file
// to a running program). Raises ETrayOSError when the shell refuses.
uint32_t ShellExecuteAndWait(const std::string& folder, const std::string& file, const std::string& parameters,
                             const TWaitCallback& onWait, int show, void* ownerWindow);

}  // namespace om
