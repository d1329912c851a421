// Disk space, drive types, directory change notifications and moves of the
// stand-in (see include/system_ext.h).
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "../win32.h"
#include "journal_internal.h"
#include "system_internal.h"

namespace om::standin {
namespace {

// ---- change notifications --------------------------------------------------------
// A watch thread reads inotify events and signals the handle; the handle stays
// signalled until FindNextChangeNotification, and a change seen after the last
// re-arm signals it again.
class ChangeNotification : public KernelObject {
 public:
  ~ChangeNotification() override {
    stop();
  }
  bool waitable() const override { return true; }
  bool signalled(bool) override { return signalledNow || pending; }

  bool start(const std::string& host, bool subtree, uint32_t mask) {
    inotify = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    wake = eventfd(0, EFD_CLOEXEC);
    if (inotify < 0 || wake < 0) return false;
    this->subtree = subtree;
    this->mask = mask;
    if (!addWatch(host)) return false;
    if (subtree) addSubfolders(host);
    worker = std::thread([this] { run(); });
    return true;
  }

  void rearm() {
    std::lock_guard<std::mutex> lock(waitLock());
    signalledNow = pending.exchange(false);
    notifyWaiters();
  }

 private:
  bool addWatch(const std::string& folder) {
    int wd = inotify_add_watch(inotify, folder.c_str(), mask | IN_ONLYDIR | (subtree ? IN_CREATE : 0));
    if (wd < 0) return false;
    folders[wd] = folder;
    return true;
  }
  void addSubfolders(const std::string& folder) {
    if (DIR* dir = opendir(folder.c_str())) {
      while (struct dirent* entry = readdir(dir)) {
        if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, "..")) continue;
        std::string path = folder + "/" + entry->d_name;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && addWatch(path)) addSubfolders(path);
      }
      closedir(dir);
    }
  }
  void run() {
    alignas(struct inotify_event) char buffer[16384];
    for (;;) {
      struct pollfd fds[2] = {{inotify, POLLIN, 0}, {wake, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents) return;
      ssize_t n = read(inotify, buffer, sizeof buffer);
      if (n <= 0) continue;
      bool relevant = false;
      for (char* p = buffer; p < buffer + n;) {
        auto* event = reinterpret_cast<struct inotify_event*>(p);
        p += sizeof(struct inotify_event) + event->len;
        if (subtree && (event->mask & IN_CREATE) && (event->mask & IN_ISDIR) && event->len) {
          auto it = folders.find(event->wd);
          if (it != folders.end()) addWatch(it->second + "/" + event->name);
        }
        if (event->mask & mask) relevant = true;
      }
      if (relevant) {
        std::lock_guard<std::mutex> lock(waitLock());
        if (signalledNow) pending = true;
        else signalledNow = true;
        notifyWaiters();
      }
    }
  }
  void stop() {
    if (worker.joinable()) {
      uint64_t one = 1;
      if (write(wake, &one, sizeof one) < 0) {}
      worker.join();
    }
    if (inotify >= 0) close(inotify);
    if (wake >= 0) close(wake);
  }

  int inotify = -1;
  int wake = -1;
  bool subtree = false;
  uint32_t mask = 0;
  std::map<int, std::string> folders;  // touched by the worker only once it runs
  std::thread worker;
  bool signalledNow = false;           // under waitLock()
  std::atomic<bool> pending{false};
};

uint32_t inotifyMask(DWORD filter) {
  uint32_t mask = 0;
  if (filter & (FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_CREATION))
    mask |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
  if (filter & (FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SECURITY)) mask |= IN_ATTRIB;
  if (filter & (FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE)) mask |= IN_MODIFY | IN_CLOSE_WRITE;
  if (filter & FILE_NOTIFY_CHANGE_LAST_ACCESS) mask |= IN_ACCESS;
  return mask;
}

// ---- drives ---------------------------------------------------------------------------
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
  if (letter == 'c') return DRIVE_FIXED;
  struct stat st;
  std::string folder = standinRoot() + "/drives/" + std::string(1, letter);
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
}

// ---- moves ----------------------------------------------------------------------------
BOOL copyFile(const std::string& from, const std::string& to) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return failErrno(errno);
  struct stat st;
  fstat(in, &st);
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777);
  if (out < 0) {
    close(in);
    return failErrno(errno);
  }
  char buffer[65536];
  ssize_t n;
  bool ok = true;
  while (ok && (n = read(in, buffer, sizeof buffer)) != 0) {
    if (n < 0) {
      ok = errno == EINTR;
      continue;
    }
    ok = write(out, buffer, static_cast<size_t>(n)) == n;
  }
  close(in);
  if (close(out) != 0) ok = false;
  if (!ok) {
    unlink(to.c_str());
    return fail(ERROR_DISK_FULL);
  }
  return unlink(from.c_str()) == 0 ? TRUE : failErrno(errno);
}

BOOL recordPendingMove(const std::u16string& from, const std::u16string* to) {
  HKEY key;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, nullptr,
                            0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return fail(static_cast<DWORD>(rc));
  const WCHAR* name = u"PendingFileRenameOperations";
  std::u16string list;
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_MULTI_SZ) {
    list.resize(size / 2);
    RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&list[0]), &size);
    while (!list.empty() && list.back() == 0) list.pop_back();
    if (!list.empty()) list.push_back(0);
  }
  list += u"\\??\\" + from;
  list.push_back(0);
  if (to) list += u"\\??\\" + *to;
  list.push_back(0);
  list.push_back(0);
  rc = RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list.data()),
                      static_cast<DWORD>(list.size() * 2));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? TRUE : fail(static_cast<DWORD>(rc));
}

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

HANDLE WINAPI FindFirstChangeNotificationA(LPCSTR path, BOOL watchSubtree, DWORD filter) {
  uint32_t mask = inotifyMask(filter);
  if (!path || !mask || (filter & ~0x17Fu)) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string host = hostPathFromWindows(path);
  struct stat st;
  if (host.empty() || stat(host.c_str(), &st) != 0) {
    fail(host.empty() ? ERROR_PATH_NOT_FOUND : missingFileError(host));
    return INVALID_HANDLE_VALUE;
  }
  if (!S_ISDIR(st.st_mode)) {
    fail(ERROR_DIRECTORY);
    return INVALID_HANDLE_VALUE;
  }
  auto notification = std::make_shared<ChangeNotification>();
  if (!notification->start(host, watchSubtree != FALSE, mask)) {
    fail(win32ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  setLastError(ERROR_SUCCESS);
  return insertHandle(notification);
}

BOOL WINAPI FindNextChangeNotification(HANDLE handle) {
  auto notification = lookup<ChangeNotification>(handle);
  if (!notification) return fail(ERROR_INVALID_HANDLE);
  notification->rearm();
  return TRUE;
}

BOOL WINAPI FindCloseChangeNotification(HANDLE handle) {
  if (!lookup<ChangeNotification>(handle)) return fail(ERROR_INVALID_HANDLE);
  removeHandle(handle);
  return TRUE;
}

BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
  if (!from || (!to && !(flags & MOVEFILE_DELAY_UNTIL_REBOOT))) return fail(ERROR_INVALID_PARAMETER);
  if ((flags & MOVEFILE_DELAY_UNTIL_REBOOT) && (flags & MOVEFILE_COPY_ALLOWED)) return fail(ERROR_INVALID_PARAMETER);
  std::string source = hostPathFromWindows(narrow(from));
  struct stat st;
  if (source.empty() || lstat(source.c_str(), &st) != 0) return fail(source.empty() ? ERROR_PATH_NOT_FOUND : missingFileError(source));
  if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    std::u16string target = to ? std::u16string(to) : std::u16string();
    if (!recordPendingMove(from, to ? &target : nullptr)) return FALSE;
    setLastError(ERROR_SUCCESS);
    return TRUE;
  }
  std::string target = hostPathFromWindows(narrow(to));
  if (target.empty()) return fail(ERROR_PATH_NOT_FOUND);
  struct stat existing;
  bool targetExists = lstat(target.c_str(), &existing) == 0;
  if (targetExists && !(flags & MOVEFILE_REPLACE_EXISTING)) return fail(ERROR_ALREADY_EXISTS);
  if (targetExists && S_ISDIR(existing.st_mode)) return fail(ERROR_ACCESS_DENIED);  // never replaces a folder
  journalNoteIfActive(source, USN_REASON_RENAME_OLD_NAME);
  if (rename(source.c_str(), target.c_str()) == 0) {
    journalNoteIfActive(target, USN_REASON_RENAME_NEW_NAME | USN_REASON_CLOSE);
    setLastError(ERROR_SUCCESS);
    return TRUE;
  }
  if (errno == EXDEV) {
    if (S_ISDIR(st.st_mode) || !(flags & MOVEFILE_COPY_ALLOWED)) return fail(ERROR_NOT_SAME_DEVICE);
    if (!copyFile(source, target)) return FALSE;
    setLastError(ERROR_SUCCESS);
    return TRUE;
  }
  return fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : win32ErrorFromErrno(errno));
}
