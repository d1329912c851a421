#include "tray/handover.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include "platform/win32.h"
#include "platform/win32_owners.h"
#endif

#include "framework/exceptions.h"
#include "framework/stringlist.h"
#include "framework/streams.h"
#include "framework/strutils.h"
#include "support/dates.h"
#include "hash/hashes.h"
#include "hash/string_formats.h"

namespace om {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool PathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// A folder of that name is no hand-over file: it is left alone.
bool IsFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void DeleteExisting(const std::string& path) {
  if (std::remove(path.c_str()) != 0 && PathExists(path))
    throw EFCreateError(Format("Cannot delete file \"%s\". %s", path.c_str(), std::strerror(errno)));
}

}  // namespace

std::string ParamsFileName(const std::string& programPath) {
  return THash::CalcStringDigest(THash_MD5::ClassInfo, programPath, nullptr, fmtHEX);
}

std::string ReduceTempFolder(const std::string& expandedTemp) {
  size_t end = expandedTemp.size();
  size_t start = end;
  while (start > 0 && !IsSeparator(expandedTemp[start - 1])) --start;
  if (start == 0 || start == end) return expandedTemp;  // no separator, or ends in one
  for (size_t i = start; i < end; ++i)
    if (expandedTemp[i] < '0' || expandedTemp[i] > '9') return expandedTemp;
  return expandedTemp.substr(0, start - 1);
}

std::string HandOverFolder(const std::string& expandedTemp) {
  std::string base = ReduceTempFolder(expandedTemp);
  if (!base.empty() && IsSeparator(base.back())) base.pop_back();
  return base + "\\omparams\\";
}

std::string HandOverFilePath(const std::string& expandedTemp, const std::string& programPath) {
  return HandOverFolder(expandedTemp) + ParamsFileName(programPath);
}

void WriteParamsFile(const std::string& path, const std::string& text) {
  if (PathExists(path)) DeleteExisting(path);
  TFileStream stream(path, fmCreate);
  if (!text.empty()) stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

#ifdef _WIN32
bool TakeParamsFile(const std::string& path, std::string& text) {
  if (!IsFile(path)) return false;
  // Read and deleted through one handle through which alone it can be deleted
  // meanwhile: a loader giving up on its file either removes it before this
  // opens it, or finds it taken.
  const UniqueFile file(
      CreateFileA(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    // Gone, or being removed by its writer: nothing to take.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED)
      return false;
    throw EFOpenError(Format("Cannot open file \"%s\". %s", path.c_str(), systemMessage(error).c_str()));
  }
  std::string bytes;
  char buffer[4096];
  DWORD read = 0;
  BOOL ok;
  while ((ok = ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) && read > 0) bytes.append(buffer, read);
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (ok) ok = SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
  if (!ok)
    throw EFCreateError(Format("Cannot delete file \"%s\". %s", path.c_str(), systemMessage(GetLastError()).c_str()));
  TStringList lines;
  lines.SetText(bytes);
  text = lines.Text();
  return true;
}
#else
bool TakeParamsFile(const std::string& path, std::string& text) {
  if (!IsFile(path)) return false;
  TStringList lines;
  lines.LoadFromFile(path);
  DeleteExisting(path);
  text = lines.Text();
  return true;
}
#endif


int64_t FileWriteTime(const std::string& path) {
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return static_cast<int64_t>((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                              data.ftLastWriteTime.dwLowDateTime);
#else
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return 0;
  return kUnixEpochFileTime + static_cast<int64_t>(st.st_mtim.tv_sec) * 10000000 + st.st_mtim.tv_nsec / 100;
#endif
}

namespace {
unsigned char CharAt(const std::string& text, size_t i) {
  return i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
}
}  // namespace

size_t SkipToArgument(const std::string& commandLine, size_t p) {
  auto at = [&](size_t i) { return CharAt(commandLine, i); };
  for (;;) {
    while (at(p) != 0 && at(p) <= ' ') ++p;
    if (at(p) == '"' && at(p + 1) == '"')
      p += 2;
    else
      return p;
  }
}

size_t ReadArgument(const std::string& commandLine, size_t p, std::string* arg,
                    bool (*isLeadByte)(unsigned char)) {
  auto at = [&](size_t i) { return CharAt(commandLine, i); };
  // One character (a lead byte with its trail byte), kept when arg is given.
  auto take = [&](size_t i) -> size_t {
    const size_t next = isLeadByte && isLeadByte(at(i)) && at(i + 1) != 0 ? i + 2 : i + 1;
    if (arg) arg->append(commandLine, i, next - i);
    return next;
  };
  while (at(p) > ' ') {
    if (at(p) == '"') {
      ++p;
      while (at(p) != 0 && at(p) != '"') p = take(p);
      if (at(p) != 0) ++p;
    } else {
      p = take(p);
    }
  }
  return p;
}

size_t SkipProgramName(const std::string& commandLine, bool (*isLeadByte)(unsigned char)) {
  return ReadArgument(commandLine, SkipToArgument(commandLine, 0), nullptr, isLeadByte);
}

bool HandOverRequestsClose(const std::string& text) {
  // A whole argument: "-close" inside another one (a path such as
  // "D:\my-closet") is no request.
  for (size_t p = 0; p < text.size();) {
    p = SkipToArgument(text, p);
    if (p < text.size() && text[p] == '\0') {
      ++p;
      continue;
    }
    std::string arg;
    p = ReadArgument(text, p, &arg);
    if (arg == "-close") return true;
  }
  return false;
}

bool HandOverIsSilent(const std::string& text) {
  static const char kSilent[] = "silent";
  const size_t n = sizeof kSilent - 1;
  for (size_t p = 0; p + n <= text.size(); ++p)
    if (SameText(text.substr(p, n), kSilent)) return true;
  return false;
}

}  // namespace om

#include <chrono>
#include <thread>

#include "tray/startup_switches.h"

namespace om {

bool ProcessHandOverFile(TTrayHost& host, const std::string& path, int64_t notBefore) {
  if (!IsFile(path)) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // A loader still waiting for this file placed it after that.
  if (notBefore != 0 && FileWriteTime(path) < notBefore - int64_t{kHandOverWaitMs} * 10000) {
    DeleteExisting(path);
    return true;
  }
  std::string text;
  if (!TakeParamsFile(path, text)) return false;
  if (HandOverRequestsClose(text)) {
    host.QuitProgram();
    return true;
  }
  if (host.HandleCommandWords(text)) host.LaunchJavaGui(text, true);
  return true;
}

}  // namespace om
