// Protection chain, CalcStringDigest, and stream, file and string processing.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "framework/fileidentity.h"
#include "platform/testing/temp_folder.h"
#include "hash/hash_support.h"
#include "hash/hashes.h"
#include "hash/string_formats.h"

using namespace om;
namespace fs = std::filesystem;

namespace {

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

class ProtectionFiles : public ::testing::Test {
protected:
  void SetUp() override { FTemp.makeFolder("sub"); }
  om::testing::TempFolder FTemp{"om-hash-test-"};
  const fs::path FDir = FTemp.fsPath();
};

}  // namespace

TEST(Protection, CalcStringDigestOfMD5) {
  EXPECT_EQ(THash::CalcStringDigest(THash_MD5::ClassInfo, "", nullptr, -1), "1B2M2Y8AsgTpgAmY7PhCfg==");
  const std::string text = "The quick brown fox jumps over the lazy dog";
  std::string md5 = FormatTextToBytes("9e107d9d372bb6826bd81d3542a419d6", fmtHEX);
  EXPECT_EQ(THash::CalcStringDigest(THash_MD5::ClassInfo, text, nullptr, -1), BytesToFormatText(md5, fmtMIME64));
  EXPECT_EQ(THash::CalcStringDigest(THash_MD5::ClassInfo, text, nullptr, fmtCOPY), md5);
  EXPECT_THROW(THash::CalcStringDigest(THash_MD5::ClassInfo, text, nullptr, 5), EStringFormat);
}

TEST(Protection, CircularChainsAreRefused) {
  TRef<THash> a(new THash_MD5), b(new THash_SHA1), c(new THash_CRC32);
  a->SetChainedProtection(b.get());
  b->SetChainedProtection(c.get());
  try {
    c->SetChainedProtection(a.get());
    FAIL() << "no error";
  } catch (const EProtection& e) {
    EXPECT_EQ(e.Message(), "Circular Protection detected, Protection Object is invalid.");
  }
  EXPECT_EQ(c->GetChainedProtection(), nullptr);
  EXPECT_THROW(a->SetChainedProtection(a.get()), EProtection);
  EXPECT_EQ(a->GetChainedProtection(), b.get());
  // The chain holds counted references.
  EXPECT_EQ(b->RefCount(), 2);
  a->SetChainedProtection(nullptr);
  EXPECT_EQ(b->RefCount(), 1);
  EXPECT_TRUE(IsLiveObjectOf(b.get(), THash::ClassInfo));
  EXPECT_FALSE(IsLiveObjectOf(b.get(), THash_MD5::ClassInfo));
  EXPECT_FALSE(IsLiveObjectOf(nullptr, TProtection::ClassInfo));
}

TEST(Protection, EncodeDecodeScrambleAndWipe) {
  const std::string data = RandomBytes(1000, 7);
  for (const auto& entry : ProtectionClassList()) {
    SCOPED_TRACE(entry.Class->ClassName);
    TRef<TProtection> p(entry.Class->Create(nullptr));
    std::string buf = data;
    p->ProcessBuffer(&buf[0], static_cast<int64_t>(buf.size()), actEncode);
    // A checksum that starts at 0 keeps a zero key stream; every hash changes the data.
    if (!entry.Class->InheritsFrom(TChecksum::ClassInfo) || entry.Class->InheritsFrom(THash_CRC32::ClassInfo) ||
        entry.Class == &THash_CRC16_CCITT::ClassInfo) {
      EXPECT_TRUE(buf != data);
    }
    p->ProcessBuffer(&buf[0], static_cast<int64_t>(buf.size()), actDecode);
    EXPECT_TRUE(buf == data);
    std::string s1 = data, s2 = data;
    p->ProcessBuffer(&s1[0], static_cast<int64_t>(s1.size()), actScramble);
    p->ProcessBuffer(&s2[0], static_cast<int64_t>(s2.size()), actScramble);
    EXPECT_TRUE(s1 == s2);
    EXPECT_TRUE(s1 != data);
    std::string w = data;
    p->ProcessBuffer(&w[0], static_cast<int64_t>(w.size()), actWipe);
    EXPECT_TRUE(w != data);
  }
  // A chain encodes through every link and decodes in reverse order.
  TRef<THash> chain(new THash_MD5(new THash_SHA1(new THash_CRC32)));
  std::string buf = data;
  chain->ProcessBuffer(&buf[0], 1000, actEncode);
  chain->ProcessBuffer(&buf[0], 1000, actDecode);
  EXPECT_EQ(buf, data);
  // Actions outside AllowedActions leave the data alone; a hash without a digest too.
  TRef<THash> md5(new THash_MD5);
  md5->AllowedActions = 1u << actHash;
  buf = data;
  md5->ProcessBuffer(&buf[0], 1000, actEncode);
  EXPECT_EQ(buf, data);
  TRef<THash> base(new THash);
  base->ProcessBuffer(&buf[0], 1000, actScramble);
  EXPECT_EQ(buf, data);
}

TEST(Protection, ProcessStringAndStream) {
  TRef<THash> md5(new THash_MD5);
  for (ProtectionAction a : {actEncode, actDecode, actScramble, actHash, actWipe})
    EXPECT_EQ(md5->ProcessString("", a, -1), "");
  const std::string data = RandomBytes(10000, 3);
  std::string text = md5->ProcessString(data, actEncode, fmtMIME64);
  EXPECT_EQ(md5->ProcessString(text, actDecode, fmtMIME64), data);
  // Hashing a stream equals hashing its bytes; size -1 takes the whole stream from 0.
  TMemoryStream stream(data);
  stream.SetPosition(500);
  md5->ProcessStream(&stream, nullptr, -1, actHash);
  EXPECT_EQ(BytesToFormatText(md5->DigestBytes(), 16, -1),
            THash::CalcStringDigest(THash_MD5::ClassInfo, data, nullptr, -1));
  md5->ProcessStream(nullptr, nullptr, -1, actHash);  // nothing to do
}

TEST(Protection, KeyedHash) {
  TRef<THash> plain(new THash_MD5);
  TRef<THash> keyed(new THash_MD5(new TMAC("secret")));
  const std::string data = "message";
  plain->Reset();
  plain->Update(data.data(), 7);
  plain->Finish();
  keyed->Reset();
  keyed->Update(data.data(), 7);
  keyed->Finish();
  EXPECT_NE(BytesToFormatText(plain->DigestBytes(), 16, fmtHEX), BytesToFormatText(keyed->DigestBytes(), 16, fmtHEX));
  EXPECT_EQ(THash::CalcStringDigest(THash_MD5::ClassInfo, data, new TMAC("secret"), fmtHEX),
            BytesToFormatText(keyed->DigestBytes(), 16, fmtHEX));
  EXPECT_EQ(THash::CalcStringDigest(THash_MD5::ClassInfo, data, new TMAC(""), fmtHEX),
            BytesToFormatText(plain->DigestBytes(), 16, fmtHEX));
}

TEST_F(ProtectionFiles, EncodeThenDecodeAndHash) {
  const std::string data = RandomBytes(20000, 11);
  const fs::path src = FDir / "plain.bin", enc = FDir / "enc.bin", dec = FDir / "dec.bin";
  FTemp.write("plain.bin", data);
  TRef<THash> h(new THash_SHA1);
  h->ProcessFile(src.string(), enc.string(), actEncode);
  EXPECT_NE(FTemp.read("enc.bin"), data);
  EXPECT_EQ(FTemp.read("enc.bin").size(), data.size());
  h->ProcessFile(enc.string(), dec.string(), actDecode);
  EXPECT_EQ(FTemp.read("dec.bin"), data);
  h->ProcessFile(src.string(), "", actHash);
  EXPECT_EQ(BytesToFormatText(h->DigestBytes(), 20, -1), THash::CalcStringDigest(THash_SHA1::ClassInfo, data, nullptr, -1));
  // A shorter result replaces a longer file completely.
  FTemp.write("dec.bin", std::string(50000, 'z'));
  h->ProcessFile(enc.string(), dec.string(), actDecode);
  EXPECT_EQ(FTemp.read("dec.bin"), data);
  EXPECT_THROW(h->ProcessFile((FDir / "missing").string(), dec.string(), actEncode), EStreamError);
}

TEST_F(ProtectionFiles, InPlaceThroughTwoSpellingsLosesNothing) {
  const std::string data = RandomBytes(9000, 5);
  const fs::path file = FDir / "sub" / "data.bin";
  std::vector<std::string> others = {(FDir / "sub" / ".." / "sub" / "data.bin").string(), (FDir / "sub" / "." / "data.bin").string()};
  std::error_code ec;
  FTemp.write("sub/data.bin", data);
  fs::create_hard_link(file, FDir / "link.bin", ec);
  if (!ec) others.push_back((FDir / "link.bin").string());
  const fs::path oldCwd = fs::current_path();
  fs::current_path(FDir);
  others.push_back((fs::path("sub") / "data.bin").string());
  for (const std::string& other : others) {
    SCOPED_TRACE(other);
    ASSERT_TRUE(IsSameFile(file.string(), other));
    TRef<THash> h(new THash_RipeMD160);
    h->ProcessFile(file.string(), other, actEncode);
    std::string encoded = FTemp.read("sub/data.bin");
    ASSERT_EQ(encoded.size(), data.size());
    EXPECT_NE(encoded, data);
    h->ProcessFile(other, file.string(), actDecode);
    EXPECT_EQ(FTemp.read("sub/data.bin"), data);
  }
  // An empty destination name also works in place.
  TRef<THash> h(new THash_MD5);
  h->ProcessFile(file.string(), " ", actEncode);
  h->ProcessFile(file.string(), "", actDecode);
  EXPECT_EQ(FTemp.read("sub/data.bin"), data);
  EXPECT_FALSE(IsSameFile(file.string(), (FDir / "nothing").string()));
  fs::current_path(oldCwd);
}
