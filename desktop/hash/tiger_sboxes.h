// Tiger compression function and its S-boxes.
#pragma once

#include <cstdint>

namespace om {

// The four Tiger S-boxes (4 x 256 words), generated on first use by the
// published generating procedure.
const uint64_t* TigerSBoxes();

// Compresses one 64-byte block into the three state words.
void TigerCompress(uint64_t* state, const uint8_t* block, int passes);

}  // namespace om
