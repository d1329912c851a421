// XOR-16, XOR-32, CRC-32 and the two CRC-16 checksums.
#include <array>
#include <cstring>

#include "hash/hash_support.h"
#include "hash/hashes.h"

namespace om {

namespace {

constexpr std::array<uint16_t, 256> CcittTable() {
  std::array<uint16_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t c = static_cast<uint16_t>(i << 8);
    for (int k = 0; k < 8; ++k) c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : (c << 1));
    t[i] = c;
  }
  return t;
}
constexpr std::array<uint16_t, 256> kCcittTable = CcittTable();
static_assert(kCcittTable[1] == 0x1021, "CCITT table");

inline uint16_t Rol16(uint16_t v, unsigned n) { return static_cast<uint16_t>((v << n) | (v >> (16 - n))); }
inline uint32_t Rol32(uint32_t v, unsigned n) { return (v << n) | (v >> (32 - n)); }

}  // namespace

// --- XOR-16 and the CRC-16 pair ---------------------------------------------

void THash_XOR16::Reset() { ResetTo(0); }

void THash_XOR16::Update(const void* data, int64_t length) {
  UpdateBytes(data, length, [](uint16_t v, uint8_t b) { return static_cast<uint16_t>(Rol16(v, 5) ^ b); });
}

void THash_CRC16_CCITT::Reset() { ResetTo(0xFFFF); }

void THash_CRC16_CCITT::Update(const void* data, int64_t length) {
  UpdateBytes(data, length,
              [](uint16_t v, uint8_t b) { return static_cast<uint16_t>(((v << 8) | b) ^ kCcittTable[v >> 8]); });
}

void Thash_CRC16_Standard::Update(const void* data, int64_t length) {
  SetValue(CalcCRC16(Value(), data, length));
}

// --- XOR-32 ----------------------------------------------------------------
// Over a whole input the checksum is: for an even length, every little-endian
// word at an even offset, each step rotating the value left by 5 first; for an
// odd length, the first word (bytes 0 and 1, or byte 0 alone) without rotation
// and then every word at an odd offset. Both sums are kept while the data comes
// in, so the digest is the same however the input is divided.

void THash_XOR32::Reset() {
  FCount = 0;
  FEven = FOdd = 0;
  FLast = 0;
  ResetTo(0);
}

void THash_XOR32::Update(const void* data, int64_t length) {
  if (length <= 0 || !data) return;
  const auto* p = static_cast<const uint8_t*>(data);
  if (FCount == 0) FEven = FOdd = Value();  // the start value (a wipe randomises it)
  uint32_t even = FEven, odd = FOdd;
  uint8_t last = FLast;
  uint64_t pos = FCount;
  int64_t i = 0;
  if (pos == 0) {
    odd ^= p[0];
    last = p[0];
    ++pos;
    ++i;
  }
  if (pos == 1 && i < length) {
    odd ^= uint32_t(p[i]) << 8;
    even = Rol32(even, 5) ^ (last | (uint32_t(p[i]) << 8));
    last = p[i];
    ++pos;
    ++i;
  }
  for (; i < length; ++i, ++pos) {
    const uint32_t word = last | (uint32_t(p[i]) << 8);
    if (pos & 1) even = Rol32(even, 5) ^ word;
    else odd = Rol32(odd, 5) ^ word;
    last = p[i];
  }
  FEven = even;
  FOdd = odd;
  FLast = last;
  FCount = pos;
  SetValue((pos & 1) ? odd : even);
}

// --- CRC-32 ----------------------------------------------------------------

void THash_CRC32::Reset() { ResetTo(0xFFFFFFFFu); }

void THash_CRC32::Update(const void* data, int64_t length) { SetValue(CalcCRC32(Value(), data, length)); }

void THash_CRC32::Finish() {
  SetValue(~Value());
  FinishHook();
}

}  // namespace om
