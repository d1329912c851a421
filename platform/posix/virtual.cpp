// Virtual memory over mmap: regions are reserved on 64 KiB boundaries (the
// Windows allocation granularity) and committed in pages; each region keeps the
// protection of its pages for VirtualQuery. Memory the stand-in did not allocate
// is described from the host's mappings.
#include <sys/mman.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "../win32.h"
#include "internal.h"

namespace om::standin {
namespace {

constexpr uintptr_t kGranularity = 64 * 1024;
constexpr uintptr_t kPage = 4096;
constexpr uintptr_t kUserSpaceEnd = 0x00007FFFFFFF0000ULL;  // as on Win64
constexpr DWORD kModifiers = PAGE_GUARD | PAGE_NOCACHE | PAGE_WRITECOMBINE;

struct Region {
  size_t size = 0;
  DWORD allocationProtect = 0;
  std::vector<DWORD> pages;  // the protection of each committed page; 0 while only reserved
};

std::mutex& regionsMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::map<uintptr_t, Region>& regions() {  // by base address
  static auto* map = new std::map<uintptr_t, Region>;
  return *map;
}

// The host protection for a page protection (guard pages have no access), or -1.
int hostProtection(DWORD protection) {
  if ((protection & PAGE_GUARD) && (protection & ~kModifiers) == PAGE_NOACCESS) return -1;
  int guard = (protection & PAGE_GUARD) ? 0 : ~0;
  switch (protection & ~kModifiers) {
    case PAGE_NOACCESS: return PROT_NONE;
    case PAGE_READONLY: return PROT_READ & guard;
    case PAGE_READWRITE: return (PROT_READ | PROT_WRITE) & guard;
    case PAGE_EXECUTE: return PROT_EXEC & guard;
    case PAGE_EXECUTE_READ: return (PROT_READ | PROT_EXEC) & guard;
    case PAGE_EXECUTE_READWRITE: return (PROT_READ | PROT_WRITE | PROT_EXEC) & guard;
    default: return -1;
  }
}

// The reserved region holding [address, address + size), or regions().end().
std::map<uintptr_t, Region>::iterator regionOf(uintptr_t address, size_t size) {
  auto& map = regions();
  auto it = map.upper_bound(address);
  if (it == map.begin()) return map.end();
  --it;
  if (address >= it->first && address + size <= it->first + it->second.size) return it;
  return map.end();
}

void setPages(Region& region, uintptr_t base, uintptr_t first, size_t span, DWORD protection) {
  size_t from = (first - base) / kPage;
  for (size_t i = 0; i < span / kPage; ++i) region.pages[from + i] = protection;
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

// A mapping of the host: [start, end) with its permissions and whether a file backs it.
struct HostMapping {
  uintptr_t start = 0, end = 0;
  char permissions[5] = {};
  bool file = false;
};

// The host mapping holding `address`, or else the next one above it (start 0 if none).
HostMapping hostMapping(uintptr_t address, bool& holds) {
  HostMapping found;
  holds = false;
  FILE* maps = std::fopen("/proc/self/maps", "re");
  if (!maps) return found;
  char line[4096];
  while (std::fgets(line, sizeof line, maps)) {
    HostMapping mapping;
    unsigned long long start, end, offset, inode;
    char device[32];
    if (std::sscanf(line, "%llx-%llx %4s %llx %31s %llu", &start, &end, mapping.permissions, &offset, device,
                    &inode) != 6)
      continue;
    mapping.start = start;
    mapping.end = end;
    mapping.file = inode != 0;
    if (address >= mapping.start && address < mapping.end) {
      holds = true;
      found = mapping;
      break;
    }
    if (mapping.start > address) {
      found = mapping;
      break;
    }
  }
  std::fclose(maps);
  return found;
}

DWORD protectionOf(const char* permissions) {
  bool r = permissions[0] == 'r', w = permissions[1] == 'w', x = permissions[2] == 'x';
  if (x) return w ? PAGE_EXECUTE_READWRITE : r ? PAGE_EXECUTE_READ : PAGE_EXECUTE;
  return w ? PAGE_READWRITE : r ? PAGE_READONLY : PAGE_NOACCESS;
}

void describeHost(uintptr_t page, MEMORY_BASIC_INFORMATION& info) {
  bool holds = false;
  HostMapping mapping = hostMapping(page, holds);
  info.BaseAddress = reinterpret_cast<PVOID>(page);
  if (!holds) {
    info.RegionSize = (mapping.start ? mapping.start : kUserSpaceEnd) - page;
    info.State = MEM_FREE;
    info.Protect = PAGE_NOACCESS;
    return;
  }
  DWORD protection = protectionOf(mapping.permissions);
  info.AllocationBase = reinterpret_cast<PVOID>(mapping.start);
  info.AllocationProtect = protection;
  info.RegionSize = mapping.end - page;
  info.Type = mapping.file ? MEM_IMAGE : MEM_PRIVATE;
  if (protection == PAGE_NOACCESS && !mapping.file) {  // address space set aside, as reserved
    info.State = MEM_RESERVE;
    return;
  }
  info.State = MEM_COMMIT;
  info.Protect = protection;
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
    auto it = regionOf(first, span);
    if (it == regions().end()) {
      fail(ERROR_INVALID_ADDRESS);
      return nullptr;
    }
    if (mprotect(reinterpret_cast<void*>(first), span, prot) != 0) {
      failErrno(errno);
      return nullptr;
    }
    setPages(it->second, it->first, first, span, protection);
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
  Region& region = regions()[reinterpret_cast<uintptr_t>(p)];
  region.size = span;
  region.allocationProtect = protection;
  region.pages.assign(span / kPage, (type & MEM_COMMIT) ? protection : 0);
  return p;
}

BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD type) {
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  std::lock_guard<std::mutex> lock(regionsMutex());
  if (type == MEM_RELEASE) {
    if (size != 0) return fail(ERROR_INVALID_PARAMETER);
    auto it = regions().find(at);
    // Inside an allocation but not its base: an invalid address.
    if (it == regions().end())
      return fail(regionOf(at, 1) != regions().end() ? ERROR_INVALID_ADDRESS : ERROR_INVALID_PARAMETER);
    munmap(address, it->second.size);
    regions().erase(it);
    return TRUE;
  }
  if (type == MEM_DECOMMIT) {
    uintptr_t first = at & ~(kPage - 1);
    auto it = regionOf(first, 1);
    if (it == regions().end()) return fail(ERROR_INVALID_ADDRESS);
    size_t span = size ? ((at + size + kPage - 1) & ~(kPage - 1)) - first : it->first + it->second.size - first;
    if (first + span > it->first + it->second.size) return fail(ERROR_INVALID_PARAMETER);
    void* p = mmap(reinterpret_cast<void*>(first), span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (p == MAP_FAILED) return failErrno(errno);
    setPages(it->second, it->first, first, span, 0);
    return TRUE;
  }
  return fail(ERROR_INVALID_PARAMETER);
}

SIZE_T WINAPI VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION information, SIZE_T length) {
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  if (!information || length < sizeof(MEMORY_BASIC_INFORMATION)) {
    fail(information ? ERROR_BAD_LENGTH : ERROR_NOACCESS);
    return 0;
  }
  if (at >= kUserSpaceEnd) {
    fail(ERROR_INVALID_PARAMETER);
    return 0;
  }
  MEMORY_BASIC_INFORMATION info;
  std::memset(&info, 0, sizeof info);
  uintptr_t page = at & ~(kPage - 1);
  {
    std::lock_guard<std::mutex> lock(regionsMutex());
    auto it = regionOf(page, 1);
    if (it != regions().end()) {
      const Region& region = it->second;
      size_t index = (page - it->first) / kPage, end = index;
      while (end < region.pages.size() && region.pages[end] == region.pages[index]) ++end;
      info.BaseAddress = reinterpret_cast<PVOID>(page);
      info.AllocationBase = reinterpret_cast<PVOID>(it->first);
      info.AllocationProtect = region.allocationProtect;
      info.RegionSize = (end - index) * kPage;
      info.State = region.pages[index] ? MEM_COMMIT : MEM_RESERVE;
      info.Protect = region.pages[index];
      info.Type = MEM_PRIVATE;
    }
  }
  if (!info.State) describeHost(page, info);
  std::memcpy(information, &info, sizeof info);
  return sizeof info;
}
