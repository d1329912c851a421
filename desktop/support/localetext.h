// Locale-aware comparison of wide text, the ANSI code page of a locale,
// stepping through wide text, late binding of the wide text-drawing call and
// the machine's physical memory. stepWideChar is portable; the rest is Win32.
#pragma once

#include <cstdint>
#include <string>

#ifdef _WIN32
#include "platform/win32.h"
#endif

namespace om {

// The pointer advanced by one UTF-16 unit; the character is not looked at.
inline const char16_t* stepWideChar(const char16_t* p) { return p + 1; }

#ifdef _WIN32
inline const wchar_t* stepWideChar(const wchar_t* p) { return p + 1; }

// The locale's default ANSI code page; GetACP when the locale has none to tell.
UINT codePageOfLocale(LCID locale);
// Case-insensitive comparison in the locale: −1 a before b, 0 equal, 1 after
// (−2 when the system cannot compare).
int compareWideTextNt(const std::wstring& a, const std::wstring& b, LCID locale);
// The same through the locale's ANSI code page, for systems without wide-text
// comparison.
int compareWideTextAnsi(const std::wstring& a, const std::wstring& b, LCID locale);
// Total physical memory in bytes.
uint64_t physicalMemoryTotal();

using TCompareWideTextFunc = int (*)(const std::wstring&, const std::wstring&, LCID);
using TStepWideCharFunc = LPWSTR(WINAPI*)(LPCWSTR);
using TDrawTextWFunc = int(WINAPI*)(HDC, LPCWSTR, int, LPRECT, UINT);

// Slots filled by the units' start-up, by platform.
extern TCompareWideTextFunc CompareWideText;
extern TStepWideCharFunc StepWideChar;
extern TDrawTextWFunc DrawTextWSlot;

bool IsWinNTPlatform();

// Unicode unit: load lock and compare slot; the shut-down frees the lock and
// withdraws the unit's version record.
void InitializeUnicodeUnit();
void FinalizeUnicodeUnit();
bool UnicodeLoadLockExists();
void LockUnicodeLoad();
void UnlockUnicodeLoad();
// Text-drawing unit: binds DrawTextW on NT.
void InitializeTextDrawingUnit();
// Character-step unit: CharNextW on NT, a plain one-unit step elsewhere.
void InitializeCharStepUnit();
#endif

}  // namespace om
