// The shared process block on Windows: one committed page at the first free
// candidate address below the top of the application address space.
#include "platform/win32.h"
#include "support/unitversions.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace om {

uintptr_t ThisModuleInstance() { return reinterpret_cast<uintptr_t>(&__ImageBase); }

void* FindSharedProcessBlock(const char* name, int& refCount) {
  refCount = 0;
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  const uintptr_t highest = reinterpret_cast<uintptr_t>(si.lpMaximumApplicationAddress);
  const DWORD pid = GetCurrentProcessId();
  for (int i = 0; i < sharedblock::kCandidates; ++i) {
    const uintptr_t address = sharedblock::candidateAddress(i, highest, si.dwPageSize);
    void* want = reinterpret_cast<void*>(address);
    void* page = VirtualAlloc(want, si.dwPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (page) {
      if (page != want) {
        VirtualFree(page, 0, MEM_RELEASE);
        continue;
      }
      auto* bytes = static_cast<unsigned char*>(page);
      sharedblock::writeHeader(bytes, pid, name);
      refCount = 1;
      return bytes + sharedblock::kData;
    }
    MEMORY_BASIC_INFORMATION mbi;
    if (VirtualQuery(want, &mbi, sizeof mbi) != sizeof mbi) continue;
    if (mbi.State != MEM_COMMIT || mbi.Protect != PAGE_READWRITE) continue;
    auto* bytes = static_cast<unsigned char*>(want);
    if (!sharedblock::headerMatches(bytes, mbi.RegionSize, pid, name)) continue;
    auto* count = reinterpret_cast<volatile LONG*>(bytes + sharedblock::kRefCount);
    refCount = static_cast<int>(InterlockedIncrement(count));
    return bytes + sharedblock::kData;
  }
  return nullptr;
}

int ReleaseSharedProcessBlock(void* dataArea) {
  if (!dataArea) return 0;
  auto* bytes = static_cast<unsigned char*>(dataArea) - sharedblock::kData;
  auto* count = reinterpret_cast<volatile LONG*>(bytes + sharedblock::kRefCount);
  const LONG left = InterlockedDecrement(count);
  if (left <= 0) VirtualFree(bytes, 0, MEM_RELEASE);
  return static_cast<int>(left);
}

}  // namespace om
