#include "support/chartables.h"

#include <cstring>

namespace om {

namespace {

uint16_t gCharTypes[256];
uint8_t gLower[256];
uint8_t gUpper[256];
uint8_t gSwapped[256];
bool gCaseTablesFilled = false;

constexpr const char kEmptyStringInList[] = "String list passed to StringsToMultiSz cannot contain empty strings.";

size_t lengthToZero(const std::string& s) {
  size_t n = s.find('\0');
  return n == std::string::npos ? s.size() : n;
}

}  // namespace

const uint16_t* CharTypeTable() { return gCharTypes; }
const uint8_t* LowerCaseTable() { return gLower; }
const uint8_t* UpperCaseTable() { return gUpper; }
const uint8_t* SwappedCaseTable() { return gSwapped; }

bool IsLowerChar(char c) { return (gCharTypes[static_cast<unsigned char>(c)] & kC1Lower) != 0; }
bool IsUpperChar(char c) { return (gCharTypes[static_cast<unsigned char>(c)] & kC1Upper) != 0; }

void SetCharTypeTable(const uint16_t types[256]) { std::memcpy(gCharTypes, types, sizeof gCharTypes); }

void SetCaseTables(const uint8_t lower[256], const uint8_t upper[256]) {
  if (gCaseTablesFilled) return;
  for (int c = 0; c < 256; ++c) {
    gLower[c] = lower[c];
    gUpper[c] = upper[c];
    const char ch = static_cast<char>(c);
    if (IsUpperChar(ch))
      gSwapped[c] = lower[c];
    else if (IsLowerChar(ch))
      gSwapped[c] = upper[c];
    else
      gSwapped[c] = static_cast<uint8_t>(c);
  }
  gCaseTablesFilled = true;
}

bool CaseTablesFilled() { return gCaseTablesFilled; }

void ResetCaseTables() {
  std::memset(gLower, 0, sizeof gLower);
  std::memset(gUpper, 0, sizeof gUpper);
  std::memset(gSwapped, 0, sizeof gSwapped);
  gCaseTablesFilled = false;
}

size_t MultiSzSize(const std::vector<std::string>& list) {
  size_t size = 1;
  for (const std::string& s : list) size += lengthToZero(s) + 1;
  return size;
}

char* StringsToMultiSz(char*& block, const std::vector<std::string>& list) {
  size_t size = 1;
  for (const std::string& s : list) {
    const size_t n = lengthToZero(s);
    if (n == 0) throw EDsError(kEmptyStringInList);
    size += n + 1;
  }
  AllocateStringBlock(block, static_cast<std::ptrdiff_t>(size));
  char* p = block;
  for (const std::string& s : list) {
    const size_t n = lengthToZero(s);
    std::memcpy(p, s.data(), n);
    p += n;
    *p++ = '\0';
  }
  *p = '\0';
  return block;
}

void AllocateStringBlock(char*& block, std::ptrdiff_t size) {
  block = size > 0 ? new char[static_cast<size_t>(size)] : nullptr;
}

void ReleaseStringBlock(char*& block) {
  delete[] block;
  block = nullptr;
}

}  // namespace om
