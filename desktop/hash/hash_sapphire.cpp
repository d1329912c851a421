// Hash on the Sapphire II stream cipher state.
#include <cstring>

#include "hash/hash_support.h"
#include "hash/hashes.h"

namespace om {

namespace {
const uint8_t kSapphire320Answer[] = {0xd8, 0xed, 0xa5, 0x74, 0x99, 0x48, 0xac, 0x0b, 0x00, 0x90, 0xcd, 0x87, 0x61, 0xf2,
                                      0x18, 0xdb, 0xa4, 0x1d, 0xcb, 0x73, 0xe4, 0x33, 0x99, 0xdd, 0x37, 0x12, 0x06, 0x93,
                                      0x97, 0x33, 0x95, 0x00, 0x4a, 0xcf, 0x86, 0xdb, 0x23, 0x6d, 0xe7, 0x6b};
const uint8_t kSapphire288Answer[] = {0x40, 0xf6, 0x5a, 0x37, 0xd8, 0xcb, 0x11, 0x65, 0xdc, 0xfb, 0xde, 0x63,
                                      0x2b, 0x2c, 0xbe, 0x9c, 0x2b, 0xb7, 0xf3, 0xed, 0x22, 0xd1, 0xeb, 0xef,
                                      0x0f, 0xa1, 0x88, 0xed, 0x23, 0xf0, 0x7f, 0x9c, 0x7e, 0x61, 0x37, 0x40};
const uint8_t kSapphire256Answer[] = {0xe7, 0xc8, 0x2b, 0x6d, 0x25, 0x8a, 0xfd, 0xe0, 0x34, 0x42, 0x93,
                                      0xa3, 0xe2, 0xe5, 0x28, 0x96, 0xa5, 0x46, 0x50, 0x6b, 0x13, 0x93,
                                      0x86, 0x1b, 0x40, 0xc6, 0x93, 0x4b, 0x51, 0xfa, 0x66, 0xdd};
const uint8_t kSapphire224Answer[] = {0x8f, 0x3e, 0xc5, 0x57, 0x92, 0x31, 0x6c, 0xdf, 0xca, 0x40,
                                      0x18, 0x3a, 0x86, 0x08, 0x08, 0x99, 0x34, 0xfd, 0xeb, 0x21,
                                      0xab, 0xa4, 0x52, 0x0f, 0x40, 0x17, 0xd3, 0xd0};
const uint8_t kSapphire192Answer[] = {0x95, 0x41, 0x3f, 0xe0, 0x2b, 0x52, 0x7e, 0x50, 0xb5, 0xff, 0x57, 0xeb,
                                      0x76, 0x3d, 0x32, 0x51, 0x29, 0xeb, 0x79, 0x6f, 0x4a, 0x64, 0xfb, 0x17};
const uint8_t kSapphire160Answer[] = {0x73, 0xd9, 0x1a, 0xce, 0xb1, 0x75, 0xfd, 0x04, 0x90, 0x7a,
                                      0x97, 0x41, 0x3c, 0x20, 0x0f, 0x53, 0x2c, 0x22, 0xb3, 0x8c};
const uint8_t kSapphire128Answer[] = {0x47, 0xae, 0x16, 0x13, 0xc9, 0x3a, 0x94, 0x2d,
                                      0x26, 0x74, 0x8d, 0x62, 0x43, 0x26, 0x88, 0xd8};
}  // namespace

OM_DEFINE_HASH(THash_Sapphire320, THash, 40, kSapphire320Answer)
OM_DEFINE_HASH(THash_Sapphire288, THash_Sapphire320, 36, kSapphire288Answer)
OM_DEFINE_HASH(THash_Sapphire256, THash_Sapphire320, 32, kSapphire256Answer)
OM_DEFINE_HASH(THash_Sapphire224, THash_Sapphire320, 28, kSapphire224Answer)
OM_DEFINE_HASH(THash_Sapphire192, THash_Sapphire320, 24, kSapphire192Answer)
OM_DEFINE_HASH(THash_Sapphire160, THash_Sapphire320, 20, kSapphire160Answer)
OM_DEFINE_HASH(THash_Sapphire128, THash_Sapphire320, 16, kSapphire128Answer)

THash_Sapphire320::~THash_Sapphire320() {
  SecureZero(FCards, sizeof(FCards));
  SecureZero(FDigest, sizeof(FDigest));
}

void THash_Sapphire320::Reset() {
  std::memset(FDigest, 0, sizeof(FDigest));
  FCount = 0;
  FRotor = 1;
  FRatchet = 3;
  FAvalanche = 5;
  FLastPlain = 7;
  FLastCipher = 11;
  for (int i = 0; i < 256; ++i) FCards[i] = static_cast<uint8_t>(255 - i);
  ResetHook();
}

void THash_Sapphire320::Update(const void* data, int64_t length) {
  if (length <= 0 || !data) return;
  const auto* p = static_cast<const uint8_t*>(data);
  FCount += static_cast<uint64_t>(length);
  uint8_t rotor = FRotor, ratchet = FRatchet, avalanche = FAvalanche, lastPlain = FLastPlain,
          lastCipher = FLastCipher;
  uint8_t* card = FCards;
  for (int64_t i = 0; i < length; ++i) {
    const uint8_t b = p[i];
    ratchet = static_cast<uint8_t>(ratchet + card[rotor]);
    ++rotor;
    const uint8_t t = card[lastCipher];
    card[lastCipher] = card[ratchet];
    card[ratchet] = card[lastPlain];
    card[lastPlain] = card[rotor];
    card[rotor] = t;
    avalanche = static_cast<uint8_t>(avalanche + card[t]);
    lastCipher = static_cast<uint8_t>(
        b ^ card[static_cast<uint8_t>(card[ratchet] + card[rotor])] ^
        card[card[static_cast<uint8_t>(card[lastPlain] + card[lastCipher] + card[avalanche])]]);
    lastPlain = b;
  }
  FRotor = rotor;
  FRatchet = ratchet;
  FAvalanche = avalanche;
  FLastPlain = lastPlain;
  FLastCipher = lastCipher;
}

void THash_Sapphire320::Finish() {
  const int size = DigestSize();
  uint8_t v = static_cast<uint8_t>(size);
  for (int n = 255; n >= 0; --n) {
    v = static_cast<uint8_t>(v ^ n);
    Update(&v, 1);
  }
  uint8_t block[40] = {0x80, 2, 0, static_cast<uint8_t>(size), 1, 3, 5, 7, 11};
  // The bit count in 64 bits: inputs of 512 MiB and more keep their true length.
  const uint64_t bits = FCount * 8;
  for (int i = 0; i < 8; ++i) block[9 + i] = static_cast<uint8_t>(bits >> (8 * i));
  for (int i = 0; i < size; ++i) {
    Update(&block[i], 1);
    FDigest[i] ^= FLastCipher;
  }
  SecureZero(block, sizeof(block));
  FinishHook();
}

}  // namespace om
