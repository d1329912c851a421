// The hash and checksum classes; their class information, with DigestSize
// and known answer, is in hash_classes.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hash/block_hash.h"
#include "hash/protection.h"

namespace om {

// A class that differs from its parent only in DigestSize and known answer.
#define OM_HASH_VARIANT(Cls, ParentCls) \
  class Cls : public ParentCls {        \
    OM_PROTECTION_CLASS()               \
  public:                               \
    using ParentCls::ParentCls;         \
  };

// MD4 family: 64-byte blocks, ten 32-bit state words that are also the digest
// buffer.
class THash_MD4 : public TBlockHash<64, 10> {
  OM_PROTECTION_CLASS()
public:
  using TBlockHash::TBlockHash;

protected:
  virtual void CompressBlock(const uint8_t* block);
  // Whole blocks straight from the input; a class may take several at once.
  void CompressBlocks(const uint8_t* data, int64_t count) override;
  void InitState() override;
};

// A member of the MD4 family with a compression function of its own.
#define OM_MD4_FAMILY_CLASS(Cls)                       \
  class Cls : public THash_MD4 {                       \
    OM_PROTECTION_CLASS()                              \
  public:                                              \
    using THash_MD4::THash_MD4;                        \
  protected:                                           \
    void CompressBlock(const uint8_t* block) override; \
  };
OM_MD4_FAMILY_CLASS(THash_MD5)
OM_MD4_FAMILY_CLASS(THash_RipeMD128)
OM_MD4_FAMILY_CLASS(THash_RipeMD160)
OM_MD4_FAMILY_CLASS(THash_RipeMD320)
#undef OM_MD4_FAMILY_CLASS

class THash_RipeMD256 : public THash_MD4 {
  OM_PROTECTION_CLASS()
public:
  using THash_MD4::THash_MD4;
protected:
  void CompressBlock(const uint8_t* block) override;
  void InitState() override;
};

// SHA as first published (no rotation in the message schedule).
class THash_SHA : public THash_RipeMD160 {
  OM_PROTECTION_CLASS()
public:
  using THash_RipeMD160::THash_RipeMD160;
protected:
  void CompressBlock(const uint8_t* block) override;
  void CompressBlocks(const uint8_t* data, int64_t count) override;
  void WriteTail(uint8_t* tail) override { StoreBitCount(tail, true); }
  void FinishDigest() override;
  bool FRotate = false;
};

class THash_SHA1 : public THash_SHA {
  OM_PROTECTION_CLASS()
public:
  using THash_SHA::THash_SHA;
  void Reset() override;
};

class THash_Tiger : public THash_MD4 {
  OM_PROTECTION_CLASS()
public:
  using THash_MD4::THash_MD4;
  void SetTigerPasses(int passes);
  int Passes() const { return FPasses; }
protected:
  void CompressBlock(const uint8_t* block) override;
  void InitState() override;
  uint8_t PadByte() const override { return 0x01; }
  int FPasses = 0;
};

// HAVAL: 128-byte blocks, 3, 4 or 5 passes, output folded to the digest size.
class THash_Haval256 : public TBlockHash<128, 8> {
  OM_PROTECTION_CLASS()
public:
  using TBlockHash::TBlockHash;
  void SelectHavalPasses();
  int Passes() const { return FPasses; }
  void SetPasses(int passes) { FPasses = passes; }

protected:
  void InitState() override;
  void CompressBlocks(const uint8_t* data, int64_t count) override;
  uint8_t PadByte() const override { return 0x01; }
  unsigned TailSize() const override { return 10; }
  void WriteTail(uint8_t* tail) override;
  void FinishDigest() override;

  int FPasses = 0;
  void (*FCompress)(uint32_t* state, const uint8_t* block) = nullptr;
};

OM_HASH_VARIANT(THash_Haval224, THash_Haval256)
OM_HASH_VARIANT(THash_Haval192, THash_Haval256)
OM_HASH_VARIANT(THash_Haval160, THash_Haval256)
OM_HASH_VARIANT(THash_Haval128, THash_Haval256)

// Hash built on the Sapphire II stream cipher state.
class THash_Sapphire320 : public THash {
  OM_PROTECTION_CLASS()
public:
  using THash::THash;
  ~THash_Sapphire320() override;
  void Reset() override;
  void Update(const void* data, int64_t length) override;
  void Finish() override;
  uint8_t* DigestBytes() override { return FDigest; }

protected:
  uint64_t FCount = 0;
  uint8_t FRotor = 0, FRatchet = 0, FAvalanche = 0, FLastPlain = 0, FLastCipher = 0;
  uint8_t FCards[256] = {};
  uint8_t FDigest[40] = {};
};

OM_HASH_VARIANT(THash_Sapphire288, THash_Sapphire320)
OM_HASH_VARIANT(THash_Sapphire256, THash_Sapphire320)
OM_HASH_VARIANT(THash_Sapphire224, THash_Sapphire320)
OM_HASH_VARIANT(THash_Sapphire192, THash_Sapphire320)
OM_HASH_VARIANT(THash_Sapphire160, THash_Sapphire320)
OM_HASH_VARIANT(THash_Sapphire128, THash_Sapphire320)

// Snefru-256, 8 passes: 32-byte blocks, a 16-word working state whose first
// eight words are the chaining value and digest. The data is followed by
// zeros, with no pad byte, and the bit count in the last 8 bytes of a block.
class THash_Snefru : public TBlockHash<32, 16> {
  OM_PROTECTION_CLASS()
public:
  using TBlockHash::TBlockHash;

protected:
  void InitState() override;
  void CompressBlocks(const uint8_t* data, int64_t count) override;
  uint8_t PadByte() const override { return 0x00; }
};

// Square block cipher keyed by the chaining value: 16-byte blocks, the
// ciphertext of each block becomes the new chaining value.
class THash_Square : public TBlockHash<16, 4> {
  OM_PROTECTION_CLASS()
public:
  using TBlockHash::TBlockHash;

protected:
  // One encryption keyed by the chaining value; the low byte of new state word
  // i also takes byte i of tweak.
  void Compress(const uint8_t* block, const uint8_t* tweak);
  void CompressBlocks(const uint8_t* data, int64_t count) override;
  void CompressFinalBlock(const uint8_t* block) override;
  void InitState() override;
};

// Base of the checksums; no algorithm of its own.
class TChecksum : public THash {
  OM_PROTECTION_CLASS()
public:
  using THash::THash;
};

// A checksum whose running value, little-endian, is the digest.
template <class T>
class TRunningChecksum : public TChecksum {
public:
  using TChecksum::TChecksum;
  ~TRunningChecksum() override { SecureZero(FValue, sizeof(FValue)); }
  void Finish() override { FinishHook(); }
  uint8_t* DigestBytes() override { return FValue; }

protected:
  T Value() const {
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v = static_cast<T>(v | (T(FValue[i]) << (8 * i)));
    return v;
  }
  void SetValue(T v) {
    for (size_t i = 0; i < sizeof(T); ++i) FValue[i] = static_cast<uint8_t>(v >> (8 * i));
  }
  // The start value, then the chain hook.
  void ResetTo(T start) {
    SetValue(start);
    ResetHook();
  }
  // The value after each byte: value = step(value, byte).
  template <class Step>
  void UpdateBytes(const void* data, int64_t length, Step step) {
    if (length <= 0 || !data) return;
    const auto* p = static_cast<const uint8_t*>(data);
    T v = Value();
    for (int64_t i = 0; i < length; ++i) v = step(v, p[i]);
    SetValue(v);
  }

  uint8_t FValue[sizeof(T)] = {};
};

class THash_XOR16 : public TRunningChecksum<uint16_t> {
  OM_PROTECTION_CLASS()
public:
  using TRunningChecksum::TRunningChecksum;
  void Reset() override;
  void Update(const void* data, int64_t length) override;
};

// The result does not depend on how the data is divided among Update calls:
// both word alignments are carried along and the total length picks one.
class THash_XOR32 : public TRunningChecksum<uint32_t> {
  OM_PROTECTION_CLASS()
public:
  using TRunningChecksum::TRunningChecksum;
  void Reset() override;
  void Update(const void* data, int64_t length) override;

protected:
  uint64_t FCount = 0;
  uint32_t FEven = 0;  // words at even offsets
  uint32_t FOdd = 0;   // the first word, then words at odd offsets
  uint8_t FLast = 0;   // the byte before the next one
};

class THash_CRC32 : public THash_XOR32 {
  OM_PROTECTION_CLASS()
public:
  using THash_XOR32::THash_XOR32;
  void Reset() override;
  void Update(const void* data, int64_t length) override;
  void Finish() override;
};

class THash_CRC16_CCITT : public THash_XOR16 {
  OM_PROTECTION_CLASS()
public:
  using THash_XOR16::THash_XOR16;
  void Reset() override;
  void Update(const void* data, int64_t length) override;
};

class Thash_CRC16_Standard : public THash_XOR16 {
  OM_PROTECTION_CLASS()
public:
  using THash_XOR16::THash_XOR16;
  void Update(const void* data, int64_t length) override;
};

}  // namespace om
