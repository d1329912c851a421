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

// Order of two texts in a locale. Failed (the system could not compare them,
// e.g. for a locale it does not know) is no order at all: callers check for it
// before they read the order.
enum class TTextOrder { Before = -1, Equal = 0, After = 1, Failed = 2 };
// Case-insensitive comparison in the locale.
TTextOrder compareWideTextNt(const std::wstring& a, const std::wstring& b, LCID locale);
// The same through the locale's ANSI code page, for systems without wide-text
// comparison.
TTextOrder compareWideTextAnsi(const std::wstring& a, const std::wstring& b, LCID locale);
// Total physical memory in bytes.
uint64_t physicalMemoryTotal();

using TCompareWideTextFunc = TTextOrder (*)(const std::wstring&, const std::wstring&, LCID);
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
