// Internals of the POSIX stand-in shared by its source files (and by later
// stand-in pieces such as the service manager and the file layer). Nothing here
// is visible to project code, which sees only the Win32 declarations.
#pragma once
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <sys/stat.h>

#include "include/win32_errors.h"
#include "include/win32_types.h"

// Visible to the other stand-in libraries and to the stand-in's own tests.
#pragma GCC visibility push(default)

namespace om::standin {

// ---- kernel objects and the handle table ------------------------------------
// Every HANDLE names a KernelObject. Waitable objects share one mutex and one
// condition variable: a waiter re-checks its objects whenever any of them changes.
class KernelObject {
 public:
  virtual ~KernelObject() = default;
  virtual bool waitable() const { return false; }
  // Called with waitLock() held: true when a wait on this object is satisfied now;
  // consumes the signal of auto-reset objects when `consume` is set.
  virtual bool signalled(bool consume) { return false; }
};

HANDLE insertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> lookupHandle(HANDLE handle);
template <class T>
std::shared_ptr<T> lookup(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(lookupHandle(handle));
}
bool removeHandle(HANDLE handle);

std::mutex& waitLock();
// Wakes every waiter; call with waitLock() held after changing a signal state.
void notifyWaiters();

// ---- last error ---------------------------------------------------------------
void setLastError(DWORD code);
DWORD win32ErrorFromErrno(int error);
// Sets the last error and returns FALSE / nullptr / INVALID_HANDLE_VALUE, for one-line failures.
inline BOOL fail(DWORD code) {
  setLastError(code);
  return FALSE;
}
inline BOOL failErrno(int error) { return fail(win32ErrorFromErrno(error)); }

// ---- text ---------------------------------------------------------------------
// UTF-16 names and texts as host bytes and back, one mapping for every name the
// stand-in keeps on the host (paths, find results, registry keys, services,
// modules), one to one both ways. Valid UTF-16 is plain UTF-8. A lone surrogate,
// which Windows takes in a name, is kept as the three bytes UTF-8 would give its
// code unit; host bytes that are no UTF-8 read as the units U+DC80..U+DCFF
// (U+DC00 + the byte). So no two UTF-16 names meet on the host, no two host
// names meet as UTF-16, and each comes back exactly. (MultiByteToWideChar and
// WideCharToMultiByte keep Windows' rules: U+FFFD for both.)
std::u16string widen(const std::string& utf8);
std::string narrow(const std::u16string& utf16);
std::string narrow(const WCHAR* utf16);

// A wide argument as an ANSI form takes it (UTF-8, the stand-in's ANSI code
// page); null stays null.
struct Narrow {
  explicit Narrow(const WCHAR* text) : null(text == nullptr), utf8(narrow(text)) {}
  const char* get() const { return null ? nullptr : utf8.c_str(); }
  bool null;
  std::string utf8;
};
// Copies `text` into a caller's buffer by the usual Win32 rules: returns the length
// without terminator when it fits, else the size needed with terminator (nothing copied).
DWORD copyOut(const std::string& text, char* buffer, DWORD size);
DWORD copyOut(const std::u16string& text, WCHAR* buffer, DWORD size);
bool equalsIgnoreCase(const std::string& a, const std::string& b);
// Whether two names of files, registry keys or values are the same name to
// Windows, which compares them without regard to case.
bool sameName(const std::string& a, const std::string& b);
// One spelling for all the names sameName() takes as `name` (in upper case, with
// ASCII letters in lower case, as the stand-in's stored names have them).
std::string caseFolded(const std::string& name);
// A UTF-16 unit in upper case by the simple mapping of the whole Basic
// Multilingual Plane (upcase_table.h), as names compare.
char16_t upcase(char16_t c);
std::string toLowerAscii(std::string text);

// ---- paths ----------------------------------------------------------------------
// Windows path -> host path. "C:\a\b" and "\\?\C:\a\b" -> "/a/b" (drive C: is the host
// root; other drive letters map to $OM_STANDIN_ROOT/drives/<letter>), a path without a
// drive is made host-relative with "/" separators. Device paths under "\\?\GLOBALROOT\"
// go to the resolvers registered for their prefix. Names compare without regard
// to case: each element that exists is spelled as on the host (the exact name
// first, else one that differs only in case); the others keep the caller's
// spelling, so what is created keeps the case it was given. The path is taken
// in its normal form (normalWindowsPath), as every Windows call that takes one.
std::string hostPathFromWindows(const std::string& windowsPath);
// The path a Windows call works on: without the dots and spaces that end the
// last element ("made." and "made " are "made"), except for "." and "..", and
// unchanged when given as "\\?\..." or "\??\...", which name exactly.
std::string normalWindowsPath(const std::string& windowsPath);
std::string windowsPathFromHost(const std::string& hostPath);
using DevicePathResolver = std::function<std::string(const std::string& rest)>;
void registerDevicePrefix(const std::string& prefix, DevicePathResolver resolver);

// $OM_STANDIN_ROOT (created on first use), or a per-user folder under the temp folder.
std::string standinRoot();

// A FindFirstFile pattern's match over the names' UTF-16 units, letter case
// ignored: "?" and "*" as Windows reads them ("*.*" matches every name, "*."
// the names without an extension, "x.*" also "x", "??" also "x").
bool wildcardMatch(const std::string& pattern, const std::string& name);
// A file system name expression's match, as NtQueryDirectoryFile takes one:
// "*", "?" and the DOS forms '<', '>' and '"', nothing translated.
bool expressionMatch(const std::string& expression, const std::string& name);

// ---- host files ---------------------------------------------------------------
// The stand-in keeps its own state (registry, services, hives) in host files.
bool hostExists(const std::string& path);
bool readHostFile(const std::string& path, std::string& content);
// Writes a temporary file beside `path` and renames it into place, so readers
// never see a partial file. ERROR_SUCCESS or a Win32 error code.
DWORD writeHostFileAtomically(const std::string& path, const std::string& content);
void removeHostTree(const std::string& folder);
// The last element of a host path.
std::string leafName(const std::string& hostPath);

// ---- modules -------------------------------------------------------------------
// A module the stand-in provides itself (e.g. "ntdll.dll"): its exports are looked up
// through `resolve`.
void registerPseudoModule(const std::string& name, FARPROC (*resolve)(const char* procName));

// ---- COM ------------------------------------------------------------------------
// BSTRs allocated by SysAllocString* and not yet freed.
long liveBstrCount();

// ---- NT queries -------------------------------------------------------------------
// Enumeration cursors NtQueryDirectoryFile keeps for open directory handles.
long liveDirectoryCursors();

// ---- time ------------------------------------------------------------------------
// 100 ns units since 1601-01-01 UTC from a host time (seconds, nanoseconds since 1970).
ULONGLONG fileTimeFromUnix(int64_t seconds, int64_t nanoseconds);
FILETIME toFileTime(ULONGLONG value);

}  // namespace om::standin

namespace om::standin {

// A file or folder opened by CreateFile. Later stand-in pieces (backup streams,
// NT queries) reach the descriptor and the host path through lookup<FileObject>.
class FileObject : public KernelObject {
 public:
  ~FileObject() override;
  int fd = -1;
  std::string hostPath;
  DWORD access = 0;  // the access granted (generic rights expanded)
  DWORD flags = 0;   // FILE_FLAG_* given to CreateFile
  bool directory = false;
  bool canRead = false;
  bool canWrite = false;
  // NtQueryDirectoryFile's enumeration of a directory handle (ntdll.cpp).
  std::shared_ptr<void> directoryCursor;
};

// Win32 attributes of a host file from its stat record and name.
DWORD attributesFromStat(const struct stat& st, const std::string& name);
// ERROR_PATH_NOT_FOUND when the folder of `hostPath` is missing, else ERROR_FILE_NOT_FOUND.
DWORD missingFileError(const std::string& hostPath);

}  // namespace om::standin

#pragma GCC visibility pop
