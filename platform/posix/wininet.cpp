// "wininet" as a pseudo module: InternetQueryOptionA for the process-wide proxy
// settings (no session handle), read from the current user's "Internet Settings"
// key as the system keeps them: ProxyEnable, ProxyServer and ProxyOverride.
#include <cstring>
#include <string>

#include "../win32.h"
#include "internal.h"

namespace om::standin {
namespace {

constexpr DWORD kOptionProxy = 38;                   // INTERNET_OPTION_PROXY
constexpr DWORD kOpenTypeDirect = 1;                 // INTERNET_OPEN_TYPE_DIRECT
constexpr DWORD kOpenTypeProxy = 3;                  // INTERNET_OPEN_TYPE_PROXY
constexpr DWORD kIncorrectHandleType = 12018;        // ERROR_INTERNET_INCORRECT_HANDLE_TYPE
constexpr char kSettingsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

struct ProxyInfo {  // INTERNET_PROXY_INFO
  DWORD dwAccessType;
  const char* lpszProxy;
  const char* lpszProxyBypass;
};
static_assert(sizeof(ProxyInfo) == 24, "INTERNET_PROXY_INFO");

bool readString(HKEY key, const char* name, std::string& value) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) return false;
  std::string data(size, '\0');
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
    return false;
  value = data.c_str();
  return true;
}

BOOL WINAPI InternetQueryOptionA(void* handle, DWORD option, LPVOID buffer, LPDWORD size) {
  if (!size) return fail(ERROR_INVALID_PARAMETER);
  if (handle || option != kOptionProxy) return fail(kIncorrectHandleType);
  DWORD enabled = 0;
  std::string server, bypass;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    DWORD type = 0, length = sizeof enabled;
    if (RegQueryValueExA(key, "ProxyEnable", nullptr, &type, reinterpret_cast<BYTE*>(&enabled), &length) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
      enabled = 0;
    readString(key, "ProxyServer", server);
    readString(key, "ProxyOverride", bypass);
    RegCloseKey(key);
  }
  bool proxy = enabled && !server.empty();
  DWORD needed = static_cast<DWORD>(sizeof(ProxyInfo) + (proxy ? server.size() + 1 : 0) + bypass.size() + 1);
  if (!buffer || *size < needed) {
    *size = needed;
    return fail(ERROR_INSUFFICIENT_BUFFER);
  }
  auto* bytes = static_cast<char*>(buffer);
  char* text = bytes + sizeof(ProxyInfo);
  ProxyInfo info{proxy ? kOpenTypeProxy : kOpenTypeDirect, nullptr, nullptr};
  if (proxy) {
    std::memcpy(text, server.c_str(), server.size() + 1);
    info.lpszProxy = text;
    text += server.size() + 1;
  }
  std::memcpy(text, bypass.c_str(), bypass.size() + 1);
  info.lpszProxyBypass = text;
  std::memcpy(bytes, &info, sizeof info);
  *size = needed;
  setLastError(ERROR_SUCCESS);
  return TRUE;
}

FARPROC resolveWininet(const char* name) {
  if (std::strcmp(name, "InternetQueryOptionA") == 0) return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&InternetQueryOptionA));
  return nullptr;
}

const bool registered = (registerPseudoModule("wininet.dll", &resolveWininet), true);

}  // namespace
}  // namespace om::standin
