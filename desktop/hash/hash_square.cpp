// Hash on the Square block cipher: each 16-byte block is encrypted with the
// chaining value as the key, and the ciphertext becomes the chaining value.
#include <array>
#include <cstring>

#include "hash/hash_support.h"
#include "hash/hashes.h"

namespace om {

namespace {

// Square's field: GF(2^8) modulo x^8 + x^7 + x^6 + x^5 + x^4 + x^2 + 1.
constexpr unsigned kFieldPolynomial = 0x1F5;

constexpr uint8_t FieldMul(uint8_t a, uint8_t b) {
  unsigned r = 0, x = a;
  while (b) {
    if (b & 1) r ^= x;
    b >>= 1;
    x <<= 1;
    if (x & 0x100) x ^= kFieldPolynomial;
  }
  return static_cast<uint8_t>(r);
}

// a^254, the multiplicative inverse (0 for 0).
constexpr uint8_t FieldInverse(uint8_t a) {
  uint8_t result = 1, base = a;
  for (unsigned e = 254; e; e >>= 1) {
    if (e & 1) result = FieldMul(result, base);
    base = FieldMul(base, base);
  }
  return result;
}

constexpr unsigned Parity(unsigned v) {
  v ^= v >> 4;
  v ^= v >> 2;
  v ^= v >> 1;
  return v & 1;
}

struct TSquareTables {
  uint8_t S[256];           // substitution: inversion, then the affine map
  uint32_t Theta[4][256];   // theta of a byte at position j of a row
  uint32_t Round[4][256];   // theta of the substituted byte at position j
};

constexpr uint32_t Rotl(uint32_t v, unsigned n) { return n ? (v << n) | (v >> (32 - n)) : v; }

constexpr TSquareTables MakeSquareTables() {
  TSquareTables t{};
  // Rows of the affine map's bit matrix (output bit r is the parity of row r
  // and the input) and its constant.
  constexpr uint8_t kAffineRows[8] = {0x01, 0x03, 0x05, 0x0F, 0x1F, 0x3D, 0x7B, 0xD6};
  constexpr uint8_t kAffineConstant = 0xB1;
  for (unsigned x = 0; x < 256; ++x) {
    const uint8_t inv = FieldInverse(static_cast<uint8_t>(x));
    unsigned out = 0;
    for (unsigned r = 0; r < 8; ++r) out |= Parity(kAffineRows[r] & inv) << r;
    t.S[x] = static_cast<uint8_t>(out ^ kAffineConstant);
  }
  // Theta multiplies each row by the polynomial 2 + x + x^2 + 3x^3 modulo x^4 + 1.
  constexpr uint8_t kTheta[4] = {2, 1, 1, 3};
  for (unsigned a = 0; a < 256; ++a) {
    uint32_t plain = 0, substituted = 0;
    for (unsigned j = 0; j < 4; ++j) {
      plain |= uint32_t(FieldMul(static_cast<uint8_t>(a), kTheta[j])) << (8 * j);
      substituted |= uint32_t(FieldMul(t.S[a], kTheta[j])) << (8 * j);
    }
    for (unsigned j = 0; j < 4; ++j) {
      t.Theta[j][a] = Rotl(plain, 8 * j);
      t.Round[j][a] = Rotl(substituted, 8 * j);
    }
  }
  return t;
}

constexpr TSquareTables kSquare = MakeSquareTables();
static_assert(kSquare.S[0] == 0xB1 && kSquare.S[1] == 0xCE && kSquare.S[255] != kSquare.S[254], "Square S-box");
static_assert(FieldMul(FieldInverse(0x53), 0x53) == 1, "field inverse");

inline uint32_t Theta(uint32_t w) {
  return kSquare.Theta[0][w & 0xFF] ^ kSquare.Theta[1][(w >> 8) & 0xFF] ^ kSquare.Theta[2][(w >> 16) & 0xFF] ^
         kSquare.Theta[3][w >> 24];
}

inline uint32_t Load32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

}  // namespace

void THash_Square::InitState() {
  static const uint32_t kStart[4] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};
  std::memcpy(FDigest, kStart, sizeof(kStart));
}

void THash_Square::Compress(const uint8_t* block, const uint8_t* tweak) {
  uint32_t k[36];
  std::memcpy(k, FDigest, 16);
  for (unsigned r = 1; r <= 8; ++r) {
    uint32_t* p = k + 4 * r;
    p[0] = RotateBitsRight32(p[-1], 8) ^ p[-4] ^ (1u << (r - 1));
    p[1] = p[-3] ^ p[0];
    p[2] = p[-2] ^ p[1];
    p[3] = p[-1] ^ p[2];
    p[-4] = Theta(p[-4]);
    p[-3] = Theta(p[-3]);
    p[-2] = Theta(p[-2]);
    p[-1] = Theta(p[-1]);
  }
  uint32_t x0 = Load32(block) ^ k[0], x1 = Load32(block + 4) ^ k[1];
  uint32_t x2 = Load32(block + 8) ^ k[2], x3 = Load32(block + 12) ^ k[3];
#define SQ_COLUMN(i)                                                                             \
  (kSquare.Round[0][(x0 >> (8 * i)) & 0xFF] ^ kSquare.Round[1][(x1 >> (8 * i)) & 0xFF] ^          \
   kSquare.Round[2][(x2 >> (8 * i)) & 0xFF] ^ kSquare.Round[3][(x3 >> (8 * i)) & 0xFF])
  for (unsigned r = 1; r <= 7; ++r) {
    const uint32_t y0 = SQ_COLUMN(0) ^ k[4 * r], y1 = SQ_COLUMN(1) ^ k[4 * r + 1];
    const uint32_t y2 = SQ_COLUMN(2) ^ k[4 * r + 2], y3 = SQ_COLUMN(3) ^ k[4 * r + 3];
    x0 = y0; x1 = y1; x2 = y2; x3 = y3;
  }
#undef SQ_COLUMN
#define SQ_LAST(i)                                                                                   \
  (uint32_t(kSquare.S[(x0 >> (8 * i)) & 0xFF]) | (uint32_t(kSquare.S[(x1 >> (8 * i)) & 0xFF]) << 8) | \
   (uint32_t(kSquare.S[(x2 >> (8 * i)) & 0xFF]) << 16) | (uint32_t(kSquare.S[(x3 >> (8 * i)) & 0xFF]) << 24))
  FDigest[0] = SQ_LAST(0) ^ k[32] ^ tweak[0];
  FDigest[1] = SQ_LAST(1) ^ k[33] ^ tweak[1];
  FDigest[2] = SQ_LAST(2) ^ k[34] ^ tweak[2];
  FDigest[3] = SQ_LAST(3) ^ k[35] ^ tweak[3];
#undef SQ_LAST
}

// Data blocks take no tweak, however the input is divided; the blocks of
// Finish take their own first four bytes. This is the digest the input gives
// when it arrives in one Update after Reset.
void THash_Square::CompressBlocks(const uint8_t* data, int64_t count) {
  static const uint8_t kNoTweak[4] = {0, 0, 0, 0};
  for (int64_t i = 0; i < count; ++i) Compress(data + 16 * i, kNoTweak);
}

void THash_Square::CompressFinalBlock(const uint8_t* block) { Compress(block, block); }

}  // namespace om
