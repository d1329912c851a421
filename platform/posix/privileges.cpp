// Token privileges of the stand-in (its token holds every privilege but those a
// test names as absent), and the "advapi32" module through which the raw
// encrypted-file calls are found by name.
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <string>

#include "../win32.h"
#include "system_internal.h"

namespace om::standin {
namespace {

// The privileges a token of this system holds, by LUID (index + 2, as Windows
// numbers them from SeCreateTokenPrivilege = 2).
const char* const kPrivileges[] = {
    "SeCreateTokenPrivilege", "SeAssignPrimaryTokenPrivilege", "SeLockMemoryPrivilege",
    "SeIncreaseQuotaPrivilege", "SeMachineAccountPrivilege", "SeTcbPrivilege", "SeSecurityPrivilege",
    "SeTakeOwnershipPrivilege", "SeLoadDriverPrivilege", "SeSystemProfilePrivilege", "SeSystemtimePrivilege",
    "SeProfileSingleProcessPrivilege", "SeIncreaseBasePriorityPrivilege", "SeCreatePagefilePrivilege",
    "SeCreatePermanentPrivilege", "SeBackupPrivilege", "SeRestorePrivilege", "SeShutdownPrivilege",
    "SeDebugPrivilege", "SeAuditPrivilege", "SeSystemEnvironmentPrivilege", "SeChangeNotifyPrivilege",
    "SeRemoteShutdownPrivilege", "SeUndockPrivilege", "SeSyncAgentPrivilege", "SeEnableDelegationPrivilege",
    "SeManageVolumePrivilege", "SeImpersonatePrivilege", "SeCreateGlobalPrivilege"};
constexpr DWORD kFirstLuid = 2;
constexpr DWORD kPrivilegeCount = sizeof kPrivileges / sizeof kPrivileges[0];

std::mutex& privilegeLock() {
  static auto* lock = new std::mutex;
  return *lock;
}
std::set<DWORD>& enabledPrivileges() {
  static auto* enabled = new std::set<DWORD>;
  return *enabled;
}

// A privilege the token does not hold: one named in $OM_STANDIN_ROOT/token/absent
// (a name a line), which tests write for the "not all assigned" case.
bool absent(DWORD luid) {
  std::ifstream in(standinRoot() + "/token/absent");
  std::string name;
  while (std::getline(in, name))
    if (equalsIgnoreCase(name, kPrivileges[luid - kFirstLuid])) return true;
  return false;
}

FARPROC resolveAdvapi32(const char* name) {
  if (!std::strcmp(name, "OpenEncryptedFileRawW")) return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&OpenEncryptedFileRawW));
  if (!std::strcmp(name, "ReadEncryptedFileRaw")) return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&ReadEncryptedFileRaw));
  if (!std::strcmp(name, "WriteEncryptedFileRaw")) return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&WriteEncryptedFileRaw));
  if (!std::strcmp(name, "CloseEncryptedFileRaw")) return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&CloseEncryptedFileRaw));
  return nullptr;
}
const bool registered = (registerPseudoModule("advapi32.dll", &resolveAdvapi32), true);

}  // namespace

bool privilegeEnabled(const char* name) {
  for (DWORD i = 0; i < kPrivilegeCount; ++i) {
    if (equalsIgnoreCase(kPrivileges[i], name)) {
      std::lock_guard<std::mutex> lock(privilegeLock());
      return enabledPrivileges().count(i + kFirstLuid) != 0;
    }
  }
  return false;
}

}  // namespace om::standin

using namespace om::standin;

BOOL WINAPI LookupPrivilegeValueW(LPCWSTR system, LPCWSTR name, PLUID luid) {
  if (!name || !luid) return fail(ERROR_INVALID_PARAMETER);
  if (system && *system) return fail(ERROR_INVALID_PARAMETER);  // only the local system
  std::string text = narrow(name);
  for (DWORD i = 0; i < kPrivilegeCount; ++i) {
    if (equalsIgnoreCase(kPrivileges[i], text)) {
      luid->LowPart = i + kFirstLuid;
      luid->HighPart = 0;
      setLastError(ERROR_SUCCESS);
      return TRUE;
    }
  }
  return fail(ERROR_NO_SUCH_PRIVILEGE);
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD length,
                                  PTOKEN_PRIVILEGES previousState, PDWORD returned) {
  if (!lookupHandle(token)) return fail(ERROR_INVALID_HANDLE);
  if (!disableAll && !newState) return fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> lock(privilegeLock());
  auto& enabled = enabledPrivileges();
  if (disableAll) {
    enabled.clear();
    setLastError(ERROR_SUCCESS);
    return TRUE;
  }
  bool allAssigned = true;
  for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
    const LUID& luid = newState->Privileges[i].Luid;
    if (luid.HighPart != 0 || luid.LowPart < kFirstLuid || luid.LowPart >= kFirstLuid + kPrivilegeCount ||
        absent(luid.LowPart)) {
      allAssigned = false;
      continue;
    }
    DWORD attributes = newState->Privileges[i].Attributes;
    if (attributes & SE_PRIVILEGE_ENABLED)
      enabled.insert(luid.LowPart);
    else
      enabled.erase(luid.LowPart);
  }
  if (returned) *returned = 0;
  setLastError(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return TRUE;
}
