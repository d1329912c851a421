// com.ombrel.disk.win32.Win32NtDll: NtQueryInformationFile and NtQueryDirectoryFile
// through entry addresses that Java looked up with Win32Kernel.GetProcAddress.
#include "com_ombrel_disk_win32_Win32NtDll.h"
#include "natives.h"

using namespace omnative;

namespace {

struct IoStatusBlock {
  union {
    LONG Status;
    PVOID Pointer;
  };
  ULONG_PTR Information;
};
static_assert(sizeof(IoStatusBlock) == 16, "IO_STATUS_BLOCK layout");

constexpr LONG kStatusPending = 0x103;

typedef LONG(WINAPI* QueryInformationFile)(HANDLE file, IoStatusBlock* status, PVOID buffer, ULONG length,
                                           int informationClass);
typedef LONG(WINAPI* QueryDirectoryFile)(HANDLE file, HANDLE event, PVOID apcRoutine, PVOID apcContext,
                                         IoStatusBlock* status, PVOID buffer, ULONG length, int informationClass,
                                         BOOLEAN singleEntry, PVOID fileName, BOOLEAN restartScan);

// A handle opened for overlapped I/O may answer STATUS_PENDING while the system
// still fills the buffer and the status block: wait for the handle before the
// buffer is released, and report the final status.
LONG settle(HANDLE file, LONG status, const IoStatusBlock& block) {
  if (status != kStatusPending) return status;
  if (WaitForSingleObject(file, INFINITE) != WAIT_OBJECT_0) return status;
  return block.Status;
}

jint convention(LONG status) {
  if (status == kStatusPending) return kStatusPending;  // never success while data is still on its way
  return status < 0 ? static_cast<jint>(status) : 0;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32NtDll_NtQueryInformationFile(JNIEnv* env, jclass,
                                                                                   jlong entry, jlong handle,
                                                                                   jint informationClass,
                                                                                   jbyteArray data) {
  if (!entry) return kInvalidParameter;
  if (!data) return kOutOfMemory;
  ULONG length = static_cast<ULONG>(env->GetArrayLength(data));
  auto query = fromJava<QueryInformationFile>(entry);
  IoStatusBlock block{};
  LONG status;
  {
    PinnedArray buffer(env, data, PinnedArray::kCopyBack);
    if (!buffer.ok()) return kOutOfMemory;
    status = query(fromJava<HANDLE>(handle), &block, buffer.bytes(), length, informationClass);
    status = settle(fromJava<HANDLE>(handle), status, block);
  }
  return convention(status);
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32NtDll_NtQueryDirectoryFile(JNIEnv* env, jclass, jlong entry,
                                                                                 jlong handle,
                                                                                 jint informationClass,
                                                                                 jbyteArray data) {
  if (!entry) return kInvalidParameter;
  if (!data) return kOutOfMemory;
  ULONG length = static_cast<ULONG>(env->GetArrayLength(data));
  auto query = fromJava<QueryDirectoryFile>(entry);
  IoStatusBlock block{};
  LONG status;
  {
    PinnedArray buffer(env, data, PinnedArray::kCopyBack);
    if (!buffer.ok()) return kOutOfMemory;
    status = query(fromJava<HANDLE>(handle), nullptr, nullptr, nullptr, &block, buffer.bytes(), length, informationClass,
                   FALSE, nullptr, FALSE);
    status = settle(fromJava<HANDLE>(handle), status, block);
  }
  return convention(status);
}

}  // extern "C"
