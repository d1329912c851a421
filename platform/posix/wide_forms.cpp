// Wide forms of stand-in calls that first came only as ANSI forms: the names
// and paths go through UTF-8, the stand-in's ANSI code page, so both forms see
// the same services and folders.
#include <cstring>
#include <vector>

#include "../win32.h"
#include "internal.h"

using namespace om::standin;

namespace {

// A wide argument as the ANSI form takes it; null stays null.
struct Narrow {
  explicit Narrow(LPCWSTR text) : null(text == nullptr), utf8(text ? narrow(text) : std::string()) {}
  const char* get() const { return null ? nullptr : utf8.c_str(); }
  bool null;
  std::string utf8;
};

}  // namespace

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD access) {
  return OpenSCManagerA(Narrow(machine).get(), Narrow(database).get(), access);
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD access) {
  return OpenServiceA(manager, Narrow(serviceName).get(), access);
}

BOOL WINAPI EnumDependentServicesW(SC_HANDLE service, DWORD state, LPENUM_SERVICE_STATUSW services, DWORD size,
                                   LPDWORD needed, LPDWORD returned) {
  if (!needed || !returned) return fail(ERROR_INVALID_PARAMETER);
  DWORD ansiNeeded = 0, count = 0;
  std::vector<BYTE> ansi;
  while (!EnumDependentServicesA(service, state, reinterpret_cast<LPENUM_SERVICE_STATUSA>(ansi.data()),
                                 static_cast<DWORD>(ansi.size()), &ansiNeeded, &count)) {
    if (GetLastError() != ERROR_MORE_DATA || ansiNeeded <= ansi.size()) return FALSE;
    ansi.resize(ansiNeeded);
  }
  // The entries first, then their names, as the ANSI form lays them out.
  auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUSA*>(ansi.data());
  std::vector<std::u16string> names;
  DWORD total = count * sizeof(ENUM_SERVICE_STATUSW);
  for (DWORD i = 0; i < count; ++i) {
    names.push_back(widen(entries[i].lpServiceName ? entries[i].lpServiceName : ""));
    names.push_back(widen(entries[i].lpDisplayName ? entries[i].lpDisplayName : ""));
    total += static_cast<DWORD>((names[2 * i].size() + names[2 * i + 1].size() + 2) * sizeof(WCHAR));
  }
  *needed = total;
  *returned = 0;
  if (!services || size < total) return fail(ERROR_MORE_DATA);
  auto* text = reinterpret_cast<WCHAR*>(reinterpret_cast<BYTE*>(services) + count * sizeof(ENUM_SERVICE_STATUSW));
  for (DWORD i = 0; i < count; ++i) {
    services[i].ServiceStatus = entries[i].ServiceStatus;
    for (int part = 0; part < 2; ++part) {
      const std::u16string& name = names[2 * i + part];
      (part ? services[i].lpDisplayName : services[i].lpServiceName) = text;
      std::memcpy(text, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
      text += name.size() + 1;
    }
  }
  *returned = count;
  setLastError(ERROR_SUCCESS);
  return TRUE;
}

HANDLE WINAPI FindFirstChangeNotificationW(LPCWSTR path, BOOL watchSubtree, DWORD filter) {
  return FindFirstChangeNotificationA(Narrow(path).get(), watchSubtree, filter);
}
