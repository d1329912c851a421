#include "framework/processstatus.h"

#include <cstdint>

#include "platform/win32_owners.h"

namespace om {

namespace {

// Entry points of the process status library, bound by name.
const char* const kPsapiNames[] = {
    "EnumProcesses",           "EnumProcessModules",       "GetModuleBaseNameA",
    "GetModuleFileNameExA",    "GetModuleBaseNameW",       "GetModuleFileNameExW",
    "GetModuleInformation",    "EmptyWorkingSet",          "QueryWorkingSet",
    "InitializeProcessForWsWatch", "GetMappedFileNameA",   "GetDeviceDriverBaseNameA",
    "GetDeviceDriverFileNameA", "GetMappedFileNameW",      "GetDeviceDriverBaseNameW",
    "GetDeviceDriverFileNameW", "EnumDeviceDrivers",       "GetProcessMemoryInfo",
};
constexpr size_t kPsapiCount = sizeof kPsapiNames / sizeof kPsapiNames[0];
constexpr size_t kGetModuleFileNameExA = 3;

const char* gPsapiName = "PSAPI.dll";
UniqueModule gPsapi;
FARPROC gPsapiEntries[kPsapiCount] = {};

using TGetModuleFileNameExA = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);

}  // namespace

bool EnsureProcessStatusLibrary() {
  if (gPsapi) return true;
  HMODULE module = LoadLibraryA(gPsapiName);
  if (reinterpret_cast<uintptr_t>(module) < 32) return false;
  gPsapi.reset(module);
  for (size_t i = 0; i < kPsapiCount; ++i) gPsapiEntries[i] = GetProcAddress(module, kPsapiNames[i]);
  return true;
}

DWORD CallLoadedPsapiFunction(HANDLE process, HMODULE module, LPSTR buffer, DWORD size) {
  if (!EnsureProcessStatusLibrary()) return 0;
  auto call = reinterpret_cast<TGetModuleFileNameExA>(reinterpret_cast<void*>(gPsapiEntries[kGetModuleFileNameExA]));
  if (!call) return 0;
  return call(process, module, buffer, size);
}

std::string ProcessImagePath(HANDLE process) {
  char buffer[MAX_PATH] = {};
  DWORD n = CallLoadedPsapiFunction(process, nullptr, buffer, MAX_PATH);
  if (n > MAX_PATH) n = MAX_PATH;
  return std::string(buffer, n);
}

void FreeProcessStatusLibrary() {
  gPsapi.reset();
  for (FARPROC& p : gPsapiEntries) p = nullptr;
}

namespace processstatus_detail {

void SetProcessStatusLibraryName(const char* fileName) {
  FreeProcessStatusLibrary();
  gPsapiName = fileName;
}

}  // namespace processstatus_detail

}  // namespace om
