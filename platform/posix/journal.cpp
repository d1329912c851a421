// Update sequence number change journals for the stand-in's volumes. A journal
// is the file $OM_STANDIN_ROOT/journals/<letter>: its USN_JOURNAL_DATA, then the
// records from FirstUsn on, each at file offset 56 + (USN - FirstUsn). Files are
// numbered by their host inode; the enumeration of the "master file table" walks
// the volume's folder tree.
//
// For tests of the callers: while the file $OM_STANDIN_ROOT/journals/<letter>.damaged
// holds a number, the reads and enumerations of that volume return buffers whose
// first record claims that length (a damaged record).
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <vector>

#include "../win32.h"
#include "internal.h"
#include "journal_internal.h"

namespace om::standin {
namespace {

constexpr DWORDLONG kDefaultMaximumSize = 32ull << 20;
constexpr DWORDLONG kDefaultAllocationDelta = 4ull << 20;
constexpr USN kMaxUsn = 0x7fffffffffff0000ll;
constexpr size_t kHeader = sizeof(USN_JOURNAL_DATA);
constexpr size_t kRecordHeader = offsetof(USN_RECORD, FileName);

std::mutex& journalMutex() {
  static auto* m = new std::mutex;
  return *m;
}

std::string journalPath(char letter) {
  return standinRoot() + "/journals/" + std::string(1, static_cast<char>(letter | 0x20));
}

// Damages a buffer the volume returns, when a test asked for it (see above).
void damage(char letter, BYTE* out, DWORD returned) {
  FILE* control = std::fopen((journalPath(letter) + ".damaged").c_str(), "re");
  if (!control) return;
  unsigned long length = 0;
  bool asked = std::fscanf(control, "%lu", &length) == 1;
  std::fclose(control);
  if (!asked || returned < sizeof(USN) + sizeof(DWORD)) return;
  DWORD claimed = static_cast<DWORD>(length);
  std::memcpy(out + sizeof(USN), &claimed, sizeof claimed);
}

// The drive letter of a host path's volume, 0 when it has none.
char volumeOf(const std::string& hostPath) {
  std::string windows = windowsPathFromHost(hostPath);
  return windows.size() >= 2 && windows[1] == ':' ? windows[0] : 0;
}

// The drive letter of a volume handle: a folder handle on a volume's root.
DWORD volumeOfHandle(HANDLE handle, char& letter) {
  auto file = lookup<FileObject>(handle);
  if (!file) return ERROR_INVALID_HANDLE;
  std::string windows = windowsPathFromHost(file->hostPath);
  if (!file->directory || windows.size() != 3 || windows[1] != ':' || windows[2] != '\\') return ERROR_INVALID_FUNCTION;
  letter = windows[0];
  return ERROR_SUCCESS;
}

struct Journal {
  USN_JOURNAL_DATA data{};
  std::vector<BYTE> records;  // from FirstUsn on
};

bool load(char letter, Journal& journal) {
  int fd = open(journalPath(letter).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) >= kHeader;
  if (ok) {
    std::vector<BYTE> all(static_cast<size_t>(st.st_size));
    ok = pread(fd, all.data(), all.size(), 0) == static_cast<ssize_t>(all.size());
    if (ok) {
      std::memcpy(&journal.data, all.data(), kHeader);
      // A damaged tail (a record that cannot be one) is cut off.
      size_t end = kHeader;
      while (end + kRecordHeader <= all.size()) {
        DWORD length;
        std::memcpy(&length, all.data() + end, sizeof length);
        if (length < kRecordHeader || length % 8 != 0 || length > all.size() - end) break;
        end += length;
      }
      journal.records.assign(all.begin() + kHeader, all.begin() + static_cast<std::ptrdiff_t>(end));
      journal.data.NextUsn = journal.data.FirstUsn + static_cast<USN>(end - kHeader);
    }
  }
  close(fd);
  return ok;
}

bool store(char letter, const Journal& journal) {
  mkdir((standinRoot() + "/journals").c_str(), 0777);
  std::string path = journalPath(letter);
  std::string temporary = path + ".new";
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = write(fd, &journal.data, kHeader) == static_cast<ssize_t>(kHeader) &&
            (journal.records.empty() || write(fd, journal.records.data(), journal.records.size()) ==
                                            static_cast<ssize_t>(journal.records.size()));
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

DWORD recordLength(const BYTE* at) {
  DWORD length;
  std::memcpy(&length, at, sizeof length);
  return length;
}

USN recordUsn(const BYTE* at) {
  USN usn;
  std::memcpy(&usn, at + offsetof(USN_RECORD, Usn), sizeof usn);
  return usn;
}

// Drops the oldest records once the journal outgrows its maximum size by more
// than the allocation delta.
void trim(Journal& journal) {
  if (journal.records.size() <= journal.data.MaximumSize + journal.data.AllocationDelta) return;
  size_t drop = 0;
  while (drop < journal.records.size() && journal.records.size() - drop > journal.data.MaximumSize)
    drop += recordLength(journal.records.data() + drop);
  journal.records.erase(journal.records.begin(), journal.records.begin() + static_cast<std::ptrdiff_t>(drop));
  journal.data.FirstUsn += static_cast<USN>(drop);
  journal.data.LowestValidUsn = journal.data.FirstUsn;
}

std::vector<BYTE> makeRecord(const std::string& hostPath, const struct stat& st, DWORD reason, USN usn,
                             ULONGLONG parent) {
  size_t slash = hostPath.find_last_of('/');
  std::u16string name = widen(slash == std::string::npos ? hostPath : hostPath.substr(slash + 1));
  size_t nameBytes = name.size() * sizeof(char16_t);
  size_t length = (kRecordHeader + nameBytes + 7) & ~static_cast<size_t>(7);
  std::vector<BYTE> bytes(length, 0);
  USN_RECORD record{};
  record.RecordLength = static_cast<DWORD>(length);
  record.MajorVersion = 2;
  record.MinorVersion = 0;
  record.FileReferenceNumber = st.st_ino;
  record.ParentFileReferenceNumber = parent;
  record.Usn = usn;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  record.TimeStamp.QuadPart = static_cast<LONGLONG>(fileTimeFromUnix(now.tv_sec, now.tv_nsec));
  record.Reason = reason;
  record.FileAttributes = attributesFromStat(st, hostPath.substr(slash == std::string::npos ? 0 : slash + 1));
  record.FileNameLength = static_cast<WORD>(nameBytes);
  record.FileNameOffset = static_cast<WORD>(kRecordHeader);
  std::memcpy(bytes.data(), &record, kRecordHeader);
  std::memcpy(bytes.data() + kRecordHeader, name.data(), nameBytes);
  return bytes;
}

ULONGLONG parentReference(const std::string& hostPath) {
  size_t slash = hostPath.find_last_of('/');
  std::string parent = slash == 0 ? "/" : hostPath.substr(0, slash);
  struct stat st;
  return stat(parent.c_str(), &st) == 0 ? st.st_ino : 0;
}

BOOL createJournal(char letter, const CREATE_USN_JOURNAL_DATA& request) {
  std::lock_guard<std::mutex> lock(journalMutex());
  Journal journal;
  if (!load(letter, journal)) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    journal.data.UsnJournalID = fileTimeFromUnix(now.tv_sec, now.tv_nsec);
    journal.data.MaxUsn = kMaxUsn;
    journal.data.MaximumSize = kDefaultMaximumSize;
    journal.data.AllocationDelta = kDefaultAllocationDelta;
  }
  if (request.MaximumSize) journal.data.MaximumSize = request.MaximumSize;
  if (request.AllocationDelta) journal.data.AllocationDelta = request.AllocationDelta;
  trim(journal);
  return store(letter, journal) ? TRUE : fail(ERROR_WRITE_FAULT);
}

BOOL readJournal(char letter, const READ_USN_JOURNAL_DATA& request, BYTE* out, DWORD outSize, DWORD& returned) {
  std::lock_guard<std::mutex> lock(journalMutex());
  Journal journal;
  if (!load(letter, journal)) return fail(ERROR_JOURNAL_NOT_ACTIVE);
  if (request.UsnJournalID != journal.data.UsnJournalID) return fail(ERROR_INVALID_PARAMETER);
  if (!out || outSize < sizeof(USN)) return fail(ERROR_INSUFFICIENT_BUFFER);
  USN start = request.StartUsn == 0 ? journal.data.FirstUsn : request.StartUsn;
  if (start < journal.data.FirstUsn) return fail(ERROR_JOURNAL_ENTRY_DELETED);
  USN next = journal.data.NextUsn;
  size_t filled = sizeof(USN);
  size_t at = 0;
  // The first record at or after the start.
  while (at < journal.records.size() && recordUsn(journal.records.data() + at) < start)
    at += recordLength(journal.records.data() + at);
  for (; at < journal.records.size(); at += recordLength(journal.records.data() + at)) {
    const BYTE* record = journal.records.data() + at;
    DWORD reason;
    std::memcpy(&reason, record + offsetof(USN_RECORD, Reason), sizeof reason);
    bool wanted = (reason & request.ReasonMask) != 0 && (!request.ReturnOnlyOnClose || (reason & USN_REASON_CLOSE));
    if (!wanted) continue;
    DWORD length = recordLength(record);
    if (filled + length > outSize) {
      if (filled == sizeof(USN)) return fail(ERROR_INSUFFICIENT_BUFFER);
      next = recordUsn(record);
      break;
    }
    std::memcpy(out + filled, record, length);
    filled += length;
  }
  if (start > next) next = start;
  std::memcpy(out, &next, sizeof next);
  returned = static_cast<DWORD>(filled);
  return TRUE;
}

struct TableEntry {
  ULONGLONG reference;
  ULONGLONG parent;
  std::string hostPath;
  struct stat st;
};
std::vector<TableEntry>* walking = nullptr;

int visit(const char* path, const struct stat* st, int type, struct FTW* where) {
  if (type == FTW_NS || type == FTW_DNR) return 0;
  if (where->level == 0) return 0;
  std::string host = path;
  walking->push_back({st->st_ino, 0, host, *st});
  return 0;
}

BOOL enumerateTable(char letter, const MFT_ENUM_DATA& request, BYTE* out, DWORD outSize, DWORD& returned) {
  if (!out || outSize < sizeof(ULONGLONG)) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::string root = hostPathFromWindows(std::string(1, letter) + ":\\");
  std::vector<TableEntry> entries;
  {
    static std::mutex walkMutex;  // nftw's callback has no context argument
    std::lock_guard<std::mutex> lock(walkMutex);
    walking = &entries;
    nftw(root.c_str(), visit, 32, FTW_PHYS | FTW_MOUNT);
    walking = nullptr;
  }
  for (auto& entry : entries) entry.parent = parentReference(entry.hostPath);
  // The latest USN of each file, from the journal when there is one.
  std::map<ULONGLONG, USN> latest;
  {
    std::lock_guard<std::mutex> lock(journalMutex());
    Journal journal;
    if (load(letter, journal))
      for (size_t at = 0; at < journal.records.size(); at += recordLength(journal.records.data() + at)) {
        ULONGLONG reference;
        std::memcpy(&reference, journal.records.data() + at + offsetof(USN_RECORD, FileReferenceNumber), 8);
        latest[reference] = recordUsn(journal.records.data() + at);
      }
  }
  std::sort(entries.begin(), entries.end(),
            [](const TableEntry& a, const TableEntry& b) { return a.reference < b.reference; });
  size_t filled = sizeof(ULONGLONG);
  ULONGLONG next = request.StartFileReferenceNumber;
  bool any = false;
  for (const auto& entry : entries) {
    if (entry.reference < request.StartFileReferenceNumber) continue;
    auto found = latest.find(entry.reference);
    USN usn = found == latest.end() ? 0 : found->second;
    if (usn < request.LowUsn || usn > request.HighUsn) continue;
    std::vector<BYTE> record = makeRecord(entry.hostPath, entry.st, 0, usn, entry.parent);
    // A table record carries no time stamp.
    std::memset(record.data() + offsetof(USN_RECORD, TimeStamp), 0, sizeof(LARGE_INTEGER));
    if (filled + record.size() > outSize) {
      if (!any) return fail(ERROR_INSUFFICIENT_BUFFER);
      break;
    }
    std::memcpy(out + filled, record.data(), record.size());
    filled += record.size();
    next = entry.reference + 1;
    any = true;
  }
  if (!any) return fail(ERROR_HANDLE_EOF);
  std::memcpy(out, &next, sizeof next);
  returned = static_cast<DWORD>(filled);
  return TRUE;
}

}  // namespace

BOOL journalNote(const std::string& hostPath, DWORD reason) {
  char letter = volumeOf(hostPath);
  if (!letter) return fail(ERROR_INVALID_PARAMETER);
  struct stat st;
  if (lstat(hostPath.c_str(), &st) != 0) return failErrno(errno);
  std::lock_guard<std::mutex> lock(journalMutex());
  Journal journal;
  if (!load(letter, journal)) return fail(ERROR_JOURNAL_NOT_ACTIVE);
  std::vector<BYTE> record = makeRecord(hostPath, st, reason, journal.data.NextUsn, parentReference(hostPath));
  journal.records.insert(journal.records.end(), record.begin(), record.end());
  journal.data.NextUsn += static_cast<USN>(record.size());
  trim(journal);
  return store(letter, journal) ? TRUE : fail(ERROR_WRITE_FAULT);
}

void journalNoteIfActive(const std::string& hostPath, DWORD reason) {
  char letter = volumeOf(hostPath);
  if (!letter) return;
  struct stat st;
  if (stat(journalPath(letter).c_str(), &st) != 0) return;
  DWORD saved = GetLastError();
  journalNote(hostPath, reason);
  setLastError(saved);
}

}  // namespace om::standin

using namespace om::standin;

BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                            LPDWORD returned, LPOVERLAPPED overlapped) {
  if (returned) *returned = 0;
  if (overlapped) return fail(ERROR_NOT_SUPPORTED);
  char letter = 0;
  DWORD error = volumeOfHandle(device, letter);
  if (error != ERROR_SUCCESS) return fail(error);
  DWORD done = 0;
  BOOL ok = FALSE;
  switch (code) {
    case FSCTL_CREATE_USN_JOURNAL: {
      if (!in || inSize < sizeof(CREATE_USN_JOURNAL_DATA)) return fail(ERROR_INVALID_PARAMETER);
      CREATE_USN_JOURNAL_DATA request;
      std::memcpy(&request, in, sizeof request);
      ok = createJournal(letter, request);
      break;
    }
    case FSCTL_QUERY_USN_JOURNAL: {
      Journal journal;
      {
        std::lock_guard<std::mutex> lock(journalMutex());
        if (!load(letter, journal)) return fail(ERROR_JOURNAL_NOT_ACTIVE);
      }
      if (!out || outSize < sizeof(USN_JOURNAL_DATA)) return fail(ERROR_INSUFFICIENT_BUFFER);
      std::memcpy(out, &journal.data, sizeof journal.data);
      done = sizeof journal.data;
      ok = TRUE;
      break;
    }
    case FSCTL_READ_USN_JOURNAL: {
      if (!in || inSize < sizeof(READ_USN_JOURNAL_DATA)) return fail(ERROR_INVALID_PARAMETER);
      READ_USN_JOURNAL_DATA request;
      std::memcpy(&request, in, sizeof request);
      ok = readJournal(letter, request, static_cast<BYTE*>(out), outSize, done);
      break;
    }
    case FSCTL_ENUM_USN_DATA: {
      if (!in || inSize < sizeof(MFT_ENUM_DATA)) return fail(ERROR_INVALID_PARAMETER);
      MFT_ENUM_DATA request;
      std::memcpy(&request, in, sizeof request);
      ok = enumerateTable(letter, request, static_cast<BYTE*>(out), outSize, done);
      break;
    }
    default:
      return fail(ERROR_INVALID_FUNCTION);
  }
  if (ok && (code == FSCTL_READ_USN_JOURNAL || code == FSCTL_ENUM_USN_DATA)) damage(letter, static_cast<BYTE*>(out), done);
  if (ok && returned) *returned = done;
  if (ok) setLastError(ERROR_SUCCESS);
  return ok;
}

BOOL WINAPI OmStandinJournalNote(LPCWSTR path, DWORD reason) {
  if (!path) return fail(ERROR_INVALID_PARAMETER);
  std::string host = hostPathFromWindows(narrow(path));
  if (host.empty()) return fail(ERROR_PATH_NOT_FOUND);
  return journalNote(host, reason);
}
