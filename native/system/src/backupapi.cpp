// com.ombrel.agentframework.os.win32.BackupApi: backup-semantics streams, file
// security descriptors with their attributes, privileges, disk space and
// attributes, and raw reads and writes of encrypted files.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "bridge.h"
#include "com_ombrel_agentframework_os_win32_BackupApi.h"
#include "com_ombrel_agentframework_os_win32_Util.h"
#include "com_ombrel_agentframework_os_win32_VolumeUtil.h"
#include "com_ombrel_util_file_nativefs_win32_BackupInputStream.h"
#include "com_ombrel_util_file_nativefs_win32_BackupOutputStream.h"

using namespace rasbridge;

namespace {

constexpr SECURITY_INFORMATION kSecurityParts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
constexpr DWORD kSecurityWriteAccess = WRITE_DAC | WRITE_OWNER | ACCESS_SYSTEM_SECURITY;  // 0x10C0000
constexpr DWORD kStreamHeaderSize = 20;  // WIN32_STREAM_ID up to its name
constexpr char kNoEncryptedFiles[] = "Encrypted file backup not available on this OS";

using OpenRawFunction = DWORD(WINAPI*)(LPCWSTR, ULONG, PVOID*);
using ReadRawFunction = DWORD(WINAPI*)(PFE_EXPORT_FUNC, PVOID, PVOID);
using WriteRawFunction = DWORD(WINAPI*)(PFE_IMPORT_FUNC, PVOID, PVOID);
using CloseRawFunction = void(WINAPI*)(PVOID);

// Written by init, read afterwards.
std::atomic<OpenRawFunction> openRaw{nullptr};
std::atomic<ReadRawFunction> readRaw{nullptr};
std::atomic<WriteRawFunction> writeRaw{nullptr};
std::atomic<CloseRawFunction> closeRaw{nullptr};
std::atomic<jclass> fileNotFoundClass{nullptr};

template <class Function>
Function entry(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// One read or write of raw encrypted data: the Java callback and its transfer buffer.
struct BlockTransfer {
  JNIEnv* env;
  jmethodID nextBlock;
  jobject callback;
  jbyteArray buffer;
  jsize length;
};

DWORD WINAPI exportBlock(PBYTE data, PVOID context, ULONG length) {
  auto* transfer = static_cast<BlockTransfer*>(context);
  JNIEnv* env = transfer->env;
  ULONG done = 0;
  while (done < length) {
    jsize chunk = static_cast<jsize>(std::min<ULONG>(static_cast<ULONG>(transfer->length), length - done));
    env->SetByteArrayRegion(transfer->buffer, 0, chunk, reinterpret_cast<const jbyte*>(data + done));
    jint r = env->CallIntMethod(transfer->callback, transfer->nextBlock, transfer->buffer, chunk);
    if (env->ExceptionCheck()) return ERROR_OPERATION_ABORTED;  // the exception goes on to the caller
    done += static_cast<ULONG>(chunk);
    if (r != 0) return static_cast<DWORD>(r);
  }
  return ERROR_SUCCESS;
}

DWORD WINAPI importBlock(PBYTE data, PVOID context, PULONG length) {
  auto* transfer = static_cast<BlockTransfer*>(context);
  JNIEnv* env = transfer->env;
  ULONG capacity = *length;
  jint r;
  do {
    r = env->CallIntMethod(transfer->callback, transfer->nextBlock, transfer->buffer,
                           static_cast<jint>(std::min<ULONG>(capacity, 0x7FFFFFFF)));
    if (env->ExceptionCheck()) return ERROR_OPERATION_ABORTED;
  } while (r == 0);
  if (r < 0) {
    *length = 0;
    return ERROR_SUCCESS;
  }
  // More than asked for, or more than the Java buffer holds, cannot be taken.
  if (static_cast<ULONG>(r) > capacity || r > transfer->length) return ERROR_INVALID_DATA;
  env->GetByteArrayRegion(transfer->buffer, 0, r, reinterpret_cast<jbyte*>(data));
  *length = static_cast<ULONG>(r);
  return ERROR_SUCCESS;
}

// Sets up the transfer for the raw natives; false with an exception pending.
bool prepareTransfer(JNIEnv* env, jobject callback, jbyteArray buffer, BlockTransfer& transfer) {
  if (!callback || !buffer) {
    throwNullPointer(env);
    return false;
  }
  transfer.env = env;
  transfer.callback = callback;
  transfer.buffer = buffer;
  transfer.length = env->GetArrayLength(buffer);
  if (transfer.length <= 0) {  // no room to hand a block over
    throwIOException(env, ERROR_INVALID_PARAMETER);
    return false;
  }
  jclass type = env->GetObjectClass(callback);
  transfer.nextBlock = env->GetMethodID(type, "nextBlock", "([BI)I");
  env->DeleteLocalRef(type);
  return transfer.nextBlock != nullptr;
}

// ReadEncryptedFileRaw or WriteEncryptedFileRaw (`raw`, null when the system
// has none) moving blocks between the context and the Java callback.
template <class RawFunction, class BlockFunction>
jint transferRaw(JNIEnv* env, RawFunction raw, BlockFunction block, jobject callback, jlong context,
                 jbyteArray buffer) {
  if (!raw) {
    throwNew(env, Cached::IOException, kNoEncryptedFiles);
    return 0;
  }
  BlockTransfer transfer;
  if (!prepareTransfer(env, callback, buffer, transfer)) return 0;
  return static_cast<jint>(raw(block, &transfer, fromJava<PVOID>(context)));
}

using BackupCall = BOOL(WINAPI*)(HANDLE, LPBYTE, DWORD, LPDWORD, BOOL, BOOL, LPVOID*);

// An abort reads and writes nothing: whatever its buffer, range or handle, it
// frees the context, which would be lost otherwise.
jint backupTransfer(JNIEnv* env, BackupCall call, jlongArray context, jlong handle, jbyteArray buffer, jint offset,
                    jint length, jboolean abort, jboolean processSecurity) {
  if (!context || (!abort && (!buffer || handle == 0))) {
    throwNullPointer(env);
    return 0;
  }
  if ((!abort && !inRange(env, buffer, offset, length)) || env->GetArrayLength(context) < 1) {
    throwIOException(env, ERROR_INVALID_PARAMETER);
    return -1;
  }
  LPVOID backupContext = fromJava<LPVOID>(takeLong(env, context));
  DWORD count = 0;
  BOOL ok;
  DWORD error;
  {
    PinnedArray data(env, abort ? nullptr : buffer, PinnedArray::kCopyBack);
    if (!abort && !data.ok()) {
      throwOutOfMemory(env);
      return 0;
    }
    ok = call(fromJava<HANDLE>(handle), data.ok() ? data.bytes() + offset : nullptr,
              data.ok() ? static_cast<DWORD>(length) : 0, &count, abort ? TRUE : FALSE,
              processSecurity ? TRUE : FALSE, &backupContext);
    error = ok ? ERROR_SUCCESS : GetLastError();
  }
  setOut(env, context, toJava(backupContext));
  if (abort && handle == 0) {  // the context is freed; the handle was missing all the same
    throwNullPointer(env);
    return 0;
  }
  if (abort) CloseHandle(fromJava<HANDLE>(handle));
  if (!ok) {
    throwIOException(env, error);
    return -1;
  }
  return static_cast<jint>(count);
}

bool startsWith(const WString& text, const char* prefix) {
  for (size_t i = 0; prefix[i]; ++i)
    if (i >= text.size() || text[i] != static_cast<WCHAR>(prefix[i])) return false;
  return true;
}

// True for the root of a drive or a share, with its backslash: "C:\", "\\?\C:\",
// "\\server\share\", "\\?\UNC\server\share\". Without the backslash a drive
// root would name the drive's current folder.
bool isRoot(const WString& path) {
  if (path.empty() || path.back() != u'\\') return false;
  if (startsWith(path, "\\\\?\\UNC\\") || (startsWith(path, "\\\\") && !startsWith(path, "\\\\?\\"))) {
    size_t start = startsWith(path, "\\\\?\\") ? 8 : 2;
    size_t split = path.find(u'\\', start);
    return split > start && split + 1 < path.size() - 1 && path.find(u'\\', split + 1) == path.size() - 1;
  }
  size_t start = startsWith(path, "\\\\?\\") ? 4 : 0;
  return path.size() == start + 3 && path[start + 1] == u':';
}

// The path without one trailing backslash (a folder named by "C:\dir\").
void dropTrailingBackslash(JavaWide& path) {
  WString& text = path.text();
  if (!text.empty() && text.back() == u'\\') text.pop_back();
}

// GetDiskFreeSpaceEx for the disk holding `path`: the bytes available to the
// caller, or the disk's total; -1 when the name or the call fails.
jlong diskSpace(JNIEnv* env, jstring path, bool total) {
  WidePath name(env, path, kQuietly);
  if (!name.ok()) return -1;
  ULARGE_INTEGER available, size, free;
  if (!GetDiskFreeSpaceExW(name.get(), &available, &size, &free)) return -1;
  return static_cast<jlong>(total ? size.QuadPart : available.QuadPart);
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_init(JNIEnv* env, jclass) {
  if (!ensureClassCache(env)) return;
  if (!fileNotFoundClass.load()) {
    jclass type = keepClass(env, "java/io/FileNotFoundException");
    if (!type) return;
    fileNotFoundClass.store(type);
  }
  if (!ensureErrorCodeException(env)) return;
  // Freed again at the end; it stays loaded because the library imports it.
  om::UniqueModule advapi(LoadLibraryA("ADVAPI32.DLL"));
  if (!advapi) return;
  openRaw.store(entry<OpenRawFunction>(advapi.get(), "OpenEncryptedFileRawW"));
  readRaw.store(entry<ReadRawFunction>(advapi.get(), "ReadEncryptedFileRaw"));
  closeRaw.store(entry<CloseRawFunction>(advapi.get(), "CloseEncryptedFileRaw"));
  writeRaw.store(entry<WriteRawFunction>(advapi.get(), "WriteEncryptedFileRaw"));
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_setPrivilege(JNIEnv* env, jclass,
                                                                                   jstring name, jboolean enable) {
  WideName privilege(env, name, throwException);
  if (!privilege.ok()) return;
  om::UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), MAXIMUM_ALLOWED, token.put())) {
    throwException(env, GetLastError());
    return;
  }
  TOKEN_PRIVILEGES privileges;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  if (!LookupPrivilegeValueW(nullptr, privilege.get(), &privileges.Privileges[0].Luid) ||
      !AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr))
    throwException(env, GetLastError());
  else if (enable && GetLastError() == ERROR_NOT_ALL_ASSIGNED)
    throwException(env, ERROR_NOT_ALL_ASSIGNED);  // succeeded without enabling: the token lacks it
}

JNIEXPORT jlong JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_readSecurityDescriptor(
    JNIEnv* env, jclass, jstring path, jbyteArray buffer, jint length) {
  if (length < 4) {
    throwNew(env, Cached::IOException, "buffer length < 4");
    return 0;
  }
  if (!buffer) {
    throwNullPointer(env);
    return 0;
  }
  WidePath name(env, path, throwErrorCodeException);
  if (!name.ok()) return 0;
  // Never past the end of the array, whatever length the caller claims.
  DWORD usable = static_cast<DWORD>(std::min<jint>(length, env->GetArrayLength(buffer)));
  DWORD attributes = GetFileAttributesW(name.get());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    throwErrorCodeException(env, GetLastError());
    return 0;
  }
  if (usable < 4) {
    throwErrorCodeException(env, ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // Filled natively and copied into the array: no critical region across the file system.
  std::vector<BYTE> data(usable);
  DWORD needed = 0;
  if (!GetFileSecurityW(name.get(), kSecurityParts, usable > 4 ? data.data() + 4 : nullptr, usable - 4, &needed)) {
    throwErrorCodeException(env, GetLastError());
    return 0;
  }
  std::memcpy(data.data(), &attributes, 4);  // little-endian, as on every Windows this runs on
  DWORD used = std::min<DWORD>(usable, needed + 4);
  env->SetByteArrayRegion(buffer, 0, static_cast<jsize>(used), reinterpret_cast<const jbyte*>(data.data()));
  return static_cast<jlong>(needed) + 4;
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_writeSecurityDescriptor(
    JNIEnv* env, jclass, jstring path, jbyteArray buffer, jint offset, jint length) {
  if (!buffer) {
    throwNullPointer(env);
    return;
  }
  int64_t descriptorLength = static_cast<int64_t>(length) - (static_cast<int64_t>(offset) + 4);
  if (descriptorLength < 0) {
    throwNew(env, Cached::IOException, "buffer length < offset");
    return;
  }
  if (offset < 0 || length > env->GetArrayLength(buffer)) {  // never outside the array
    throwNew(env, Cached::IOException, "buffer length > array length");
    return;
  }
  WidePath name(env, path, throwIOException);
  if (!name.ok()) return;
  // The attribute word and the descriptor, copied out of the array.
  std::vector<BYTE> data(static_cast<size_t>(descriptorLength) + 4);
  env->GetByteArrayRegion(buffer, offset, static_cast<jsize>(data.size()), reinterpret_cast<jbyte*>(data.data()));
  DWORD attributes;
  std::memcpy(&attributes, data.data(), 4);
  BYTE* descriptor = data.data() + 4;
  om::UniqueFile file(CreateFileW(name.get(), kSecurityWriteAccess, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    throwIOException(env, GetLastError());
    return;
  }
  BYTE header[kStreamHeaderSize] = {};
  DWORD id = BACKUP_SECURITY_DATA, streamAttributes = STREAM_CONTAINS_SECURITY;
  DWORD size = static_cast<DWORD>(descriptorLength);
  std::memcpy(header, &id, 4);
  std::memcpy(header + 4, &streamAttributes, 4);
  std::memcpy(header + 8, &size, 4);  // high half and name size stay 0
  LPVOID context = nullptr;
  DWORD written = 0;
  DWORD error = ERROR_SUCCESS;
  if (!BackupWrite(file.get(), header, kStreamHeaderSize, &written, FALSE, TRUE, &context) ||
      !BackupWrite(file.get(), descriptor, size, &written, FALSE, TRUE, &context))
    error = GetLastError();
  if (!BackupWrite(file.get(), nullptr, 0, &written, TRUE, TRUE, &context) && error == ERROR_SUCCESS)
    error = GetLastError();
  file.reset();
  if (error == ERROR_SUCCESS && !SetFileAttributesW(name.get(), attributes)) error = GetLastError();
  if (error != ERROR_SUCCESS) throwIOException(env, error);
}

JNIEXPORT jint JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_BackupRead(
    JNIEnv* env, jclass, jlongArray context, jlong handle, jbyteArray buffer, jint offset, jint length,
    jboolean abort, jboolean processSecurity) {
  return backupTransfer(env, BackupRead, context, handle, buffer, offset, length, abort, processSecurity);
}

JNIEXPORT jint JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_BackupWrite(
    JNIEnv* env, jclass, jlongArray context, jlong handle, jbyteArray buffer, jint offset, jint length,
    jboolean abort, jboolean processSecurity) {
  return backupTransfer(env, BackupWrite, context, handle, buffer, offset, length, abort, processSecurity);
}

JNIEXPORT jlong JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_CreateFile(
    JNIEnv* env, jclass, jstring path, jint access, jint share, jlong securityAttributes, jint disposition,
    jint flagsAndAttributes, jlong templateFile) {
  WidePath name(env, path, throwIOException);
  if (!name.ok()) return 0;
  HANDLE file = CreateFileW(name.get(), static_cast<DWORD>(access), static_cast<DWORD>(share),
                            fromJava<LPSECURITY_ATTRIBUTES>(securityAttributes),
                            static_cast<DWORD>(disposition), static_cast<DWORD>(flagsAndAttributes),
                            fromJava<HANDLE>(templateFile));
  if (file == INVALID_HANDLE_VALUE) {
    throwIOException(env, GetLastError());
    return 0;
  }
  return toJava(file);
}

JNIEXPORT jint JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_CloseHandle(JNIEnv* env, jclass,
                                                                                  jlong handle) {
  if (handle == 0) {
    throwNullPointer(env);
    return 0;
  }
  BOOL ok = CloseHandle(fromJava<HANDLE>(handle));
  if (!ok) throwIOException(env, GetLastError());
  return ok;
}

JNIEXPORT jlong JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_getFreeDiskSpace(JNIEnv* env, jclass,
                                                                                        jstring path) {
  return diskSpace(env, path, false);
}

JNIEXPORT jlong JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_getTotalDiskSpace(JNIEnv* env, jclass,
                                                                                         jstring path) {
  return diskSpace(env, path, true);
}

JNIEXPORT jint JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_GetFileAttributes(JNIEnv* env, jclass,
                                                                                        jstring path) {
  WidePath name(env, path, throwIOException);
  if (!name.ok()) return -1;
  if (isRoot(name.text())) {
    // A root has no entry of its own to find: its attributes are asked for directly.
    DWORD attributes = GetFileAttributesW(name.get());
    if (attributes == INVALID_FILE_ATTRIBUTES) throwIOException(env, GetLastError());
    return static_cast<jint>(attributes);
  }
  dropTrailingBackslash(name);
  WIN32_FIND_DATAW found;
  om::UniqueFind search(FindFirstFileW(name.get(), &found));
  if (!search) {
    throwIOException(env, GetLastError());
    return -1;
  }
  return static_cast<jint>(found.dwFileAttributes);
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_SetFileAttributes(JNIEnv* env, jclass,
                                                                                        jstring path,
                                                                                        jint attributes) {
  WidePath name(env, path, throwIOException);
  if (!name.ok()) return;
  if (!SetFileAttributesW(name.get(), static_cast<DWORD>(attributes))) throwIOException(env, GetLastError());
}

JNIEXPORT jlong JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_OpenEncryptedFileRaw(JNIEnv* env, jclass,
                                                                                            jstring path,
                                                                                            jint flags) {
  OpenRawFunction open = openRaw.load();
  if (!open) {
    throwNew(env, Cached::IOException, kNoEncryptedFiles);
    return 0;
  }
  WidePath name(env, path, throwIOException);
  if (!name.ok()) return 0;
  PVOID context = nullptr;
  DWORD result = open(name.get(), static_cast<ULONG>(flags), &context);
  if (result != ERROR_SUCCESS) {
    throwIOException(env, result);
    return 0;
  }
  return toJava(context);
}

JNIEXPORT jint JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_ReadEncryptedFileRaw(
    JNIEnv* env, jclass, jobject callback, jlong context, jbyteArray buffer) {
  return transferRaw(env, readRaw.load(), &exportBlock, callback, context, buffer);
}

JNIEXPORT jint JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_WriteEncryptedFileRaw(
    JNIEnv* env, jclass, jobject callback, jlong context, jbyteArray buffer) {
  return transferRaw(env, writeRaw.load(), &importBlock, callback, context, buffer);
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_CloseEncryptedFileRaw(JNIEnv*, jclass,
                                                                                            jlong context) {
  if (CloseRawFunction close = closeRaw.load()) close(fromJava<PVOID>(context));
}

// One body serves as init of the classes whose only native work is the class cache.
#define RASBRIDGE_CACHE_INIT(name)                                \
  JNIEXPORT void JNICALL name(JNIEnv* env, jclass) {             \
    ensureClassCache(env);                                        \
  }
RASBRIDGE_CACHE_INIT(Java_com_ombrel_agentframework_os_win32_Util_init)
RASBRIDGE_CACHE_INIT(Java_com_ombrel_agentframework_os_win32_VolumeUtil_init)
RASBRIDGE_CACHE_INIT(Java_com_ombrel_util_file_nativefs_win32_BackupInputStream_init)
RASBRIDGE_CACHE_INIT(Java_com_ombrel_util_file_nativefs_win32_BackupOutputStream_init)
#undef RASBRIDGE_CACHE_INIT

}  // extern "C"
