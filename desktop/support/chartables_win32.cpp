// The character tables filled from the system: character types of the user's
// default locale, case mappings of the ANSI code page.
#include "platform/win32.h"
#include "support/chartables.h"
#include "support/unitversions.h"

namespace om {

namespace {
const TUnitVersionInfo kStringsVersion = {"$URL: desktop/support/chartables.cpp $", "$Revision: 1 $",
                                          "$Date: 2026-12-09 $", "desktop/support", "", ""};
TLibraryUnit gStringsUnit(&kStringsVersion);
}  // namespace

void FillCharTypeTable() {
  char codes[256];
  for (int c = 0; c < 256; ++c) codes[c] = static_cast<char>(c);
  WORD types[256] = {};
  GetStringTypeExA(LOCALE_USER_DEFAULT, CT_CTYPE1, codes, 256, types);
  uint16_t table[256];
  for (int c = 0; c < 256; ++c) table[c] = types[c];
  SetCharTypeTable(table);
}

void FillCaseTables() {
  if (CaseTablesFilled()) return;
  char lower[256], upper[256];
  for (int c = 0; c < 256; ++c) lower[c] = upper[c] = static_cast<char>(c);
  CharLowerBuffA(lower, 256);
  CharUpperBuffA(upper, 256);
  SetCaseTables(reinterpret_cast<const uint8_t*>(lower), reinterpret_cast<const uint8_t*>(upper));
}

void InitializeStringsUnit() {
  if (!gStringsUnit.StartUp()) return;
  FillCharTypeTable();
  FillCaseTables();
}

void FinalizeStringsUnit() {
  if (gStringsUnit.ShutDown()) ResetCaseTables();
}

}  // namespace om
