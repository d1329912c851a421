// Character-class and case tables of the ANSI code page, and zero-separated
// multi-string blocks. Portable: the tables are filled from the system on
// Windows (FillCharTypeTable, FillCaseTables in chartables_win32.cpp); the
// derivation of the swapped-case table and the block routines need no system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/exceptions.h"

namespace om {

// Error raised by the library's string routines.
class EDsError : public Exception {
public:
  using Exception::Exception;
};

// Character-type-1 flags, as the system reports them.
constexpr uint16_t kC1Upper = 0x0001;
constexpr uint16_t kC1Lower = 0x0002;
constexpr uint16_t kC1Digit = 0x0004;
constexpr uint16_t kC1Space = 0x0008;
constexpr uint16_t kC1Punct = 0x0010;
constexpr uint16_t kC1Cntrl = 0x0020;
constexpr uint16_t kC1Blank = 0x0040;
constexpr uint16_t kC1XDigit = 0x0080;
constexpr uint16_t kC1Alpha = 0x0100;

// The process-wide tables (all zero until filled).
const uint16_t* CharTypeTable();   // 256 entries
const uint8_t* LowerCaseTable();   // 256 entries
const uint8_t* UpperCaseTable();   // 256 entries
const uint8_t* SwappedCaseTable(); // 256 entries

bool IsLowerChar(char c);
bool IsUpperChar(char c);

// Stores the character types of the 256 codes.
void SetCharTypeTable(const uint16_t types[256]);
// Stores the lower- and upper-case tables and derives the swapped one from
// them and the type table. Only the first call acts (until ResetCaseTables).
void SetCaseTables(const uint8_t lower[256], const uint8_t upper[256]);
bool CaseTablesFilled();
// Forgets the case tables (unit shut-down; tests).
void ResetCaseTables();

#ifdef _WIN32
// Fill the tables from the system for the user's default locale and the ANSI
// code page (chartables_win32.cpp).
void FillCharTypeTable();
void FillCaseTables();
// Unit start-up (fills the tables, records the unit's version) and shut-down.
void InitializeStringsUnit();
void FinalizeStringsUnit();
#endif

// A multi-string block: each string followed by a zero byte, then one more
// zero byte. Strings count up to their first zero character.
// Raises EDsError for an empty string (nothing is allocated then). The block
// is allocated with AllocateStringBlock and released with ReleaseStringBlock.
char* StringsToMultiSz(char*& block, const std::vector<std::string>& list);
// Size in bytes of the block StringsToMultiSz builds for list (no checks).
size_t MultiSzSize(const std::vector<std::string>& list);
// No block (nullptr) for a size of 0 or less.
void AllocateStringBlock(char*& block, std::ptrdiff_t size);
// Frees the block when present and clears the reference.
void ReleaseStringBlock(char*& block);

}  // namespace om
