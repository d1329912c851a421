// Block routines on instruction set extensions (SHA, PCLMULQDQ), chosen at run
// time when the processor has them; the portable routines remain for the rest.
#pragma once

#include <cstdint>

namespace om {

struct TProcessorFeatures {
  int CPUType = 0;      // as DetectCPUType
  bool Sse2 = false;
  bool Ssse3 = false;
  bool Sse41 = false;
  bool Pclmul = false;
  bool Sha = false;
};

// Detected once, on first use.
const TProcessorFeatures& ProcessorFeatures();

// True when this build carries the routines below (x86 and x86-64).
bool HaveAcceleratedRoutines();

// On by default; tests turn it off to run the portable routines on a processor
// that has the extensions. Results are the same either way.
void SetAcceleratedRoutinesEnabled(bool enabled);
bool AcceleratedRoutinesEnabled();

// SHA-1 compression of count 64-byte blocks with the SHA instructions; state is
// the five chaining words. Needs ProcessorFeatures().Sha and .Sse41.
void Sha1CompressBlocksShaNi(uint32_t* state, const uint8_t* data, int64_t count);

// CRC-32 (reflected 0xEDB88320) register after length bytes, by carry-less
// multiplication folding; length must be at least 64. The last 16 folded bytes
// are handed to finish (the table routine) with a zero register, and the
// result returned. Needs ProcessorFeatures().Pclmul.
uint32_t Crc32FoldPclmul(uint32_t crc, const uint8_t* data, int64_t length,
                         uint32_t (*finish)(uint32_t crc, const uint8_t* data, int64_t length));

}  // namespace om
