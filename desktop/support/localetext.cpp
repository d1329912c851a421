#include "support/localetext.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "support/locks.h"
#include "support/unitversions.h"

namespace om {

TCompareWideTextFunc CompareWideText = nullptr;
TStepWideCharFunc StepWideChar = nullptr;
TDrawTextWFunc DrawTextWSlot = nullptr;

namespace {

const TUnitVersionInfo kUnicodeVersion = {"$URL: desktop/support/localetext.cpp $", "$Revision: 1 $", "$Date: 2026-12-09 $",
                                          "desktop/support", "", ""};
TLibraryUnit gUnicodeUnit(&kUnicodeVersion);
std::unique_ptr<TDsCriticalSection> gLoadLock;

LPWSTR WINAPI plainStepWideChar(LPCWSTR p) { return const_cast<LPWSTR>(p + 1); }

// CompareString's result (CSTR_LESS_THAN, CSTR_EQUAL, CSTR_GREATER_THAN; 0 on
// failure) as an order.
TTextOrder compareResult(int r) {
  switch (r) {
    case CSTR_LESS_THAN: return TTextOrder::Before;
    case CSTR_EQUAL: return TTextOrder::Equal;
    case CSTR_GREATER_THAN: return TTextOrder::After;
    default: return TTextOrder::Failed;
  }
}

// Wide text in a code page, sized by what the conversion needs.
std::string toCodePage(const std::wstring& s, UINT codePage) {
  if (s.empty()) return std::string();
  const int length = static_cast<int>(s.size());
  int needed = WideCharToMultiByte(codePage, 0, s.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string out(static_cast<size_t>(needed), '\0');
  int written = WideCharToMultiByte(codePage, 0, s.data(), length, &out[0], needed, nullptr, nullptr);
  out.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return out;
}

}  // namespace

bool IsWinNTPlatform() {
  OSVERSIONINFOA vi = {};
  vi.dwOSVersionInfoSize = sizeof vi;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&vi)) return true;
#pragma GCC diagnostic pop
  return vi.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

UINT codePageOfLocale(LCID locale) {
  char buffer[6] = {};
  if (GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE, buffer, sizeof buffer) > 0) {
    char* end = nullptr;
    unsigned long value = std::strtoul(buffer, &end, 10);
    if (end != buffer && *end == '\0') return static_cast<UINT>(value);
  }
  return GetACP();
}

TTextOrder compareWideTextNt(const std::wstring& a, const std::wstring& b, LCID locale) {
  return compareResult(CompareStringW(locale, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                                      static_cast<int>(b.size())));
}

TTextOrder compareWideTextAnsi(const std::wstring& a, const std::wstring& b, LCID locale) {
  const UINT codePage = codePageOfLocale(locale);
  const std::string sa = toCodePage(a, codePage);
  const std::string sb = toCodePage(b, codePage);
  return compareResult(CompareStringA(locale, NORM_IGNORECASE, sa.data(), static_cast<int>(sa.size()), sb.data(),
                                      static_cast<int>(sb.size())));
}

uint64_t physicalMemoryTotal() {
  MEMORYSTATUSEX status = {};
  status.dwLength = 64;
  if (!GlobalMemoryStatusEx(&status)) return 0;
  return status.ullTotalPhys;
}

void InitializeUnicodeUnit() {
  if (!gUnicodeUnit.StartUp()) return;
  gLoadLock = std::make_unique<TDsCriticalSection>();
  CompareWideText = IsWinNTPlatform() ? compareWideTextNt : compareWideTextAnsi;
}

void FinalizeUnicodeUnit() {
  if (!gUnicodeUnit.ShutDown()) return;
  gLoadLock.reset();
  CompareWideText = nullptr;
}

bool UnicodeLoadLockExists() { return gLoadLock != nullptr; }
void LockUnicodeLoad() {
  if (gLoadLock) gLoadLock->Enter();
}
void UnlockUnicodeLoad() {
  if (gLoadLock) gLoadLock->Leave();
}

void InitializeTextDrawingUnit() {
  if (!IsWinNTPlatform()) return;
  if (HMODULE user32 = GetModuleHandleA("USER32"))
    DrawTextWSlot = reinterpret_cast<TDrawTextWFunc>(reinterpret_cast<void*>(GetProcAddress(user32, "DrawTextW")));
}

void InitializeCharStepUnit() { StepWideChar = IsWinNTPlatform() ? CharNextW : plainStepWideChar; }

}  // namespace om
