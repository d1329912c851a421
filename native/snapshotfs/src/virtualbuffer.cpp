// com.halvane.common.win32.VirtualBuffer: page-aligned native memory and bounded
// copies between it and Java byte arrays.
#include <cstring>

#include "com_halvane_common_win32_VirtualBuffer.h"
#include "natives.h"

using namespace omnative;

namespace {

constexpr jint kEinval = 22;
constexpr jint kErange = 34;

constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                            PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD kWritable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// True when every byte of [address, address + count) lies in committed memory
// with the access `wanted` names: the address comes from Java and may be anything.
bool accessible(const void* address, uint64_t count, DWORD wanted) {
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  uintptr_t end = at + count;
  if (end < at) return false;
  while (at < end) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(reinterpret_cast<LPCVOID>(at), &region, sizeof region) != sizeof region) return false;
    if (region.State != MEM_COMMIT || (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) || !(region.Protect & wanted))
      return false;
    uintptr_t next = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    if (next <= at) return false;
    at = next;
  }
  return true;
}

// The native address Java gave, or null when its first `span` bytes are not all
// there with the access the copy needs: the copy then sees a missing pointer
// (22; a missing source zero-fills the array). Checked before the array is pinned.
void* checked(jlong address, uint64_t span, DWORD wanted) {
  void* pointer = fromJava<void*>(address);
  return !pointer || span == 0 || accessible(pointer, span, wanted) ? pointer : nullptr;
}

// The C runtime's memcpy_s rules.
jint boundedCopy(void* destination, uint64_t destinationSize, const void* source, uint64_t count) {
  if (count == 0) return 0;
  if (!destination) return kEinval;
  if (!source) {
    std::memset(destination, 0, static_cast<size_t>(destinationSize));
    return kEinval;
  }
  if (count > destinationSize) {
    std::memset(destination, 0, static_cast<size_t>(destinationSize));
    return kErange;
  }
  std::memcpy(destination, source, static_cast<size_t>(count));
  return 0;
}

}  // namespace

extern "C" {

// Copies the whole array to `address`, a block of `size` bytes.
JNIEXPORT jint JNICALL Java_com_halvane_common_win32_VirtualBuffer_memcpy_1s__JI_3B(JNIEnv* env, jclass, jlong address,
                                                                                 jint size, jbyteArray source) {
  if (!source) return kComOutOfMemory;
  uint64_t count = static_cast<uint64_t>(env->GetArrayLength(source));
  uint64_t room = size < 0 ? 0 : static_cast<uint64_t>(size);
  void* destination = checked(address, count > room ? room : count, kWritable);
  PinnedArray bytes(env, source, PinnedArray::kCopyBack);
  if (!bytes.ok()) return kComOutOfMemory;
  return boundedCopy(destination, room, bytes.bytes(), count);
}

// Copies `length` bytes from `address` into the array; the array's length bounds the copy.
JNIEXPORT jint JNICALL Java_com_halvane_common_win32_VirtualBuffer_memcpy_1s___3BJI(JNIEnv* env, jclass,
                                                                                 jbyteArray destination,
                                                                                 jlong address, jint length) {
  if (!destination) return kComOutOfMemory;
  uint64_t room = static_cast<uint64_t>(env->GetArrayLength(destination));
  // A negative length is a count beyond any array.
  uint64_t count = length < 0 ? room + 1 : static_cast<uint64_t>(length);
  // Only a count that fits the array is read.
  const void* source = count > room ? fromJava<void*>(address) : checked(address, count, kReadable);
  PinnedArray bytes(env, destination, PinnedArray::kCopyBack);
  if (!bytes.ok()) return kComOutOfMemory;
  return boundedCopy(bytes.bytes(), room, source, count);
}

JNIEXPORT jint JNICALL Java_com_halvane_common_win32_VirtualBuffer_VirtualAlloc(JNIEnv* env, jclass,
                                                                               jlongArray address, jint size,
                                                                               jint type, jint protection) {
  if (!isOutArray(env, address)) return kInvalidParameter;
  LPVOID wanted = fromJava<LPVOID>(takeLong(env, address));
  LPVOID block = VirtualAlloc(wanted, static_cast<SIZE_T>(static_cast<uint32_t>(size)), static_cast<DWORD>(type),
                              static_cast<DWORD>(protection));
  jint status = block ? 0 : static_cast<jint>(GetLastError());
  setOut(env, address, toJava(block));
  return status;
}

JNIEXPORT jint JNICALL Java_com_halvane_common_win32_VirtualBuffer_VirtualFree(JNIEnv*, jclass, jlong address,
                                                                              jint size, jint type) {
  return VirtualFree(fromJava<LPVOID>(address), static_cast<SIZE_T>(static_cast<uint32_t>(size)), static_cast<DWORD>(type))
             ? 0
             : static_cast<jint>(GetLastError());
}

}  // extern "C"
