#include "framework/streams.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "framework/exceptions.h"
#include "framework/strutils.h"

namespace om {

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

// --- TMemoryStream ---------------------------------------------------------

TMemoryStream::TMemoryStream(std::string bytes) : FData(bytes.begin(), bytes.end()) {}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || FPosition >= Size()) return 0;
  int64_t n = std::min(count, Size() - FPosition);
  std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (FPosition + count > Size()) FData.resize(static_cast<size_t>(FPosition + count));
  std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? FPosition : Size();
  FPosition = std::max<int64_t>(0, base + offset);
  return FPosition;
}

void TMemoryStream::SetSize(int64_t newSize) {
  FData.resize(static_cast<size_t>(std::max<int64_t>(0, newSize)));
  if (FPosition > newSize) FPosition = std::max<int64_t>(0, newSize);
}

// --- TFileStream -----------------------------------------------------------

namespace {
#ifdef _WIN32
int OsOpen(const char* name, int flags, int perm) { return _open(name, flags | _O_BINARY, perm); }
int64_t OsRead(int fd, void* p, int64_t n) { return _read(fd, p, static_cast<unsigned>(n)); }
int64_t OsWrite(int fd, const void* p, int64_t n) { return _write(fd, p, static_cast<unsigned>(n)); }
int64_t OsSeek(int fd, int64_t off, int whence) { return _lseeki64(fd, off, whence); }
bool OsTruncate(int fd, int64_t size) { return _chsize_s(fd, size) == 0; }
int OsClose(int fd) { return _close(fd); }
const int kMaxChunk = 1 << 30;
#else
int OsOpen(const char* name, int flags, int perm) { return ::open(name, flags | O_CLOEXEC, perm); }
int64_t OsRead(int fd, void* p, int64_t n) { return ::read(fd, p, static_cast<size_t>(n)); }
int64_t OsWrite(int fd, const void* p, int64_t n) { return ::write(fd, p, static_cast<size_t>(n)); }
int64_t OsSeek(int fd, int64_t off, int whence) { return ::lseek(fd, static_cast<off_t>(off), whence); }
bool OsTruncate(int fd, int64_t size) { return ::ftruncate(fd, static_cast<off_t>(size)) == 0; }
int OsClose(int fd) { return ::close(fd); }
const int kMaxChunk = 1 << 30;
#endif
}  // namespace

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : FFileName(fileName) {
  if (mode == fmCreate) {
    FHandle = OsOpen(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
    if (FHandle < 0)
      throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), std::strerror(errno)));
    return;
  }
  int access = mode & 0x3;
  int flags = access == fmOpenWrite ? O_WRONLY : access == fmOpenReadWrite ? O_RDWR : O_RDONLY;
  FHandle = OsOpen(fileName.c_str(), flags, 0);
  if (FHandle < 0)
    throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName.c_str(), std::strerror(errno)));
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) OsClose(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  int64_t done = 0;
  auto* p = static_cast<uint8_t*>(buffer);
  while (done < count) {
    int64_t n = OsRead(FHandle, p + done, std::min<int64_t>(count - done, kMaxChunk));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done > 0 ? done : -1;
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  int64_t done = 0;
  auto* p = static_cast<const uint8_t*>(buffer);
  while (done < count) {
    int64_t n = OsWrite(FHandle, p + done, std::min<int64_t>(count - done, kMaxChunk));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  return OsSeek(FHandle, offset, whence);
}

void TFileStream::SetSize(int64_t newSize) {
  int64_t pos = Position();
  if (!OsTruncate(FHandle, newSize)) throw EStreamError(Format("Cannot resize \"%s\"", FFileName.c_str()));
  if (pos > newSize) Seek(newSize, soBeginning);
}

}  // namespace om
