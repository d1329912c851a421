// Queries over the operating system: the program file of another process,
// special folders, the computer and user names and the user's domain. Each
// returns an empty string (or 0) on failure and raises nothing.
#pragma once

#include <string>

#include "platform/win32.h"

namespace om {

// Loads "PSAPI.dll" once and binds its entry points; false when it is missing.
bool EnsureProcessStatusLibrary();
// GetModuleFileNameExA of the process status library: characters copied, 0
// when the library or the call fails.
DWORD CallLoadedPsapiFunction(HANDLE process, HMODULE module, LPSTR buffer, DWORD size);
// Full program path of a process (opened with query rights), empty on failure.
std::string ProcessImagePath(HANDLE process);

std::string GetSpecialFolder(int folderId);
std::string GetProfileFolder();
std::string GetLocalComputerName();
std::string GetLocalUserName();
std::string GetAccountDomain(const std::string& accountName);
std::string GetCurrentUserDomain();

namespace sysqueries_detail {
// Drops the current binding; the next use loads the library from fileName
// (tests stand in a missing or other library this way).
void SetProcessStatusLibraryName(const char* fileName);
void UnloadProcessStatusLibrary();
}  // namespace sysqueries_detail

void InitializeSysInfoUnit();
void FinalizeSysInfoUnit();

}  // namespace om
