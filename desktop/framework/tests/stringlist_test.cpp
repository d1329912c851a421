// TStringList: name=value access, sorted search and duplicates, text lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <set>

#include "framework/stringlist.h"
#include "platform/testing/temp_folder.h"

using namespace om;

TEST(StringList, NamesAndValuesUseTheFirstEqualsSign) {
  TStringList l;
  l.Add("service.port=10100");
  l.Add("a=b=c");
  l.Add("plain");
  l.Add("=empty name");
  EXPECT_EQ(l.Names(1), "a");
  EXPECT_EQ(l.ValueFromIndex(1), "b=c");
  EXPECT_EQ(l.Values("a"), "b=c");
  EXPECT_EQ(l.Names(2), "");
  EXPECT_EQ(l.ValueFromIndex(2), "");
  EXPECT_EQ(l.Values("plain"), "");
  EXPECT_EQ(l.IndexOfName(""), 3);
  EXPECT_EQ(l.IndexOfName("SERVICE.PORT"), 0);  // case-insensitive by default
  l.SetCaseSensitive(true);
  EXPECT_EQ(l.IndexOfName("SERVICE.PORT"), -1);
  EXPECT_EQ(l.IndexOfName("service.port"), 0);
  l.SetValue("a", "x");
  EXPECT_EQ(l[1], "a=x");
  l.SetValue("new", "1");
  EXPECT_EQ(l[4], "new=1");
  l.SetValue("new", "");
  EXPECT_EQ(l.Count(), 4);
  EXPECT_THROW(l.Get(4), EStringListError);
  EXPECT_THROW(l.Get(-1), EStringListError);
}

TEST(StringList, SortedListsKeepOrderAndFindByBinarySearch) {
  std::mt19937 rng(7);
  for (bool cs : {false, true}) {
    TStringList l;
    l.SetCaseSensitive(cs);
    l.SetDuplicates(dupAccept);
    std::vector<std::string> all;
    for (int i = 0; i < 300; ++i) {
      std::string s;
      for (int k = 0, n = 1 + static_cast<int>(rng() % 4); k < n; ++k) s += "aBbA="[rng() % 5];
      all.push_back(s);
      l.Add(s);
    }
    l.SetSorted(true);
    for (int i = 1; i < l.Count(); ++i) {
      std::string a = l[i - 1], b = l[i];
      if (!cs) {
        for (auto& c : a) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (auto& c : b) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
      EXPECT_LE(a, b);
    }
    for (const std::string& s : all) {
      int idx = l.IndexOf(s);
      ASSERT_GE(idx, 0) << s;
      if (cs) {
        EXPECT_EQ(l[idx], s);
      }
      // The first of equal entries is found.
      if (idx > 0) {
        EXPECT_NE(l.IndexOf(l[idx - 1]), idx);
      }
    }
    int at;
    EXPECT_FALSE(l.Find("zzz", at));
    EXPECT_EQ(at, l.Count());
    EXPECT_THROW(l.Insert(0, "x"), EStringListError);
  }
}

TEST(StringList, DuplicatesOfASortedList) {
  TStringList l;
  l.SetSorted(true);
  EXPECT_EQ(l.Add("b"), 0);
  EXPECT_EQ(l.Add("a"), 0);
  EXPECT_EQ(l.Add("B"), 1);  // ignored: equal to "b" without regard to case
  EXPECT_EQ(l.Count(), 2);
  l.SetDuplicates(dupError);
  EXPECT_THROW(l.Add("a"), EStringListError);
  l.SetDuplicates(dupAccept);
  l.Add("a");
  EXPECT_EQ(l.Count(), 3);
}

TEST(StringList, TextLinesEndAtCrLfLfOrCr) {
  TStringList l;
  l.SetText("one\r\ntwo\nthree\rfour\r\n\r\nsix");
  ASSERT_EQ(l.Count(), 6);
  EXPECT_EQ(l[0], "one");
  EXPECT_EQ(l[3], "four");
  EXPECT_EQ(l[4], "");
  EXPECT_EQ(l[5], "six");
  EXPECT_EQ(l.Text(), "one\r\ntwo\r\nthree\r\nfour\r\n\r\nsix\r\n");
  l.SetText("");
  EXPECT_EQ(l.Count(), 0);
  l.SetText("\n");
  ASSERT_EQ(l.Count(), 1);
  EXPECT_EQ(l[0], "");
}

TEST(StringList, FilesRoundTripBytesUnchanged) {
  om::testing::TempFolder folder;
  const std::filesystem::path path = folder.file("lines.txt");
  TStringList l;
  l.Add("a=\xE9\xC3\xA9");
  l.Add("");
  l.Add("z");
  l.SaveToFile(path.string());
  TStringList r;
  r.LoadFromFile(path.string());
  EXPECT_EQ(r.Items(), l.Items());
  std::filesystem::remove(path);
  EXPECT_THROW(r.LoadFromFile(path.string()), EFOpenError);
}

TEST(StringList, RandomBytesSplitIntoLinesWithNothingLostOrAdded) {
  // Any bytes, NUL and unpaired CR/LF included: lines hold no line ends, every
  // other byte survives in order, and a file loads as its text does.
  om::testing::TempFolder folder;
  std::mt19937 rng(11);
  const char alphabet[] = {'a', '=', '\0', '\r', '\n', '\xC3', '\xFF', ' '};
  for (int round = 0; round < 300; ++round) {
    std::string text(rng() % (round == 0 ? 1 << 20 : 64), '\0');
    for (char& c : text) c = alphabet[rng() % sizeof alphabet];
    std::string kept;
    int breaks = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '\r' && text[i] != '\n') kept += text[i];
      else if (!(text[i] == '\n' && i > 0 && text[i - 1] == '\r')) ++breaks;
    }
    bool open = !text.empty() && text.back() != '\r' && text.back() != '\n';
    TStringList l;
    l.SetText(text);
    ASSERT_EQ(l.Count(), breaks + (open ? 1 : 0)) << round;
    std::string joined;
    for (const std::string& s : l.Items()) {
      ASSERT_EQ(s.find_first_of("\r\n"), std::string::npos);
      joined += s;
    }
    ASSERT_EQ(joined, kept);
    folder.write("fuzz.txt", text);
    TStringList f;
    f.LoadFromFile(folder.file("fuzz.txt"));
    ASSERT_EQ(f.Items(), l.Items());
  }
}
