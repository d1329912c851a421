// Directory change notifications (see include/fileapi.h).
#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "../win32.h"
#include "internal.h"

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

}  // namespace
}  // namespace om::standin

using namespace om::standin;

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

HANDLE WINAPI FindFirstChangeNotificationW(LPCWSTR path, BOOL watchSubtree, DWORD filter) {
  return FindFirstChangeNotificationA(Narrow(path).get(), watchSubtree, filter);
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
