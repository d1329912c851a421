// Windows side of the tray platform layer.
#include "platform/win32.h"
#include "platform/win32_owners.h"
#include "tray/tray_platform.h"

namespace om {

std::string PlatformProgramFileName() { return moduleFileName(); }

uint16_t PlatformUserDefaultLangID() { return GetUserDefaultLangID(); }

bool FileExists(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {

std::wstring ToWide(const std::string& s, UINT cp) {
  if (s.empty()) return std::wstring();
  int n = MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
  return w;
}

std::string FromWide(const std::wstring& w, UINT cp) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
  return s;
}

}  // namespace

std::string Utf8ToAnsi(const std::string& utf8) { return FromWide(ToWide(utf8, CP_UTF8), CP_ACP); }
std::string AnsiToUtf8(const std::string& ansi) { return FromWide(ToWide(ansi, CP_ACP), CP_UTF8); }

}  // namespace om
