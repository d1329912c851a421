// Tiger S-boxes are not stored: they are generated the way their authors
// describe. Each table starts as the identity in every byte column; the
// state of a Tiger computation keyed with a fixed text then drives swaps of
// byte columns, five passes over all entries. The compression calls use the
// tables as they stand at that moment.
#include "hash/tiger_sboxes.h"

#include <cstring>
#include <utility>

namespace om {

namespace {

struct TTigerTables {
  uint64_t T[4 * 256];
  TTigerTables();
};

inline uint8_t Byte(uint64_t v, int n) { return static_cast<uint8_t>(v >> (8 * n)); }

void Round(const uint64_t* t, uint64_t& a, uint64_t& b, uint64_t& c, uint64_t x, uint64_t mul) {
  const uint64_t* t1 = t;
  const uint64_t* t2 = t + 256;
  const uint64_t* t3 = t + 512;
  const uint64_t* t4 = t + 768;
  c ^= x;
  a -= t1[Byte(c, 0)] ^ t2[Byte(c, 2)] ^ t3[Byte(c, 4)] ^ t4[Byte(c, 6)];
  b += t4[Byte(c, 1)] ^ t3[Byte(c, 3)] ^ t2[Byte(c, 5)] ^ t1[Byte(c, 7)];
  b *= mul;
}

void Pass(const uint64_t* t, uint64_t& a, uint64_t& b, uint64_t& c, const uint64_t* x, uint64_t mul) {
  Round(t, a, b, c, x[0], mul);
  Round(t, b, c, a, x[1], mul);
  Round(t, c, a, b, x[2], mul);
  Round(t, a, b, c, x[3], mul);
  Round(t, b, c, a, x[4], mul);
  Round(t, c, a, b, x[5], mul);
  Round(t, a, b, c, x[6], mul);
  Round(t, b, c, a, x[7], mul);
}

void KeySchedule(uint64_t* x) {
  x[0] -= x[7] ^ 0xA5A5A5A5A5A5A5A5ull;
  x[1] ^= x[0];
  x[2] += x[1];
  x[3] -= x[2] ^ ((~x[1]) << 19);
  x[4] ^= x[3];
  x[5] += x[4];
  x[6] -= x[5] ^ ((~x[4]) >> 23);
  x[7] ^= x[6];
  x[0] += x[7];
  x[1] -= x[0] ^ ((~x[7]) << 19);
  x[2] ^= x[1];
  x[3] += x[2];
  x[4] -= x[3] ^ ((~x[2]) >> 23);
  x[5] ^= x[4];
  x[6] += x[5];
  x[7] -= x[6] ^ 0x0123456789ABCDEFull;
}

void Compress(const uint64_t* t, uint64_t* state, const uint8_t* block, int passes) {
  uint64_t x[8];
  std::memcpy(x, block, 64);  // little-endian words
  uint64_t a = state[0], b = state[1], c = state[2];
  const uint64_t aa = a, bb = b, cc = c;
  Pass(t, a, b, c, x, 5);
  KeySchedule(x);
  Pass(t, c, a, b, x, 7);
  KeySchedule(x);
  Pass(t, b, c, a, x, 9);
  for (int p = 3; p < passes; ++p) {
    KeySchedule(x);
    Pass(t, a, b, c, x, 9);
    uint64_t tmp = a;
    a = c;
    c = b;
    b = tmp;
  }
  state[0] = a ^ aa;
  state[1] = b - bb;
  state[2] = c + cc;
}

TTigerTables::TTigerTables() {
  static const char kKey[] = "Tiger - A Fast New Hash Function, by Ross Anderson and Eli Biham";
  static_assert(sizeof(kKey) - 1 == 64, "one block of key text");
  const int kGenerationPasses = 5;
  uint8_t* bytes = reinterpret_cast<uint8_t*>(T);
  for (int i = 0; i < 1024; ++i)
    for (int col = 0; col < 8; ++col) bytes[8 * i + col] = static_cast<uint8_t>(i & 255);
  uint64_t state[3] = {0x0123456789ABCDEFull, 0xFEDCBA9876543210ull, 0xF096A5B4C3B2E187ull};
  uint8_t block[64];
  std::memcpy(block, kKey, 64);
  int abc = 2;
  for (int pass = 0; pass < kGenerationPasses; ++pass) {
    for (int i = 0; i < 256; ++i) {
      for (int sb = 0; sb < 1024; sb += 256) {
        if (++abc == 3) {
          abc = 0;
          Compress(T, state, block, 3);
        }
        for (int col = 0; col < 8; ++col) {
          int other = sb + Byte(state[abc], col);
          std::swap(bytes[8 * (sb + i) + col], bytes[8 * other + col]);
        }
      }
    }
  }
}

const TTigerTables& Tables() {
  static const TTigerTables tables;
  return tables;
}

}  // namespace

const uint64_t* TigerSBoxes() { return Tables().T; }

void TigerCompress(uint64_t* state, const uint8_t* block, int passes) {
  Compress(Tables().T, state, block, passes);
}

}  // namespace om
