// Volumes: disk space, drive types, volume paths and mount points (see
// include/volumes.h).
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "../win32.h"
#include "internal.h"

namespace om::standin {
namespace {

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

// "X:\" (or "X:") as a drive root; anything else is no root.
bool driveRoot(const std::string& path, char& letter) {
  if (path.size() < 2 || path.size() > 3 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0])))
    return false;
  if (path.size() == 3 && path[2] != '\\' && path[2] != '/') return false;
  letter = static_cast<char>(path[0] | 0x20);
  return true;
}

UINT driveType(const std::string& path) {
  char letter;
  if (!driveRoot(path, letter)) return DRIVE_NO_ROOT_DIR;
  return driveExists(letter) ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
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

BOOL WINAPI GetDiskFreeSpaceExW(LPCWSTR path, PULARGE_INTEGER freeToCaller, PULARGE_INTEGER total,
                                PULARGE_INTEGER totalFree) {
  std::string windows = path ? narrow(path) : "C:\\";
  char letter;
  if (driveRoot(windows.substr(0, 3), letter) && letter != 'c' && driveType(windows.substr(0, 2)) != DRIVE_FIXED)
    return fail(ERROR_PATH_NOT_FOUND);
  std::string host = hostPathFromWindows(windows);
  struct statvfs vfs;
  if (host.empty() || statvfs(host.c_str(), &vfs) != 0)
    return fail(host.empty() || errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : win32ErrorFromErrno(errno));
  if (freeToCaller) freeToCaller->QuadPart = static_cast<ULONGLONG>(vfs.f_bavail) * vfs.f_frsize;
  if (total) total->QuadPart = static_cast<ULONGLONG>(vfs.f_blocks) * vfs.f_frsize;
  if (totalFree) totalFree->QuadPart = static_cast<ULONGLONG>(vfs.f_bfree) * vfs.f_frsize;
  setLastError(ERROR_SUCCESS);
  return TRUE;
}

UINT WINAPI GetDriveTypeA(LPCSTR rootPath) { return driveType(rootPath ? rootPath : "C:\\"); }
UINT WINAPI GetDriveTypeW(LPCWSTR rootPath) { return driveType(rootPath ? narrow(rootPath) : "C:\\"); }

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
