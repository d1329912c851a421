// System information: computer names (see include/sysinfo.h).
#include <unistd.h>

#include <cctype>
#include <cstring>

#include "../win32.h"
#include "internal.h"

namespace om::standin {
namespace {

std::string computerName(COMPUTER_NAME_FORMAT format) {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  std::string full = host;
  size_t dot = full.find('.');
  std::string label = full.substr(0, dot);
  std::string domain = dot == std::string::npos ? std::string() : full.substr(dot + 1);
  switch (format) {
    case ComputerNameNetBIOS:
    case ComputerNamePhysicalNetBIOS: {
      std::string name = label.substr(0, 15);
      for (auto& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return name;
    }
    case ComputerNameDnsHostname:
    case ComputerNamePhysicalDnsHostname:
      return label;
    case ComputerNameDnsDomain:
    case ComputerNamePhysicalDnsDomain:
      return domain;
    default:
      return full;
  }
}

}  // namespace
}  // namespace om::standin

using namespace om::standin;

BOOL WINAPI GetComputerNameExW(COMPUTER_NAME_FORMAT format, LPWSTR buffer, LPDWORD size) {
  if (!size || format < ComputerNameNetBIOS || format >= ComputerNameMax) return fail(ERROR_INVALID_PARAMETER);
  std::u16string name = widen(computerName(format));
  if (!buffer || *size < name.size() + 1) {
    *size = static_cast<DWORD>(name.size() + 1);
    return fail(ERROR_MORE_DATA);
  }
  std::memcpy(buffer, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  *size = static_cast<DWORD>(name.size());
  setLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (!info) return fail(ERROR_INVALID_PARAMETER);
  DWORD size = info->dwOSVersionInfoSize;
  if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memset(reinterpret_cast<BYTE*>(info) + sizeof(DWORD), 0, size - sizeof(DWORD));
  info->dwMajorVersion = 10;
  info->dwMinorVersion = 0;
  info->dwBuildNumber = 19045;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  if (size == sizeof(OSVERSIONINFOEXA)) reinterpret_cast<LPOSVERSIONINFOEXA>(info)->wProductType = VER_NT_WORKSTATION;
  return TRUE;
}
