// Backup-semantics streams (BackupRead, BackupSeek, BackupWrite) and the raw
// export of encrypted files.
//
// BackupRead produces WIN32_STREAM_ID records: the security stream when asked,
// the data stream of a file, then one alternate data stream per "user." extended
// attribute (":name:$DATA"). Records run on across the caller's buffers in any
// split; the context is created on the first call and freed by the abort call.
// BackupWrite parses the same records from buffers of any size; a security
// stream (when asked for) must be a well-formed self-relative descriptor and is
// kept with the file, where BackupRead and GetFileSecurityW find it again.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "../win32.h"
#include "files_internal.h"

namespace om::standin {

namespace {

constexpr DWORD kHeaderSize = offsetof(WIN32_STREAM_ID, cStreamName);
constexpr uint32_t kReadMagic = 0x52425344;   // "DSBR"
constexpr uint32_t kWriteMagic = 0x57425344;  // "DSBW"
constexpr uint32_t kRawMagic = 0x57415244;    // "DRAW"

struct Stream {
  DWORD id = 0;
  DWORD attributes = STREAM_NORMAL_ATTRIBUTE;
  std::u16string name;
  uint64_t size = 0;
  bool fromFile = false;  // content is the file's data, else `memory`
  std::vector<BYTE> memory;

  std::vector<BYTE> header() const {
    std::vector<BYTE> bytes(kHeaderSize + name.size() * sizeof(WCHAR));
    DWORD nameBytes = static_cast<DWORD>(name.size() * sizeof(WCHAR));
    std::memcpy(&bytes[0], &id, 4);
    std::memcpy(&bytes[4], &attributes, 4);
    std::memcpy(&bytes[8], &size, 8);
    std::memcpy(&bytes[16], &nameBytes, 4);
    if (nameBytes) std::memcpy(&bytes[kHeaderSize], name.data(), nameBytes);
    return bytes;
  }
};

struct ReadContext {
  uint32_t magic = kReadMagic;
  std::vector<Stream> streams;
  size_t index = 0;   // current stream
  uint64_t at = 0;    // bytes of the current stream (header and content) delivered
  std::vector<BYTE> currentHeader;
  ~ReadContext() { magic = 0; }
};

struct WriteContext {
  uint32_t magic = kWriteMagic;
  std::vector<BYTE> header;  // header and name of the current stream as received so far
  bool inContent = false;
  DWORD id = 0;
  std::u16string name;
  uint64_t size = 0;
  uint64_t done = 0;
  std::vector<BYTE> content;  // alternate and security streams are kept until complete
  ~WriteContext() { magic = 0; }
};

struct RawContext {
  uint32_t magic = kRawMagic;
  int fd = -1;
  bool import = false;
  ~RawContext() {
    magic = 0;
    if (fd >= 0) close(fd);
  }
};

size_t rawBlockSize() {
  size_t block = 65536;
  if (const char* configured = getenv("OM_STANDIN_EFS_BLOCK")) {
    long value = strtol(configured, nullptr, 10);
    if (value > 0) block = static_cast<size_t>(value);
  }
  return block;
}

ReadContext* readContext(void* p) {
  auto* context = static_cast<ReadContext*>(p);
  return context && context->magic == kReadMagic ? context : nullptr;
}
WriteContext* writeContext(void* p) {
  auto* context = static_cast<WriteContext*>(p);
  return context && context->magic == kWriteMagic ? context : nullptr;
}

BOOL buildStreams(const FileObject& file, BOOL processSecurity, ReadContext& context) {
  struct stat st;
  if (fstat(file.fd, &st) != 0) return failErrno(errno);
  if (processSecurity) {
    Stream security;
    security.id = BACKUP_SECURITY_DATA;
    security.attributes = STREAM_CONTAINS_SECURITY;
    if (!keptSecurity(file.fd, security.memory))
      security.memory = securityDescriptorFor(
          st, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
    security.size = security.memory.size();
    context.streams.push_back(std::move(security));
  }
  if (S_ISREG(st.st_mode)) {
    Stream data;
    data.id = BACKUP_DATA;
    data.size = static_cast<uint64_t>(st.st_size);
    data.fromFile = true;
    context.streams.push_back(std::move(data));
  }
  for (const std::string& name : alternateStreamNames(file.fd)) {
    Stream alternate;
    alternate.id = BACKUP_ALTERNATE_DATA;
    alternate.name = widen(":" + name + ":$DATA");
    if (!readAlternateStream(file.fd, name, alternate.memory)) continue;
    alternate.size = alternate.memory.size();
    context.streams.push_back(std::move(alternate));
  }
  if (!context.streams.empty()) context.currentHeader = context.streams[0].header();
  return TRUE;
}

BOOL finishWrittenStream(const FileObject& file, WriteContext& context, BOOL processSecurity) {
  if (context.id == BACKUP_SECURITY_DATA && processSecurity) {
    if (!keepSecurity(file.fd, context.content)) return FALSE;
  } else if (context.id == BACKUP_ALTERNATE_DATA) {
    std::string name = narrow(context.name);
    if (!name.empty() && name[0] == ':') name = name.substr(1);
    size_t type = name.rfind(':');
    if (type != std::string::npos) name = name.substr(0, type);
    if (name.empty()) return fail(ERROR_INVALID_DATA);
    std::string attribute = "user." + name;
    if (fsetxattr(file.fd, attribute.c_str(), context.content.data(), context.content.size(), 0) != 0)
      return failErrno(errno);
  }
  context.header.clear();
  context.inContent = false;
  context.content.clear();
  context.done = 0;
  return TRUE;
}

}  // namespace
}  // namespace om::standin

using namespace om::standin;

BOOL WINAPI BackupRead(HANDLE handle, LPBYTE buffer, DWORD toRead, LPDWORD read, BOOL abort, BOOL processSecurity,
                       LPVOID* contextSlot) {
  if (read) *read = 0;
  if (!contextSlot) return fail(ERROR_INVALID_PARAMETER);
  if (abort) {
    delete readContext(*contextSlot);
    *contextSlot = nullptr;
    return TRUE;
  }
  auto file = lookup<FileObject>(handle);
  if (!file) return fail(ERROR_INVALID_HANDLE);
  if (!read || (!buffer && toRead)) return fail(ERROR_INVALID_PARAMETER);
  if (!file->canRead) return fail(ERROR_ACCESS_DENIED);
  ReadContext* context = readContext(*contextSlot);
  if (!context) {
    if (*contextSlot) return fail(ERROR_INVALID_PARAMETER);
    auto fresh = std::make_unique<ReadContext>();
    if (!buildStreams(*file, processSecurity, *fresh)) return FALSE;
    context = fresh.release();
    *contextSlot = context;
  }
  DWORD done = 0;
  while (done < toRead && context->index < context->streams.size()) {
    const Stream& stream = context->streams[context->index];
    const std::vector<BYTE>& header = context->currentHeader;
    uint64_t total = header.size() + stream.size;
    if (context->at >= total) {
      if (++context->index < context->streams.size()) context->currentHeader = context->streams[context->index].header();
      context->at = 0;
      continue;
    }
    if (context->at < header.size()) {
      size_t n = std::min<uint64_t>(header.size() - context->at, toRead - done);
      std::memcpy(buffer + done, header.data() + context->at, n);
      done += static_cast<DWORD>(n);
      context->at += n;
      continue;
    }
    uint64_t offset = context->at - header.size();
    size_t n = std::min<uint64_t>(stream.size - offset, toRead - done);
    if (stream.fromFile) {
      ssize_t got;
      do {
        got = pread(file->fd, buffer + done, n, static_cast<off_t>(offset));
      } while (got < 0 && errno == EINTR);
      if (got < 0) {
        *read = done;
        return failErrno(errno);
      }
      if (got == 0) {  // the file shrank while read: the stream keeps its announced size
        std::memset(buffer + done, 0, n);
        got = static_cast<ssize_t>(n);
      }
      n = static_cast<size_t>(got);
    } else {
      std::memcpy(buffer + done, stream.memory.data() + offset, n);
    }
    done += static_cast<DWORD>(n);
    context->at += n;
  }
  *read = done;
  setLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI BackupSeek(HANDLE handle, DWORD low, DWORD high, LPDWORD lowSeeked, LPDWORD highSeeked,
                       LPVOID* contextSlot) {
  if (lowSeeked) *lowSeeked = 0;
  if (highSeeked) *highSeeked = 0;
  if (!lookup<FileObject>(handle)) return fail(ERROR_INVALID_HANDLE);
  if (!contextSlot || !lowSeeked || !highSeeked) return fail(ERROR_INVALID_PARAMETER);
  ReadContext* context = readContext(*contextSlot);
  if (!context || context->index >= context->streams.size()) return fail(ERROR_SEEK);
  uint64_t wanted = (static_cast<uint64_t>(high) << 32) | low;
  const Stream& stream = context->streams[context->index];
  uint64_t headerSize = context->currentHeader.size();
  // Seeks move within the content of the current stream only.
  uint64_t moved = 0;
  if (context->at >= headerSize) moved = std::min(wanted, headerSize + stream.size - context->at);
  context->at += moved;
  *lowSeeked = static_cast<DWORD>(moved);
  *highSeeked = static_cast<DWORD>(moved >> 32);
  if (moved < wanted) return fail(ERROR_SEEK);
  setLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI BackupWrite(HANDLE handle, LPBYTE buffer, DWORD toWrite, LPDWORD written, BOOL abort,
                        BOOL processSecurity, LPVOID* contextSlot) {
  if (written) *written = 0;
  if (!contextSlot) return fail(ERROR_INVALID_PARAMETER);
  if (abort) {
    delete writeContext(*contextSlot);
    *contextSlot = nullptr;
    return TRUE;
  }
  auto file = lookup<FileObject>(handle);
  if (!file) return fail(ERROR_INVALID_HANDLE);
  if (!written || (!buffer && toWrite)) return fail(ERROR_INVALID_PARAMETER);
  // A handle with only WRITE_DAC / WRITE_OWNER may restore security streams.
  bool securityOnly = !file->canWrite && (file->access & (WRITE_DAC | WRITE_OWNER)) && processSecurity;
  if (!file->canWrite && !securityOnly) return fail(ERROR_ACCESS_DENIED);
  WriteContext* context = writeContext(*contextSlot);
  if (!context) {
    if (*contextSlot) return fail(ERROR_INVALID_PARAMETER);
    context = new WriteContext;
    *contextSlot = context;
  }
  DWORD done = 0;
  while (done < toWrite) {
    if (!context->inContent) {
      size_t need = kHeaderSize;
      if (context->header.size() < need) {
        size_t n = std::min<size_t>(need - context->header.size(), toWrite - done);
        context->header.insert(context->header.end(), buffer + done, buffer + done + n);
        done += static_cast<DWORD>(n);
        *written = done;
        if (context->header.size() < need) continue;
      }
      DWORD nameBytes;
      std::memcpy(&nameBytes, &context->header[16], 4);
      if (nameBytes % 2 || nameBytes > 65536) return fail(ERROR_INVALID_DATA);
      need += nameBytes;
      if (context->header.size() < need) {
        size_t n = std::min<size_t>(need - context->header.size(), toWrite - done);
        context->header.insert(context->header.end(), buffer + done, buffer + done + n);
        done += static_cast<DWORD>(n);
        *written = done;
        if (context->header.size() < need) continue;
      }
      std::memcpy(&context->id, &context->header[0], 4);
      std::memcpy(&context->size, &context->header[8], 8);
      context->name.assign(reinterpret_cast<const char16_t*>(&context->header[kHeaderSize]), nameBytes / 2);
      context->inContent = true;
      context->done = 0;
      if (context->size == 0 && !finishWrittenStream(*file, *context, processSecurity)) return FALSE;
      continue;
    }
    size_t n = std::min<uint64_t>(context->size - context->done, toWrite - done);
    if (securityOnly && context->id != BACKUP_SECURITY_DATA) return fail(ERROR_ACCESS_DENIED);
    if (context->id == BACKUP_DATA) {
      size_t put = 0;
      while (put < n) {
        ssize_t w = pwrite(file->fd, buffer + done + put, n - put, static_cast<off_t>(context->done + put));
        if (w < 0) {
          if (errno == EINTR) continue;
          *written = done;
          return failErrno(errno);
        }
        put += static_cast<size_t>(w);
      }
    } else if (context->id == BACKUP_ALTERNATE_DATA || (context->id == BACKUP_SECURITY_DATA && processSecurity)) {
      if (context->content.size() + n > (64u << 10)) return fail(ERROR_DISK_FULL);  // extended attribute limit
      context->content.insert(context->content.end(), buffer + done, buffer + done + n);
    }
    // The other streams (and security when not asked for) are taken and not applied.
    done += static_cast<DWORD>(n);
    context->done += n;
    *written = done;
    if (context->done == context->size && !finishWrittenStream(*file, *context, processSecurity)) return FALSE;
  }
  *written = done;
  setLastError(ERROR_SUCCESS);
  return TRUE;
}

DWORD WINAPI OpenEncryptedFileRawW(LPCWSTR path, ULONG flags, PVOID* contextSlot) {
  if (!path || !contextSlot) return ERROR_INVALID_PARAMETER;
  std::string host = hostPathFromWindows(narrow(path));
  if (host.empty()) return ERROR_PATH_NOT_FOUND;
  bool import = flags & CREATE_FOR_IMPORT;
  int fd = import ? open(host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)
                  : open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? missingFileError(host) : win32ErrorFromErrno(errno);
  auto* context = new RawContext;
  context->fd = fd;
  context->import = import;
  *contextSlot = context;
  return ERROR_SUCCESS;
}

DWORD WINAPI ReadEncryptedFileRaw(PFE_EXPORT_FUNC exportCallback, PVOID callbackContext, PVOID p) {
  auto* context = static_cast<RawContext*>(p);
  if (!exportCallback || !context || context->magic != kRawMagic || context->import) return ERROR_INVALID_PARAMETER;
  size_t block = rawBlockSize();
  std::vector<BYTE> data(block);
  off_t offset = 0;
  for (;;) {
    ssize_t got = pread(context->fd, data.data(), block, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno == EISDIR ? ERROR_SUCCESS : win32ErrorFromErrno(errno);
    if (got == 0) return ERROR_SUCCESS;
    offset += got;
    DWORD result = exportCallback(data.data(), callbackContext, static_cast<ULONG>(got));
    if (result != ERROR_SUCCESS) return result;
  }
}

void WINAPI CloseEncryptedFileRaw(PVOID p) {
  auto* context = static_cast<RawContext*>(p);
  if (context && context->magic == kRawMagic) delete context;
}

DWORD WINAPI WriteEncryptedFileRaw(PFE_IMPORT_FUNC importCallback, PVOID callbackContext, PVOID p) {
  auto* context = static_cast<RawContext*>(p);
  if (!importCallback || !context || context->magic != kRawMagic || !context->import) return ERROR_INVALID_PARAMETER;
  size_t block = rawBlockSize();
  std::vector<BYTE> data(block);
  for (;;) {
    ULONG length = static_cast<ULONG>(block);
    DWORD result = importCallback(data.data(), callbackContext, &length);
    if (result != ERROR_SUCCESS) return result;
    if (length == 0) return ERROR_SUCCESS;
    if (length > block) return ERROR_INVALID_PARAMETER;
    size_t put = 0;
    while (put < length) {
      ssize_t w = write(context->fd, data.data() + put, length - put);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return win32ErrorFromErrno(errno);
      put += static_cast<size_t>(w);
    }
  }
}
