// Known answers of every hash and checksum class on the self-test vector,
// whole and divided at every point, and the published values of the algorithms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hash/hash_accel.h"
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

// Runs the body once with the routines on instruction set extensions (where the
// processor has them) and once with the portable routines only.
class HashBothPaths : public ::testing::TestWithParam<bool> {
protected:
  void SetUp() override { SetAcceleratedRoutinesEnabled(GetParam()); }
  void TearDown() override { SetAcceleratedRoutinesEnabled(true); }
};
INSTANTIATE_TEST_SUITE_P(Routines, HashBothPaths, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Accelerated" : "Portable"; });

TEST_P(HashBothPaths, EveryRegisteredClassWholeAndSplit) {
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
    // In pieces of every size, byte by byte first.
    for (size_t piece = 1; piece <= v.size(); ++piece) {
      h->Reset();
      for (size_t at = 0; at < v.size(); at += piece)
        h->Update(v.data() + at, static_cast<int64_t>(std::min(piece, v.size() - at)));
      h->Finish();
      EXPECT_EQ(Hex(h->DigestBytes(), h->DigestSize()), expected) << "pieces of " << piece;
    }
  }
}

TEST(HashKnownAnswers, RegistryHoldsAllClassesInOrder) {
  const auto& list = ProtectionClassList();
  ASSERT_EQ(list.size(), 28u);
  EXPECT_EQ(list[0].Text, "Hash=Message Digest 4");
  EXPECT_EQ(list[0].Class, &THash_MD4::ClassInfo);
  EXPECT_EQ(list[20].Text, "Hash=Snefru-256");
  EXPECT_EQ(list[20].Class, &THash_Snefru::ClassInfo);
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
  EXPECT_EQ(RotateBitsLeft32(0x80000001u, 1), 3u);
  EXPECT_EQ(RotateBitsRight32(3u, 33), 0x80000001u);
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

// The shut-down that balances the program's start-ups empties the registries;
// a later use makes them afresh.
TEST(HashKnownAnswers, BalancedShutdownEmptiesTheRegistries) {
  auto md5 = [] {
    for (const auto& e : ProtectionClassList())
      if (e.Class == &THash_MD5::ClassInfo) return e.Text;
    return std::string();
  };
  HashLibraryStartup();
  HashLibraryStartup();
  ASSERT_TRUE(RegisterProtectionClass(&THash_MD5::ClassInfo, "Renamed", "Hash"));
  HashLibraryShutdown();
  EXPECT_EQ(md5(), "Hash=Renamed");
  HashLibraryShutdown();
  EXPECT_EQ(md5(), "Hash=Message Digest 5");
  EXPECT_FALSE(StringFormatList().empty());
}

namespace {
// Reaches the counter and the block function, to finish as if 256 MiB and more
// had been hashed without hashing them.
template <class Cls, unsigned BlockSize>
class TCountProbe : public Cls {
public:
  void AddToCount(uint64_t n) { this->FCount += n; }
  // The padding block after whole blocks, with the full 64-bit bit count.
  void FinishByHand(uint64_t bits) {
    uint8_t last[BlockSize] = {this->PadByte()};
    for (int i = 0; i < 8; ++i) last[BlockSize - 8 + i] = static_cast<uint8_t>(bits >> (8 * i));
    this->CompressFinalBlock(last);
  }
  std::string Digest() { return Hex(this->DigestBytes(), this->DigestSize()); }
};

template <class Cls, unsigned BlockSize>
void ExpectBitCountIn64Bits() {
  using Probe = TCountProbe<Cls, BlockSize>;
  const std::string v = Vector();
  for (uint64_t extra : {uint64_t(0), uint64_t(1) << 28, uint64_t(3) << 28, uint64_t(5) << 32}) {
    SCOPED_TRACE(extra);
    Probe* a = new Probe;
    TRef<THash> holdA(a);
    a->Reset();
    a->Update(v.data(), 32);
    a->AddToCount(extra);
    a->Finish();
    // The same chaining value finished by hand.
    Probe* b = new Probe;
    TRef<THash> holdB(b);
    b->Reset();
    b->Update(v.data(), 32);
    b->FinishByHand((32 + extra) * 8);
    EXPECT_EQ(a->Digest(), b->Digest());
    if (extra == 0) {
      EXPECT_EQ(a->Digest(), Hex(a->KnownAnswerDigest(), a->DigestSize()));
    }
  }
}
}  // namespace

TEST(HashKnownAnswers, SquareAndSnefruCountBitsIn64Bits) {
  {
    SCOPED_TRACE("Square");
    ExpectBitCountIn64Bits<THash_Square, 16>();
  }
  {
    SCOPED_TRACE("Snefru");
    ExpectBitCountIn64Bits<THash_Snefru, 32>();
  }
}

TEST(HashKnownAnswers, SquareIndependentOfSplit) {
  std::string data(83, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 29 + 5);
  for (size_t n = 0; n <= data.size(); n += 3) {
    const std::string whole = DigestOf(THash_Square::ClassInfo, data.substr(0, n));
    for (size_t a = 0; a <= n; ++a) {
      TRef<THash> h(new THash_Square);
      h->Reset();
      h->Update(data.data(), static_cast<int64_t>(a));
      h->Update(data.data() + a, static_cast<int64_t>(n - a));
      h->Finish();
      ASSERT_EQ(Hex(h->DigestBytes(), 16), whole) << n << " split at " << a;
    }
  }
}

namespace {
uint32_t BitwiseCrc32(uint32_t crc, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return crc;
}
}  // namespace

TEST(HashKnownAnswers, ProcessorFeatures) {
  const TProcessorFeatures& f = ProcessorFeatures();
  std::printf("processor type %d, SSE2 %d, SSSE3 %d, SSE4.1 %d, PCLMULQDQ %d, SHA %d, routines built %d\n", f.CPUType,
              f.Sse2, f.Ssse3, f.Sse41, f.Pclmul, f.Sha, HaveAcceleratedRoutines());
  EXPECT_EQ(f.CPUType, GetDetectedCPUType());
  EXPECT_TRUE(!f.Sha || (f.Ssse3 && f.Sse41));
  EXPECT_TRUE(!f.Pclmul || f.Sse2);
}

// Lengths, offsets and start values across the table and folding thresholds.
TEST_P(HashBothPaths, Crc32AgainstBitwiseRegister) {
  std::vector<uint8_t> data(5000);
  uint32_t seed = 7;
  for (auto& b : data) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 23);
  const size_t lengths[] = {0, 1, 15, 16, 17, 63, 64, 65, 127, 128, 255, 256, 257, 319, 320, 321,
                            383, 384, 1000, 1023, 1024, 1025, 4093, 4096, 4990};
  for (size_t n : lengths)
    for (size_t offset : {0, 1, 3, 8}) {
      for (uint32_t start : {0u, 0xFFFFFFFFu, 0x12345678u}) {
        ASSERT_EQ(CalcCRC32(start, data.data() + offset, static_cast<int64_t>(n)),
                  BitwiseCrc32(start, data.data() + offset, n))
            << n << " at " << offset << " from " << start;
      }
    }
}

// SHA-1 over many blocks in one Update, against the same data fed in pieces
// that go through the buffer one block at a time.
TEST_P(HashBothPaths, Sha1ManyBlocks) {
  std::string data(64 * 40 + 13, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31 + (i >> 7));
  const std::string whole = DigestOf(THash_SHA1::ClassInfo, data);
  TRef<THash> h(new THash_SHA1);
  h->Reset();
  for (size_t i = 0; i < data.size(); i += 61) h->Update(data.data() + i, static_cast<int64_t>(std::min<size_t>(61, data.size() - i)));
  h->Finish();
  EXPECT_EQ(Hex(h->DigestBytes(), 20), whole);
  // One million times "a": the published SHA-1 value.
  const std::string million(1000000, 'a');
  EXPECT_EQ(DigestOf(THash_SHA1::ClassInfo, million), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  EXPECT_EQ(DigestOf(THash_MD5::ClassInfo, million), "7707d6ae4e027c70eea2a935c2296f21");
}
