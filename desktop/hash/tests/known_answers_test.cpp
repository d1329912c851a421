// Known answers of every hash and checksum class on the self-test vector,
// whole and divided at every point, and the published values of the algorithms.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hash/hash_support.h"
#include "hash/hashes.h"
#include "hash/string_formats.h"

using namespace om;

namespace {

std::string Hex(const uint8_t* p, int n) { return BytesToFormatText(p, n, fmtHEXL); }

std::string DigestOf(const TProtectionClass& cls, const std::string& data) {
  return THash::CalcStringDigest(cls, data, nullptr, fmtHEXL);
}

std::string Vector() {
  return std::string(reinterpret_cast<const char*>(GetSelfTestVector()), kSelfTestVectorSize);
}

std::vector<const TProtectionClass*> AllHashClasses() {
  std::vector<const TProtectionClass*> out;
  for (const auto& e : ProtectionClassList()) out.push_back(e.Class);
  return out;
}

}  // namespace

TEST(HashKnownAnswers, EveryRegisteredClassWholeAndSplit) {
  const std::string v = Vector();
  for (const TProtectionClass* cls : AllHashClasses()) {
    SCOPED_TRACE(cls->ClassName);
    TRef<THash> h(static_cast<THash*>(cls->Create(nullptr)));
    const std::string expected = Hex(h->KnownAnswerDigest(), h->DigestSize());
    ASSERT_GT(h->DigestSize(), 0);
    EXPECT_EQ(DigestOf(*cls, v), expected);
    for (size_t a = 0; a <= v.size(); ++a) {
      for (size_t b = a; b <= v.size(); b += 7) {
        h->Reset();
        h->Update(v.data(), static_cast<int64_t>(a));
        h->Update(v.data() + a, static_cast<int64_t>(b - a));
        h->Update(v.data() + b, static_cast<int64_t>(v.size() - b));
        h->Finish();
        EXPECT_EQ(Hex(h->DigestBytes(), h->DigestSize()), expected) << "split " << a << "," << b;
        if (Hex(h->DigestBytes(), h->DigestSize()) != expected) break;
      }
    }
    // Byte by byte.
    h->Reset();
    for (char c : v) h->Update(&c, 1);
    h->Finish();
    EXPECT_EQ(Hex(h->DigestBytes(), h->DigestSize()), expected);
  }
}

TEST(HashKnownAnswers, RegistryHoldsAllClassesInOrder) {
  const auto& list = ProtectionClassList();
  ASSERT_GE(list.size(), 26u);
  EXPECT_EQ(list[0].Text, "Hash=Message Digest 4");
  EXPECT_EQ(list[0].Class, &THash_MD4::ClassInfo);
  EXPECT_EQ(list.back().Text, "Checksum=CRC-32");
  EXPECT_EQ(list.back().Class, &THash_CRC32::ClassInfo);
}

TEST(HashKnownAnswers, PublishedValues) {
  EXPECT_EQ(DigestOf(THash_MD5::ClassInfo, "abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(DigestOf(THash_MD4::ClassInfo, "abc"), "a448017aaf21d8525fc10ae87aa6729d");
  EXPECT_EQ(DigestOf(THash_SHA1::ClassInfo, "abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(DigestOf(THash_SHA::ClassInfo, "abc"), "0164b8a914cd2a5e74c4f7ff082c4d97f1edf880");
  EXPECT_EQ(DigestOf(THash_RipeMD160::ClassInfo, "abc"), "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc");
  EXPECT_EQ(DigestOf(THash_RipeMD128::ClassInfo, "abc"), "c14a12199c66e4ba84636b0f69144c77");
  EXPECT_EQ(DigestOf(THash_Tiger::ClassInfo, "abc"), "2aab1484e8c158f2bfb8c5ff41b57a525129131c957b5f93");
  EXPECT_EQ(DigestOf(THash_Tiger::ClassInfo, ""), "3293ac630c13f0245f92bbb1766e16167a4e58492dde73f3");
  EXPECT_EQ(DigestOf(THash_Haval128::ClassInfo, ""), "c68f39913f901f3ddf44c707357a7d70");
  EXPECT_EQ(DigestOf(THash_Haval160::ClassInfo, ""), "d353c3ae22a25401d257643836d7231a9a95f953");
  EXPECT_EQ(DigestOf(THash_CRC32::ClassInfo, "123456789"), "2639f4cb");
  EXPECT_NE(DigestOf(THash_SHA::ClassInfo, ""), DigestOf(THash_SHA1::ClassInfo, ""));
}

TEST(HashKnownAnswers, HavalDividedUpdates) {
  std::string data(150, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + 3);
  for (const TProtectionClass* cls : {&THash_Haval128::ClassInfo, &THash_Haval160::ClassInfo,
                                      &THash_Haval192::ClassInfo, &THash_Haval224::ClassInfo,
                                      &THash_Haval256::ClassInfo}) {
    TRef<THash> h(static_cast<THash*>(cls->Create(nullptr)));
    h->Reset();
    h->Update(data.data(), 100);
    h->Update(data.data() + 100, 50);
    h->Finish();
    EXPECT_EQ(Hex(h->DigestBytes(), h->DigestSize()), DigestOf(*cls, data)) << cls->ClassName;
  }
}

TEST(HashKnownAnswers, XOR32IndependentOfSplit) {
  std::string data(97, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 13 + 1);
  for (size_t n = 0; n <= data.size(); ++n) {
    const std::string whole = DigestOf(THash_XOR32::ClassInfo, data.substr(0, n));
    for (size_t a = 0; a <= n; ++a) {
      THash_XOR32* h = new THash_XOR32;
      TRef<THash> hold(h);
      h->Reset();
      h->Update(data.data(), static_cast<int64_t>(a));
      h->Update(data.data() + a, static_cast<int64_t>(n - a));
      h->Finish();
      ASSERT_EQ(Hex(h->DigestBytes(), 4), whole) << n << " split at " << a;
    }
  }
  // A one-byte input reads only that byte.
  EXPECT_EQ(DigestOf(THash_XOR32::ClassInfo, std::string(1, '\x5a')), "5a000000");
}

TEST(HashKnownAnswers, SupportRoutines) {
  const char* digits = "123456789";
  EXPECT_EQ(~CalcCRC32(0xFFFFFFFFu, digits, 9), 0xCBF43926u);
  EXPECT_EQ(CalcCRC16(0, digits, 9), 0xBB3D);
  EXPECT_EQ(CalcCRC32(7, nullptr, 5), 7u);
  EXPECT_EQ(CalcCRC16(7, digits, 0), 7);
  uint8_t a[16] = {1, 2, 3}, b[16] = {1, 2, 3};
  EXPECT_EQ(RandomizeBuffer(42, a, 16), RandomizeBuffer(42, b, 16));
  EXPECT_EQ(0, memcmp(a, b, 16));
  EXPECT_EQ(RotateLeft32(0x80000001u, 1), 3u);
  EXPECT_EQ(RotateRight32(3u, 33), 0x80000001u);
  EXPECT_EQ(ReverseBytes32(0x11223344u), 0x44332211u);
  uint32_t words[2] = {0x11223344u, 0xAABBCCDDu};
  ReverseBytes32Buffer(words, words, 2);
  EXPECT_EQ(words[1], 0xDDCCBBAAu);
  EXPECT_GE(GetDetectedCPUType(), 3);
  EXPECT_EQ(GetDefaultFormatId(), 4196);
}

TEST(HashKnownAnswers, RegisterProtectionClass) {
  EXPECT_FALSE(RegisterProtectionClass(nullptr, "x", "Hash"));
  EXPECT_TRUE(RegisterProtectionClass(&THash_MD5::ClassInfo, "  ", "Hash"));
  auto find = [](const TProtectionClass* c) {
    int n = 0;
    std::string text;
    for (const auto& e : ProtectionClassList())
      if (e.Class == c) { ++n; text = e.Text; }
    return std::make_pair(n, text);
  };
  EXPECT_EQ(find(&THash_MD5::ClassInfo), std::make_pair(1, std::string("Hash=MD5")));
  EXPECT_TRUE(RegisterProtectionClass(&THash_MD5::ClassInfo, "Message Digest 5", "Hash"));
  EXPECT_EQ(find(&THash_MD5::ClassInfo), std::make_pair(1, std::string("Hash=Message Digest 5")));
}
