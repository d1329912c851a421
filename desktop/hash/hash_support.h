// Shared state and small routines of the hash and encoding library: processor
// check, byte order, CRC tables, self-test vector, random fill, the protection
// class list and the library's start-up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/object.h"

namespace om {

struct TProtectionClass;

int GetDefaultFormatId();
const uint8_t* GetSelfTestVector();  // 32 bytes
constexpr int kSelfTestVectorSize = 32;

// Processor class: 3 for a 386, 4 for a 486 without CPUID, else the CPUID
// family. Non-x86 builds report 6.
int DetectCPUType();
int GetDetectedCPUType();

uint32_t CalcCRC32(uint32_t crc, const void* data, int64_t length);
uint16_t CalcCRC16(uint16_t crc, const void* data, int64_t length);

uint32_t RandomizeBuffer(uint32_t seed, void* buffer, int64_t length);
uint32_t TimeSeed();

void XorBlocks(const void* a, const void* b, int64_t length, void* destination);

// Rotation by n mod 32 bits (named apart from the Windows headers' rotation macros).
inline uint32_t RotateBitsLeft32(uint32_t v, unsigned n) { n &= 31; return n ? (v << n) | (v >> (32 - n)) : v; }
inline uint32_t RotateBitsRight32(uint32_t v, unsigned n) { n &= 31; return n ? (v >> n) | (v << (32 - n)) : v; }

// Byte order reversal; both variants give the same results, the one using the
// byte-swap instruction is selected at start-up when the processor has it.
extern uint32_t (*ReverseBytes32)(uint32_t value);
extern void (*ReverseBytes32Buffer)(const void* source, void* destination, int64_t count);
// The 80-word SHA message schedule of one 64-byte block; with rotate the words
// from 16 on are rotated left by one bit (SHA-1), without it not (the first SHA).
extern void (*ExpandShaSchedule)(uint32_t* schedule, const void* block, bool rotate);

// True when reference is a live protection object of cls or a descendant.
bool IsLiveObjectOf(const void* reference, const TProtectionClass& cls);

struct TProtectionClassEntry {
  std::string Text;  // kind "=" description
  const TProtectionClass* Class;
};

bool RegisterProtectionClass(const TProtectionClass* cls, const std::string& description,
                             const std::string& kind);
const std::vector<TProtectionClassEntry>& ProtectionClassList();

// Start-up and shut-down of the library; counted, so the registries are made
// by the first start-up and freed by the shut-down that balances it. Using the
// format list or the class list without a start-up makes them, uncounted.
void HashLibraryStartup();
void HashLibraryShutdown();
void EnsureHashLibraryState();

}  // namespace om
