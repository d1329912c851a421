// Message resources: base file with its UTF-8 overlay, the language code table
// and the "locale.lang.code" setting, lookups and formatting.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>

#include "platform/testing/temp_folder.h"
#include "tray/resources.h"
#include "tray/sched.h"
#include "tray/tray_platform.h"

using namespace om;
using namespace om::testing;

namespace {

const char kD = kPathDelim;

class Resources : public ::testing::Test {
protected:
  void SetUp() override {
    SetProgramFileNameForTesting(Folder.file("omtray.exe"));
    SetUserDefaultLangIDForTesting(0x0407);  // German (Germany)
    Folder.write("resource.properties",
                 "RUNNER_Snoozing=Snoozing\r\n"
                 "RUNNER_Monday=Monday\r\n"
                 "B_S_Default=Service state: %s (%d)\r\n"
                 "B_D_Eq=a=b=c\r\n"
                 "RUNNER_Utf8Base=\xC3\xA9t\xC3\xA9\r\n"
                 "RUNNER_Keep= spaced \r\n");
  }
  void TearDown() override {
    FreeResources();
    SetProgramFileNameForTesting("");
    SetUserDefaultLangIDForTesting(-1);
  }
  std::string Base() const { return Folder.file("resource.properties"); }

  TempFolder Folder;
};

}  // namespace

TEST(LanguageCodeTable, EveryIndex) {
  const std::string listed =
      "1 ar, 2 bg, 3 ca, 4 zh, 5 cs, 6 da, 7 de, 8 el, 9 en, 10 es, 11 fi, 12 fr, 13 he, 14 hu, 15 is, 16 it, "
      "17 ja, 18 ko, 19 nl, 20 no, 21 pl, 22 pt, 23 rm, 24 ro, 25 ru, 26 hr, 27 sk, 28 sq, 29 sv, 30 th, 31 tr, "
      "32 ur, 33 id, 34 uk, 35 be, 36 sl, 37 et, 38 lv, 39 lt, 40 tg, 41 fa, 42 vi, 43 hy, 44 az, 45 eu, 47 mk, "
      "49 ts, 52 xh, 53 zu, 54 af, 55 ka, 56 fo, 57 hi, 58 mt, 60 ga, 61 yi, 62 ms, 63 kk, 64 ky, 65 sw, 66 tk, "
      "67 uz, 68 tt, 69 bn, 70 pa, 71 gu, 72 or, 73 ta, 74 te, 75 kn, 76 ml, 77 as, 78 mr, 79 sa, 80 mn, 81 bo, "
      "82 cy, 83 km, 84 lo, 85 my, 86 gl, 89 sd, 91 si, 93 iu, 94 am, 96 ks, 97 ne, 98 fy, 99 ps, 100 tl, "
      "104 ha, 106 yo, 114 om, 115 ti, 116 gn, 118 la, 119 so,";
  std::string expected[122];
  std::istringstream in(listed);
  int index;
  std::string code;
  int count = 0;
  while (in >> index >> code) {
    expected[index] = code.substr(0, 2);
    ++count;
  }
  ASSERT_EQ(count, 97);
  for (int i = 0; i <= 121; ++i) {
    EXPECT_EQ(LanguageCodeFromTable(static_cast<uint16_t>(i)), expected[i]) << i;
    // Only the primary language (low byte) counts.
    EXPECT_EQ(LanguageCodeFromTable(static_cast<uint16_t>(0x0C00 | i)), expected[i]) << i;
  }
  for (int i : {122, 127, 200, 255}) {
    try {
      LanguageCodeFromTable(static_cast<uint16_t>(0x0400 | i));
      ADD_FAILURE() << i;
    } catch (const ELanguageCodeError& e) {
      EXPECT_EQ(e.Message(), "LangID > number of language codes");
    }
  }
}

TEST_F(Resources, OverlayReplacesCaseSensitiveMatchesWithDecodedLines) {
  Folder.write("resource_de.properties",
               "RUNNER_Snoozing=Schlummern \xC3\xA4\r\n"
               "runner_monday=montag\r\n"
               "   \t\r\n"
               "RUNNER_OnlyInOverlay=x\r\n"
               "B_D_Eq=x=y\r\n");
  TResourceFile r(Base());
  EXPECT_EQ(r.OverlayFileName(), Folder.file("resource_de.properties"));
  EXPECT_EQ(r.GetString("RUNNER_Snoozing"), "Schlummern \xE4");  // UTF-8 decoded to ANSI
  EXPECT_EQ(r.GetString("RUNNER_Monday"), "Monday");             // lower-case overlay name ignored
  EXPECT_EQ(r.GetString("runner_monday"), "!!MISSING RESOURCE ENTRY: runner_monday");
  EXPECT_EQ(r.GetString("RUNNER_OnlyInOverlay"), "!!MISSING RESOURCE ENTRY: RUNNER_OnlyInOverlay");
  EXPECT_EQ(r.GetString("B_D_Eq"), "x=y");
  EXPECT_EQ(r.GetString("RUNNER_Keep"), " spaced ");
  // The base file is not decoded.
  EXPECT_EQ(r.GetString("RUNNER_Utf8Base"), "\xC3\xA9t\xC3\xA9");
  // Sorted once loading is complete.
  EXPECT_TRUE(r.Entries().Sorted());
  EXPECT_TRUE(r.Entries().CaseSensitive());
}

TEST_F(Resources, LookupsAndFormatting) {
  TResourceFile r(Base());
  EXPECT_EQ(r.GetString("B_D_Eq"), "a=b=c");
  EXPECT_EQ(r.GetString("RUNNER_"), "!!MISSING RESOURCE ENTRY: RUNNER_");
  EXPECT_EQ(r.GetString("RUNNER_snoozing"), "!!MISSING RESOURCE ENTRY: RUNNER_snoozing");
  EXPECT_EQ(r.GetString(""), "!!MISSING RESOURCE ENTRY: ");
  EXPECT_EQ(r.GetStringFmt("B_S_Default", {"running", 4}), "Service state: running (4)");
  EXPECT_EQ(r.GetStringFmt("NoSuchKey", {}), "!!MISSING RESOURCE ENTRY: NoSuchKey");
  EXPECT_EQ(r.GetStringFmt("NoSuchKey_%s", {"x"}), "!!MISSING RESOURCE ENTRY: NoSuchKey_x");
  // Texts come from files: placeholders without fitting arguments raise, never crash.
  EXPECT_THROW(r.GetStringFmt("B_S_Default", {"running"}), EConvertError);
  EXPECT_THROW(r.GetStringFmt("B_S_Default", {4, 4}), EConvertError);
  EXPECT_THROW(FormatText("%n", {1}), EConvertError);
  EXPECT_THROW(FormatText("50%", {}), EConvertError);
  EXPECT_EQ(FormatText("%5d|%-4s|%.2s|%x|%%|%.1f", {42, "ab", "xyz", 255, 2.25}), "   42|ab  |xy|ff|%|2.2");
  EXPECT_EQ(FormatText("%s", {std::string(5000, 'a')}).size(), 5000u);
}

TEST_F(Resources, DuplicateKeysAndMissingFiles) {
  Folder.write("dup.properties", "K=second\r\nK=first\r\n");
  TResourceFile dup(Folder.file("dup.properties"));
  EXPECT_EQ(dup.GetString("K"), "first");  // the line that sorts first
  TResourceFile none(Folder.file("nothing.properties"));
  EXPECT_EQ(none.Entries().Count(), 0);
  EXPECT_EQ(none.GetString("RUNNER_Snoozing"), "!!MISSING RESOURCE ENTRY: RUNNER_Snoozing");
}

TEST_F(Resources, DamagedOverlaysNeverLoseABaseEntry) {
  // Mutated overlays over a base with a duplicate and a non-ASCII name: every
  // base key stays found; the last well-formed overlay line for it gives the
  // text; invalid UTF-8 comes out as "?" only.
  Folder.write("dup.properties", "K0=b0\r\nK1=b1\r\nK2=b2\r\nK3=b3\r\nK3=aaa\r\nN\xE9=b\xE9\r\n");
  const std::string keys[] = {"K0", "K1", "K2", "K3", "N\xE9"};
  const char* const good[][2] = {{"v", "v"}, {"x y ", "x y "}, {"\xC3\xA9t\xC3\xA9", "\xE9t\xE9"}, {"", ""}, {"a=b", "a=b"}};
  const char* const invalid[] = {"\xC0\xBD", "\xC1\x81", "\xE0\x80\xBD", "\xED\xA0\x80", "\xC3", "\xFF", "\xF4\x90\x80\x80"};
  const char* const strangers[] = {"", "   \t", "=x", "k1=lower", "OnlyInOverlay=q", "\xC3\xA9=y", "K", "K1 =z"};
  const char* const ends[] = {"\r\n", "\n", "\r"};
  std::mt19937 rng(3);
  for (int round = 0; round < 300; ++round) {
    std::map<std::string, std::string> expected = {{"K0", "b0"}, {"K1", "b1"}, {"K2", "b2"}, {"K3", "aaa"}, {"N\xE9", "b\xE9"}};
    std::string file = round % 4 == 0 ? "\xEF\xBB\xBF" : "";
    for (int line = 0, lines = 1 + static_cast<int>(rng() % 8); line < lines; ++line) {
      const std::string& key = keys[rng() % 5];
      switch (rng() % 4) {
        case 0: {
          const auto& g = good[rng() % 5];
          file += key + "=" + g[0];
          expected[key] = g[1];
          break;
        }
        case 1:
          file += key + "=" + invalid[rng() % 7];
          expected[key] = "?";
          break;
        case 2:
          file += key + std::string(rng() % 2 ? "" : std::string(1, '\0'));  // no "="
          break;
        default:
          file += strangers[rng() % 8];
      }
      if (line + 1 < lines || rng() % 2) file += ends[rng() % 3];
    }
    if (round == 1) {
      file += "\nK2=" + std::string(1 << 20, 'l');
      expected["K2"] = std::string(1 << 20, 'l');
    }
    Folder.write("dup_de.properties", file);
    TResourceFile r(Folder.file("dup.properties"));
    for (const auto& [key, text] : expected) {
      std::string got = r.GetString(key);
      if (text == "?")
        EXPECT_TRUE(!got.empty() && got.find_first_not_of('?') == std::string::npos) << round << " " << key << "=" << got;
      else
        EXPECT_EQ(got, text) << round << " " << key << ::testing::PrintToString(file.substr(0, 300));
    }
    EXPECT_EQ(r.GetString("OnlyInOverlay"), "!!MISSING RESOURCE ENTRY: OnlyInOverlay");
    if (::testing::Test::HasFailure()) break;
  }
}

TEST_F(Resources, EmptyTableEntryAndLanguageSetting) {
  SetUserDefaultLangIDForTesting(0x002E);  // index 46: empty entry
  TResourceFile plain(Base());
  EXPECT_EQ(plain.OverlayFileName(), Folder.file("resource_.properties"));
  SetUserDefaultLangIDForTesting(0x007F);  // beyond the table: no overlay
  TResourceFile beyond(Base());
  EXPECT_EQ(beyond.OverlayFileName(), "");

  // The runner set takes the agent's language when set (name in any case, UTF-8).
  Folder.write("ombackup.properties", "service.port=1\r\nLocale.Lang.Code=fr\r\n");
  Folder.write("resource_fr.properties", "RUNNER_Snoozing=En veille \xC3\xA0\r\n");
  TRunnerResourceFile runner(Base());
  EXPECT_EQ(runner.OverlayFileName(), Folder.file("resource_fr.properties"));
  EXPECT_EQ(runner.GetString("RUNNER_Snoozing"), "En veille \xE0");
  EXPECT_EQ(runner.LanguageCode(0x7F), "fr");
  Folder.write("ombackup.properties", "locale.lang.code=\r\n");
  TRunnerResourceFile empty(Base());
  EXPECT_EQ(empty.OverlayFileName(), Folder.file("resource_.properties"));
  EXPECT_EQ(empty.LanguageCode(0x7F), "");

  // A hand-edited setting never names a file elsewhere: separators or NUL give no overlay.
  Folder.makeFolder("resource_x");
  Folder.write(std::string("sub") + kD + "evil.properties", "RUNNER_Snoozing=evil\r\n");
  Folder.write("resource_d", "RUNNER_Snoozing=nul\r\n");
  for (const std::string& code : {std::string("x") + kD + ".." + kD + "sub" + kD + "evil", std::string("d\0e", 3),
                                  std::string("x/../sub/evil"), std::string("x\\..\\sub\\evil")}) {
    Folder.write("ombackup.properties", "locale.lang.code=" + code + "\r\n");
    TRunnerResourceFile odd(Base());
    EXPECT_EQ(odd.LanguageCode(0x07), code);
    EXPECT_EQ(odd.OverlayFileName(), "") << code;
    EXPECT_EQ(odd.GetString("RUNNER_Snoozing"), "Snoozing") << code;
  }
}

TEST_F(Resources, ProcessWideSets) {
  Folder.write(std::string("brand") + kD + "brand.properties", "brandLongName=Ombrel Backup\r\n");
  Folder.write("resource_de.properties", "RUNNER_Monday=Montag\r\n");
  InitResources();
  EXPECT_EQ(GetResourceString("RUNNER_Monday"), "Montag");
  EXPECT_EQ(GetResourceStringFmt("B_S_Default", {"x", 1}), "Service state: x (1)");
  EXPECT_EQ(GetSecondaryResourceString("brandLongName"), "Ombrel Backup");
  EXPECT_EQ(GetSecondaryResourceString("RUNNER_Monday"), "!!MISSING RESOURCE ENTRY: RUNNER_Monday");
  EXPECT_EQ(GetLanguageCode(), "de");
  LoadDayNames();
  EXPECT_EQ(DayNames()[0], "Montag");
  EXPECT_EQ(DayNames()[6], "!!MISSING RESOURCE ENTRY: RUNNER_Sunday");

  // Files are read only when a set is created.
  Folder.write("ombackup.properties", "locale.lang.code=en\r\n");
  Folder.write("resource_en.properties", "RUNNER_Monday=Mon\r\n");
  EXPECT_EQ(GetResourceString("RUNNER_Monday"), "Montag");
  LoadRunnerResources();
  EXPECT_EQ(GetResourceString("RUNNER_Monday"), "Mon");
  EXPECT_EQ(GetLanguageCode(), "en");

  std::filesystem::remove(Folder.file("ombackup.properties"));
  SetUserDefaultLangIDForTesting(0x00FA);
  EXPECT_THROW(GetLanguageCode(), ELanguageCodeError);

  TSched sched(Folder.file("ombackup.properties"), Folder.file("p_ombackup.properties"));
  EXPECT_EQ(sched.Index(), -1);
  EXPECT_EQ(sched.ProfilePropertiesPath(), Folder.file("p_ombackup.properties"));
}
