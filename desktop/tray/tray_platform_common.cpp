#include <atomic>
#include <mutex>

#include "tray/tray_platform.h"

namespace om {

namespace {
std::mutex gOverrideLock;
std::string gProgramOverride;
std::atomic<int> gLangOverride{-1};

bool IsDelim(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/' || c == ':';
#else
  return c == '/' || c == '\\';
#endif
}
}  // namespace

std::string PlatformProgramFileName();   // per platform
uint16_t PlatformUserDefaultLangID();   // per platform

std::string ProgramFileName() {
  {
    std::lock_guard<std::mutex> g(gOverrideLock);
    if (!gProgramOverride.empty()) return gProgramOverride;
  }
  return PlatformProgramFileName();
}

void SetProgramFileNameForTesting(const std::string& path) {
  std::lock_guard<std::mutex> g(gOverrideLock);
  gProgramOverride = path;
}

std::string ProgramFolder() { return ExtractFileDir(ProgramFileName()); }

uint16_t UserDefaultLangID() {
  int o = gLangOverride.load();
  return o >= 0 ? static_cast<uint16_t>(o) : PlatformUserDefaultLangID();
}

void SetUserDefaultLangIDForTesting(int langId) { gLangOverride.store(langId); }

std::string ExtractFileName(const std::string& path) {
  size_t i = path.size();
  while (i > 0 && !IsDelim(path[i - 1])) --i;
  return path.substr(i);
}

std::string ExtractFilePath(const std::string& path) {
  size_t i = path.size();
  while (i > 0 && !IsDelim(path[i - 1])) --i;
  return path.substr(0, i);
}

std::string ExtractFileDir(const std::string& path) {
  std::string folder = ExtractFilePath(path);
  if (!folder.empty() && folder.back() != ':') folder.pop_back();
  return folder;
}

std::string ExtractFileExt(const std::string& path) {
  for (size_t i = path.size(); i > 0; --i) {
    char c = path[i - 1];
    if (c == '.') return path.substr(i - 1);
    if (IsDelim(c)) break;
  }
  return std::string();
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
  if (!path.empty() && IsDelim(path.back()) && path.back() != ':') return path;
  return path + kPathDelim;
}

std::string LowerCaseAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

}  // namespace om
