// Snefru-256 with 8 passes over 32-byte blocks of little-endian words.
#include <cstring>

#include "hash/hashes.h"
#include "hash/snefru_sboxes.h"

namespace om {

void THash_Snefru::InitState() { std::memset(FDigest, 0, sizeof(FDigest)); }

void THash_Snefru::CompressBlocks(const uint8_t* data, int64_t count) {
  for (int64_t i = 0; i < count; ++i) SnefruCompress<TSnefruVariant::Own>(FDigest, data + 32 * i);
}

}  // namespace om
