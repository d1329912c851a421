// The "ntdll.dll" pseudo module: NtQueryInformationFile and NtQueryDirectoryFile
// for the information classes the agent uses. Directory records are 8-byte
// aligned and chained by NextEntryOffset (0 in the last one); each directory
// handle keeps its own enumeration cursor.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "../win32.h"
#include "files_internal.h"

namespace om::standin {

namespace {

struct IoStatusBlock {
  union {
    NTSTATUS Status;
    PVOID Pointer;
  };
  ULONG_PTR Information;
};
static_assert(sizeof(IoStatusBlock) == 16, "IO_STATUS_BLOCK layout");

struct UnicodeString {
  USHORT Length;
  USHORT MaximumLength;
  PWSTR Buffer;
};

enum : int {
  kFileDirectoryInformation = 1,
  kFileFullDirectoryInformation = 2,
  kFileBothDirectoryInformation = 3,
  kFileBasicInformation = 4,
  kFileStandardInformation = 5,
  kFileInternalInformation = 6,
  kFileNameInformation = 9,
  kFileNamesInformation = 12,
  kFileStreamInformation = 22,
  kFileIdBothDirectoryInformation = 37,
  kFileIdFullDirectoryInformation = 38,
};

// Offsets of the file name in the directory record layouts (Win64).
ULONG directoryNameOffset(int informationClass) {
  switch (informationClass) {
    case kFileDirectoryInformation: return 64;
    case kFileFullDirectoryInformation: return 68;
    case kFileBothDirectoryInformation: return 94;
    case kFileNamesInformation: return 12;
    case kFileIdBothDirectoryInformation: return 104;
    case kFileIdFullDirectoryInformation: return 80;
    default: return 0;
  }
}

struct Entry {
  std::string name;
  struct stat st;
};

std::atomic<long> liveCursors{0};

// The enumeration of a directory handle; it lives as long as the handle does.
struct Cursor {
  Cursor() { ++liveCursors; }
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;
  ~Cursor() { --liveCursors; }
  std::vector<Entry> entries;
  size_t next = 0;
};

std::mutex& cursorsMutex() {
  static auto* m = new std::mutex;
  return *m;
}

std::string upper(std::string text) {
  for (auto& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

void listFolder(const FileObject& folder, std::vector<Entry>& out) {
  DIR* dir = opendir(folder.hostPath.c_str());
  if (!dir) return;
  bool root = folder.hostPath == "/";
  while (struct dirent* d = readdir(dir)) {
    Entry entry;
    entry.name = d->d_name;
    if (root && (entry.name == "." || entry.name == "..")) continue;
    std::string path = (root ? "" : folder.hostPath) + "/" + entry.name;
    if (stat(path.c_str(), &entry.st) != 0 && lstat(path.c_str(), &entry.st) != 0) continue;
    out.push_back(std::move(entry));
  }
  closedir(dir);
  std::stable_sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) {
    auto rank = [](const std::string& n) { return n == "." ? 0 : n == ".." ? 1 : 2; };
    if (rank(a.name) != rank(b.name)) return rank(a.name) < rank(b.name);
    return upper(a.name) < upper(b.name);
  });
}

ULONG align8(ULONG value) { return (value + 7) & ~ULONG(7); }

template <class T>
void put(BYTE* record, size_t offset, T value) {
  std::memcpy(record + offset, &value, sizeof value);
}

LONGLONG timeOf(const struct timespec& t) { return static_cast<LONGLONG>(fileTimeFromUnix(t.tv_sec, t.tv_nsec)); }

// Writes one directory record (fixed part and as much of the name as `room`
// allows) and returns the bytes the complete record needs.
ULONG writeRecord(int informationClass, const Entry& entry, ULONG index, BYTE* record, ULONG room) {
  std::u16string name = widen(entry.name);
  ULONG nameOffset = directoryNameOffset(informationClass);
  ULONG nameBytes = static_cast<ULONG>(name.size() * sizeof(WCHAR));
  ULONG full = nameOffset + nameBytes;
  if (room < nameOffset) return full;
  std::memset(record, 0, nameOffset);
  put<ULONG>(record, 4, index);
  bool folder = S_ISDIR(entry.st.st_mode);
  if (informationClass == kFileNamesInformation) {
    put<ULONG>(record, 8, nameBytes);
  } else {
    put<LONGLONG>(record, 8, timeOf(entry.st.st_ctim));
    put<LONGLONG>(record, 16, timeOf(entry.st.st_atim));
    put<LONGLONG>(record, 24, timeOf(entry.st.st_mtim));
    put<LONGLONG>(record, 32, timeOf(entry.st.st_ctim));
    put<LONGLONG>(record, 40, folder ? 0 : static_cast<LONGLONG>(entry.st.st_size));
    put<LONGLONG>(record, 48, folder ? 0 : static_cast<LONGLONG>(entry.st.st_blocks) * 512);
    put<ULONG>(record, 56, attributesFromStat(entry.st, entry.name));
    put<ULONG>(record, 60, nameBytes);
    if (informationClass == kFileIdBothDirectoryInformation)
      put<LONGLONG>(record, 96, static_cast<LONGLONG>(entry.st.st_ino));
    if (informationClass == kFileIdFullDirectoryInformation)
      put<LONGLONG>(record, 72, static_cast<LONGLONG>(entry.st.st_ino));
  }
  std::memcpy(record + nameOffset, name.data(), std::min(nameBytes, room - nameOffset) & ~ULONG(1));
  return full;
}

NTSTATUS complete(IoStatusBlock* status, NTSTATUS code, ULONG_PTR information) {
  status->Status = code;
  status->Information = information;
  return code;
}

NTSTATUS queryDirectory(HANDLE handle, HANDLE event, PVOID apcRoutine, PVOID apcContext, IoStatusBlock* status,
                        PVOID buffer, ULONG length, int informationClass, BOOLEAN singleEntry,
                        UnicodeString* fileName, BOOLEAN restartScan) {
  if (!status) return STATUS_INVALID_PARAMETER;
  auto file = lookup<FileObject>(handle);
  if (!file) return complete(status, STATUS_INVALID_HANDLE, 0);
  if (!file->directory) return complete(status, STATUS_INVALID_PARAMETER, 0);
  ULONG nameOffset = directoryNameOffset(informationClass);
  if (nameOffset == 0) return complete(status, STATUS_INVALID_INFO_CLASS, 0);
  // The buffer holds at least a record's fixed part with its padding (the
  // structure's size), as the I/O manager checks before the file system runs.
  if (!buffer || length < align8(nameOffset + sizeof(WCHAR))) return complete(status, STATUS_INFO_LENGTH_MISMATCH, 0);
  std::lock_guard<std::mutex> lock(cursorsMutex());
  auto current = std::static_pointer_cast<Cursor>(file->directoryCursor);
  if (!current || restartScan) {
    current = std::make_shared<Cursor>();
    file->directoryCursor = current;
    listFolder(*file, current->entries);
    if (fileName && fileName->Buffer && fileName->Length) {
      std::string pattern = narrow(std::u16string(fileName->Buffer, fileName->Length / sizeof(WCHAR)));
      current->entries.erase(std::remove_if(current->entries.begin(), current->entries.end(),
                                            [&](const Entry& e) { return !expressionMatch(pattern, e.name); }),
                             current->entries.end());
      if (current->entries.empty()) return complete(status, STATUS_NO_SUCH_FILE, 0);
    }
  }
  Cursor& cursor = *current;
  if (cursor.next >= cursor.entries.size()) return complete(status, STATUS_NO_MORE_FILES, 0);
  auto* out = static_cast<BYTE*>(buffer);
  // The first record must fit whole; when it does not, its fixed part and the
  // start of its name are returned and it stays next in line for a larger buffer.
  ULONG need = writeRecord(informationClass, cursor.entries[cursor.next], static_cast<ULONG>(cursor.next), out, length);
  if (need > length) return complete(status, STATUS_BUFFER_OVERFLOW, length);
  ULONG at = 0, end = need;
  ++cursor.next;
  while (!singleEntry && cursor.next < cursor.entries.size()) {
    ULONG start = align8(end);
    if (start >= length) break;
    const Entry& entry = cursor.entries[cursor.next];
    ULONG room = length - start;
    ULONG required = directoryNameOffset(informationClass) + static_cast<ULONG>(widen(entry.name).size() * 2);
    if (required > room) break;
    writeRecord(informationClass, entry, static_cast<ULONG>(cursor.next), out + start, room);
    put<ULONG>(out, at, start - at);
    at = start;
    end = start + required;
    ++cursor.next;
  }
  put<ULONG>(out, at, 0);
  return complete(status, STATUS_SUCCESS, end);
}

NTSTATUS queryInformation(HANDLE handle, IoStatusBlock* status, PVOID buffer, ULONG length, int informationClass) {
  if (!status) return STATUS_INVALID_PARAMETER;
  auto file = lookup<FileObject>(handle);
  if (!file) return complete(status, STATUS_INVALID_HANDLE, 0);
  struct stat st;
  if (fstat(file->fd, &st) != 0) return complete(status, STATUS_ACCESS_DENIED, 0);
  auto* out = static_cast<BYTE*>(buffer);
  bool folder = S_ISDIR(st.st_mode);
  auto fixed = [&](ULONG size) { return buffer && length >= size; };
  switch (informationClass) {
    case kFileBasicInformation: {
      if (!fixed(40)) return complete(status, STATUS_INFO_LENGTH_MISMATCH, 0);
      std::memset(out, 0, 40);
      put<LONGLONG>(out, 0, timeOf(st.st_ctim));
      put<LONGLONG>(out, 8, timeOf(st.st_atim));
      put<LONGLONG>(out, 16, timeOf(st.st_mtim));
      put<LONGLONG>(out, 24, timeOf(st.st_ctim));
      std::string leaf = file->hostPath.substr(file->hostPath.find_last_of('/') + 1);
      put<ULONG>(out, 32, attributesFromStat(st, leaf));
      return complete(status, STATUS_SUCCESS, 40);
    }
    case kFileStandardInformation: {
      if (!fixed(24)) return complete(status, STATUS_INFO_LENGTH_MISMATCH, 0);
      std::memset(out, 0, 24);
      put<LONGLONG>(out, 0, folder ? 0 : static_cast<LONGLONG>(st.st_blocks) * 512);
      put<LONGLONG>(out, 8, folder ? 0 : static_cast<LONGLONG>(st.st_size));
      put<ULONG>(out, 16, static_cast<ULONG>(st.st_nlink));
      out[20] = (file->flags & FILE_FLAG_DELETE_ON_CLOSE) ? 1 : 0;
      out[21] = folder ? 1 : 0;
      return complete(status, STATUS_SUCCESS, 24);
    }
    case kFileInternalInformation: {
      if (!fixed(8)) return complete(status, STATUS_INFO_LENGTH_MISMATCH, 0);
      put<LONGLONG>(out, 0, static_cast<LONGLONG>(st.st_ino));
      return complete(status, STATUS_SUCCESS, 8);
    }
    case kFileNameInformation: {
      if (!fixed(8)) return complete(status, STATUS_INFO_LENGTH_MISMATCH, 0);
      std::u16string name = ntRelativeName(file->hostPath);
      ULONG bytes = static_cast<ULONG>(name.size() * sizeof(WCHAR));
      put<ULONG>(out, 0, bytes);
      ULONG room = length - 4;
      std::memcpy(out + 4, name.data(), std::min(room, bytes) & ~ULONG(1));
      if (room < bytes) return complete(status, STATUS_BUFFER_OVERFLOW, length);
      return complete(status, STATUS_SUCCESS, 4 + bytes);
    }
    case kFileStreamInformation: {
      struct Named {
        std::u16string name;
        LONGLONG size;
        LONGLONG allocation;
      };
      std::vector<Named> streams;
      if (!folder)
        streams.push_back({u"::$DATA", static_cast<LONGLONG>(st.st_size), static_cast<LONGLONG>(st.st_blocks) * 512});
      for (const std::string& name : alternateStreamNames(file->fd)) {
        std::vector<BYTE> data;
        if (!readAlternateStream(file->fd, name, data)) continue;
        LONGLONG size = static_cast<LONGLONG>(data.size());
        streams.push_back({widen(":" + name + ":$DATA"), size, (size + 4095) & ~LONGLONG(4095)});
      }
      if (!fixed(32)) return complete(status, STATUS_INFO_LENGTH_MISMATCH, 0);  // FILE_STREAM_INFORMATION
      ULONG at = 0, end = 0;
      bool first = true;
      for (const Named& stream : streams) {
        ULONG start = first ? 0 : align8(end);
        ULONG bytes = static_cast<ULONG>(stream.name.size() * 2);
        if (start + 24 > length || start + 24 + bytes > length) {
          if (first && start + 24 <= length) {  // the first record's fixed part and the start of its name
            std::memset(out, 0, 24);
            put<ULONG>(out, 4, bytes);
            put<LONGLONG>(out, 8, stream.size);
            put<LONGLONG>(out, 16, stream.allocation);
            std::memcpy(out + 24, stream.name.data(), (length - 24) & ~ULONG(1));
          }
          return complete(status, STATUS_BUFFER_OVERFLOW, first ? length : end);
        }
        if (!first) put<ULONG>(out, at, start - at);
        std::memset(out + start, 0, 24);
        put<ULONG>(out + start, 4, bytes);
        put<LONGLONG>(out + start, 8, stream.size);
        put<LONGLONG>(out + start, 16, stream.allocation);
        std::memcpy(out + start + 24, stream.name.data(), bytes);
        at = start;
        end = start + 24 + bytes;
        first = false;
      }
      return complete(status, STATUS_SUCCESS, end);
    }
    default:
      return complete(status, STATUS_INVALID_INFO_CLASS, 0);
  }
}

NTSTATUS WINAPI NtQueryInformationFile(HANDLE handle, IoStatusBlock* status, PVOID buffer, ULONG length,
                                       int informationClass) {
  return queryInformation(handle, status, buffer, length, informationClass);
}

NTSTATUS WINAPI NtQueryDirectoryFile(HANDLE handle, HANDLE event, PVOID apcRoutine, PVOID apcContext,
                                     IoStatusBlock* status, PVOID buffer, ULONG length, int informationClass,
                                     BOOLEAN singleEntry, UnicodeString* fileName, BOOLEAN restartScan) {
  return queryDirectory(handle, event, apcRoutine, apcContext, status, buffer, length, informationClass, singleEntry,
                        fileName, restartScan);
}

}  // namespace

long liveDirectoryCursors() { return liveCursors.load(); }

namespace {

FARPROC resolveNtdll(const char* name) {
  std::string procedure = name ? name : "";
  if (procedure == "NtQueryInformationFile" || procedure == "ZwQueryInformationFile")
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&NtQueryInformationFile));
  if (procedure == "NtQueryDirectoryFile" || procedure == "ZwQueryDirectoryFile")
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&NtQueryDirectoryFile));
  return nullptr;
}

const bool registered = (registerPseudoModule("ntdll.dll", &resolveNtdll), true);

}  // namespace
}  // namespace om::standin
