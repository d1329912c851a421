// Internals shared by the stand-in's privilege and registry pieces.
#pragma once
#include <string>

#include "internal.h"

#pragma GCC visibility push(default)
namespace om::standin {

// Whether AdjustTokenPrivileges enabled the privilege ("SeBackupPrivilege" ...).
bool privilegeEnabled(const char* name);

// Folder of an open registry key (predefined roots included), or empty with
// `error` set; the folder of its sub-key `name` (any case), or empty.
std::string registryKeyFolder(HKEY key, LONG& error);
std::string registrySubKey(const std::string& folder, const std::string& name);
// The folder entry that holds the key `name` ("k.<name>", its slashes escaped).
std::string registryKeyEntry(const std::string& name);
// A key's own security descriptor: this file in the key's folder.
constexpr char kKeySecurityFile[] = "security";

}  // namespace om::standin
#pragma GCC visibility pop
