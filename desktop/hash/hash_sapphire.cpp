// Hash on the Sapphire II stream cipher state.
#include <cstring>

#include "hash/hash_support.h"
#include "hash/hashes.h"

namespace om {

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
