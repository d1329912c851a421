// Computer names, the thread background mode, volume paths and mount points, and
// the service status calls the system bridge uses (see include/system_ext.h and
// include/winsvc.h).
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "../win32.h"
#include "system_internal.h"

namespace om::standin {
namespace {

// ---- computer names ----------------------------------------------------------------
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

thread_local bool backgroundMode = false;

// ---- mounts -----------------------------------------------------------------------------
struct Mount {
  int id = 0;
  int parent = 0;
  std::string path;
};

std::string unescapeMount(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() + 0 && std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The host's mounts of folders, in the order the kernel lists them.
std::vector<Mount> folderMounts() {
  std::vector<Mount> mounts;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Mount mount;
    std::string device, root, path;
    if (!(fields >> mount.id >> mount.parent >> device >> root >> path)) continue;
    mount.path = unescapeMount(path);
    struct stat st;
    if (stat(mount.path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    mounts.push_back(mount);
  }
  return mounts;
}

// The mount the host root is (the last one mounted at "/").
int rootMountId(const std::vector<Mount>& mounts) {
  int id = -1;
  for (const auto& mount : mounts)
    if (mount.path == "/") id = mount.id;
  return id;
}

std::u16string windowsMountName(const std::string& hostPath) {  // "/mnt/data" -> "mnt\data\"
  std::string name = hostPath.substr(1);
  for (auto& c : name)
    if (c == '/') c = '\\';
  return widen(name + "\\");
}

// Drive letter of "X:\" (lower case), or 0.
char driveOfRoot(const std::string& path) {
  if (path.size() != 3 || path[1] != ':' || path[2] != '\\' || !std::isalpha(static_cast<unsigned char>(path[0])))
    return 0;
  return static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
}

bool driveExists(char letter) {
  if (letter == 'c') return true;
  struct stat st;
  return stat((standinRoot() + "/drives/" + std::string(1, letter)).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string volumeName(unsigned value) {
  char text[64];
  std::snprintf(text, sizeof text, "\\\\?\\Volume{4f6d7662-0000-0000-0000-%012x}\\", value);
  return text;
}

BOOL deliver(const std::u16string& text, LPWSTR buffer, DWORD length) {
  if (!buffer || length < text.size() + 1) return fail(ERROR_FILENAME_EXCED_RANGE);
  std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
  setLastError(ERROR_SUCCESS);
  return TRUE;
}

class MountPointFind : public KernelObject {
 public:
  std::vector<std::u16string> names;
  size_t next = 0;
};

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

BOOL WINAPI SetThreadPriority(HANDLE thread, int priority) {
  if (priority == THREAD_MODE_BACKGROUND_BEGIN || priority == THREAD_MODE_BACKGROUND_END) {
    if (thread != GetCurrentThread()) return fail(ERROR_INVALID_HANDLE);
    bool begin = priority == THREAD_MODE_BACKGROUND_BEGIN;
    if (begin == backgroundMode)
      return fail(begin ? ERROR_THREAD_MODE_ALREADY_BACKGROUND : ERROR_THREAD_MODE_NOT_BACKGROUND);
    backgroundMode = begin;
    return TRUE;
  }
  if (priority < -15 || priority > 15) return fail(ERROR_INVALID_PARAMETER);
  return TRUE;
}

BOOL WINAPI GetVolumePathNameW(LPCWSTR path, LPWSTR volumePath, DWORD length) {
  if (!path || !*path) return fail(ERROR_INVALID_NAME);
  std::string windows = narrow(path);
  if (windows.rfind("\\\\?\\", 0) == 0) windows = windows.substr(4);
  if (windows.size() >= 2 && windows[0] == '\\' && windows[1] == '\\') {  // \\server\share\ of a UNC path
    size_t server = windows.find('\\', 2);
    size_t share = server == std::string::npos ? std::string::npos : windows.find('\\', server + 1);
    return deliver(widen(share == std::string::npos ? windows + "\\" : windows.substr(0, share + 1)), volumePath,
                   length);
  }
  char letter = 'c';
  if (windows.size() >= 2 && windows[1] == ':' && std::isalpha(static_cast<unsigned char>(windows[0])))
    letter = static_cast<char>(std::tolower(static_cast<unsigned char>(windows[0])));
  std::string root = std::string(1, static_cast<char>(std::toupper(letter))) + ":\\";
  if (letter != 'c') return deliver(widen(root), volumePath, length);
  // On C: the deepest mounted folder holding the path.
  std::string host = hostPathFromWindows(windows);
  if (!host.empty() && host[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) host = std::string(cwd) + "/" + host;
  }
  std::string best;
  for (const auto& mount : folderMounts()) {
    if (mount.path == "/") continue;
    if (host.rfind(mount.path, 0) == 0 && (host.size() == mount.path.size() || host[mount.path.size()] == '/') &&
        mount.path.size() > best.size())
      best = mount.path;
  }
  return deliver(best.empty() ? widen(root) : u"C:\\" + windowsMountName(best), volumePath, length);
}

BOOL WINAPI GetVolumeNameForVolumeMountPointW(LPCWSTR mountPoint, LPWSTR volumeName, DWORD length) {
  if (!mountPoint) return fail(ERROR_INVALID_PARAMETER);
  std::string windows = narrow(mountPoint);
  if (windows.empty() || windows.back() != '\\') return fail(ERROR_INVALID_PARAMETER);
  if (char letter = driveOfRoot(windows)) {
    if (!driveExists(letter)) return fail(ERROR_FILE_NOT_FOUND);
    return deliver(widen(om::standin::volumeName(static_cast<unsigned char>(letter))), volumeName, length);
  }
  std::string host = hostPathFromWindows(windows.substr(0, windows.size() - 1));
  struct stat st;
  if (host.empty() || stat(host.c_str(), &st) != 0) return fail(host.empty() ? ERROR_PATH_NOT_FOUND : missingFileError(host));
  if (windows.size() > 3 && windows[1] == ':' && std::tolower(static_cast<unsigned char>(windows[0])) == 'c')
    for (const auto& mount : folderMounts())
      if (mount.path == host) return deliver(widen(om::standin::volumeName(0x1000000u + mount.id)), volumeName, length);
  return fail(ERROR_NOT_A_REPARSE_POINT);
}

HANDLE WINAPI FindFirstVolumeMountPointW(LPCWSTR rootPath, LPWSTR mountPoint, DWORD length) {
  std::string root = rootPath ? narrow(rootPath) : std::string();
  char letter = driveOfRoot(root);
  for (char l = 'a'; !letter && l <= 'z'; ++l)
    if (root == om::standin::volumeName(static_cast<unsigned char>(l))) letter = l;
  if (!letter || !driveExists(letter)) {
    fail(letter ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto find = std::make_shared<MountPointFind>();
  if (letter == 'c') {
    std::vector<Mount> mounts = folderMounts();
    int rootId = rootMountId(mounts);
    for (const auto& mount : mounts)
      if (mount.parent == rootId && mount.path != "/") find->names.push_back(windowsMountName(mount.path));
  }
  if (find->names.empty()) {
    fail(ERROR_NO_MORE_FILES);
    return INVALID_HANDLE_VALUE;
  }
  if (!deliver(find->names[0], mountPoint, length)) return INVALID_HANDLE_VALUE;
  find->next = 1;
  return insertHandle(find);
}

BOOL WINAPI FindNextVolumeMountPointW(HANDLE handle, LPWSTR mountPoint, DWORD length) {
  auto find = lookup<MountPointFind>(handle);
  if (!find) return fail(ERROR_INVALID_HANDLE);
  if (find->next >= find->names.size()) return fail(ERROR_NO_MORE_FILES);
  if (!deliver(find->names[find->next], mountPoint, length)) return FALSE;
  ++find->next;
  return TRUE;
}

BOOL WINAPI FindVolumeMountPointClose(HANDLE handle) {
  if (!lookup<MountPointFind>(handle)) return fail(ERROR_INVALID_HANDLE);
  removeHandle(handle);
  return TRUE;
}

BOOL WINAPI QueryServiceStatusEx(SC_HANDLE service, SC_STATUS_TYPE level, LPBYTE buffer, DWORD size,
                                 LPDWORD needed) {
  if (level != SC_STATUS_PROCESS_INFO || !needed) return fail(ERROR_INVALID_PARAMETER);
  *needed = sizeof(SERVICE_STATUS_PROCESS);
  SERVICE_STATUS status;
  if (!QueryServiceStatus(service, &status)) return FALSE;
  if (!buffer || size < sizeof(SERVICE_STATUS_PROCESS)) return fail(ERROR_INSUFFICIENT_BUFFER);
  SERVICE_STATUS_PROCESS out{};
  std::memcpy(&out, &status, sizeof status);
  std::memcpy(buffer, &out, sizeof out);
  return TRUE;
}

BOOL WINAPI EnumDependentServicesA(SC_HANDLE service, DWORD state, LPENUM_SERVICE_STATUSA services, DWORD size,
                                   LPDWORD needed, LPDWORD returned) {
  if (!needed || !returned || state < SERVICE_ACTIVE || state > SERVICE_STATE_ALL) return fail(ERROR_INVALID_PARAMETER);
  std::string folder = serviceFolder(service);
  if (folder.empty()) return FALSE;
  *needed = 0;
  *returned = 0;
  // Every service's name, display name and dependencies, from the database.
  struct Entry {
    std::string name, display;
    std::vector<std::string> depends;
    int depth = 0;
  };
  std::vector<Entry> all;
  std::string target;
  std::string database = folder.substr(0, folder.find_last_of('/'));
  if (DIR* dir = opendir(database.c_str())) {
    while (struct dirent* item = readdir(dir)) {
      if (item->d_name[0] == '.') continue;
      std::ifstream in(database + "/" + item->d_name + "/config");
      Entry entry;
      std::string line;
      while (std::getline(in, line)) {
        if (line.rfind("name=", 0) == 0) entry.name = line.substr(5);
        if (line.rfind("display=", 0) == 0) entry.display = line.substr(8);
        if (line.rfind("depends=", 0) == 0) {
          std::istringstream list(line.substr(8));
          std::string name;
          while (std::getline(list, name, '/'))
            if (!name.empty()) entry.depends.push_back(name);
        }
      }
      if (entry.name.empty()) continue;
      if (database + "/" + item->d_name == folder) target = entry.name;
      all.push_back(entry);
    }
    closedir(dir);
  }
  // Dependents at any depth; the deepest first, the reverse of the order they start in.
  std::vector<Entry*> found;
  std::vector<std::pair<std::string, int>> pending{{target, 0}};
  while (!pending.empty()) {
    auto [name, depth] = pending.back();
    pending.pop_back();
    if (depth > 64) break;  // a dependency cycle
    for (auto& entry : all) {
      for (const auto& dependency : entry.depends) {
        if (!equalsIgnoreCase(dependency, name)) continue;
        if (std::find(found.begin(), found.end(), &entry) == found.end()) found.push_back(&entry);
        entry.depth = std::max(entry.depth, depth + 1);
        pending.push_back({entry.name, depth + 1});
      }
    }
  }
  std::stable_sort(found.begin(), found.end(), [](const Entry* a, const Entry* b) {
    return a->depth != b->depth ? a->depth > b->depth : toLowerAscii(a->name) < toLowerAscii(b->name);
  });
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return FALSE;
  std::vector<std::pair<Entry*, SERVICE_STATUS>> listed;
  for (Entry* entry : found) {
    SERVICE_STATUS status{};
    SC_HANDLE dependent = OpenServiceA(manager, entry->name.c_str(), SERVICE_QUERY_STATUS);
    if (!dependent) continue;
    bool ok = QueryServiceStatus(dependent, &status);
    CloseServiceHandle(dependent);
    if (!ok) continue;
    bool active = status.dwCurrentState != SERVICE_STOPPED;
    if ((active && (state & SERVICE_ACTIVE)) || (!active && (state & SERVICE_INACTIVE))) listed.push_back({entry, status});
  }
  CloseServiceHandle(manager);
  DWORD total = 0;
  for (const auto& item : listed)
    total += static_cast<DWORD>(sizeof(ENUM_SERVICE_STATUSA) + item.first->name.size() + item.first->display.size() + 2);
  *needed = total;
  if (total > size || (total && !services)) return fail(ERROR_MORE_DATA);
  char* text = reinterpret_cast<char*>(services + listed.size());
  for (size_t i = 0; i < listed.size(); ++i) {
    services[i].lpServiceName = text;
    std::memcpy(text, listed[i].first->name.c_str(), listed[i].first->name.size() + 1);
    text += listed[i].first->name.size() + 1;
    services[i].lpDisplayName = text;
    std::memcpy(text, listed[i].first->display.c_str(), listed[i].first->display.size() + 1);
    text += listed[i].first->display.size() + 1;
    services[i].ServiceStatus = listed[i].second;
  }
  *returned = static_cast<DWORD>(listed.size());
  setLastError(ERROR_SUCCESS);
  return TRUE;
}
