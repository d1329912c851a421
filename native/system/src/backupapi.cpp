// com.ombrel.agentframework.os.win32.BackupApi: backup-semantics streams, file
// security descriptors with their attributes, privileges, disk space and
// attributes, and raw reads and writes of encrypted files.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "bridge.h"

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

using BackupCall = BOOL(WINAPI*)(HANDLE, LPBYTE, DWORD, LPDWORD, BOOL, BOOL, LPVOID*);

jint backupTransfer(JNIEnv* env, BackupCall call, jlongArray context, jlong handle, jbyteArray buffer, jint offset,
                    jint length, jboolean abort, jboolean processSecurity) {
  if (!context || !buffer || handle == 0) {
    throwNullPointer(env);
    return 0;
  }
  if (offset < 0 || length < 0 || static_cast<int64_t>(offset) + length > env->GetArrayLength(buffer) ||
      env->GetArrayLength(context) < 1) {
    throwIOException(env, ERROR_INVALID_PARAMETER);
    return -1;
  }
  jlong* slot = env->GetLongArrayElements(context, nullptr);
  if (!slot) return 0;
  BYTE* data = nullptr;
  if (!abort) {
    data = static_cast<BYTE*>(env->GetPrimitiveArrayCritical(buffer, nullptr));
    if (!data) {
      env->ReleaseLongArrayElements(context, slot, JNI_ABORT);
      return 0;
    }
  }
  LPVOID backupContext = toPointer(slot[0]);
  DWORD count = 0;
  BOOL ok = call(toHandle(handle), data ? data + offset : nullptr, data ? static_cast<DWORD>(length) : 0, &count,
                 abort ? TRUE : FALSE, processSecurity ? TRUE : FALSE, &backupContext);
  DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  slot[0] = fromPointer(backupContext);
  if (abort)
    CloseHandle(toHandle(handle));
  else
    env->ReleasePrimitiveArrayCritical(buffer, data, 0);
  env->ReleaseLongArrayElements(context, slot, 0);
  if (!ok) {
    throwIOException(env, error);
    return -1;
  }
  return static_cast<jint>(count);
}

// The path without one trailing backslash (a folder named by "C:\dir\").
void dropTrailingBackslash(JavaWide& path) {
  size_t n = path.length();
  if (n > 0 && path.data()[n - 1] == u'\\') path.data()[n - 1] = 0;
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
  jclass errorCode = keepClass(env, "com/ombrel/util/exceptions/ErrorCodeException");
  if (!errorCode) return;
  jmethodID constructor = env->GetMethodID(errorCode, "<init>", "(Ljava/lang/String;I)V");
  if (!constructor) return;
  bindErrorCodeException(errorCode, constructor);
  HMODULE advapi = LoadLibraryA("ADVAPI32.DLL");
  if (!advapi) return;
  openRaw.store(entry<OpenRawFunction>(advapi, "OpenEncryptedFileRawW"));
  readRaw.store(entry<ReadRawFunction>(advapi, "ReadEncryptedFileRaw"));
  closeRaw.store(entry<CloseRawFunction>(advapi, "CloseEncryptedFileRaw"));
  writeRaw.store(entry<WriteRawFunction>(advapi, "WriteEncryptedFileRaw"));
  FreeLibrary(advapi);  // stays loaded: the library imports it
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_setPrivilege(JNIEnv* env, jclass,
                                                                                   jstring name, jboolean enable) {
  JavaWide privilege(env, name);
  if (!privilege.ok()) return;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), MAXIMUM_ALLOWED, &token)) {
    throwException(env, GetLastError());
    return;
  }
  TOKEN_PRIVILEGES privileges;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  DWORD error = ERROR_SUCCESS;
  if (!LookupPrivilegeValueW(nullptr, privilege.get(), &privileges.Privileges[0].Luid) ||
      !AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr))
    error = GetLastError();
  CloseHandle(token);
  if (error != ERROR_SUCCESS) throwException(env, error);
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
  JavaWide name(env, path, true);
  if (!name.ok()) return 0;
  // Never past the end of the array, whatever length the caller claims.
  DWORD usable = static_cast<DWORD>(std::min<jint>(length, env->GetArrayLength(buffer)));
  DWORD attributes = GetFileAttributesW(name.get());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    throwErrorCodeException(env, GetLastError());
    return 0;
  }
  auto* data = static_cast<BYTE*>(env->GetPrimitiveArrayCritical(buffer, nullptr));
  if (!data) return 0;
  DWORD needed = 0;
  DWORD error = ERROR_SUCCESS;
  if (usable < 4 || !GetFileSecurityW(name.get(), kSecurityParts, usable > 4 ? data + 4 : nullptr, usable - 4, &needed))
    error = usable < 4 ? ERROR_INSUFFICIENT_BUFFER : GetLastError();
  else
    std::memcpy(data, &attributes, 4);  // little-endian, as on every Windows this runs on
  env->ReleasePrimitiveArrayCritical(buffer, data, 0);
  if (error != ERROR_SUCCESS) {
    throwErrorCodeException(env, error);
    return 0;
  }
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
  JavaWide name(env, path, true);
  if (!name.ok()) return;
  auto* data = static_cast<BYTE*>(env->GetPrimitiveArrayCritical(buffer, nullptr));
  if (!data) return;
  DWORD attributes;
  std::memcpy(&attributes, data + offset, 4);
  BYTE* descriptor = data + offset + 4;
  DWORD error = ERROR_SUCCESS;
  HANDLE file = CreateFileW(name.get(), kSecurityWriteAccess, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = GetLastError();
  } else {
    BYTE header[kStreamHeaderSize] = {};
    DWORD id = BACKUP_SECURITY_DATA, streamAttributes = STREAM_CONTAINS_SECURITY;
    DWORD size = static_cast<DWORD>(descriptorLength);
    std::memcpy(header, &id, 4);
    std::memcpy(header + 4, &streamAttributes, 4);
    std::memcpy(header + 8, &size, 4);  // high half and name size stay 0
    LPVOID context = nullptr;
    DWORD written = 0;
    if (!BackupWrite(file, header, kStreamHeaderSize, &written, FALSE, TRUE, &context) ||
        !BackupWrite(file, descriptor, size, &written, FALSE, TRUE, &context))
      error = GetLastError();
    if (!BackupWrite(file, nullptr, 0, &written, TRUE, TRUE, &context) && error == ERROR_SUCCESS)
      error = GetLastError();
    CloseHandle(file);
    if (error == ERROR_SUCCESS && !SetFileAttributesW(name.get(), attributes)) error = GetLastError();
  }
  env->ReleasePrimitiveArrayCritical(buffer, data, JNI_ABORT);
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
  JavaWide name(env, path, true);
  if (!name.ok()) return 0;
  HANDLE file = CreateFileW(name.get(), static_cast<DWORD>(access), static_cast<DWORD>(share),
                            static_cast<LPSECURITY_ATTRIBUTES>(toPointer(securityAttributes)),
                            static_cast<DWORD>(disposition), static_cast<DWORD>(flagsAndAttributes),
                            toHandle(templateFile));
  if (file == INVALID_HANDLE_VALUE) {
    throwIOException(env, GetLastError());
    return 0;
  }
  return fromPointer(file);
}

JNIEXPORT jint JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_CloseHandle(JNIEnv* env, jclass,
                                                                                  jlong handle) {
  if (handle == 0) {
    throwNullPointer(env);
    return 0;
  }
  BOOL ok = CloseHandle(toHandle(handle));
  if (!ok) throwIOException(env, GetLastError());
  return ok;
}

JNIEXPORT jlong JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_getFreeDiskSpace(JNIEnv* env, jclass,
                                                                                        jstring path) {
  JavaWide name(env, path, true);
  if (!name.ok()) return -1;
  ULARGE_INTEGER available, total, free;
  if (!GetDiskFreeSpaceExW(name.get(), &available, &total, &free)) return -1;
  return static_cast<jlong>(available.QuadPart);
}

JNIEXPORT jlong JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_getTotalDiskSpace(JNIEnv* env, jclass,
                                                                                         jstring path) {
  JavaWide name(env, path, true);
  if (!name.ok()) return -1;
  ULARGE_INTEGER available, total, free;
  if (!GetDiskFreeSpaceExW(name.get(), &available, &total, &free)) return -1;
  return static_cast<jlong>(total.QuadPart);
}

JNIEXPORT jint JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_GetFileAttributes(JNIEnv* env, jclass,
                                                                                        jstring path) {
  JavaWide name(env, path, true);
  if (!name.ok()) return -1;
  dropTrailingBackslash(name);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(name.get(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    throwIOException(env, GetLastError());
    return -1;
  }
  FindClose(search);
  return static_cast<jint>(found.dwFileAttributes);
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_SetFileAttributes(JNIEnv* env, jclass,
                                                                                        jstring path,
                                                                                        jint attributes) {
  JavaWide name(env, path, true);
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
  JavaWide name(env, path, true);
  if (!name.ok()) return 0;
  PVOID context = nullptr;
  DWORD result = open(name.get(), static_cast<ULONG>(flags), &context);
  if (result != ERROR_SUCCESS) {
    throwIOException(env, result);
    return 0;
  }
  return fromPointer(context);
}

JNIEXPORT jint JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_ReadEncryptedFileRaw(
    JNIEnv* env, jclass, jobject callback, jlong context, jbyteArray buffer) {
  ReadRawFunction read = readRaw.load();
  if (!read) {
    throwNew(env, Cached::IOException, kNoEncryptedFiles);
    return 0;
  }
  BlockTransfer transfer;
  if (!prepareTransfer(env, callback, buffer, transfer)) return 0;
  return static_cast<jint>(read(&exportBlock, &transfer, toPointer(context)));
}

JNIEXPORT jint JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_WriteEncryptedFileRaw(
    JNIEnv* env, jclass, jobject callback, jlong context, jbyteArray buffer) {
  WriteRawFunction write = writeRaw.load();
  if (!write) {
    throwNew(env, Cached::IOException, kNoEncryptedFiles);
    return 0;
  }
  BlockTransfer transfer;
  if (!prepareTransfer(env, callback, buffer, transfer)) return 0;
  return static_cast<jint>(write(&importBlock, &transfer, toPointer(context)));
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_BackupApi_CloseEncryptedFileRaw(JNIEnv*, jclass,
                                                                                            jlong context) {
  if (CloseRawFunction close = closeRaw.load()) close(toPointer(context));
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
