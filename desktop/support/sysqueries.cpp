#include "support/sysqueries.h"

#include <shlobj.h>

#include <cstring>
#include <vector>

#include "platform/win32_owners.h"
#include "support/unitversions.h"

namespace om {

namespace {

const TUnitVersionInfo kSysInfoVersion = {"$URL: desktop/support/sysqueries.cpp $", "$Revision: 1 $", "$Date: 2026-12-09 $",
                                          "desktop/support", "", ""};
TLibraryUnit gSysInfoUnit(&kSysInfoVersion);

std::string cutAtZero(const char* buffer, size_t size) {
  size_t n = 0;
  while (n < size && buffer[n]) ++n;
  return std::string(buffer, n);
}

}  // namespace

std::string GetSpecialFolder(int folderId) {
  LPITEMIDLIST items = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, folderId, &items)) || !items) return std::string();
  char buffer[MAX_PATH] = {};
  std::string result;
  if (SHGetPathFromIDListA(items, buffer)) result = cutAtZero(buffer, MAX_PATH);
  IMalloc* shellMalloc = nullptr;
  if (SUCCEEDED(SHGetMalloc(&shellMalloc)) && shellMalloc) {
    shellMalloc->Free(items);
    shellMalloc->Release();
  }
  return result;
}

std::string GetProfileFolder() { return GetSpecialFolder(CSIDL_PROFILE); }

std::string GetLocalComputerName() {
  char buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof buffer;
  if (!GetComputerNameA(buffer, &size)) return std::string();
  return cutAtZero(buffer, sizeof buffer);
}

std::string GetLocalUserName() {
  char buffer[257] = {};  // longest user name plus one
  DWORD size = sizeof buffer;
  if (!GetUserNameA(buffer, &size)) return std::string();
  return cutAtZero(buffer, sizeof buffer);
}

std::string GetAccountDomain(const std::string& accountName) {
  if (accountName.empty()) return std::string();
  DWORD sidSize = 0;
  DWORD domainSize = 0;
  SID_NAME_USE use;
  LookupAccountNameA(nullptr, accountName.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
  if (sidSize == 0 || domainSize == 0) return std::string();
  std::vector<unsigned char> sid(sidSize);
  std::vector<char> domain(domainSize + 1, '\0');
  DWORD domainLength = domainSize + 1;
  if (!LookupAccountNameA(nullptr, accountName.c_str(), sid.data(), &sidSize, domain.data(), &domainLength, &use))
    return std::string();
  return cutAtZero(domain.data(), domain.size());
}

std::string GetCurrentUserDomain() { return GetAccountDomain(GetLocalUserName()); }

void InitializeSysInfoUnit() { gSysInfoUnit.StartUp(); }

void FinalizeSysInfoUnit() {
  if (gSysInfoUnit.ShutDown()) FreeProcessStatusLibrary();
}

}  // namespace om
