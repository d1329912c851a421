// Snefru's S-boxes and compression function.
#pragma once

#include <cstdint>

#include "hash/hash_support.h"

#if defined(__GNUC__) && !defined(__clang__)
#define OM_SNEFRU_UNROLL _Pragma("GCC unroll 16")
#else
#define OM_SNEFRU_UNROLL
#endif

namespace om {

// The 16 published Snefru S-boxes of 256 words; pass p uses boxes 2p and 2p+1.
extern const uint32_t kSnefruSBoxes[16][256];

// Own is this library's hash: the block is read as little-endian words and
// each of the first eight working words is folded with its mirror word.
// Published is Merkle's Snefru-256: big-endian words, and the chaining value
// is folded with the mirrored working words. The tests compare the second
// with other implementations, which checks the tables both share.
enum class TSnefruVariant { Own, Published };

// Compresses one 32-byte block into the 16-word state whose first eight words
// are the chaining value; 8 passes.
template <TSnefruVariant Variant>
void SnefruCompress(uint32_t* state, const uint8_t* block) {
  uint32_t w[16];
  for (int i = 0; i < 8; ++i) {
    const uint8_t* p = block + 4 * i;
    w[i] = state[i];
    w[8 + i] = Variant == TSnefruVariant::Own
                   ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24
                   : uint32_t(p[3]) | uint32_t(p[2]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[0]) << 24;
  }
  static const unsigned kRotations[4] = {16, 8, 16, 24};
  for (int pass = 0; pass < 8; ++pass) {
    const uint32_t* boxes[2] = {kSnefruSBoxes[2 * pass], kSnefruSBoxes[2 * pass + 1]};
    for (unsigned rotation : kRotations) {
      OM_SNEFRU_UNROLL
      for (int i = 0; i < 16; ++i) {
        const uint32_t x = boxes[(i >> 1) & 1][w[i] & 0xFF];
        w[(i + 1) & 15] ^= x;
        w[(i + 15) & 15] ^= x;
      }
      OM_SNEFRU_UNROLL
      for (int i = 0; i < 16; ++i) w[i] = RotateBitsRight32(w[i], rotation);
    }
  }
  for (int i = 0; i < 8; ++i) state[i] = (Variant == TSnefruVariant::Own ? w[i] : state[i]) ^ w[15 - i];
  for (int i = 8; i < 16; ++i) state[i] = w[i];
}

}  // namespace om

#undef OM_SNEFRU_UNROLL
