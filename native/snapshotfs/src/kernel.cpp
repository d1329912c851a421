// com.ombrel.disk.win32.Win32Kernel: modules, finds, attributes, security,
// opening and writing files, and file information by handle.
#include "com_ombrel_disk_win32_Win32Kernel.h"
#include "natives.h"

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

// A found entry goes into the Java array with one copy: no critical region is
// held while the folder is read (which may wait on a network share).
void putFindData(JNIEnv* env, jbyteArray array, const WIN32_FIND_DATAW& found) {
  env->SetByteArrayRegion(array, 0, kFindDataSize, reinterpret_cast<const jbyte*>(&found));
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_LoadLibrary(JNIEnv* env, jclass, jstring name,
                                                                         jlongArray module) {
  if (!isOutArray(env, module)) return kInvalidParameter;
  JavaName text(env, name);
  if (!text.ok()) return status(text);
  HMODULE handle = LoadLibraryW(text.get());
  if (!handle) return lastError();
  setOut(env, module, toJava(handle));
  return 0;
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_GetProcAddress(JNIEnv* env, jclass, jlong module,
                                                                            jstring name, jlongArray address) {
  if (!isOutArray(env, address)) return kInvalidParameter;
  // Export names are byte strings: the name in the system's ANSI code page,
  // refused when it has no exact form there (1113) as when it holds a zero.
  JavaName text(env, name);
  if (!text.ok()) return status(text);
  std::string procedure;
  DWORD converted = toCodePage(text.get(), text.length(), CP_ACP, procedure);
  if (converted != ERROR_SUCCESS) return static_cast<jint>(converted);
  FARPROC entry = GetProcAddress(fromJava<HMODULE>(module), text.isNull() ? nullptr : procedure.c_str());
  if (!entry) return lastError();
  setOut(env, address, toJava(reinterpret_cast<void*>(entry)));
  return 0;
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_FindFirstFile0(JNIEnv* env, jclass, jstring path,
                                                                            jint level, jint flags,
                                                                            jlongArray search, jbyteArray data) {
  if (!isOutArray(env, search)) return kInvalidParameter;
  if (!hasAtLeast(env, data, kFindDataSize)) return kInsufficientBuffer;
  JavaName pattern(env, path);
  if (!pattern.ok()) return status(pattern);
  WIN32_FIND_DATAW found;
  HANDLE handle = FindFirstFileExW(pattern.get(), static_cast<FINDEX_INFO_LEVELS>(level), &found,
                                   FindExSearchNameMatch, nullptr, static_cast<DWORD>(flags));
  jint result = handle == INVALID_HANDLE_VALUE ? lastError() : 0;
  if (result == 0) putFindData(env, data, found);
  setOut(env, search, toJava(handle));
  return result;
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_FindNextFile(JNIEnv* env, jclass, jlong search,
                                                                          jbyteArray data) {
  if (!hasAtLeast(env, data, kFindDataSize)) return kInsufficientBuffer;
  WIN32_FIND_DATAW found;
  if (!FindNextFileW(fromJava<HANDLE>(search), &found)) return lastError();
  putFindData(env, data, found);
  return 0;
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_FindClose(JNIEnv*, jclass, jlong search) {
  return FindClose(fromJava<HANDLE>(search)) ? 0 : lastError();
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_GetFileAttributesEx(JNIEnv* env, jclass, jstring path,
                                                                                 jbyteArray data) {
  if (!hasAtLeast(env, data, kAttributeDataSize)) return kInsufficientBuffer;
  JavaName name(env, path);
  if (!name.ok()) return status(name);
  PinnedArray buffer(env, data, PinnedArray::kCopyBack);
  if (!buffer.ok()) return kOutOfMemory;
  return GetFileAttributesExW(name.get(), GetFileExInfoStandard, buffer.bytes()) ? 0 : lastError();
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_SetFileAttributes(JNIEnv* env, jclass, jstring path,
                                                                               jint attributes) {
  JavaName name(env, path);
  if (!name.ok()) return status(name);
  return SetFileAttributesW(name.get(), static_cast<DWORD>(attributes)) ? 0 : lastError();
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_GetFileSecurityLength(JNIEnv* env, jclass,
                                                                                   jstring path) {
  JavaName name(env, path);
  if (!name.ok()) return 0;
  DWORD needed = 0;
  if (GetFileSecurityW(name.get(), kSecurityParts, nullptr, 0, &needed)) return static_cast<jint>(needed);
  return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? static_cast<jint>(needed) : 0;
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_GetFileSecurity(JNIEnv* env, jclass, jstring path,
                                                                             jbyteArray descriptor) {
  JavaName name(env, path);
  if (!name.ok()) return status(name);
  if (!descriptor) return kOutOfMemory;
  DWORD size = static_cast<DWORD>(env->GetArrayLength(descriptor));
  PinnedArray buffer(env, descriptor, PinnedArray::kCopyBack);
  if (!buffer.ok()) return kOutOfMemory;
  DWORD needed = 0;
  return GetFileSecurityW(name.get(), kSecurityParts, buffer.bytes(), size, &needed) ? 0 : lastError();
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_CreateFile0(JNIEnv* env, jclass, jstring path,
                                                                         jint access, jint share, jint disposition,
                                                                         jint flags, jlongArray handle) {
  if (!isOutArray(env, handle)) return kInvalidParameter;
  JavaName name(env, path);
  if (!name.ok()) return status(name);
  HANDLE file = CreateFileW(name.get(), static_cast<DWORD>(access), static_cast<DWORD>(share), nullptr,
                            static_cast<DWORD>(disposition), static_cast<DWORD>(flags), nullptr);
  jint status = file == INVALID_HANDLE_VALUE ? lastError() : 0;
  setOut(env, handle, toJava(file));
  return status;
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_WriteFile(JNIEnv* env, jclass, jlong handle,
                                                                       jbyteArray data, jint offset, jint length,
                                                                       jintArray written) {
  if (!isOutArray(env, written)) return kInvalidParameter;
  if (!inRange(env, data, offset, length)) return data ? kInvalidParameter : kOutOfMemory;
  DWORD count = 0;
  jint status = 0;
  {
    PinnedArray buffer(env, data, PinnedArray::kNoCopyBack);
    if (!buffer.ok()) return kOutOfMemory;
    if (!WriteFile(fromJava<HANDLE>(handle), buffer.bytes() + offset, static_cast<DWORD>(length), &count, nullptr))
      status = lastError();
  }
  setOut(env, written, static_cast<jint>(count));
  return status;
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_GetFileInformationByHandle(JNIEnv* env, jclass,
                                                                                        jlong handle,
                                                                                        jbyteArray data) {
  if (!hasAtLeast(env, data, kHandleInfoSize)) return kInsufficientBuffer;
  PinnedArray buffer(env, data, PinnedArray::kCopyBack);
  if (!buffer.ok()) return kOutOfMemory;
  return GetFileInformationByHandle(fromJava<HANDLE>(handle), reinterpret_cast<LPBY_HANDLE_FILE_INFORMATION>(buffer.bytes()))
             ? 0
             : lastError();
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_GetFileInformationByHandleEx(JNIEnv* env, jclass,
                                                                                          jlong handle,
                                                                                          jint informationClass,
                                                                                          jbyteArray data) {
  if (!data) return kOutOfMemory;
  DWORD size = static_cast<DWORD>(env->GetArrayLength(data));
  PinnedArray buffer(env, data, PinnedArray::kCopyBack);
  if (!buffer.ok()) return kOutOfMemory;
  return GetFileInformationByHandleEx(fromJava<HANDLE>(handle), static_cast<FILE_INFO_BY_HANDLE_CLASS>(informationClass),
                                      buffer.bytes(), size)
             ? 0
             : lastError();
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_SetFileInformationByHandle(JNIEnv* env, jclass,
                                                                                        jlong handle,
                                                                                        jint informationClass,
                                                                                        jbyteArray data) {
  if (!data) return kOutOfMemory;
  DWORD size = static_cast<DWORD>(env->GetArrayLength(data));
  PinnedArray buffer(env, data, PinnedArray::kNoCopyBack);
  if (!buffer.ok()) return kOutOfMemory;
  return SetFileInformationByHandle(fromJava<HANDLE>(handle), static_cast<FILE_INFO_BY_HANDLE_CLASS>(informationClass),
                                    buffer.bytes(), size)
             ? 0
             : lastError();
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_CloseHandle(JNIEnv*, jclass, jlong handle) {
  return CloseHandle(fromJava<HANDLE>(handle)) ? 0 : lastError();
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_SetFilePointerEx(JNIEnv*, jclass, jlong handle,
                                                                              jlong distance, jint method) {
  LARGE_INTEGER move;
  move.QuadPart = distance;
  return SetFilePointerEx(fromJava<HANDLE>(handle), move, nullptr, static_cast<DWORD>(method)) ? 0 : lastError();
}

}  // extern "C"
