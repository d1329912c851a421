// Process, file and environment routines of the tray monitor.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "framework/exceptions.h"
#include "framework/stringlist.h"

namespace om {

// System failures raise the framework's EOSError (SysErrorMessage, RaiseOSError,
// RaiseLastOSError in framework/exceptions.h).

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
// to a running program). Raises EOSError when the shell refuses.
uint32_t ShellExecuteAndWait(const std::string& folder, const std::string& file, const std::string& parameters,
                             const TWaitCallback& onWait, int show, void* ownerWindow);

}  // namespace om
