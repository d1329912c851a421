// MD4, MD5, RIPEMD-128/160/256/320, SHA, SHA-1 and Tiger: the 64-byte block
// hashes sharing one buffer, counter and padding scheme.
#include <cstring>
#include <utility>

#include "hash/hash_accel.h"
#include "hash/hash_support.h"
#include "hash/hashes.h"
#include "hash/tiger_sboxes.h"

#if defined(__GNUC__) && !defined(__clang__)
#define OM_UNROLL _Pragma("GCC unroll 128")
#else
#define OM_UNROLL
#endif

namespace om {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the digest buffers are little-endian words");

namespace {

inline uint32_t Rol(uint32_t v, unsigned n) { return (v << n) | (v >> (32 - n)); }

// RIPEMD message word orders and rotations, left and right lines.
const uint8_t kRL[80] = {0, 1, 2,  3,  4,  5,  6,  7,  8, 9, 10, 11, 12, 13, 14, 15, 7, 4,  13, 1,
                         10, 6, 15, 3, 12, 0,  9,  5,  2, 14, 11, 8, 3, 10, 14, 4,  9, 15, 8, 1,
                         2, 7, 0,  6,  13, 11, 5,  12, 1, 9, 11, 10, 0, 8, 12, 4, 13, 3, 7, 15,
                         14, 5, 6, 2, 4, 0, 5, 9, 7, 12, 2, 10, 14, 1, 3, 8, 11, 6, 15, 13};
const uint8_t kRR[80] = {5, 14, 7, 0, 9, 2, 11, 4, 13, 6, 15, 8, 1, 10, 3, 12, 6, 11, 3, 7,
                         0, 13, 5, 10, 14, 15, 8, 12, 4, 9, 1, 2, 15, 5, 1, 3, 7, 14, 6, 9,
                         11, 8, 12, 2, 10, 0, 4, 13, 8, 6, 4, 1, 3, 11, 15, 0, 5, 12, 2, 13,
                         9, 7, 10, 14, 12, 15, 10, 4, 1, 5, 8, 7, 6, 2, 13, 14, 0, 3, 9, 11};
const uint8_t kSL[80] = {11, 14, 15, 12, 5, 8, 7, 9, 11, 13, 14, 15, 6, 7, 9, 8, 7, 6, 8, 13,
                         11, 9, 7, 15, 7, 12, 15, 9, 11, 7, 13, 12, 11, 13, 6, 7, 14, 9, 13, 15,
                         14, 8, 13, 6, 5, 12, 7, 5, 11, 12, 14, 15, 14, 15, 9, 8, 9, 14, 5, 6,
                         8, 6, 5, 12, 9, 15, 5, 11, 6, 8, 13, 12, 5, 12, 13, 14, 11, 8, 5, 6};
const uint8_t kSR[80] = {8, 9, 9, 11, 13, 15, 15, 5, 7, 7, 8, 11, 14, 14, 12, 6, 9, 13, 15, 7,
                         12, 8, 9, 11, 7, 7, 12, 7, 6, 15, 13, 11, 9, 7, 15, 11, 8, 6, 6, 14,
                         12, 13, 5, 14, 13, 13, 7, 5, 15, 5, 8, 11, 14, 14, 6, 14, 6, 9, 12, 9,
                         12, 5, 15, 8, 8, 5, 12, 9, 12, 5, 14, 6, 8, 13, 6, 5, 15, 13, 11, 11};
const uint32_t kKL[5] = {0x00000000u, 0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xA953FD4Eu};
const uint32_t kKR160[5] = {0x50A28BE6u, 0x5C4DD124u, 0x6D703EF3u, 0x7A6D76E9u, 0x00000000u};
const uint32_t kKR128[4] = {0x50A28BE6u, 0x5C4DD124u, 0x6D703EF3u, 0x00000000u};

// The five RIPEMD boolean functions, j = 0..4.
inline uint32_t RipeF(int j, uint32_t x, uint32_t y, uint32_t z) {
  switch (j) {
    case 0: return x ^ y ^ z;
    case 1: return (x & y) | (~x & z);
    case 2: return (x | ~y) ^ z;
    case 3: return (x & z) | (y & ~z);
    default: return x ^ (y | ~z);
  }
}

// One RIPEMD-128 style line step (four registers).
#define RIPE4_STEP(a, b, c, d, f, x, k, s)  \
  do {                                      \
    uint32_t t_ = Rol(a + (f) + (x) + (k), s); \
    a = d; d = c; c = b; b = t_;            \
  } while (0)

// One RIPEMD-160 style line step (five registers).
#define RIPE5_STEP(a, b, c, d, e, f, x, k, s)       \
  do {                                              \
    uint32_t t_ = Rol(a + (f) + (x) + (k), s) + e;  \
    a = e; e = d; d = Rol(c, 10); c = b; b = t_;    \
  } while (0)

const uint32_t kMD5K[64] = {
    0xD76AA478u, 0xE8C7B756u, 0x242070DBu, 0xC1BDCEEEu, 0xF57C0FAFu, 0x4787C62Au, 0xA8304613u, 0xFD469501u,
    0x698098D8u, 0x8B44F7AFu, 0xFFFF5BB1u, 0x895CD7BEu, 0x6B901122u, 0xFD987193u, 0xA679438Eu, 0x49B40821u,
    0xF61E2562u, 0xC040B340u, 0x265E5A51u, 0xE9B6C7AAu, 0xD62F105Du, 0x02441453u, 0xD8A1E681u, 0xE7D3FBC8u,
    0x21E1CDE6u, 0xC33707D6u, 0xF4D50D87u, 0x455A14EDu, 0xA9E3E905u, 0xFCEFA3F8u, 0x676F02D9u, 0x8D2A4C8Au,
    0xFFFA3942u, 0x8771F681u, 0x6D9D6122u, 0xFDE5380Cu, 0xA4BEEA44u, 0x4BDECFA9u, 0xF6BB4B60u, 0xBEBFBC70u,
    0x289B7EC6u, 0xEAA127FAu, 0xD4EF3085u, 0x04881D05u, 0xD9D4D039u, 0xE6DB99E5u, 0x1FA27CF8u, 0xC4AC5665u,
    0xF4292244u, 0x432AFF97u, 0xAB9423A7u, 0xFC93A039u, 0x655B59C3u, 0x8F0CCC92u, 0xFFEFF47Du, 0x85845DD1u,
    0x6FA87E4Fu, 0xFE2CE6E0u, 0xA3014314u, 0x4E0811A1u, 0xF7537E82u, 0xBD3AF235u, 0x2AD7D2BBu, 0xEB86D391u};

}  // namespace

// --- shared mechanics ------------------------------------------------------

void THash_MD4::InitState() {
  static const uint32_t kStart[10] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u,
                                      0x76543210u, 0xFEDCBA98u, 0x89ABCDEFu, 0x01234567u, 0x3C2D1E0Fu};
  std::memcpy(FDigest, kStart, sizeof(kStart));
}

void THash_MD4::CompressBlocks(const uint8_t* data, int64_t count) {
  for (int64_t i = 0; i < count; ++i) CompressBlock(data + 64 * i);
}

// --- MD4 -------------------------------------------------------------------

void THash_MD4::CompressBlock(const uint8_t* block) {
  uint32_t x[16];
  std::memcpy(x, block, sizeof(x));  // little-endian words
  uint32_t a = FDigest[0], b = FDigest[1], c = FDigest[2], d = FDigest[3];
  static const uint8_t kOrder2[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
  static const uint8_t kOrder3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  static const uint8_t kS1[4] = {3, 7, 11, 19}, kS2[4] = {3, 5, 9, 13}, kS3[4] = {3, 9, 11, 15};
  OM_UNROLL
  for (int i = 0; i < 16; ++i) RIPE4_STEP(a, b, c, d, (b & c) | (~b & d), x[i], 0u, kS1[i & 3]);
  OM_UNROLL
  for (int i = 0; i < 16; ++i)
    RIPE4_STEP(a, b, c, d, (b & c) | (b & d) | (c & d), x[kOrder2[i]], 0x5A827999u, kS2[i & 3]);
  OM_UNROLL
  for (int i = 0; i < 16; ++i) RIPE4_STEP(a, b, c, d, b ^ c ^ d, x[kOrder3[i]], 0x6ED9EBA1u, kS3[i & 3]);
  FDigest[0] += a; FDigest[1] += b; FDigest[2] += c; FDigest[3] += d;
}

// --- MD5 -------------------------------------------------------------------

void THash_MD5::CompressBlock(const uint8_t* block) {
  uint32_t x[16];
  std::memcpy(x, block, sizeof(x));  // little-endian words
  uint32_t a = FDigest[0], b = FDigest[1], c = FDigest[2], d = FDigest[3];
  static const uint8_t kS[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
#define MD5_STEP(f, g)                                          \
  do {                                                          \
    uint32_t t_ = b + Rol(a + (f) + kMD5K[i] + x[g], kS[i >> 4][i & 3]); \
    a = d;                                                      \
    d = c;                                                      \
    c = b;                                                      \
    b = t_;                                                     \
  } while (0)
  OM_UNROLL
  for (int i = 0; i < 16; ++i) MD5_STEP(d ^ (b & (c ^ d)), i);
  OM_UNROLL
  for (int i = 16; i < 32; ++i) MD5_STEP(c ^ (d & (b ^ c)), (5 * i + 1) & 15);
  OM_UNROLL
  for (int i = 32; i < 48; ++i) MD5_STEP(b ^ c ^ d, (3 * i + 5) & 15);
  OM_UNROLL
  for (int i = 48; i < 64; ++i) MD5_STEP(c ^ (b | ~d), (7 * i) & 15);
#undef MD5_STEP
  FDigest[0] += a; FDigest[1] += b; FDigest[2] += c; FDigest[3] += d;
}

// --- RIPEMD ----------------------------------------------------------------

void THash_RipeMD128::CompressBlock(const uint8_t* block) {
  uint32_t x[16];
  std::memcpy(x, block, sizeof(x));  // little-endian words
  uint32_t a = FDigest[0], b = FDigest[1], c = FDigest[2], d = FDigest[3];
  uint32_t a2 = a, b2 = b, c2 = c, d2 = d;
  OM_UNROLL
  for (int i = 0; i < 64; ++i) {
    RIPE4_STEP(a, b, c, d, RipeF(i >> 4, b, c, d), x[kRL[i]], kKL[i >> 4], kSL[i]);
    RIPE4_STEP(a2, b2, c2, d2, RipeF(3 - (i >> 4), b2, c2, d2), x[kRR[i]], kKR128[i >> 4], kSR[i]);
  }
  uint32_t t = FDigest[1] + c + d2;
  FDigest[1] = FDigest[2] + d + a2;
  FDigest[2] = FDigest[3] + a + b2;
  FDigest[3] = FDigest[0] + b + c2;
  FDigest[0] = t;
}

void THash_RipeMD256::InitState() {
  static const uint32_t kStart[8] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u,
                                     0x76543210u, 0xFEDCBA98u, 0x89ABCDEFu, 0x01234567u};
  std::memcpy(FDigest, kStart, sizeof(kStart));
  FDigest[8] = FDigest[9] = 0;
}

void THash_RipeMD256::CompressBlock(const uint8_t* block) {
  uint32_t x[16];
  std::memcpy(x, block, sizeof(x));  // little-endian words
  uint32_t a = FDigest[0], b = FDigest[1], c = FDigest[2], d = FDigest[3];
  uint32_t a2 = FDigest[4], b2 = FDigest[5], c2 = FDigest[6], d2 = FDigest[7];
  OM_UNROLL
  for (int i = 0; i < 64; ++i) {
    RIPE4_STEP(a, b, c, d, RipeF(i >> 4, b, c, d), x[kRL[i]], kKL[i >> 4], kSL[i]);
    RIPE4_STEP(a2, b2, c2, d2, RipeF(3 - (i >> 4), b2, c2, d2), x[kRR[i]], kKR128[i >> 4], kSR[i]);
    if (i == 15) std::swap(a, a2);
    else if (i == 31) std::swap(b, b2);
    else if (i == 47) std::swap(c, c2);
    else if (i == 63) std::swap(d, d2);
  }
  FDigest[0] += a; FDigest[1] += b; FDigest[2] += c; FDigest[3] += d;
  FDigest[4] += a2; FDigest[5] += b2; FDigest[6] += c2; FDigest[7] += d2;
}

void THash_RipeMD160::CompressBlock(const uint8_t* block) {
  uint32_t x[16];
  std::memcpy(x, block, sizeof(x));  // little-endian words
  uint32_t a = FDigest[0], b = FDigest[1], c = FDigest[2], d = FDigest[3], e = FDigest[4];
  uint32_t a2 = a, b2 = b, c2 = c, d2 = d, e2 = e;
  OM_UNROLL
  for (int i = 0; i < 80; ++i) {
    RIPE5_STEP(a, b, c, d, e, RipeF(i >> 4, b, c, d), x[kRL[i]], kKL[i >> 4], kSL[i]);
    RIPE5_STEP(a2, b2, c2, d2, e2, RipeF(4 - (i >> 4), b2, c2, d2), x[kRR[i]], kKR160[i >> 4], kSR[i]);
  }
  uint32_t t = FDigest[1] + c + d2;
  FDigest[1] = FDigest[2] + d + e2;
  FDigest[2] = FDigest[3] + e + a2;
  FDigest[3] = FDigest[4] + a + b2;
  FDigest[4] = FDigest[0] + b + c2;
  FDigest[0] = t;
}

void THash_RipeMD320::CompressBlock(const uint8_t* block) {
  uint32_t x[16];
  std::memcpy(x, block, sizeof(x));  // little-endian words
  uint32_t a = FDigest[0], b = FDigest[1], c = FDigest[2], d = FDigest[3], e = FDigest[4];
  uint32_t a2 = FDigest[5], b2 = FDigest[6], c2 = FDigest[7], d2 = FDigest[8], e2 = FDigest[9];
  OM_UNROLL
  for (int i = 0; i < 80; ++i) {
    RIPE5_STEP(a, b, c, d, e, RipeF(i >> 4, b, c, d), x[kRL[i]], kKL[i >> 4], kSL[i]);
    RIPE5_STEP(a2, b2, c2, d2, e2, RipeF(4 - (i >> 4), b2, c2, d2), x[kRR[i]], kKR160[i >> 4], kSR[i]);
    if (i == 15) std::swap(b, b2);
    else if (i == 31) std::swap(d, d2);
    else if (i == 47) std::swap(a, a2);
    else if (i == 63) std::swap(c, c2);
    else if (i == 79) std::swap(e, e2);
  }
  FDigest[0] += a; FDigest[1] += b; FDigest[2] += c; FDigest[3] += d; FDigest[4] += e;
  FDigest[5] += a2; FDigest[6] += b2; FDigest[7] += c2; FDigest[8] += d2; FDigest[9] += e2;
}

// --- SHA and SHA-1 ---------------------------------------------------------

void THash_SHA1::Reset() {
  FRotate = true;
  THash_SHA::Reset();
}

void THash_SHA::FinishDigest() { ReverseBytes32Buffer(FDigest, FDigest, 5); }

namespace {

inline uint32_t LoadBE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// The 80 steps written out; the message schedule is kept in a ring of 16 words
// and extended as the steps go, with or without the one-bit rotation.
template <bool Rotate>
void ShaCompress(uint32_t* state, const uint8_t* block) {
  uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = LoadBE32(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
#define SHA_X(t) (w[((t) - 3) & 15] ^ w[((t) - 8) & 15] ^ w[((t) - 14) & 15] ^ w[(t) & 15])
#define SHA_W(t) ((t) < 16 ? w[(t) & 15] : (w[(t) & 15] = Rotate ? Rol(SHA_X(t), 1) : SHA_X(t)))
#define SHA_F1(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define SHA_F2(x, y, z) ((x) ^ (y) ^ (z))
#define SHA_F3(x, y, z) (((x) & (y)) | ((z) & ((x) | (y))))
#define SHA_R(a, b, c, d, e, F, K, t)            \
  e += Rol(a, 5) + F(b, c, d) + (K) + SHA_W(t); \
  b = Rol(b, 30);
#define SHA_5(F, K, t)                  \
  SHA_R(a, b, c, d, e, F, K, (t))       \
  SHA_R(e, a, b, c, d, F, K, (t) + 1)   \
  SHA_R(d, e, a, b, c, F, K, (t) + 2)   \
  SHA_R(c, d, e, a, b, F, K, (t) + 3)   \
  SHA_R(b, c, d, e, a, F, K, (t) + 4)
  SHA_5(SHA_F1, 0x5A827999u, 0) SHA_5(SHA_F1, 0x5A827999u, 5)
  SHA_5(SHA_F1, 0x5A827999u, 10) SHA_5(SHA_F1, 0x5A827999u, 15)
  SHA_5(SHA_F2, 0x6ED9EBA1u, 20) SHA_5(SHA_F2, 0x6ED9EBA1u, 25)
  SHA_5(SHA_F2, 0x6ED9EBA1u, 30) SHA_5(SHA_F2, 0x6ED9EBA1u, 35)
  SHA_5(SHA_F3, 0x8F1BBCDCu, 40) SHA_5(SHA_F3, 0x8F1BBCDCu, 45)
  SHA_5(SHA_F3, 0x8F1BBCDCu, 50) SHA_5(SHA_F3, 0x8F1BBCDCu, 55)
  SHA_5(SHA_F2, 0xCA62C1D6u, 60) SHA_5(SHA_F2, 0xCA62C1D6u, 65)
  SHA_5(SHA_F2, 0xCA62C1D6u, 70) SHA_5(SHA_F2, 0xCA62C1D6u, 75)
#undef SHA_5
#undef SHA_R
#undef SHA_F3
#undef SHA_F2
#undef SHA_F1
#undef SHA_W
#undef SHA_X
  state[0] += a; state[1] += b; state[2] += c; state[3] += d; state[4] += e;
}

// The schedule from ExpandShaSchedule, whose byte-order variant start-up picks
// for the processor (386 processors have no byte-swap instruction).
void ShaCompressExpanded(uint32_t* state, const uint8_t* block, bool rotate) {
  uint32_t w[80];
  ExpandShaSchedule(w, block, rotate);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) f = d ^ (b & (c ^ d)), k = 0x5A827999u;
    else if (i < 40) f = b ^ c ^ d, k = 0x6ED9EBA1u;
    else if (i < 60) f = (b & c) | (d & (b | c)), k = 0x8F1BBCDCu;
    else f = b ^ c ^ d, k = 0xCA62C1D6u;
    uint32_t t = Rol(a, 5) + f + e + k + w[i];
    e = d; d = c; c = Rol(b, 30); b = a; a = t;
  }
  state[0] += a; state[1] += b; state[2] += c; state[3] += d; state[4] += e;
}

}  // namespace

void THash_SHA::CompressBlock(const uint8_t* block) { CompressBlocks(block, 1); }

void THash_SHA::CompressBlocks(const uint8_t* data, int64_t count) {
  static const TProcessorFeatures& cpu = ProcessorFeatures();
  static const bool shaInstructions = HaveAcceleratedRoutines() && cpu.Sha;
  if (FRotate && shaInstructions && AcceleratedRoutinesEnabled()) {
    Sha1CompressBlocksShaNi(FDigest, data, count);
  } else if (cpu.CPUType <= 3) {
    for (int64_t i = 0; i < count; ++i) ShaCompressExpanded(FDigest, data + 64 * i, FRotate);
  } else if (FRotate) {
    for (int64_t i = 0; i < count; ++i) ShaCompress<true>(FDigest, data + 64 * i);
  } else {
    for (int64_t i = 0; i < count; ++i) ShaCompress<false>(FDigest, data + 64 * i);
  }
}

// --- Tiger -----------------------------------------------------------------

void THash_Tiger::SetTigerPasses(int passes) { FPasses = passes < 3 || passes > 32 ? 3 : passes; }

void THash_Tiger::InitState() {
  SetTigerPasses(FPasses);
  const uint64_t start[3] = {0x0123456789ABCDEFull, 0xFEDCBA9876543210ull, 0xF096A5B4C3B2E187ull};
  std::memset(FDigest, 0, sizeof(FDigest));
  std::memcpy(FDigest, start, sizeof(start));
}

void THash_Tiger::CompressBlock(const uint8_t* block) {
  uint64_t state[3];
  std::memcpy(state, FDigest, sizeof(state));
  TigerCompress(state, block, FPasses);
  std::memcpy(FDigest, state, sizeof(state));
}

}  // namespace om
