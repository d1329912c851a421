// Windows paths on the host, the stand-in root, wildcards, the environment and
// the current and temporary folders.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../win32.h"
#include "internal.h"

extern char** environ;

namespace om::standin {

namespace {

struct DevicePrefix {
  std::string prefix;  // lower case, e.g. "globalroot\device\harddiskvolumeshadowcopy"
  DevicePathResolver resolver;
};

std::mutex& devicesMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::vector<DevicePrefix>& devices() {
  static auto* d = new std::vector<DevicePrefix>;
  return *d;
}

std::string slashes(std::string path) {
  for (auto& c : path)
    if (c == '\\') c = '/';
  return path;
}

bool isDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

std::string standinRoot() {
  const char* root = std::getenv("OM_STANDIN_ROOT");
  std::string path = root && *root ? root : "/tmp/om-standin-" + std::to_string(getuid());
  mkdir(path.c_str(), 0777);
  return path;
}

void registerDevicePrefix(const std::string& prefix, DevicePathResolver resolver) {
  std::lock_guard<std::mutex> lock(devicesMutex());
  devices().push_back({toLowerAscii(prefix), std::move(resolver)});
}

namespace {

// The name in `folder` that is `name` to Windows, or empty.
std::string nameInFolder(const std::string& folder, const std::string& name) {
  std::string found;
  if (DIR* dir = opendir(folder.c_str())) {
    while (struct dirent* entry = readdir(dir)) {
      if (sameName(entry->d_name, name)) {
        found = entry->d_name;
        break;
      }
    }
    closedir(dir);
  }
  return found;
}

// `path` with its existing elements spelled as on the host.
std::string resolveCase(const std::string& path) {
  struct stat st;
  if (path.empty() || lstat(path.c_str(), &st) == 0) return path;
  std::string resolved = path[0] == '/' ? "/" : "";
  for (size_t at = resolved.size();;) {
    size_t slash = std::min(path.find('/', at), path.size());
    std::string element = path.substr(at, slash - at);
    std::string candidate = resolved + element;
    if (!element.empty() && lstat(candidate.c_str(), &st) != 0) {
      std::string match = errno == ENOENT ? nameInFolder(resolved.empty() ? "." : resolved, element) : "";
      if (match.empty()) return resolved + path.substr(at);  // the rest does not exist
      candidate = resolved + match;
    }
    if (slash == path.size()) return candidate;
    resolved = candidate + "/";
    at = slash + 1;
  }
}

bool namesExactly(const std::string& windowsPath) {
  return windowsPath.rfind("\\\\?\\", 0) == 0 || windowsPath.rfind("\\??\\", 0) == 0;
}

std::string mapWindowsPath(const std::string& windowsPath) {
  std::string path = normalWindowsPath(windowsPath);
  if (namesExactly(path)) {
    path = path.substr(4);
    std::string lower = toLowerAscii(path);
    std::lock_guard<std::mutex> lock(devicesMutex());
    for (const auto& device : devices())
      if (lower.rfind(device.prefix, 0) == 0) return device.resolver(path.substr(device.prefix.size()));
    if (lower.rfind("globalroot\\", 0) == 0) return std::string();  // no such device
  }
  if (path.size() >= 2 && isDriveLetter(path[0]) && path[1] == ':') {
    char drive = static_cast<char>(path[0] | 0x20);
    std::string rest = slashes(path.substr(2));
    if (rest.empty() || rest[0] != '/') rest = "/" + rest;  // "C:x" is taken as "C:\x"
    if (drive == 'c') return rest;
    return standinRoot() + "/drives/" + std::string(1, drive) + rest;
  }
  return slashes(path);
}

}  // namespace

std::string normalWindowsPath(const std::string& windowsPath) {
  if (namesExactly(windowsPath)) return windowsPath;
  size_t start = windowsPath.find_last_of("\\/") + 1;  // 0 without a separator
  std::string last = windowsPath.substr(start);
  if (last == "." || last == "..") return windowsPath;
  size_t end = windowsPath.find_last_not_of(". ");
  return windowsPath.substr(0, end == std::string::npos || end < start ? start : end + 1);
}

std::string hostPathFromWindows(const std::string& windowsPath) { return resolveCase(mapWindowsPath(windowsPath)); }

std::string windowsPathFromHost(const std::string& hostPath) {
  if (hostPath.empty() || hostPath[0] != '/') {
    std::string out = hostPath;
    for (auto& c : out)
      if (c == '/') c = '\\';
    return out;
  }
  std::string drives = standinRoot() + "/drives/";
  std::string drive = "C:";
  std::string rest = hostPath;
  if (hostPath.rfind(drives, 0) == 0 && hostPath.size() > drives.size()) {
    drive = std::string(1, static_cast<char>(hostPath[drives.size()] & ~0x20)) + ":";
    rest = hostPath.substr(drives.size() + 1);
    if (rest.empty()) rest = "/";
  }
  for (auto& c : rest)
    if (c == '/') c = '\\';
  return drive + rest;
}

namespace {
// The file system's name expressions over UTF-16 units, letter case ignored:
// "*" any units, "?" one unit, and the forms FindFirstFile turns wildcards
// into: DOS_STAR '<' (any units up to the name's last '.'), DOS_QM '>' (one
// unit, or none at a '.' or the name's end) and DOS_DOT '"' (a '.', or none
// at the name's end). Every expression position is followed at once, so the
// cost is expression x name steps however many stars there are.
constexpr char16_t kDosStar = '<', kDosQm = '>', kDosDot = '"';

// Expression unit e (no star) takes the name's unit c and moves on.
bool takesOne(char16_t e, char16_t c) {
  if (e == kDosDot) return c == '.';
  if (e == kDosQm) return c != '.';
  return e == '?' || upcase(e) == upcase(c);
}

bool nameInExpression(const std::u16string& expression, const std::u16string& name) {
  const size_t size = expression.size();
  const size_t lastDot = name.rfind(u'.');
  std::vector<char> now(size + 1, 0), next(size + 1, 0);
  // Adds position p and what follows it without taking a unit at name[n].
  auto reach = [&](std::vector<char>& set, size_t p, size_t n) {
    const bool atEnd = n == name.size();
    for (; p <= size && !set[p]; ++p) {
      set[p] = 1;
      if (p == size) return;
      const char16_t e = expression[p];
      const bool empty = e == '*' || e == kDosStar || (e == kDosDot && atEnd) ||
                         (e == kDosQm && (atEnd || name[n] == '.'));
      if (!empty) return;
    }
  };
  reach(now, 0, 0);
  for (size_t n = 0; n < name.size(); ++n) {
    std::fill(next.begin(), next.end(), 0);
    const char16_t c = name[n];
    bool any = false;
    for (size_t p = 0; p < size; ++p) {
      if (!now[p]) continue;
      const char16_t e = expression[p];
      // A star takes the unit and stays; DOS_STAR leaves the last '.' to what follows.
      if (e == '*' || (e == kDosStar && (c != '.' || n != lastDot))) reach(next, p, n + 1);
      else if (e != kDosStar && takesOne(e, c)) reach(next, p + 1, n + 1);
      else continue;
      any = true;
    }
    if (!any) return false;
    now.swap(next);
  }
  return now[size] != 0;
}

// A FindFirstFile pattern in the file system's terms: "?" becomes DOS_QM, a
// "*" before a '.' DOS_STAR, and a '.' before "?" or "*" or at the end DOS_DOT,
// so "*." finds names without an extension and "x.*" finds "x" as well.
std::u16string dosExpression(std::u16string pattern) {
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char16_t following = i + 1 < pattern.size() ? pattern[i + 1] : u'\0';
    if (pattern[i] == '?') pattern[i] = kDosQm;
    else if (pattern[i] == '*' && following == '.') pattern[i] = kDosStar;
    else if (pattern[i] == '.' && (following == '?' || following == '*' || following == 0)) pattern[i] = kDosDot;
  }
  return pattern;
}
}  // namespace

bool wildcardMatch(const std::string& pattern, const std::string& name) {
  return pattern == "*" || nameInExpression(dosExpression(widen(pattern)), widen(name));
}

bool expressionMatch(const std::string& expression, const std::string& name) {
  return nameInExpression(widen(expression), widen(name));
}

}  // namespace om::standin

namespace om {

std::string hostPath(const std::string& windowsPath) { return standin::hostPathFromWindows(windowsPath); }

std::string hostPathList(const std::string& windowsPathList) {
  std::string out;
  size_t start = 0;
  while (start <= windowsPathList.size()) {
    size_t end = windowsPathList.find(';', start);
    if (end == std::string::npos) end = windowsPathList.size();
    std::string item = windowsPathList.substr(start, end - start);
    if (!item.empty()) {
      if (!out.empty()) out += kHostPathListSeparator;
      out += hostPath(item);
    }
    start = end + 1;
  }
  return out;
}

}  // namespace om

using namespace om::standin;

// ---- environment ---------------------------------------------------------------
// Names compare without regard to case. PATH is shown in its Windows form
// ("C:\usr\bin;C:\bin") and stored back in the host's form, so the process and its
// children keep a working PATH.

static const char* findEnvironment(const std::string& name, std::string* hostName) {
  if (const char* value = std::getenv(name.c_str())) {
    *hostName = name;
    return value;
  }
  for (char** entry = environ; entry && *entry; ++entry) {
    const char* eq = std::strchr(*entry, '=');
    if (eq && equalsIgnoreCase(std::string(*entry, static_cast<size_t>(eq - *entry)), name)) {
      *hostName = std::string(*entry, static_cast<size_t>(eq - *entry));
      return eq + 1;
    }
  }
  return nullptr;
}

static bool isPathVariable(const std::string& name) { return equalsIgnoreCase(name, "PATH"); }

static std::string windowsPathListFromHost(const std::string& value) {
  std::string out;
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find(':', start);
    if (end == std::string::npos) end = value.size();
    if (!out.empty()) out += ';';
    out += windowsPathFromHost(value.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  std::string hostName;
  const char* value = name ? findEnvironment(name, &hostName) : nullptr;
  if (!value) {
    fail(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  std::string text = isPathVariable(hostName) ? windowsPathListFromHost(value) : value;
  setLastError(ERROR_SUCCESS);
  return copyOut(text, buffer, size);
}

DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
  std::string hostName;
  const char* value = name ? findEnvironment(narrow(name), &hostName) : nullptr;
  if (!value) {
    fail(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  std::string text = isPathVariable(hostName) ? windowsPathListFromHost(value) : value;
  setLastError(ERROR_SUCCESS);
  return copyOut(widen(text), buffer, size);
}

BOOL WINAPI SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
  if (!name || !*name || std::strchr(name, '=')) return fail(ERROR_INVALID_PARAMETER);
  std::string hostName;
  if (!findEnvironment(name, &hostName)) hostName = name;
  if (!value) {
    unsetenv(hostName.c_str());
    return TRUE;
  }
  std::string text = isPathVariable(hostName) ? om::hostPathList(value) : value;
  return setenv(hostName.c_str(), text.c_str(), 1) == 0 ? TRUE : failErrno(errno);
}

BOOL WINAPI SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value) {
  if (!name) return fail(ERROR_INVALID_PARAMETER);
  return SetEnvironmentVariableA(narrow(name).c_str(), Narrow(value).get());
}

// ---- folders ------------------------------------------------------------------

static std::string currentDirectory() {
  std::vector<char> buffer(4096);
  while (!getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return windowsPathFromHost(buffer.data());
}

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) { return copyOut(currentDirectory(), buffer, size); }
DWORD WINAPI GetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
  return copyOut(widen(currentDirectory()), buffer, size);
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR path) {
  if (!path || !*path) return fail(ERROR_INVALID_PARAMETER);
  std::string host = hostPathFromWindows(path);
  if (host.empty()) return fail(ERROR_PATH_NOT_FOUND);
  if (chdir(host.c_str()) == 0) return TRUE;
  return fail(errno == ENOENT ? ERROR_FILE_NOT_FOUND : errno == ENOTDIR ? ERROR_DIRECTORY : win32ErrorFromErrno(errno));
}

BOOL WINAPI SetCurrentDirectoryW(LPCWSTR path) {
  return path ? SetCurrentDirectoryA(narrow(path).c_str()) : fail(ERROR_INVALID_PARAMETER);
}

static std::string tempPath() {
  for (const char* name : {"TMP", "TEMP", "TMPDIR"}) {
    const char* value = std::getenv(name);
    if (value && *value) {
      std::string path = windowsPathFromHost(value);
      return path.back() == '\\' ? path : path + "\\";
    }
  }
  return "C:\\tmp\\";
}

DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) { return copyOut(tempPath(), buffer, size); }
DWORD WINAPI GetTempPathW(DWORD size, LPWSTR buffer) { return copyOut(widen(tempPath()), buffer, size); }
