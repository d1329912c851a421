// VirtualAlloc and VirtualFree over mmap: regions are reserved on 64 KiB
// boundaries (the Windows allocation granularity) and committed in pages.
#include <sys/mman.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

#include "../win32.h"
#include "files_internal.h"

namespace om::standin {
namespace {

constexpr uintptr_t kGranularity = 64 * 1024;
constexpr uintptr_t kPage = 4096;

std::mutex& regionsMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::map<uintptr_t, size_t>& regions() {  // base -> reserved size
  static auto* map = new std::map<uintptr_t, size_t>;
  return *map;
}

int hostProtection(DWORD protection) {
  switch (protection) {
    case PAGE_NOACCESS: return PROT_NONE;
    case PAGE_READONLY: return PROT_READ;
    case PAGE_READWRITE: return PROT_READ | PROT_WRITE;
    case PAGE_EXECUTE: return PROT_EXEC;
    case PAGE_EXECUTE_READ: return PROT_READ | PROT_EXEC;
    case PAGE_EXECUTE_READWRITE: return PROT_READ | PROT_WRITE | PROT_EXEC;
    default: return -1;
  }
}

// The reserved region holding [address, address + size), or regions().end().
std::map<uintptr_t, size_t>::iterator regionOf(uintptr_t address, size_t size) {
  auto& map = regions();
  auto it = map.upper_bound(address);
  if (it == map.begin()) return map.end();
  --it;
  if (address >= it->first && address + size <= it->first + it->second) return it;
  return map.end();
}

void* reserve(uintptr_t wanted, size_t size) {
  if (wanted) {
    void* p = mmap(reinterpret_cast<void*>(wanted), size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE,
                   -1, 0);
    if (p == MAP_FAILED) return nullptr;
    if (reinterpret_cast<uintptr_t>(p) != wanted) {
      munmap(p, size);
      return nullptr;
    }
    return p;
  }
  size_t span = size + kGranularity;
  void* p = mmap(nullptr, span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  uintptr_t start = reinterpret_cast<uintptr_t>(p);
  uintptr_t base = (start + kGranularity - 1) & ~(kGranularity - 1);
  if (base > start) munmap(p, base - start);
  uintptr_t end = start + span;
  if (end > base + size) munmap(reinterpret_cast<void*>(base + size), end - (base + size));
  return reinterpret_cast<void*>(base);
}

// One line of /proc/self/maps: [start, end) and its protection as Windows names it
// (0 for pages mapped without access, which are reserved ones).
struct Mapping {
  uintptr_t start, end;
  DWORD protect;
};

DWORD protectionOf(const char* perms) {
  bool r = perms[0] == 'r', w = perms[1] == 'w', x = perms[2] == 'x';
  if (x) return w ? PAGE_EXECUTE_READWRITE : r ? PAGE_EXECUTE_READ : PAGE_EXECUTE;
  return w ? PAGE_READWRITE : r ? PAGE_READONLY : 0;
}

std::vector<Mapping> hostMappings() {
  std::vector<Mapping> out;
  FILE* maps = std::fopen("/proc/self/maps", "re");
  if (!maps) return out;
  char line[512];
  while (std::fgets(line, sizeof line, maps)) {
    unsigned long start, end;
    char perms[5];
    if (std::sscanf(line, "%lx-%lx %4s", &start, &end, perms) == 3) out.push_back({start, end, protectionOf(perms)});
  }
  std::fclose(maps);
  return out;
}

}  // namespace
}  // namespace om::standin

using namespace om::standin;

LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protection) {
  int prot = hostProtection(protection);
  if (size == 0 || prot < 0 || !(type & (MEM_COMMIT | MEM_RESERVE)) ||
      (type & ~DWORD(MEM_COMMIT | MEM_RESERVE))) {
    fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(regionsMutex());
  uintptr_t wanted = reinterpret_cast<uintptr_t>(address);
  if (!(type & MEM_RESERVE) && wanted) {
    // Commit pages of a region reserved before.
    uintptr_t first = wanted & ~(kPage - 1);
    size_t span = ((wanted + size + kPage - 1) & ~(kPage - 1)) - first;
    if (regionOf(first, span) == regions().end()) {
      fail(ERROR_INVALID_ADDRESS);
      return nullptr;
    }
    if (mprotect(reinterpret_cast<void*>(first), span, prot) != 0) {
      failErrno(errno);
      return nullptr;
    }
    return reinterpret_cast<void*>(first);
  }
  uintptr_t base = wanted & ~(kGranularity - 1);
  size_t span = ((wanted + size + kPage - 1) & ~(kPage - 1)) - base;
  void* p = reserve(base, span);
  if (!p) {
    fail(wanted ? ERROR_INVALID_ADDRESS : ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if ((type & MEM_COMMIT) && mprotect(p, span, prot) != 0) {
    munmap(p, span);
    failErrno(errno);
    return nullptr;
  }
  regions()[reinterpret_cast<uintptr_t>(p)] = span;
  return p;
}

BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD type) {
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  std::lock_guard<std::mutex> lock(regionsMutex());
  if (type == MEM_RELEASE) {
    auto it = regions().find(at);
    if (size != 0 || it == regions().end()) return fail(ERROR_INVALID_PARAMETER);
    munmap(address, it->second);
    regions().erase(it);
    return TRUE;
  }
  if (type == MEM_DECOMMIT) {
    uintptr_t first = at & ~(kPage - 1);
    auto it = regionOf(first, 1);
    if (it == regions().end()) return fail(ERROR_INVALID_ADDRESS);
    size_t span = size ? ((at + size + kPage - 1) & ~(kPage - 1)) - first : it->first + it->second - first;
    if (first + span > it->first + it->second) return fail(ERROR_INVALID_PARAMETER);
    void* p = mmap(reinterpret_cast<void*>(first), span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    return p == MAP_FAILED ? failErrno(errno) : TRUE;
  }
  return fail(ERROR_INVALID_PARAMETER);
}

SIZE_T WINAPI VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T length) {
  if (!info || length < sizeof *info) {
    fail(ERROR_BAD_LENGTH);
    return 0;
  }
  uintptr_t page = reinterpret_cast<uintptr_t>(address) & ~(kPage - 1);
  std::vector<Mapping> mappings = hostMappings();
  *info = MEMORY_BASIC_INFORMATION{};
  info->BaseAddress = reinterpret_cast<PVOID>(page);
  size_t i = 0;
  while (i < mappings.size() && mappings[i].end <= page) ++i;
  if (i == mappings.size() || mappings[i].start > page) {  // free up to the next mapping
    info->State = MEM_FREE;
    info->Protect = PAGE_NOACCESS;
    uintptr_t next = i < mappings.size() ? mappings[i].start : (uintptr_t{1} << 47);
    info->RegionSize = next > page ? next - page : kPage;
    return sizeof *info;
  }
  uintptr_t end = mappings[i].end;
  for (size_t j = i + 1; j < mappings.size() && mappings[j].start == end && mappings[j].protect == mappings[i].protect;
       ++j)
    end = mappings[j].end;
  info->RegionSize = end - page;
  info->Protect = mappings[i].protect;
  info->State = info->Protect ? MEM_COMMIT : MEM_RESERVE;
  info->Type = MEM_PRIVATE;
  std::lock_guard<std::mutex> lock(regionsMutex());
  auto region = regionOf(page, 1);
  info->AllocationBase = reinterpret_cast<PVOID>(region != regions().end() ? region->first : mappings[i].start);
  info->AllocationProtect = PAGE_READWRITE;
  return sizeof *info;
}
