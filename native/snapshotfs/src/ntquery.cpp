// com.ombrel.disk.win32.Win32NtDll: NtQueryInformationFile and NtQueryDirectoryFile
// through entry addresses that Java looked up with Win32Kernel.GetProcAddress.
#include <new>
#include <vector>

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
constexpr LONG kStatusNotImplemented = static_cast<LONG>(0xC0000002);

typedef LONG(WINAPI* QueryInformationFile)(HANDLE file, IoStatusBlock* status, PVOID buffer, ULONG length,
                                           int informationClass);
typedef LONG(WINAPI* QueryDirectoryFile)(HANDLE file, HANDLE event, PVOID apcRoutine, PVOID apcContext,
                                         IoStatusBlock* status, PVOID buffer, ULONG length, int informationClass,
                                         BOOLEAN singleEntry, PVOID fileName, BOOLEAN restartScan);

jint convention(LONG status) {
  if (status == kStatusPending) return kStatusPending;  // never success while data is still on its way
  return status < 0 ? static_cast<jint>(status) : 0;
}

// A query fills a native copy of the Java array, which goes back into the array
// once the query is over: a handle opened for overlapped I/O may answer
// STATUS_PENDING and fill it later, and no critical region may be held across
// that wait. `run` makes the call and waits for it.
template <class Run>
jint bufferedQuery(JNIEnv* env, jbyteArray data, Run run) {
  if (!data) return kOutOfMemory;
  jsize length = env->GetArrayLength(data);
  std::vector<BYTE> buffer;
  try {
    buffer.resize(static_cast<size_t>(length));
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  env->GetByteArrayRegion(data, 0, length, reinterpret_cast<jbyte*>(buffer.data()));  // bytes the query leaves alone
  LONG status = run(buffer.data(), static_cast<ULONG>(length));
  env->SetByteArrayRegion(data, 0, length, reinterpret_cast<const jbyte*>(buffer.data()));
  return convention(status);
}

// The final status of a query that may still be pending: once `signalled` is set,
// the status block holds it.
LONG settle(LONG status, HANDLE signalled, const IoStatusBlock& block) {
  if (status != kStatusPending) return status;
  if (WaitForSingleObject(signalled, INFINITE) != WAIT_OBJECT_0) return status;
  return block.Status;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32NtDll_NtQueryInformationFile(JNIEnv* env, jclass,
                                                                                   jlong entry, jlong handle,
                                                                                   jint informationClass,
                                                                                   jbyteArray data) {
  if (!entry) return kInvalidParameter;
  auto query = fromJava<QueryInformationFile>(entry);
  HANDLE file = fromJava<HANDLE>(handle);
  return bufferedQuery(env, data, [&](BYTE* buffer, ULONG length) {
    IoStatusBlock block{};
    // The call takes no event: the file handle is signalled when it completes.
    return settle(query(file, &block, buffer, length, informationClass), file, block);
  });
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32NtDll_NtQueryDirectoryFile(JNIEnv* env, jclass, jlong entry,
                                                                                 jlong handle,
                                                                                 jint informationClass,
                                                                                 jbyteArray data) {
  if (!entry) return kInvalidParameter;
  auto query = fromJava<QueryDirectoryFile>(entry);
  // An event of the query's own tells when a pending query is over (the file
  // handle may be signalled by other I/O on it).
  om::UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!done) return lastError();
  HANDLE file = fromJava<HANDLE>(handle);
  return bufferedQuery(env, data, [&](BYTE* buffer, ULONG length) {
    IoStatusBlock block{};
    LONG status = query(file, done.get(), nullptr, nullptr, &block, buffer, length, informationClass, FALSE, nullptr,
                        FALSE);
    if (status != kStatusNotImplemented) return settle(status, done.get(), block);
    // A system without events for directory queries (Wine) answers without one.
    status = query(file, nullptr, nullptr, nullptr, &block, buffer, length, informationClass, FALSE, nullptr, FALSE);
    return settle(status, file, block);
  });
}

}  // extern "C"
