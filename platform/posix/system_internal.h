// Internals shared by the stand-in's privilege, registry-hive and notification
// pieces.
#pragma once
#include <string>

#include "internal.h"
#include "include/winsvc.h"

#pragma GCC visibility push(default)
namespace om::standin {

// Whether AdjustTokenPrivileges enabled the privilege ("SeBackupPrivilege" ...).
bool privilegeEnabled(const char* name);

// Folder of an open registry key (predefined roots included), or empty with
// `error` set.
std::string registryKeyFolder(HKEY key, LONG& error);

// The stand-in service database: the folder of an open service (empty with the
// last error set for a bad handle) and a dependency list joined with "/".
std::string serviceFolder(SC_HANDLE service);
std::string joinedDependencies(LPCSTR list);

}  // namespace om::standin
#pragma GCC visibility pop
