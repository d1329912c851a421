// com.ombrel.agentframework.os.win32.Util, VolumeUtil and MountpointIterator:
// stopping a service with its dependents, the COM+ catalogue restore, host
// names and product type, file identity, the thread background mode, volume
// paths and mount points.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "bridge.h"
#include "com_ombrel_agentframework_os_win32_MountpointIterator.h"
#include "com_ombrel_agentframework_os_win32_Util.h"
#include "com_ombrel_agentframework_os_win32_VolumeUtil.h"

using namespace rasbridge;

namespace {

constexpr DWORD kStopTimeout = 30000;  // ms for the whole stop sequence
constexpr DWORD kVolumeNameLength = 259;
constexpr ULONGLONG kUnixEpochFileTime = 116444736000000000ULL;

bool readStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
  DWORD needed = 0;
  return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status), sizeof status,
                              &needed) != FALSE;
}

bool timedOut(DWORD start) { return GetTickCount() - start > kStopTimeout; }

// How long to wait before reading a stopping service's status again: a tenth of
// its wait hint, at least a second and at most ten (a hint of 0 would poll
// without pause).
void awaitProgress(DWORD waitHint) { Sleep(std::clamp<DWORD>(waitHint / 10, 1000, 10000)); }

// Stops a service after its active dependents; 0 or a Win32 code.
DWORD stopServiceAndDependents(SC_HANDLE manager, SC_HANDLE service) {
  DWORD start = GetTickCount();
  SERVICE_STATUS_PROCESS status;
  if (!readStatus(service, status)) return GetLastError();
  if (status.dwCurrentState == SERVICE_STOPPED) return 0;
  while (status.dwCurrentState == SERVICE_STOP_PENDING) {
    awaitProgress(status.dwWaitHint);
    if (!readStatus(service, status)) return GetLastError();
    if (status.dwCurrentState == SERVICE_STOPPED) return 0;
    if (timedOut(start)) return ERROR_TIMEOUT;
  }
  DWORD needed = 0, count = 0;
  if (!EnumDependentServicesW(service, SERVICE_ACTIVE, nullptr, 0, &needed, &count)) {
    if (GetLastError() != ERROR_MORE_DATA) return GetLastError();
    std::vector<BYTE> buffer;
    try {
      buffer.resize(needed);
    } catch (const std::bad_alloc&) {
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    auto* dependents = reinterpret_cast<LPENUM_SERVICE_STATUSW>(buffer.data());
    if (!EnumDependentServicesW(service, SERVICE_ACTIVE, dependents, needed, &needed, &count)) return GetLastError();
    for (DWORD i = 0; i < count; ++i) {
      om::UniqueServiceHandle dependent(
          OpenServiceW(manager, dependents[i].lpServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS));
      if (!dependent) return GetLastError();
      SERVICE_STATUS latest;
      if (!ControlService(dependent.get(), SERVICE_CONTROL_STOP, &latest)) return GetLastError();
      DWORD wait = latest.dwWaitHint;
      DWORD state = latest.dwCurrentState;
      while (state != SERVICE_STOPPED) {
        awaitProgress(wait);
        SERVICE_STATUS_PROCESS now;
        if (!readStatus(dependent.get(), now)) return GetLastError();
        state = now.dwCurrentState;
        wait = now.dwWaitHint;
        if (state != SERVICE_STOPPED && timedOut(start)) return ERROR_TIMEOUT;
      }
    }
  }
  SERVICE_STATUS latest;
  if (!ControlService(service, SERVICE_CONTROL_STOP, &latest)) return GetLastError();
  DWORD wait = latest.dwWaitHint;
  DWORD state = latest.dwCurrentState;
  while (state != SERVICE_STOPPED) {
    awaitProgress(wait);
    if (!readStatus(service, status)) return GetLastError();
    state = status.dwCurrentState;
    wait = status.dwWaitHint;
    if (state != SERVICE_STOPPED && timedOut(start)) return ERROR_TIMEOUT;
  }
  return 0;
}

// The information of a path opened for its information only (directories and
// files in use included); false with an exception pending.
bool fileInformation(JNIEnv* env, jstring path, BY_HANDLE_FILE_INFORMATION& information) {
  WidePath name(env, path, throwIOException);
  if (!name.ok()) return false;
  om::UniqueFile file(CreateFileW(name.get(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file || !GetFileInformationByHandle(file.get(), &information)) {
    throwIOException(env, GetLastError());
    return false;
  }
  return true;
}

jlong join(DWORD high, DWORD low) { return static_cast<jlong>((static_cast<uint64_t>(high) << 32) | low); }

enum MinimalField { kAttributes, kIndex, kSize, kLastWrite, kMinimalFields };
ObjectFields<kMinimalFields> minimalFields(
    {{{"dwFileAttributes", "I"}, {"fileIndex", "J"}, {"fileSize", "J"}, {"ftLastWriteTime", "J"}}});

std::atomic<jclass> stringBuilderClass{nullptr};
std::atomic<jmethodID> appendMethod{nullptr};

bool bindStringBuilder(JNIEnv* env) {
  if (appendMethod.load()) return true;
  jclass type = keepClass(env, "java/lang/StringBuilder");
  if (!type) return false;
  jmethodID append = env->GetMethodID(type, "append", "(Ljava/lang/String;)Ljava/lang/StringBuilder;");
  if (!append) return false;
  stringBuilderClass.store(type);
  appendMethod.store(append);
  return true;
}

// Appends a zero-terminated name to the caller's StringBuilder; false with an exception pending.
bool appendName(JNIEnv* env, jobject out, const WCHAR* name) {
  jstring text = newStringZ(env, name);
  if (!text) {
    if (!env->ExceptionCheck()) throwNullPointer(env, "new string failed");
    return false;
  }
  jobject self = env->CallObjectMethod(out, appendMethod.load(), text);
  env->DeleteLocalRef(text);
  if (self) env->DeleteLocalRef(self);
  return !env->ExceptionCheck();
}

// A name GetVolumePathNameW or GetVolumeNameForVolumeMountPointW writes for
// `text`; null with IOException when the call fails.
jstring volumeName(JNIEnv* env, jstring text, BOOL(WINAPI* query)(LPCWSTR, LPWSTR, DWORD)) {
  WideName name(env, text, throwIOException);
  if (!name.ok()) return nullptr;
  WCHAR volume[kVolumeNameLength + 1] = {};
  if (!query(name.get(), volume, kVolumeNameLength)) {
    throwIOException(env, GetLastError());
    return nullptr;
  }
  return newStringZ(env, volume);
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_Util_StopServiceN(JNIEnv* env, jclass,
                                                                              jstring serviceName) {
  WideName name(env, serviceName, throwException, kWithoutMessage);
  if (!name.ok()) return;
  om::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    throwException(env, GetLastError());
    return;
  }
  om::UniqueServiceHandle service(
      OpenServiceW(manager.get(), name.get(), SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS));
  if (!service) {
    throwException(env, GetLastError());
    return;
  }
  DWORD result = stopServiceAndDependents(manager.get(), service.get());
  if (result != 0) throwException(env, result);
}

JNIEXPORT jint JNICALL Java_com_ombrel_agentframework_os_win32_Util_RegDBRestoreN(JNIEnv* env, jclass, jstring path) {
  WideName file(env, path, throwException);
  if (!file.ok()) return 0;
  om::UniqueModule library(LoadLibraryA("catsrvut.dll"));
  if (!library) return 0;
  using RestoreFunction = HRESULT(WINAPI*)(LPCWSTR);
  auto restore =
      reinterpret_cast<RestoreFunction>(reinterpret_cast<void*>(GetProcAddress(library.get(), "RegDBRestore")));
  DWORD error = ERROR_SUCCESS;
  if (!restore) {
    error = GetLastError();
  } else if (HRESULT result = restore(file.get())) {
    error = static_cast<DWORD>(result);  // its own code: the last error it leaves says nothing
  }
  BOOL freed = FreeLibrary(library.release());
  if (restore && error == ERROR_SUCCESS) return freed;
  throwException(env, error);
  return freed;
}

JNIEXPORT jstring JNICALL Java_com_ombrel_agentframework_os_win32_Util_GetComputerNameEx(JNIEnv* env, jclass,
                                                                                      jint nameType) {
  DWORD size = 0;
  auto format = static_cast<COMPUTER_NAME_FORMAT>(nameType);
  if (GetComputerNameExW(format, nullptr, &size) || GetLastError() != ERROR_MORE_DATA) {
    throwException(env, GetLastError());
    return nullptr;
  }
  std::vector<WCHAR> buffer;
  try {
    buffer.resize(static_cast<size_t>(size) + 1);
  } catch (const std::bad_alloc&) {
    throwOutOfMemory(env);
    return nullptr;
  }
  if (!GetComputerNameExW(format, buffer.data(), &size)) {
    throwException(env, GetLastError());
    return nullptr;
  }
  return newString(env, buffer.data(), size);
}

JNIEXPORT jint JNICALL Java_com_ombrel_agentframework_os_win32_Util_GetProductType(JNIEnv*, jclass) {
  OSVERSIONINFOEXA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;  // 156
  if (!GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info))) return 255;
  return info.wProductType;
}

JNIEXPORT jlong JNICALL Java_com_ombrel_agentframework_os_win32_Util_getFileId(JNIEnv* env, jclass, jstring path) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!fileInformation(env, path, information)) return 0;
  return join(information.nFileIndexHigh, information.nFileIndexLow);
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_Util_getFileInformationMinimal(JNIEnv* env, jclass,
                                                                                           jstring path,
                                                                                           jobject info) {
  if (!path || !info) {
    throwNullPointer(env);
    return;
  }
  ObjectFields<kMinimalFields>::Ids fields;
  if (!minimalFields.get(env, info, fields)) return;
  BY_HANDLE_FILE_INFORMATION information;
  if (!fileInformation(env, path, information)) return;
  ULONGLONG written = (static_cast<ULONGLONG>(information.ftLastWriteTime.dwHighDateTime) << 32) |
                      information.ftLastWriteTime.dwLowDateTime;
  env->SetIntField(info, fields[kAttributes], static_cast<jint>(information.dwFileAttributes));
  env->SetLongField(info, fields[kIndex], join(information.nFileIndexHigh, information.nFileIndexLow));
  env->SetLongField(info, fields[kSize], join(information.nFileSizeHigh, information.nFileSizeLow));
  env->SetLongField(info, fields[kLastWrite],
                    (static_cast<jlong>(written) - static_cast<jlong>(kUnixEpochFileTime)) / 10000);
}

JNIEXPORT jboolean JNICALL Java_com_ombrel_agentframework_os_win32_Util_beginThreadBackgroundProcessingMode(JNIEnv*,
                                                                                                         jclass) {
  return SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_ombrel_agentframework_os_win32_Util_endThreadBackgroundProcessingMode(JNIEnv*,
                                                                                                       jclass) {
  return SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_END) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jstring JNICALL Java_com_ombrel_agentframework_os_win32_VolumeUtil_GetVolumePathName(JNIEnv* env, jclass,
                                                                                            jstring path) {
  if (!path) {
    throwNullPointer(env, "path is null");
    return nullptr;
  }
  if (env->GetStringLength(path) == 0) {
    throwNew(env, Cached::IOException, "path is empty");
    return nullptr;
  }
  return volumeName(env, path, GetVolumePathNameW);
}

JNIEXPORT jstring JNICALL Java_com_ombrel_agentframework_os_win32_VolumeUtil_GetVolumeNameForVolumeMountPoint(
    JNIEnv* env, jclass, jstring mountPoint) {
  if (!mountPoint) {
    throwNullPointer(env, "mount name is null");
    return nullptr;
  }
  return volumeName(env, mountPoint, GetVolumeNameForVolumeMountPointW);
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_MountpointIterator_init(JNIEnv* env, jclass) {
  if (ensureClassCache(env)) bindStringBuilder(env);
}

JNIEXPORT jlong JNICALL Java_com_ombrel_agentframework_os_win32_MountpointIterator_FindFirstVolumeMountPoint(
    JNIEnv* env, jclass, jstring volumeRoot, jobject out) {
  if (!volumeRoot || !out) {
    throwNullPointer(env);
    return 0;
  }
  if (!bindStringBuilder(env)) return 0;
  WideName root(env, volumeRoot, throwIOException);
  if (!root.ok()) return -1;
  WCHAR name[kVolumeNameLength + 1] = {};
  om::UniqueVolumeMountPointFind find(FindFirstVolumeMountPointW(root.get(), name, kVolumeNameLength));
  if (!find) {
    DWORD error = GetLastError();
    if (error == ERROR_NO_MORE_FILES) return 0;
    throwIOException(env, error);
    return -1;
  }
  if (!appendName(env, out, name)) return 0;
  return toJava(find.release());
}

JNIEXPORT jboolean JNICALL Java_com_ombrel_agentframework_os_win32_MountpointIterator_FindNextVolumeMountPoint(
    JNIEnv* env, jclass, jlong handle, jobject out) {
  if (!out) {
    throwNullPointer(env);
    return JNI_FALSE;
  }
  if (!bindStringBuilder(env)) return JNI_FALSE;
  WCHAR name[kVolumeNameLength + 1] = {};
  if (!FindNextVolumeMountPointW(fromJava<HANDLE>(handle), name, kVolumeNameLength)) {
    DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) throwIOException(env, error);
    return JNI_FALSE;
  }
  return appendName(env, out, name) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_ombrel_agentframework_os_win32_MountpointIterator_FindVolumeMountPointClose(
    JNIEnv*, jclass, jlong handle) {
  return FindVolumeMountPointClose(fromJava<HANDLE>(handle)) ? JNI_TRUE : JNI_FALSE;
}

}  // extern "C"
