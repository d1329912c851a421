// Finds: FindFirstFile (also the extended form), FindNextFile and FindClose.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "../win32.h"
#include "files_internal.h"

namespace om::standin {
namespace {

struct FoundEntry {
  std::string name;
  struct stat st;
  DWORD attributes;
  DWORD reparseTag = 0;  // host symbolic links are reparse points (include/fileapi.h)
};

// A search reads its folder as it goes: each FindNextFile reads entries until
// one matches the wildcard and only then stats it, so a search costs one stat
// per returned entry and holds no listing. "." and ".." come first, as on
// NTFS; the rest follow in the folder's own order. Kept hidden, system and
// archive bits are looked up only in folders marked as holding some.
class FindObject : public KernelObject {
 public:
  ~FindObject() override {
    if (dir) closedir(dir);
  }
  bool next(FoundEntry& out);

  bool found(int folder, const char* name, FoundEntry& out);

  std::mutex mutex;
  DIR* dir = nullptr;
  std::string folder;  // with a trailing "/"
  std::string pattern;
  bool keptAttributes = false;
  int dotsLeft = 2;  // "." and ".." still to offer; none in a root folder
};

bool FindObject::found(int folderFd, const char* name, FoundEntry& out) {
  // One stat per entry; a link is followed (a dangling one describes itself).
  struct stat link;
  if (fstatat(folderFd, name, &link, AT_SYMLINK_NOFOLLOW) != 0) return false;  // removed since it was read
  if (!S_ISLNK(link.st_mode) || fstatat(folderFd, name, &out.st, 0) != 0) out.st = link;
  out.attributes = attributesFromStat(out.st, out.name);
  if (keptAttributes) out.attributes = withKeptAttributes(out.attributes, folder + name);
  out.reparseTag = 0;
  if (S_ISLNK(link.st_mode)) {
    out.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    out.reparseTag = S_ISDIR(out.st.st_mode) ? 0xA0000003u : 0xA000000Cu;
  }
  return true;
}

// The next matching entry; false at the end of the folder (last error
// ERROR_NO_MORE_FILES) or when reading it fails.
bool FindObject::next(FoundEntry& out) {
  int folder = dirfd(dir);
  while (dotsLeft > 0) {
    const char* name = dotsLeft == 2 ? "." : "..";
    --dotsLeft;
    out.name = name;
    if (wildcardMatch(pattern, out.name) && found(folder, name, out)) return true;
  }
  for (;;) {
    errno = 0;
    struct dirent* entry = readdir(dir);
    if (!entry) return fail(errno ? win32ErrorFromErrno(errno) : ERROR_NO_MORE_FILES);
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    out.name.assign(name);
    if (!wildcardMatch(pattern, out.name)) continue;
    if (found(folder, name, out)) return true;
  }
}

// Opens a search for a Windows path whose last element may hold wildcards.
std::shared_ptr<FindObject> openFind(const std::string& windowsPattern) {
  // Only the folder is looked up on the host: a wildcard names no entry to resolve.
  size_t last = windowsPattern.find_last_of('\\');
  bool wild = last != std::string::npos && windowsPattern.find_first_of("*?", last) != std::string::npos;
  std::string host = hostPathFromWindows(wild ? windowsPattern.substr(0, last + 1) : windowsPattern);
  if (host.empty()) {
    fail(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  if (wild) host += (host.back() == '/' ? "" : "/") + windowsPattern.substr(last + 1);
  size_t slash = host.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : host.substr(0, slash);
  if (slash == 0) folder = "/";
  std::string pattern = slash == std::string::npos ? host : host.substr(slash + 1);
  if (pattern.empty()) {
    fail(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    fail(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : win32ErrorFromErrno(errno));
    return nullptr;
  }
  auto find = std::make_shared<FindObject>();
  find->dir = dir;
  find->pattern = std::move(pattern);
  find->keptAttributes = folderHasKeptAttributes(folder);
  if (folder == "/") find->dotsLeft = 0;
  find->folder = folder == "/" ? folder : folder + "/";
  return find;
}

template <class Data>
void fillCommon(const FoundEntry& entry, Data* data) {
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = entry.attributes;
  data->dwReserved0 = entry.reparseTag;
  data->ftCreationTime = toFileTime(fileTimeFromUnix(entry.st.st_ctim.tv_sec, entry.st.st_ctim.tv_nsec));
  data->ftLastAccessTime = toFileTime(fileTimeFromUnix(entry.st.st_atim.tv_sec, entry.st.st_atim.tv_nsec));
  data->ftLastWriteTime = toFileTime(fileTimeFromUnix(entry.st.st_mtim.tv_sec, entry.st.st_mtim.tv_nsec));
  if (!S_ISDIR(entry.st.st_mode)) {
    uint64_t size = static_cast<uint64_t>(entry.st.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
  }
}

void fill(const FoundEntry& entry, WIN32_FIND_DATAA* data) {
  fillCommon(entry, data);
  std::strncpy(data->cFileName, entry.name.c_str(), MAX_PATH - 1);
}

void fill(const FoundEntry& entry, WIN32_FIND_DATAW* data) {
  fillCommon(entry, data);
  std::u16string wide = widen(entry.name);
  std::copy_n(wide.begin(), std::min<size_t>(wide.size(), MAX_PATH - 1), data->cFileName);
}

template <class Data>
HANDLE findFirst(const std::string& pattern, Data* data) {
  if (!data) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto find = openFind(pattern);
  if (!find) return INVALID_HANDLE_VALUE;
  FoundEntry entry;
  if (!find->next(entry)) {
    if (GetLastError() == ERROR_NO_MORE_FILES) setLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  fill(entry, data);
  setLastError(ERROR_SUCCESS);
  return insertHandle(find);
}

template <class Data>
BOOL findNext(HANDLE handle, Data* data) {
  auto find = lookup<FindObject>(handle);
  if (!find) return fail(ERROR_INVALID_HANDLE);
  if (!data) return fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> lock(find->mutex);
  FoundEntry entry;
  if (!find->next(entry)) return FALSE;
  fill(entry, data);
  return TRUE;
}

}  // namespace
}  // namespace om::standin

using namespace om::standin;

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  return findFirst(pattern ? pattern : "", data);
}
HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  return findFirst(narrow(pattern), data);
}
BOOL WINAPI FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data) { return findNext(find, data); }
BOOL WINAPI FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) { return findNext(find, data); }
BOOL WINAPI FindClose(HANDLE find) {
  if (!lookup<FindObject>(find)) return fail(ERROR_INVALID_HANDLE);
  return CloseHandle(find);
}

HANDLE WINAPI FindFirstFileExW(LPCWSTR path, FINDEX_INFO_LEVELS level, LPVOID findData, FINDEX_SEARCH_OPS searchOp,
                               LPVOID filter, DWORD flags) {
  if (level != FindExInfoStandard && level != FindExInfoBasic) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (searchOp != FindExSearchNameMatch && searchOp != FindExSearchLimitToDirectories) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  constexpr DWORD kFlags =
      FIND_FIRST_EX_CASE_SENSITIVE | FIND_FIRST_EX_LARGE_FETCH | FIND_FIRST_EX_ON_DISK_ENTRIES_ONLY;
  if (filter || (flags & ~kFlags)) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // The basic level leaves out the short name, which the stand-in never has.
  return FindFirstFileW(path, static_cast<LPWIN32_FIND_DATAW>(findData));
}
