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

const uint8_t kXOR16Answer[] = {0x79, 0xe8};
const uint8_t kXOR32Answer[] = {0x8d, 0xad, 0x89, 0x7f};
const uint8_t kCRC32Answer[] = {0x58, 0xee, 0x1f, 0x31};
const uint8_t kCRC16CCITTAnswer[] = {0xb0, 0xd1};
const uint8_t kCRC16StandardAnswer[] = {0xed, 0x75};

inline uint16_t Rol16(uint16_t v, unsigned n) { return static_cast<uint16_t>((v << n) | (v >> (16 - n))); }
inline uint32_t Rol32(uint32_t v, unsigned n) { return (v << n) | (v >> (32 - n)); }

}  // namespace

OM_DEFINE_HASH(TChecksum, THash, 0, nullptr)
OM_DEFINE_HASH(THash_XOR16, TChecksum, 2, kXOR16Answer)
OM_DEFINE_HASH(THash_XOR32, TChecksum, 4, kXOR32Answer)
OM_DEFINE_HASH(THash_CRC32, THash_XOR32, 4, kCRC32Answer)
OM_DEFINE_HASH(THash_CRC16_CCITT, THash_XOR16, 2, kCRC16CCITTAnswer)
OM_DEFINE_HASH(Thash_CRC16_Standard, THash_XOR16, 2, kCRC16StandardAnswer)

// --- XOR-16 and the CRC-16 pair ---------------------------------------------

THash_XOR16::~THash_XOR16() { SecureZero(FValue, sizeof(FValue)); }

void THash_XOR16::Reset() {
  SetValue(0);
  ResetHook();
}

void THash_XOR16::Update(const void* data, int64_t length) {
  if (length <= 0 || !data) return;
  const auto* p = static_cast<const uint8_t*>(data);
  uint16_t v = Value();
  for (int64_t i = 0; i < length; ++i) v = static_cast<uint16_t>(Rol16(v, 5) ^ p[i]);
  SetValue(v);
}

void THash_XOR16::Finish() { FinishHook(); }

void THash_CRC16_CCITT::Reset() {
  SetValue(0xFFFF);
  ResetHook();
}

void THash_CRC16_CCITT::Update(const void* data, int64_t length) {
  if (length <= 0 || !data) return;
  const auto* p = static_cast<const uint8_t*>(data);
  uint16_t v = Value();
  for (int64_t i = 0; i < length; ++i) v = static_cast<uint16_t>(((v << 8) | p[i]) ^ kCcittTable[v >> 8]);
  SetValue(v);
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

THash_XOR32::~THash_XOR32() {
  SecureZero(FValue, sizeof(FValue));
  FEven = FOdd = 0;
  FLast = 0;
}

uint32_t THash_XOR32::Value() const {
  return uint32_t(FValue[0]) | (uint32_t(FValue[1]) << 8) | (uint32_t(FValue[2]) << 16) | (uint32_t(FValue[3]) << 24);
}

void THash_XOR32::SetValue(uint32_t v) {
  for (int i = 0; i < 4; ++i) FValue[i] = static_cast<uint8_t>(v >> (8 * i));
}

void THash_XOR32::Reset() {
  SetValue(0);
  FCount = 0;
  FEven = FOdd = 0;
  FLast = 0;
  ResetHook();
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

void THash_XOR32::Finish() { FinishHook(); }

// --- CRC-32 ----------------------------------------------------------------

void THash_CRC32::Reset() {
  SetValue(0xFFFFFFFFu);
  ResetHook();
}

void THash_CRC32::Update(const void* data, int64_t length) { SetValue(CalcCRC32(Value(), data, length)); }

void THash_CRC32::Finish() {
  SetValue(~Value());
  FinishHook();
}

}  // namespace om
