#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "support/localetext.h"
#include "support/unitversions.h"

#include <psapi.h>

namespace om {
namespace {

constexpr LCID kEnglishUS = 0x0409;
constexpr LCID kGerman = 0x0407;
constexpr LCID kRussian = 0x0419;
constexpr LCID kJapanese = 0x0411;
constexpr LCID kGreek = 0x0408;

std::wstring randomText(std::mt19937& rng, const std::wstring& alphabet, size_t maxLength) {
  std::wstring s(rng() % (maxLength + 1), L' ');
  for (wchar_t& c : s) c = alphabet[rng() % alphabet.size()];
  return s;
}

TEST(LocaleCompare, CaseIsIgnored) {
  EXPECT_EQ(TTextOrder::Equal, compareWideTextNt(L"abc", L"ABC", kEnglishUS));
  EXPECT_EQ(TTextOrder::Before, compareWideTextNt(L"abc", L"abd", kEnglishUS));
  EXPECT_EQ(TTextOrder::After, compareWideTextNt(L"abd", L"ABC", kEnglishUS));
  EXPECT_EQ(TTextOrder::Equal, compareWideTextNt(L"", L"", kEnglishUS));
  EXPECT_EQ(TTextOrder::Before, compareWideTextNt(L"", L"a", kEnglishUS));
  EXPECT_EQ(TTextOrder::Equal, compareWideTextNt(L"\u0416\u0443\u043a", L"\u0436\u0423\u041a", kRussian));
  EXPECT_EQ(TTextOrder::Equal, compareWideTextAnsi(L"abc", L"ABC", kEnglishUS));
  EXPECT_EQ(TTextOrder::Before, compareWideTextAnsi(L"abc", L"abd", kEnglishUS));
}

// A locale the system does not know gives no order, not "before".
TEST(LocaleCompare, FailureIsNoOrder) {
  const LCID unknown = MAKELCID(MAKELANGID(0x3F, 0x3F), SORT_DEFAULT);
  EXPECT_EQ(TTextOrder::Failed, compareWideTextNt(L"abc", L"abd", unknown));
  EXPECT_EQ(TTextOrder::Failed, compareWideTextAnsi(L"abc", L"abd", unknown));
}

// Text the locale's code page can hold compares the same either way.
TEST(LocaleCompare, AnsiPathAgreesWithWidePath) {
  struct Case {
    LCID locale;
    std::wstring alphabet;
  } cases[] = {
      {kEnglishUS, L"aAbBzZ09 -_.,"},
      {kGerman, L"aA\u00e4\u00c4oO\u00f6\u00d6sS\u00df zZ-"},
      {kRussian, L"\u0430\u0410\u0431\u0411\u044f\u042f\u0451\u0401 aA-"},
      {kGreek, L"\u03b1\u0391\u03b2\u0392\u03c9\u03a9 aA"},
      {kJapanese, L"\u65e5\u672c\u8a9e\u30c6\u30ad\u30b9\u30c8\u3042\u30a2aA "},
  };
  std::mt19937 rng(5);
  for (const Case& c : cases) {
    for (int i = 0; i < 400; ++i) {
      std::wstring a = randomText(rng, c.alphabet, 8);
      std::wstring b = i % 4 == 0 ? a : randomText(rng, c.alphabet, 8);
      if (i % 8 == 0 && !b.empty()) CharUpperBuffW(&b[0], static_cast<DWORD>(b.size()));
      TTextOrder wide = compareWideTextNt(a, b, c.locale);
      ASSERT_NE(TTextOrder::Failed, wide);
      ASSERT_EQ(wide, compareWideTextAnsi(a, b, c.locale)) << "locale " << c.locale << " case " << i;
    }
  }
}

// Double-byte code pages need more bytes than the text has characters.
TEST(LocaleCompare, AnsiPathInDoubleByteCodePage) {
  ASSERT_EQ(932u, codePageOfLocale(kJapanese));
  EXPECT_EQ(TTextOrder::Equal, compareWideTextAnsi(L"\u65e5\u672c\u8a9e", L"\u65e5\u672c\u8a9e", kJapanese));
  EXPECT_EQ(TTextOrder::Before, compareWideTextAnsi(L"\u65e5\u672c", L"\u65e5\u672c\u8a9e", kJapanese));
  EXPECT_EQ(compareWideTextNt(L"\u30c6\u30ad\u30b9\u30c8b", L"\u30c6\u30ad\u30b9\u30c8A", kJapanese),
            compareWideTextAnsi(L"\u30c6\u30ad\u30b9\u30c8b", L"\u30c6\u30ad\u30b9\u30c8A", kJapanese));
}

TEST(CodePages, OfKnownLocales) {
  EXPECT_EQ(1252u, codePageOfLocale(kEnglishUS));
  EXPECT_EQ(1252u, codePageOfLocale(kGerman));
  EXPECT_EQ(1251u, codePageOfLocale(kRussian));
  EXPECT_EQ(1253u, codePageOfLocale(kGreek));
  EXPECT_EQ(932u, codePageOfLocale(kJapanese));
}

TEST(CodePages, UnicodeOnlyLocaleGivesZero) {
  // Locales whose ANSI code page the system reports as "0".
  for (LCID locale : {0x0439u, 0x0437u, 0x042Bu, 0x0449u, 0x044Au}) {
    char text[8] = {};
    if (GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE, text, sizeof text) && std::string(text) == "0") {
      EXPECT_EQ(0u, codePageOfLocale(locale)) << locale;
      return;
    }
  }
  GTEST_SKIP() << "no Unicode-only locale known to this system";
}

TEST(CodePages, UnknownLocaleGivesTheAnsiCodePage) {
  const LCID unknown = MAKELCID(MAKELANGID(0x3F, 0x3F), SORT_DEFAULT);
  char text[8] = {};
  ASSERT_EQ(0, GetLocaleInfoA(unknown, LOCALE_IDEFAULTANSICODEPAGE, text, sizeof text));
  EXPECT_EQ(GetACP(), codePageOfLocale(unknown));
}

TEST(WideText, StepIsOneUnitWhateverTheCharacter) {
  const wchar_t text[] = L"a\U0001F600b";
  ASSERT_EQ(4u, wcslen(text));
  EXPECT_EQ(text + 2, stepWideChar(text + 1));  // first unit of the pair to its second
  const char16_t text16[] = u"\U0001F600";
  EXPECT_EQ(text16 + 1, stepWideChar(text16));
  InitializeCharStepUnit();
  EXPECT_EQ(reinterpret_cast<void*>(&CharNextW), reinterpret_cast<void*>(StepWideChar));
  EXPECT_EQ(text + 1, StepWideChar(text));
}

TEST(WideText, DrawTextIsBoundOnNt) {
  ASSERT_TRUE(IsWinNTPlatform());
  InitializeTextDrawingUnit();
  ASSERT_NE(nullptr, DrawTextWSlot);
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "DrawTextW")),
            reinterpret_cast<void*>(DrawTextWSlot));
}

TEST(PhysicalMemory, AgreesWithOtherReports) {
  const uint64_t total = physicalMemoryTotal();
  ASSERT_GT(total, 64ull << 20);
  PERFORMANCE_INFORMATION perf = {};
  perf.cb = sizeof perf;
  ASSERT_TRUE(GetPerformanceInfo(&perf, sizeof perf));
  const double fromPages = static_cast<double>(perf.PhysicalTotal) * perf.PageSize;
  EXPECT_NEAR(1.0, fromPages / static_cast<double>(total), 0.01);
  // Under Wine the host's own count is at hand as well.
  if (FILE* f = std::fopen("Z:\\proc\\meminfo", "r")) {
    unsigned long long kib = 0;
    char line[256];
    while (std::fgets(line, sizeof line, f))
      if (std::sscanf(line, "MemTotal: %llu kB", &kib) == 1) break;
    std::fclose(f);
    if (kib) {
      EXPECT_NEAR(1.0, static_cast<double>(kib) * 1024.0 / static_cast<double>(total), 0.02);
    }
  }
}

TEST(UnicodeUnit, StartUpAndShutDownRunOnce) {
  InitializeUnicodeUnit();
  ASSERT_TRUE(UnicodeLoadLockExists());
  EXPECT_EQ(reinterpret_cast<void*>(&compareWideTextNt), reinterpret_cast<void*>(CompareWideText));
  EXPECT_EQ(TTextOrder::Equal, CompareWideText(L"Stra\u00dfe", L"STRA\u00dfE", kGerman));
  LockUnicodeLoad();
  UnlockUnicodeLoad();
  InitializeUnicodeUnit();
  EXPECT_NE(nullptr, GetVersionRegistry()->FindModule(ThisModuleInstance()));
  FinalizeUnicodeUnit();
  EXPECT_FALSE(UnicodeLoadLockExists());
  EXPECT_EQ(nullptr, CompareWideText);
  EXPECT_EQ(nullptr, GetVersionRegistry()->FindModule(ThisModuleInstance()));
  FinalizeUnicodeUnit();
  InitializeUnicodeUnit();  // started once already: nothing happens
  EXPECT_FALSE(UnicodeLoadLockExists());
}

}  // namespace
}  // namespace om
