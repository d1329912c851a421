// The hash and checksum classes.
#pragma once

#include <cstdint>

#include "hash/protection.h"

namespace om {

// MD4 family: 64-byte blocks, 64-bit byte counter, ten 32-bit state words that
// are also the digest buffer.
class THash_MD4 : public THash {
  OM_PROTECTION_CLASS()
public:
  using THash::THash;
  ~THash_MD4() override;
  const uint8_t* KnownAnswerDigest() const override;
  void Reset() override;
  void Update(const void* data, int64_t length) override;
  void Finish() override;
  uint8_t* DigestBytes() override { return reinterpret_cast<uint8_t*>(FDigest); }

protected:
  virtual void CompressBlock(const uint8_t* block);
  virtual void InitState();                 // start values of the state words
  virtual uint8_t PadByte() const { return 0x80; }
  virtual bool BigEndianCount() const { return false; }
  virtual void FinishDigest() {}            // after the last compression
  // Whole blocks straight from the input; a class may take several at once.
  virtual void CompressBlocks(const uint8_t* data, int64_t count);

  uint64_t FCount = 0;
  alignas(8) uint8_t FBuffer[64] = {};
  alignas(8) uint32_t FDigest[10] = {};
};

class THash_MD5 : public THash_MD4 {
  OM_PROTECTION_CLASS()
public:
  using THash_MD4::THash_MD4;
  const uint8_t* KnownAnswerDigest() const override;
protected:
  void CompressBlock(const uint8_t* block) override;
};

class THash_RipeMD128 : public THash_MD4 {
  OM_PROTECTION_CLASS()
public:
  using THash_MD4::THash_MD4;
  const uint8_t* KnownAnswerDigest() const override;
protected:
  void CompressBlock(const uint8_t* block) override;
};

class THash_RipeMD160 : public THash_MD4 {
  OM_PROTECTION_CLASS()
public:
  using THash_MD4::THash_MD4;
  const uint8_t* KnownAnswerDigest() const override;
protected:
  void CompressBlock(const uint8_t* block) override;
};

class THash_RipeMD256 : public THash_MD4 {
  OM_PROTECTION_CLASS()
public:
  using THash_MD4::THash_MD4;
  const uint8_t* KnownAnswerDigest() const override;
protected:
  void CompressBlock(const uint8_t* block) override;
  void InitState() override;
};

class THash_RipeMD320 : public THash_MD4 {
  OM_PROTECTION_CLASS()
public:
  using THash_MD4::THash_MD4;
  const uint8_t* KnownAnswerDigest() const override;
protected:
  void CompressBlock(const uint8_t* block) override;
};

// SHA as first published (no rotation in the message schedule).
class THash_SHA : public THash_RipeMD160 {
  OM_PROTECTION_CLASS()
public:
  using THash_RipeMD160::THash_RipeMD160;
  const uint8_t* KnownAnswerDigest() const override;
protected:
  void CompressBlock(const uint8_t* block) override;
  void CompressBlocks(const uint8_t* data, int64_t count) override;
  bool BigEndianCount() const override { return true; }
  void FinishDigest() override;
  bool FRotate = false;
};

class THash_SHA1 : public THash_SHA {
  OM_PROTECTION_CLASS()
public:
  using THash_SHA::THash_SHA;
  const uint8_t* KnownAnswerDigest() const override;
  void Reset() override;
};

class THash_Tiger : public THash_MD4 {
  OM_PROTECTION_CLASS()
public:
  using THash_MD4::THash_MD4;
  const uint8_t* KnownAnswerDigest() const override;
  void SetTigerPasses(int passes);
  int Passes() const { return FPasses; }
protected:
  void CompressBlock(const uint8_t* block) override;
  void InitState() override;
  uint8_t PadByte() const override { return 0x01; }
  int FPasses = 0;
};

// HAVAL: 128-byte blocks, 3, 4 or 5 passes, output folded to the digest size.
class THash_Haval256 : public THash {
  OM_PROTECTION_CLASS()
public:
  using THash::THash;
  ~THash_Haval256() override;
  const uint8_t* KnownAnswerDigest() const override;
  void Reset() override;
  void Update(const void* data, int64_t length) override;
  void Finish() override;
  uint8_t* DigestBytes() override { return reinterpret_cast<uint8_t*>(FDigest); }
  void SelectHavalPasses();
  int Passes() const { return FPasses; }
  void SetPasses(int passes) { FPasses = passes; }

protected:
  void CompressBlocks(const uint8_t* data, int64_t count);
  void TailorDigest();

  uint64_t FCount = 0;
  alignas(8) uint8_t FBuffer[128] = {};
  uint32_t FDigest[8] = {};
  int FPasses = 0;
  void (*FCompress)(uint32_t* state, const uint8_t* block) = nullptr;
};

class THash_Haval224 : public THash_Haval256 {
  OM_PROTECTION_CLASS()
public:
  using THash_Haval256::THash_Haval256;
  const uint8_t* KnownAnswerDigest() const override;
};
class THash_Haval192 : public THash_Haval256 {
  OM_PROTECTION_CLASS()
public:
  using THash_Haval256::THash_Haval256;
  const uint8_t* KnownAnswerDigest() const override;
};
class THash_Haval160 : public THash_Haval256 {
  OM_PROTECTION_CLASS()
public:
  using THash_Haval256::THash_Haval256;
  const uint8_t* KnownAnswerDigest() const override;
};
class THash_Haval128 : public THash_Haval256 {
  OM_PROTECTION_CLASS()
public:
  using THash_Haval256::THash_Haval256;
  const uint8_t* KnownAnswerDigest() const override;
};

// Hash built on the Sapphire II stream cipher state.
class THash_Sapphire320 : public THash {
  OM_PROTECTION_CLASS()
public:
  using THash::THash;
  ~THash_Sapphire320() override;
  const uint8_t* KnownAnswerDigest() const override;
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

#define OM_SAPPHIRE_CLASS(N)                                   \
  class THash_Sapphire##N : public THash_Sapphire320 {         \
    OM_PROTECTION_CLASS()                                      \
  public:                                                      \
    using THash_Sapphire320::THash_Sapphire320;                \
    const uint8_t* KnownAnswerDigest() const override;         \
  };
OM_SAPPHIRE_CLASS(288)
OM_SAPPHIRE_CLASS(256)
OM_SAPPHIRE_CLASS(224)
OM_SAPPHIRE_CLASS(192)
OM_SAPPHIRE_CLASS(160)
OM_SAPPHIRE_CLASS(128)
#undef OM_SAPPHIRE_CLASS

// Square block cipher keyed by the chaining value: 16-byte blocks, the
// ciphertext of each block becomes the new chaining value.
class THash_Square : public THash {
  OM_PROTECTION_CLASS()
public:
  using THash::THash;
  ~THash_Square() override;
  const uint8_t* KnownAnswerDigest() const override;
  void Reset() override;
  void Update(const void* data, int64_t length) override;
  void Finish() override;
  uint8_t* DigestBytes() override { return reinterpret_cast<uint8_t*>(FDigest); }

protected:
  void Compress(const uint8_t* block, const uint8_t* tweak);

  uint64_t FCount = 0;
  uint8_t FBuffer[16] = {};
  uint32_t FDigest[4] = {};
};

// Base of the checksums; no algorithm of its own.
class TChecksum : public THash {
  OM_PROTECTION_CLASS()
public:
  using THash::THash;
};

class THash_XOR16 : public TChecksum {
  OM_PROTECTION_CLASS()
public:
  using TChecksum::TChecksum;
  ~THash_XOR16() override;
  const uint8_t* KnownAnswerDigest() const override;
  void Reset() override;
  void Update(const void* data, int64_t length) override;
  void Finish() override;
  uint8_t* DigestBytes() override { return FValue; }

protected:
  uint16_t Value() const { return static_cast<uint16_t>(FValue[0] | (FValue[1] << 8)); }
  void SetValue(uint16_t v) { FValue[0] = static_cast<uint8_t>(v); FValue[1] = static_cast<uint8_t>(v >> 8); }
  uint8_t FValue[2] = {};
};

// The result does not depend on how the data is divided among Update calls:
// both word alignments are carried along and the total length picks one.
class THash_XOR32 : public TChecksum {
  OM_PROTECTION_CLASS()
public:
  using TChecksum::TChecksum;
  ~THash_XOR32() override;
  const uint8_t* KnownAnswerDigest() const override;
  void Reset() override;
  void Update(const void* data, int64_t length) override;
  void Finish() override;
  uint8_t* DigestBytes() override { return FValue; }

protected:
  uint32_t Value() const;
  void SetValue(uint32_t v);
  uint8_t FValue[4] = {};
  uint64_t FCount = 0;
  uint32_t FEven = 0;  // words at even offsets
  uint32_t FOdd = 0;   // the first word, then words at odd offsets
  uint8_t FLast = 0;   // the byte before the next one
};

class THash_CRC32 : public THash_XOR32 {
  OM_PROTECTION_CLASS()
public:
  using THash_XOR32::THash_XOR32;
  const uint8_t* KnownAnswerDigest() const override;
  void Reset() override;
  void Update(const void* data, int64_t length) override;
  void Finish() override;
};

class THash_CRC16_CCITT : public THash_XOR16 {
  OM_PROTECTION_CLASS()
public:
  using THash_XOR16::THash_XOR16;
  const uint8_t* KnownAnswerDigest() const override;
  void Reset() override;
  void Update(const void* data, int64_t length) override;
};

class Thash_CRC16_Standard : public THash_XOR16 {
  OM_PROTECTION_CLASS()
public:
  using THash_XOR16::THash_XOR16;
  const uint8_t* KnownAnswerDigest() const override;
  void Update(const void* data, int64_t length) override;
};

}  // namespace om
