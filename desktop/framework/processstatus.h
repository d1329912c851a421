// The process status library ("PSAPI.dll"), loaded on first need with its
// entry points bound by name; one binding for every program of the desktop
// side. Windows only.
#pragma once

#include <string>

#include "platform/win32.h"

namespace om {

// Loads the library once and binds its entry points; false when it is missing.
bool EnsureProcessStatusLibrary();
// GetModuleFileNameExA of the library: characters copied, 0 when the library
// or the call fails.
DWORD CallLoadedPsapiFunction(HANDLE process, HMODULE module, LPSTR buffer, DWORD size);
// Full program path of a process (opened with query rights), empty on failure.
std::string ProcessImagePath(HANDLE process);
// Frees the library; the next use loads it again.
void FreeProcessStatusLibrary();

namespace processstatus_detail {
// Frees the library; the next use loads it from fileName (tests stand in a
// missing or other library this way).
void SetProcessStatusLibraryName(const char* fileName);
}  // namespace processstatus_detail

}  // namespace om
