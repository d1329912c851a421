// What the hashes over fixed-size blocks share (the MD4 family, HAVAL, Snefru, Square):
// the byte counter, the block buffer, the chaining state that is also the
// digest, Reset, Update and the padding of Finish. A class brings its start
// state, its compression function and what it changes of the padding.
#pragma once

#include <cstdint>
#include <cstring>

#include "hash/protection.h"

namespace om {

template <unsigned BlockSize, unsigned StateWords>
class TBlockHash : public THash {
public:
  using THash::THash;
  ~TBlockHash() override {
    SecureZero(FDigest, sizeof(FDigest));
    SecureZero(FBuffer, sizeof(FBuffer));
  }

  // Bytes fill the buffer from position counter mod BlockSize; a full buffer is
  // compressed; whole blocks are compressed straight from the input.
  void Update(const void* data, int64_t length) override {
    if (length <= 0 || !data) return;
    const auto* p = static_cast<const uint8_t*>(data);
    const unsigned pos = static_cast<unsigned>(FCount % BlockSize);
    FCount += static_cast<uint64_t>(length);
    if (pos) {
      const unsigned n = BlockSize - pos;
      if (length < n) {
        std::memcpy(FBuffer + pos, p, static_cast<size_t>(length));
        return;
      }
      std::memcpy(FBuffer + pos, p, n);
      CompressBlocks(FBuffer, 1);
      p += n;
      length -= n;
    }
    CompressBlocks(p, length / BlockSize);
    p += length - length % BlockSize;
    length %= BlockSize;
    if (length) std::memcpy(FBuffer, p, static_cast<size_t>(length));
  }

  void Reset() override {
    std::memset(FBuffer, 0, sizeof(FBuffer));
    FCount = 0;
    InitState();
    ResetHook();
  }

  // The pad byte after the data, zeros, and the tail in the last TailSize bytes
  // of the block (in a block of its own when the pad leaves no room); the
  // buffer is left zero-filled.
  void Finish() override {
    unsigned pos = static_cast<unsigned>(FCount % BlockSize);
    FBuffer[pos++] = PadByte();
    std::memset(FBuffer + pos, 0, BlockSize - pos);
    if (pos > BlockSize - TailSize()) {
      CompressFinalBlock(FBuffer);
      std::memset(FBuffer, 0, BlockSize);
    }
    WriteTail(FBuffer + BlockSize - TailSize());
    CompressFinalBlock(FBuffer);
    std::memset(FBuffer, 0, BlockSize);
    FinishDigest();
    FinishHook();
  }

  uint8_t* DigestBytes() override { return reinterpret_cast<uint8_t*>(FDigest); }

protected:
  virtual void InitState() = 0;  // start values of the state words
  virtual void CompressBlocks(const uint8_t* data, int64_t count) = 0;
  // The blocks of the padding; most classes compress them like any other.
  virtual void CompressFinalBlock(const uint8_t* block) { CompressBlocks(block, 1); }
  virtual uint8_t PadByte() const { return 0x80; }
  virtual unsigned TailSize() const { return 8; }
  // Most tails are the bit count, little-endian.
  virtual void WriteTail(uint8_t* tail) { StoreBitCount(tail, false); }
  virtual void FinishDigest() {}  // after the last compression

  // The message length in bits, 64 bits wide, so long inputs keep their true length.
  void StoreBitCount(uint8_t* at, bool bigEndian) const {
    const uint64_t bits = FCount * 8;
    for (int i = 0; i < 8; ++i) at[bigEndian ? 7 - i : i] = static_cast<uint8_t>(bits >> (8 * i));
  }

  uint64_t FCount = 0;
  alignas(8) uint8_t FBuffer[BlockSize] = {};
  alignas(8) uint32_t FDigest[StateWords] = {};
};

}  // namespace om
