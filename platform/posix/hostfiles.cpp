// Host files that hold the stand-in's own state: the registry, the service
// database and hive files.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "internal.h"

namespace om::standin {

bool hostExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool readHostFile(const std::string& path, std::string& content) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  content.clear();
  char buffer[8192];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) content.append(buffer, static_cast<size_t>(n));
  close(fd);
  return n == 0;
}

DWORD writeHostFileAtomically(const std::string& path, const std::string& content) {
  std::string temporary = path + ".tmp" + std::to_string(getpid()) + "." + std::to_string(gettid());
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return win32ErrorFromErrno(errno);
  bool ok = write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
  if (close(fd) != 0) ok = false;
  if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return ERROR_CANTWRITE;
  }
  return ERROR_SUCCESS;
}

void removeHostTree(const std::string& folder) {
  if (DIR* dir = opendir(folder.c_str())) {
    std::vector<std::string> names;
    while (struct dirent* entry = readdir(dir))
      if (std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, "..")) names.push_back(entry->d_name);
    closedir(dir);
    for (const auto& name : names) {
      std::string path = folder + "/" + name;
      struct stat st;
      if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        removeHostTree(path);
      else
        unlink(path.c_str());
    }
  }
  rmdir(folder.c_str());
}

std::string leafName(const std::string& hostPath) {
  size_t slash = hostPath.find_last_of('/');
  return slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
}

}  // namespace om::standin
