#include "tray/console_launch.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "framework/stringlist.h"
#include "framework/strutils.h"
#include "tray/tray_platform.h"

namespace om {

TConsoleHeap ComputeConsoleHeap(int configured, uint64_t physicalBytes) {
  TConsoleHeap r;
  r.Heap = configured != 0 ? configured : kDefaultConsoleHeap;
  if (physicalBytes > 0) {
    // Whole MB; the 0.9 limit compared in integers (value * 10 >= MB * 9), so
    // the result does not depend on the floating-point unit.
    const int64_t totalMb = static_cast<int64_t>(std::nearbyint(static_cast<double>(physicalBytes) / 1048576.0));
    auto atLimit = [&](int64_t value) { return value * 10 >= totalMb * 9; };
    if (atLimit(r.Heap)) {
      r.Heap = static_cast<int>(totalMb / 2);
      r.Warn = atLimit(configured) && configured != kDefaultConsoleHeap;
    }
  }
  return r;
}

std::string ConsoleArguments(const std::string& extra, bool noArguments,
                             const std::vector<std::string>& programArguments) {
  std::string args;
  if (!extra.empty()) args = " " + extra;
  if (!noArguments)
    for (const std::string& a : programArguments) args += " " + a;
  return args;
}

std::string RuntimeRoot(const std::string& javaw) {
  // javaw sits in "<runtime>\bin\"; the last "\bin\" is the runtime's own even
  // when the installation path holds another one.
  size_t p = LowerCaseAscii(javaw).rfind("\\bin\\");
  if (p == std::string::npos) return std::string();
  return javaw.substr(0, p + 1);
}

std::string SelectJavaw(const std::string& runtimeContainer, const std::vector<std::string>& runtimeFolders,
                        const std::function<bool(const std::string&)>& fileExists) {
  std::string javaw;
  for (const std::string& folder : runtimeFolders) {
    std::string candidate = runtimeContainer + "\\" + folder + "\\bin\\javaw.exe";
    if (fileExists(candidate)) javaw = candidate;
  }
  return javaw;
}

std::string BuildConsoleCommandLine(const std::string& javaw, int heap, bool useDirectDraw,
                                    const std::string& programFolder, const std::string& arguments,
                                    bool extensionFolder) {
  std::string cmd = "\"" + javaw + "\"";
  cmd += " -Xmx" + std::to_string(heap) + "m";
  if (!useDirectDraw) cmd += " -Dsun.java2d.noddraw=true";
  cmd += " -Dsun.net.inetaddr.ttl=300";
  cmd += " -classpath \"" + programFolder + "\\lib\\*\"";
  if (extensionFolder) cmd += " -Djava.ext.dirs=\"" + RuntimeRoot(javaw) + "lib\\ext\"";
  cmd += std::string(" ") + kConsoleMainClass + " ";
  cmd += "0";
  cmd += " ";
  cmd += Trim(arguments);
  return cmd;
}

namespace {

// Looks name up in folder's ombackup.properties; false when the file or the
// key is missing or the file cannot be read.
bool ReadAgentProperty(const std::string& folder, const std::string& name, std::string& value) {
  try {
    const std::string path = IncludeTrailingPathDelimiter(folder) + "ombackup.properties";
    if (!FileExists(path)) return false;
    TStringList lines;
    lines.LoadFromFile(path);
    TStringList decoded;
    for (const std::string& l : lines.Items()) decoded.Add(Utf8ToAnsi(l));
    if (decoded.IndexOfName(name) < 0) return false;
    value = decoded.Values(name);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

int GetConfiguredMemory(const std::string& folder) {
  std::string value;
  if (!ReadAgentProperty(folder, "application.memory", value)) return 0;
  if (value.empty() || value.size() > 11) return 0;
  char* end = nullptr;
  long long n = std::strtoll(value.c_str(), &end, 10);
  // A heap must be positive; anything else counts as not configured.
  if (!end || *end != 0 || n <= 0 || n > INT32_MAX) return 0;
  for (char c : value)
    if (c == ' ' || c == '\t') return 0;
  return static_cast<int>(n);
}

bool GetUseDirectDraw(const std::string& folder) {
  std::string value;
  if (!ReadAgentProperty(folder, "gui.useddraw", value)) return true;
  return SameText(value, "true");
}

int GetConfiguredMemory() { return GetConfiguredMemory(ProgramFolder()); }
bool GetUseDirectDraw() { return GetUseDirectDraw(ProgramFolder()); }

}  // namespace om
