// com.ombrel.disk.win32.Win32Kernel: modules, finds, attributes, security,
// opening and writing files, and file information by handle.
#include "jnienv.h"

using namespace omnative;

namespace {

constexpr jsize kFindDataSize = 592;       // WIN32_FIND_DATAW
constexpr jsize kAttributeDataSize = 36;   // WIN32_FILE_ATTRIBUTE_DATA
constexpr jsize kHandleInfoSize = 52;      // BY_HANDLE_FILE_INFORMATION
constexpr SECURITY_INFORMATION kSecurityParts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

static_assert(sizeof(WIN32_FIND_DATAW) == kFindDataSize, "WIN32_FIND_DATAW");
static_assert(sizeof(WIN32_FILE_ATTRIBUTE_DATA) == kAttributeDataSize, "WIN32_FILE_ATTRIBUTE_DATA");
static_assert(sizeof(BY_HANDLE_FILE_INFORMATION) == kHandleInfoSize, "BY_HANDLE_FILE_INFORMATION");

jint lastError() { return static_cast<jint>(GetLastError()); }

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_LoadLibrary(JNIEnv* env, jclass, jstring name,
                                                                         jlongArray module) {
  if (!isOutArray(env, module)) return kInvalidParameter;
  Utf8String text(env, name);
  if (!text.ok()) return kOutOfMemory;
  HMODULE handle = LoadLibraryA(text.get());
  if (!handle) return lastError();
  putLong(env, module, fromPointer(handle));
  return 0;
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_GetProcAddress(JNIEnv* env, jclass, jlong module,
                                                                            jstring name, jlongArray address) {
  if (!isOutArray(env, address)) return kInvalidParameter;
  Utf8String text(env, name);
  if (!text.ok()) return kOutOfMemory;
  FARPROC entry = GetProcAddress(static_cast<HMODULE>(toPointer(module)), text.get());
  if (!entry) return lastError();
  putLong(env, address, fromPointer(reinterpret_cast<void*>(entry)));
  return 0;
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_FindFirstFile0(JNIEnv* env, jclass, jstring path,
                                                                            jint level, jint flags,
                                                                            jlongArray search, jbyteArray data) {
  if (!isOutArray(env, search)) return kInvalidParameter;
  if (!isAtLeast(env, data, kFindDataSize)) return kInsufficientBuffer;
  WideString pattern(env, path);
  if (!pattern.ok()) return kOutOfMemory;
  HANDLE handle;
  jint status = 0;
  {
    Pinned buffer(env, data, Pinned::kCopyBack);
    if (!buffer.ok()) return kOutOfMemory;
    handle = FindFirstFileExW(pattern.get(), static_cast<FINDEX_INFO_LEVELS>(level), buffer.bytes(),
                              FindExSearchNameMatch, nullptr, static_cast<DWORD>(flags));
    if (handle == INVALID_HANDLE_VALUE) status = lastError();
  }
  putLong(env, search, fromPointer(handle));
  return status;
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_FindNextFile(JNIEnv* env, jclass, jlong search,
                                                                          jbyteArray data) {
  if (!isAtLeast(env, data, kFindDataSize)) return kInsufficientBuffer;
  Pinned buffer(env, data, Pinned::kCopyBack);
  if (!buffer.ok()) return kOutOfMemory;
  return FindNextFileW(toHandle(search), reinterpret_cast<LPWIN32_FIND_DATAW>(buffer.bytes())) ? 0 : lastError();
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_FindClose(JNIEnv*, jclass, jlong search) {
  return FindClose(toHandle(search)) ? 0 : lastError();
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_GetFileAttributesEx(JNIEnv* env, jclass, jstring path,
                                                                                 jbyteArray data) {
  if (!isAtLeast(env, data, kAttributeDataSize)) return kInsufficientBuffer;
  WideString name(env, path);
  if (!name.ok()) return kOutOfMemory;
  Pinned buffer(env, data, Pinned::kCopyBack);
  if (!buffer.ok()) return kOutOfMemory;
  return GetFileAttributesExW(name.get(), GetFileExInfoStandard, buffer.bytes()) ? 0 : lastError();
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_SetFileAttributes(JNIEnv* env, jclass, jstring path,
                                                                               jint attributes) {
  WideString name(env, path);
  if (!name.ok()) return kOutOfMemory;
  return SetFileAttributesW(name.get(), static_cast<DWORD>(attributes)) ? 0 : lastError();
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_GetFileSecurityLength(JNIEnv* env, jclass,
                                                                                   jstring path) {
  WideString name(env, path);
  if (!name.ok()) return 0;
  DWORD needed = 0;
  if (GetFileSecurityW(name.get(), kSecurityParts, nullptr, 0, &needed)) return static_cast<jint>(needed);
  return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? static_cast<jint>(needed) : 0;
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_GetFileSecurity(JNIEnv* env, jclass, jstring path,
                                                                             jbyteArray descriptor) {
  WideString name(env, path);
  if (!name.ok() || !descriptor) return kOutOfMemory;
  DWORD size = static_cast<DWORD>(arrayLength(env, descriptor));
  Pinned buffer(env, descriptor, Pinned::kCopyBack);
  if (!buffer.ok()) return kOutOfMemory;
  DWORD needed = 0;
  return GetFileSecurityW(name.get(), kSecurityParts, buffer.bytes(), size, &needed) ? 0 : lastError();
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_CreateFile0(JNIEnv* env, jclass, jstring path,
                                                                         jint access, jint share, jint disposition,
                                                                         jint flags, jlongArray handle) {
  if (!isOutArray(env, handle)) return kInvalidParameter;
  WideString name(env, path);
  if (!name.ok()) return kOutOfMemory;
  HANDLE file = CreateFileW(name.get(), static_cast<DWORD>(access), static_cast<DWORD>(share), nullptr,
                            static_cast<DWORD>(disposition), static_cast<DWORD>(flags), nullptr);
  jint status = file == INVALID_HANDLE_VALUE ? lastError() : 0;
  putLong(env, handle, fromPointer(file));
  return status;
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_WriteFile(JNIEnv* env, jclass, jlong handle,
                                                                       jbyteArray data, jint offset, jint length,
                                                                       jintArray written) {
  if (!isOutArray(env, written)) return kInvalidParameter;
  if (!isRange(env, data, offset, length)) return data ? kInvalidParameter : kOutOfMemory;
  DWORD count = 0;
  jint status = 0;
  {
    Pinned buffer(env, data, Pinned::kNoCopyBack);
    if (!buffer.ok()) return kOutOfMemory;
    if (!WriteFile(toHandle(handle), buffer.bytes() + offset, static_cast<DWORD>(length), &count, nullptr))
      status = lastError();
  }
  putInt(env, written, static_cast<jint>(count));
  return status;
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_GetFileInformationByHandle(JNIEnv* env, jclass,
                                                                                        jlong handle,
                                                                                        jbyteArray data) {
  if (!isAtLeast(env, data, kHandleInfoSize)) return kInsufficientBuffer;
  Pinned buffer(env, data, Pinned::kCopyBack);
  if (!buffer.ok()) return kOutOfMemory;
  return GetFileInformationByHandle(toHandle(handle), reinterpret_cast<LPBY_HANDLE_FILE_INFORMATION>(buffer.bytes()))
             ? 0
             : lastError();
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_GetFileInformationByHandleEx(JNIEnv* env, jclass,
                                                                                          jlong handle,
                                                                                          jint informationClass,
                                                                                          jbyteArray data) {
  if (!data) return kOutOfMemory;
  DWORD size = static_cast<DWORD>(arrayLength(env, data));
  Pinned buffer(env, data, Pinned::kCopyBack);
  if (!buffer.ok()) return kOutOfMemory;
  return GetFileInformationByHandleEx(toHandle(handle), static_cast<FILE_INFO_BY_HANDLE_CLASS>(informationClass),
                                      buffer.bytes(), size)
             ? 0
             : lastError();
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_SetFileInformationByHandle(JNIEnv* env, jclass,
                                                                                        jlong handle,
                                                                                        jint informationClass,
                                                                                        jbyteArray data) {
  if (!data) return kOutOfMemory;
  DWORD size = static_cast<DWORD>(arrayLength(env, data));
  Pinned buffer(env, data, Pinned::kNoCopyBack);
  if (!buffer.ok()) return kOutOfMemory;
  return SetFileInformationByHandle(toHandle(handle), static_cast<FILE_INFO_BY_HANDLE_CLASS>(informationClass),
                                    buffer.bytes(), size)
             ? 0
             : lastError();
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_CloseHandle(JNIEnv*, jclass, jlong handle) {
  return CloseHandle(toHandle(handle)) ? 0 : lastError();
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_SetFilePointerEx(JNIEnv*, jclass, jlong handle,
                                                                              jlong distance, jint method) {
  LARGE_INTEGER move;
  move.QuadPart = distance;
  return SetFilePointerEx(toHandle(handle), move, nullptr, static_cast<DWORD>(method)) ? 0 : lastError();
}

}  // extern "C"
