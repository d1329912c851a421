// HAVAL with 3, 4 or 5 passes and output folding to 128-256 bits.
#include <cstring>

#include "hash/hash_support.h"
#include "hash/hashes.h"

#if defined(__GNUC__) && !defined(__clang__)
#define OM_UNROLL _Pragma("GCC unroll 160")
#else
#define OM_UNROLL
#endif

namespace om {

namespace {

// Pass constants 2-5: the fraction of pi, continuing after the eight start words.
const uint32_t kK[4][32] = {
    {0x452821E6u, 0x38D01377u, 0xBE5466CFu, 0x34E90C6Cu, 0xC0AC29B7u, 0xC97C50DDu, 0x3F84D5B5u, 0xB5470917u,
     0x9216D5D9u, 0x8979FB1Bu, 0xD1310BA6u, 0x98DFB5ACu, 0x2FFD72DBu, 0xD01ADFB7u, 0xB8E1AFEDu, 0x6A267E96u,
     0xBA7C9045u, 0xF12C7F99u, 0x24A19947u, 0xB3916CF7u, 0x0801F2E2u, 0x858EFC16u, 0x636920D8u, 0x71574E69u,
     0xA458FEA3u, 0xF4933D7Eu, 0x0D95748Fu, 0x728EB658u, 0x718BCD58u, 0x82154AEEu, 0x7B54A41Du, 0xC25A59B5u},
    {0x9C30D539u, 0x2AF26013u, 0xC5D1B023u, 0x286085F0u, 0xCA417918u, 0xB8DB38EFu, 0x8E79DCB0u, 0x603A180Eu,
     0x6C9E0E8Bu, 0xB01E8A3Eu, 0xD71577C1u, 0xBD314B27u, 0x78AF2FDAu, 0x55605C60u, 0xE65525F3u, 0xAA55AB94u,
     0x57489862u, 0x63E81440u, 0x55CA396Au, 0x2AAB10B6u, 0xB4CC5C34u, 0x1141E8CEu, 0xA15486AFu, 0x7C72E993u,
     0xB3EE1411u, 0x636FBC2Au, 0x2BA9C55Du, 0x741831F6u, 0xCE5C3E16u, 0x9B87931Eu, 0xAFD6BA33u, 0x6C24CF5Cu},
    {0x7A325381u, 0x28958677u, 0x3B8F4898u, 0x6B4BB9AFu, 0xC4BFE81Bu, 0x66282193u, 0x61D809CCu, 0xFB21A991u,
     0x487CAC60u, 0x5DEC8032u, 0xEF845D5Du, 0xE98575B1u, 0xDC262302u, 0xEB651B88u, 0x23893E81u, 0xD396ACC5u,
     0x0F6D6FF3u, 0x83F44239u, 0x2E0B4482u, 0xA4842004u, 0x69C8F04Au, 0x9E1F9B5Eu, 0x21C66842u, 0xF6E96C9Au,
     0x670C9C61u, 0xABD388F0u, 0x6A51A0D2u, 0xD8542F68u, 0x960FA728u, 0xAB5133A3u, 0x6EEF0B6Cu, 0x137A3BE4u},
    {0xBA3BF050u, 0x7EFB2A98u, 0xA1F1651Du, 0x39AF0176u, 0x66CA593Eu, 0x82430E88u, 0x8CEE8619u, 0x456F9FB4u,
     0x7D84A5C3u, 0x3B8B5EBEu, 0xE06F75D8u, 0x85C12073u, 0x401A449Fu, 0x56C16AA6u, 0x4ED3AA62u, 0x363F7706u,
     0x1BFEDF72u, 0x429B023Du, 0x37D0D724u, 0xD00A1248u, 0xDB0FEAD3u, 0x49F1C09Bu, 0x075372C9u, 0x80991B7Bu,
     0x25D479D8u, 0xF6E8DEF7u, 0xE3FE501Au, 0xB6794C3Bu, 0x976CE0BDu, 0x04C006BAu, 0xC1A94FB6u, 0x409F60C4u},
};

// Message word order of each pass.
const uint8_t kOrder[5][32] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31},
    {5, 14, 26, 18, 11, 28, 7, 16, 0, 23, 20, 22, 1, 10, 4, 8, 30, 3, 21, 9, 17, 24, 29, 6, 19, 12, 15, 13, 2, 25, 31, 27},
    {19, 9, 4, 20, 28, 17, 8, 22, 29, 14, 25, 12, 24, 30, 16, 26, 31, 15, 7, 3, 1, 0, 18, 27, 13, 6, 21, 10, 23, 11, 5, 2},
    {24, 4, 0, 14, 2, 7, 28, 23, 26, 6, 30, 20, 18, 25, 19, 3, 22, 11, 31, 21, 8, 27, 12, 9, 1, 29, 5, 15, 17, 10, 16, 13},
    {27, 3, 21, 26, 17, 11, 20, 29, 19, 0, 12, 7, 13, 8, 31, 10, 5, 9, 14, 30, 18, 6, 28, 24, 2, 23, 16, 22, 4, 1, 25, 15}};

// Input permutations: for a pass count and a pass, which of x6..x0 goes into
// each argument position (x6..x0) of the pass's boolean function.
const uint8_t kPhi3[3][7] = {{1, 0, 3, 5, 6, 2, 4}, {4, 2, 1, 0, 5, 3, 6}, {6, 1, 2, 3, 4, 5, 0}};
const uint8_t kPhi4[4][7] = {{2, 6, 1, 4, 5, 3, 0}, {3, 5, 2, 0, 1, 6, 4}, {1, 4, 3, 6, 0, 2, 5}, {6, 4, 0, 5, 2, 1, 3}};
const uint8_t kPhi5[5][7] = {{3, 4, 1, 0, 5, 2, 6}, {6, 2, 1, 0, 3, 4, 5}, {2, 6, 0, 4, 3, 1, 5},
                             {1, 5, 3, 2, 0, 4, 6}, {2, 5, 0, 6, 4, 3, 1}};

inline uint32_t Ror(uint32_t v, unsigned n) { return (v >> n) | (v << (32 - n)); }

inline uint32_t F(int f, uint32_t x6, uint32_t x5, uint32_t x4, uint32_t x3, uint32_t x2, uint32_t x1, uint32_t x0) {
  switch (f) {
    case 0: return (x1 & x4) ^ (x2 & x5) ^ (x3 & x6) ^ (x0 & x1) ^ x0;
    case 1:
      return (x1 & x2 & x3) ^ (x2 & x4 & x5) ^ (x1 & x2) ^ (x1 & x4) ^ (x2 & x6) ^ (x3 & x5) ^ (x4 & x5) ^
             (x0 & x2) ^ x0;
    case 2: return (x1 & x2 & x3) ^ (x1 & x4) ^ (x2 & x5) ^ (x3 & x6) ^ (x0 & x3) ^ x0;
    case 3:
      return (x1 & x2 & x3) ^ (x2 & x4 & x5) ^ (x3 & x4 & x6) ^ (x1 & x4) ^ (x2 & x6) ^ (x3 & x4) ^ (x3 & x5) ^
             (x3 & x6) ^ (x4 & x5) ^ (x4 & x6) ^ (x0 & x4) ^ x0;
    default: return (x1 & x4) ^ (x2 & x5) ^ (x3 & x6) ^ (x0 & x1 & x2 & x3) ^ (x0 & x5) ^ x0;
  }
}

template <int Passes>
void Compress(uint32_t* state, const uint8_t* block) {
  uint32_t w[32];
  std::memcpy(w, block, 128);  // little-endian words
  uint32_t e[8];
  std::memcpy(e, state, sizeof(e));
  OM_UNROLL
  for (int s = 0; s < 32 * Passes; ++s) {
    const int p = s >> 5, i = s & 31;
    const uint8_t* phi = Passes == 3 ? kPhi3[p] : Passes == 4 ? kPhi4[p] : kPhi5[p];
    const int r = (7 - i) & 7;
    uint32_t x[7];  // x[k] is x_k
    for (int k = 0; k < 7; ++k) x[k] = e[(r - 7 + k) & 7];
    uint32_t t = F(p, x[phi[0]], x[phi[1]], x[phi[2]], x[phi[3]], x[phi[4]], x[phi[5]], x[phi[6]]);
    e[r] = Ror(t, 7) + Ror(e[r], 11) + w[kOrder[p][i]] + (p ? kK[p - 1][i] : 0u);
  }
  for (int k = 0; k < 8; ++k) state[k] += e[k];
}

}  // namespace

void THash_Haval256::SelectHavalPasses() {
  if (FPasses < 3 || FPasses > 5) {
    int size = DigestSize();
    FPasses = size <= 20 ? 3 : size <= 28 ? 4 : 5;
  }
  FCompress = FPasses == 3 ? Compress<3> : FPasses == 4 ? Compress<4> : Compress<5>;
}

void THash_Haval256::InitState() {
  SelectHavalPasses();
  static const uint32_t kStart[8] = {0x243F6A88u, 0x85A308D3u, 0x13198A2Eu, 0x03707344u,
                                     0xA4093822u, 0x299F31D0u, 0x082EFA98u, 0xEC4E6C89u};
  std::memcpy(FDigest, kStart, sizeof(kStart));
}

void THash_Haval256::CompressBlocks(const uint8_t* data, int64_t count) {
  if (!FCompress) SelectHavalPasses();
  for (int64_t i = 0; i < count; ++i) FCompress(FDigest, data + 128 * i);
}

// Version 1 with the pass count, the digest length in bits divided by 4, the
// bit count.
void THash_Haval256::WriteTail(uint8_t* tail) {
  tail[0] = static_cast<uint8_t>(FPasses * 8 + 1);
  tail[1] = static_cast<uint8_t>(DigestSize() * 8 / 4);
  StoreBitCount(tail + 2, false);
}

// The output tailoring: the eight words folded to the digest size.
void THash_Haval256::FinishDigest() {
  uint32_t* fp = FDigest;
  const uint32_t t4 = fp[4], t5 = fp[5], t6 = fp[6], t7 = fp[7];
  uint32_t temp;
  switch (DigestSize()) {
    case 16:
      temp = (t7 & 0x000000FFu) | (t6 & 0xFF000000u) | (t5 & 0x00FF0000u) | (t4 & 0x0000FF00u);
      fp[0] += Ror(temp, 8);
      temp = (t7 & 0x0000FF00u) | (t6 & 0x000000FFu) | (t5 & 0xFF000000u) | (t4 & 0x00FF0000u);
      fp[1] += Ror(temp, 16);
      temp = (t7 & 0x00FF0000u) | (t6 & 0x0000FF00u) | (t5 & 0x000000FFu) | (t4 & 0xFF000000u);
      fp[2] += Ror(temp, 24);
      temp = (t7 & 0xFF000000u) | (t6 & 0x00FF0000u) | (t5 & 0x0000FF00u) | (t4 & 0x000000FFu);
      fp[3] += temp;
      break;
    case 20:
      temp = (t7 & 0x3Fu) | (t6 & (0x7Fu << 25)) | (t5 & (0x3Fu << 19));
      fp[0] += Ror(temp, 19);
      temp = (t7 & (0x3Fu << 6)) | (t6 & 0x3Fu) | (t5 & (0x7Fu << 25));
      fp[1] += Ror(temp, 25);
      temp = (t7 & (0x7Fu << 12)) | (t6 & (0x3Fu << 6)) | (t5 & 0x3Fu);
      fp[2] += temp;
      temp = (t7 & (0x3Fu << 19)) | (t6 & (0x7Fu << 12)) | (t5 & (0x3Fu << 6));
      fp[3] += temp >> 6;
      temp = (t7 & (0x7Fu << 25)) | (t6 & (0x3Fu << 19)) | (t5 & (0x7Fu << 12));
      fp[4] += temp >> 12;
      break;
    case 24:
      temp = (t7 & 0x1Fu) | (t6 & (0x3Fu << 26));
      fp[0] += Ror(temp, 26);
      temp = (t7 & (0x1Fu << 5)) | (t6 & 0x1Fu);
      fp[1] += temp;
      temp = (t7 & (0x3Fu << 10)) | (t6 & (0x1Fu << 5));
      fp[2] += temp >> 5;
      temp = (t7 & (0x1Fu << 16)) | (t6 & (0x3Fu << 10));
      fp[3] += temp >> 10;
      temp = (t7 & (0x1Fu << 21)) | (t6 & (0x1Fu << 16));
      fp[4] += temp >> 16;
      temp = (t7 & (0x3Fu << 26)) | (t6 & (0x1Fu << 21));
      fp[5] += temp >> 21;
      break;
    case 28:
      fp[0] += (t7 >> 27) & 0x1Fu;
      fp[1] += (t7 >> 22) & 0x1Fu;
      fp[2] += (t7 >> 18) & 0x0Fu;
      fp[3] += (t7 >> 13) & 0x1Fu;
      fp[4] += (t7 >> 9) & 0x0Fu;
      fp[5] += (t7 >> 4) & 0x1Fu;
      fp[6] += t7 & 0x0Fu;
      break;
    default:
      break;
  }
}

}  // namespace om
