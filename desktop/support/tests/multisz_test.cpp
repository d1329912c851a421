#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/chartables.h"

namespace om {
namespace {

// Independent reader of a block of known size: the strings up to the empty one.
std::vector<std::string> readBlock(const char* block, size_t size, bool& wellFormed) {
  std::vector<std::string> out;
  size_t i = 0;
  wellFormed = false;
  while (i < size) {
    size_t start = i;
    while (i < size && block[i]) ++i;
    if (i == size) return out;  // no terminator
    if (i == start) {
      wellFormed = i + 1 == size;
      return out;
    }
    out.emplace_back(block + start, i - start);
    ++i;
  }
  return out;
}

TEST(MultiSz, KnownBlocks) {
  char* block = nullptr;
  ASSERT_EQ(block, nullptr);
  StringsToMultiSz(block, {"A=1", "B=2"});
  const unsigned char expected[] = {0x41, 0x3D, 0x31, 0x00, 0x42, 0x3D, 0x32, 0x00, 0x00};
  EXPECT_EQ(0, std::memcmp(block, expected, sizeof expected));
  EXPECT_EQ(9u, MultiSzSize({"A=1", "B=2"}));
  ReleaseStringBlock(block);
  EXPECT_EQ(nullptr, block);

  StringsToMultiSz(block, {});
  ASSERT_NE(nullptr, block);
  EXPECT_EQ('\0', block[0]);
  EXPECT_EQ(1u, MultiSzSize({}));
  ReleaseStringBlock(block);
  ReleaseStringBlock(block);  // a second release of nothing is harmless
}

TEST(MultiSz, EmptyStringsAreRefusedAndNothingIsAllocated) {
  char* block = nullptr;
  try {
    StringsToMultiSz(block, {"A=1", "", "B=2"});
    FAIL() << "no exception";
  } catch (const EDsError& e) {
    EXPECT_STREQ("String list passed to StringsToMultiSz cannot contain empty strings.", e.what());
  }
  EXPECT_EQ(nullptr, block);
  // A string that starts with a zero character is empty as far as the block
  // goes: accepting it would end the block early and drop the strings after it.
  EXPECT_THROW(StringsToMultiSz(block, {"A=1", std::string("\0X=1", 4), "B=2"}), EDsError);
  EXPECT_EQ(nullptr, block);
}

TEST(MultiSz, StringsEndAtTheirFirstZero) {
  char* block = nullptr;
  StringsToMultiSz(block, {std::string("A=1\0hidden", 10), "B=2"});
  bool ok;
  auto back = readBlock(block, MultiSzSize({std::string("A=1\0hidden", 10), "B=2"}), ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ((std::vector<std::string>{"A=1", "B=2"}), back);
  ReleaseStringBlock(block);
}

TEST(MultiSz, RandomListsRoundTripOrAreRefused) {
  std::mt19937 rng(11);
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::string> list(rng() % 12);
    bool hasEmpty = false;
    std::vector<std::string> expected;
    for (std::string& s : list) {
      size_t n = rng() % 9;
      for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(rng() % 4 == 0 ? 0 : rng() % 256));
      std::string visible = s.substr(0, s.find('\0'));
      if (visible.empty()) hasEmpty = true;
      expected.push_back(visible);
    }
    char* block = nullptr;
    if (hasEmpty) {
      EXPECT_THROW(StringsToMultiSz(block, list), EDsError);
      EXPECT_EQ(nullptr, block);
      continue;
    }
    StringsToMultiSz(block, list);
    bool wellFormed;
    EXPECT_EQ(expected, readBlock(block, MultiSzSize(list), wellFormed));
    EXPECT_TRUE(wellFormed);
    ReleaseStringBlock(block);
  }
}

TEST(MultiSz, AllocateStringBlockSizes) {
  char* block = reinterpret_cast<char*>(1);
  AllocateStringBlock(block, 0);
  EXPECT_EQ(nullptr, block);
  AllocateStringBlock(block, -5);
  EXPECT_EQ(nullptr, block);
  AllocateStringBlock(block, 3);
  ASSERT_NE(nullptr, block);
  block[2] = 'x';
  ReleaseStringBlock(block);
}

TEST(CaseTables, SwappedCaseFromTypesAndCases) {
  ResetCaseTables();
  uint16_t types[256] = {};
  uint8_t lower[256], upper[256];
  for (int c = 0; c < 256; ++c) {
    lower[c] = upper[c] = static_cast<uint8_t>(c);
    if (c >= 'A' && c <= 'Z') {
      types[c] = kC1Upper | kC1Alpha;
      lower[c] = static_cast<uint8_t>(c + 32);
    }
    if (c >= 'a' && c <= 'z') {
      types[c] = kC1Lower | kC1Alpha;
      upper[c] = static_cast<uint8_t>(c - 32);
    }
    if (c >= '0' && c <= '9') types[c] = kC1Digit;
  }
  // A code typed as neither case keeps itself even if a mapping exists.
  lower[0xC0] = 0xE0;
  SetCharTypeTable(types);
  SetCaseTables(lower, upper);
  EXPECT_TRUE(CaseTablesFilled());
  const uint8_t* swapped = SwappedCaseTable();
  EXPECT_EQ('a', swapped['A']);
  EXPECT_EQ('A', swapped['a']);
  for (int c = '0'; c <= '9'; ++c) EXPECT_EQ(c, swapped[c]);
  EXPECT_EQ(0xC0, swapped[0xC0]);
  EXPECT_EQ(0xE0, LowerCaseTable()[0xC0]);
  EXPECT_TRUE(IsUpperChar('Q'));
  EXPECT_FALSE(IsUpperChar('q'));
  EXPECT_TRUE(IsLowerChar('q'));
  // Later fills do nothing.
  uint8_t other[256] = {};
  SetCaseTables(other, other);
  EXPECT_EQ('a', LowerCaseTable()['A']);
  ResetCaseTables();
  EXPECT_FALSE(CaseTablesFilled());
}

}  // namespace
}  // namespace om
