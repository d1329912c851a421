// BSTR texts and the task allocator. A BSTR block is [4-byte byte length][text]
// [zero character]; the stand-in counts the live ones so tests can find leaks.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "../win32.h"
#include "include/oleauto.h"
#include "internal.h"

namespace om::standin {
namespace {
std::atomic<long> liveBstrs{0};
}
long liveBstrCount() { return liveBstrs.load(); }
}  // namespace om::standin

using om::standin::liveBstrs;

BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > 0x7FFFFFF0u / sizeof(OLECHAR)) return nullptr;
  size_t bytes = static_cast<size_t>(length) * sizeof(OLECHAR);
  auto* block = static_cast<unsigned char*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  uint32_t prefix = static_cast<uint32_t>(bytes);
  std::memcpy(block, &prefix, sizeof prefix);
  auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof prefix);
  if (text)
    std::memcpy(chars, text, bytes);
  else
    std::memset(chars, 0, bytes);
  chars[length] = 0;
  ++liveBstrs;
  return chars;
}

BSTR WINAPI SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  UINT length = 0;
  while (text[length]) ++length;
  return SysAllocStringLen(text, length);
}

void WINAPI SysFreeString(BSTR text) {
  if (!text) return;
  --liveBstrs;
  std::free(reinterpret_cast<unsigned char*>(text) - sizeof(uint32_t));
}

UINT WINAPI SysStringByteLen(BSTR text) {
  if (!text) return 0;
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<unsigned char*>(text) - sizeof prefix, sizeof prefix);
  return prefix;
}

UINT WINAPI SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

LPVOID WINAPI CoTaskMemAlloc(SIZE_T bytes) { return std::malloc(bytes ? bytes : 1); }

void WINAPI CoTaskMemFree(LPVOID block) { std::free(block); }
