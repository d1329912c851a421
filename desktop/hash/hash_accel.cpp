// SHA-1 on the SHA extensions and CRC-32 by carry-less multiplication. The
// functions carry their own target attributes, so the rest of the library
// keeps the baseline instruction set and runs on any processor.
#include "hash/hash_accel.h"

#include <atomic>

#include "hash/hash_support.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define OM_HASH_X86 1
#endif

// 32-bit Windows guarantees only 4-byte stack alignment to a callee (window
// procedures, threads started by the system); the vector routines realign.
#if defined(__i386__)
#define OM_REALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define OM_REALIGN_STACK
#endif

namespace om {

namespace {

TProcessorFeatures DetectFeatures() {
  TProcessorFeatures f;
  f.CPUType = DetectCPUType();
#ifdef OM_HASH_X86
  if (f.CPUType < 5) return f;  // no CPUID
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
  f.Sse2 = (d >> 26) & 1;
  f.Ssse3 = (c >> 9) & 1;
  f.Sse41 = (c >> 19) & 1;
  f.Pclmul = ((c >> 1) & 1) && f.Sse2;
  unsigned maxLeaf = __get_cpuid_max(0, nullptr);
  if (maxLeaf >= 7) {
    __cpuid_count(7, 0, a, b, c, d);
    f.Sha = ((b >> 29) & 1) && f.Ssse3 && f.Sse41;
  }
#endif
  return f;
}

std::atomic<bool> gAccelerate{true};

}  // namespace

void SetAcceleratedRoutinesEnabled(bool enabled) { gAccelerate.store(enabled, std::memory_order_relaxed); }
bool AcceleratedRoutinesEnabled() { return gAccelerate.load(std::memory_order_relaxed); }

const TProcessorFeatures& ProcessorFeatures() {
  static const TProcessorFeatures features = DetectFeatures();
  return features;
}

#ifdef OM_HASH_X86

bool HaveAcceleratedRoutines() { return true; }

// --- SHA-1 -----------------------------------------------------------------
// ABCD lives in one register with A in the top lane, E in the top lane of
// another; each sha1rnds4 does four rounds, sha1msg1/sha1msg2 extend the
// message schedule four words at a time.

#define OM_SHA1_GROUP(g, w, wm4, wm3, wm2, wm1)                                             \
  if ((g) >= 4) w = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(wm4, wm3), wm2), wm1); \
  e = _mm_sha1nexte_epu32(prev, w);                                                          \
  prev = abcd;                                                                               \
  abcd = _mm_sha1rnds4_epu32(abcd, e, (g) / 5);

OM_REALIGN_STACK __attribute__((target("sha,sse4.1,ssse3"))) void Sha1CompressBlocksShaNi(uint32_t* state, const uint8_t* data,
                                                                         int64_t count) {
  const __m128i reverse = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (; count > 0; --count, data += 64) {
    const __m128i abcdStart = abcd, eStart = e0;
    __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)), reverse);
    __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16)), reverse);
    __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 32)), reverse);
    __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 48)), reverse);
    __m128i prev = abcd;
    __m128i e = _mm_add_epi32(e0, w0);
    abcd = _mm_sha1rnds4_epu32(abcd, e, 0);
    OM_SHA1_GROUP(1, w1, w1, w1, w1, w1)
    OM_SHA1_GROUP(2, w2, w2, w2, w2, w2)
    OM_SHA1_GROUP(3, w3, w3, w3, w3, w3)
    OM_SHA1_GROUP(4, w0, w0, w1, w2, w3)
    OM_SHA1_GROUP(5, w1, w1, w2, w3, w0)
    OM_SHA1_GROUP(6, w2, w2, w3, w0, w1)
    OM_SHA1_GROUP(7, w3, w3, w0, w1, w2)
    OM_SHA1_GROUP(8, w0, w0, w1, w2, w3)
    OM_SHA1_GROUP(9, w1, w1, w2, w3, w0)
    OM_SHA1_GROUP(10, w2, w2, w3, w0, w1)
    OM_SHA1_GROUP(11, w3, w3, w0, w1, w2)
    OM_SHA1_GROUP(12, w0, w0, w1, w2, w3)
    OM_SHA1_GROUP(13, w1, w1, w2, w3, w0)
    OM_SHA1_GROUP(14, w2, w2, w3, w0, w1)
    OM_SHA1_GROUP(15, w3, w3, w0, w1, w2)
    OM_SHA1_GROUP(16, w0, w0, w1, w2, w3)
    OM_SHA1_GROUP(17, w1, w1, w2, w3, w0)
    OM_SHA1_GROUP(18, w2, w2, w3, w0, w1)
    OM_SHA1_GROUP(19, w3, w3, w0, w1, w2)
    e0 = _mm_sha1nexte_epu32(prev, eStart);
    abcd = _mm_add_epi32(abcd, abcdStart);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}
#undef OM_SHA1_GROUP

// --- CRC-32 ----------------------------------------------------------------
// A 16-byte chunk A (byte 0 bit 0 the highest power, x^127) standing d bits
// before the end of the data is congruent to A * x^d; its halves are carried
// forward by multiplying with x^(d+63) and x^(d-1) modulo the polynomial (the
// missing factor x comes from the bit-reflected product). The constants are
// worked out here from the polynomial.

namespace {

constexpr uint64_t Reflect64(uint64_t v) {
  uint64_t r = 0;
  for (int i = 0; i < 64; ++i) r |= ((v >> i) & 1) << (63 - i);
  return r;
}

// x^n modulo x^32 + 0x04C11DB7, bit d holding the coefficient of x^d.
constexpr uint64_t PowerOfXModP(unsigned n) {
  uint64_t r = 1;
  for (unsigned i = 0; i < n; ++i) {
    r <<= 1;
    if (r & (uint64_t(1) << 32)) r ^= 0x104C11DB7ull;
  }
  return r;
}

struct TFoldConstants {
  uint64_t High, Low;  // for the lower (high-order) and upper (low-order) 64-bit lane
};

constexpr TFoldConstants FoldBy(unsigned bits) {
  return {Reflect64(PowerOfXModP(bits + 63)), Reflect64(PowerOfXModP(bits - 1))};
}

constexpr TFoldConstants kFold512 = FoldBy(512);
constexpr TFoldConstants kFold128 = FoldBy(128);

}  // namespace

// Macros rather than helper functions: on i686 a function returning a vector
// would need SSE in the baseline ABI.
#define OM_CRC_LOAD(p) _mm_loadu_si128(reinterpret_cast<const __m128i*>(p))
#define OM_CRC_FOLD(x, k, next) \
  _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next)

OM_REALIGN_STACK __attribute__((target("pclmul,sse2"))) uint32_t Crc32FoldPclmul(
    uint32_t crc, const uint8_t* data, int64_t length,
    uint32_t (*finish)(uint32_t crc, const uint8_t* data, int64_t length)) {
  const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512.Low), static_cast<long long>(kFold512.High));
  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128.Low), static_cast<long long>(kFold128.High));
  __m128i x0 = _mm_xor_si128(OM_CRC_LOAD(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = OM_CRC_LOAD(data + 16), x2 = OM_CRC_LOAD(data + 32), x3 = OM_CRC_LOAD(data + 48);
  data += 64;
  length -= 64;
  for (; length >= 64; length -= 64, data += 64) {
    x0 = OM_CRC_FOLD(x0, k512, OM_CRC_LOAD(data));
    x1 = OM_CRC_FOLD(x1, k512, OM_CRC_LOAD(data + 16));
    x2 = OM_CRC_FOLD(x2, k512, OM_CRC_LOAD(data + 32));
    x3 = OM_CRC_FOLD(x3, k512, OM_CRC_LOAD(data + 48));
  }
  __m128i x = OM_CRC_FOLD(x0, k128, x1);
  x = OM_CRC_FOLD(x, k128, x2);
  x = OM_CRC_FOLD(x, k128, x3);
  for (; length >= 16; length -= 16, data += 16) x = OM_CRC_FOLD(x, k128, OM_CRC_LOAD(data));
  alignas(16) uint8_t rest[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(rest), x);
  uint32_t r = finish(0, rest, 16);
  return length ? finish(r, data, length) : r;
}
#undef OM_CRC_FOLD
#undef OM_CRC_LOAD

#else

bool HaveAcceleratedRoutines() { return false; }
void Sha1CompressBlocksShaNi(uint32_t*, const uint8_t*, int64_t) {}
uint32_t Crc32FoldPclmul(uint32_t crc, const uint8_t*, int64_t, uint32_t (*)(uint32_t, const uint8_t*, int64_t)) {
  return crc;
}

#endif

}  // namespace om
