#include "gif/gif_colors.h"

#include <algorithm>
#include <cstdlib>

namespace om {

// --- Fixed palettes --------------------------------------------------------------

TGIFPalette MakeWebPalette() {
  TGIFPalette p;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) p.Entries.push_back({uint8_t(r * 51), uint8_t(g * 51), uint8_t(b * 51), 0});
  return p;
}

TGIFPalette MakeGrayPalette() {
  TGIFPalette p;
  for (int i = 0; i < 256; ++i) p.Entries.push_back({uint8_t(i), uint8_t(i), uint8_t(i), kPaletteNoCollapse});
  return p;
}

TGIFPalette MakeBlackWhitePalette() {
  TGIFPalette p;
  p.Entries = {{0, 0, 0, kPaletteNoCollapse}, {255, 255, 255, kPaletteNoCollapse}};
  return p;
}

TGIFPalette MakeFourGrayPalette() {
  TGIFPalette p;
  for (int v : {0, 128, 192, 255}) p.Entries.push_back({uint8_t(v), uint8_t(v), uint8_t(v), kPaletteNoCollapse});
  return p;
}

TGIFPalette MakeSystemDefaultPalette() {
  static const uint8_t kColors[20][3] = {
      {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
      {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
      {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
      {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
  TGIFPalette p;
  for (const auto& c : kColors) p.Entries.push_back({c[0], c[1], c[2], 0});
  return p;
}

// --- Lookups ---------------------------------------------------------------------

namespace {
inline int ColorCell(uint8_t r, uint8_t g, uint8_t b) { return (r >> 3) | ((g & 0xF8) << 2) | ((b & 0xF8) << 7); }
}  // namespace

TFastColorLookup::TFastColorLookup(const TGIFPalette& palette) : FInverse(new int16_t[32768]) {
  const size_t n = std::min<size_t>(256, palette.Entries.size());
  FEntries.assign(palette.Entries.begin(), palette.Entries.begin() + std::ptrdiff_t(n));
  FPaletteSize = int(n);
  std::fill(FInverse.get(), FInverse.get() + 32768, int16_t(-1));
  for (size_t i = 0; i < n; ++i) {
    int16_t& cell = FInverse[size_t(ColorCell(FEntries[i].Red, FEntries[i].Green, FEntries[i].Blue))];
    if (cell < 0) cell = int16_t(i);
  }
}

uint8_t TFastColorLookup::Nearest(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) {
  if (FEntries.empty()) {
    outR = outG = outB = 0;
    return 0;
  }
  int16_t& cell = FInverse[size_t(ColorCell(r, g, b))];
  if (cell < 0) {
    int best = 0, bestSum = 196608;
    for (size_t i = 0; i < FEntries.size(); ++i) {
      const int sum = std::abs(FEntries[i].Red - r) + std::abs(FEntries[i].Green - g) + std::abs(FEntries[i].Blue - b);
      if (sum < bestSum) {
        bestSum = sum;
        best = int(i);
      }
    }
    cell = int16_t(best);
  }
  const TGIFPaletteEntry& e = FEntries[size_t(cell)];
  outR = e.Red;
  outG = e.Green;
  outB = e.Blue;
  return uint8_t(cell);
}

uint8_t TNetscapeColorLookup::Nearest(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG,
                                      uint8_t& outB) {
  const int lr = (r + 3) / 51, lg = (g + 3) / 51, lb = (b + 3) / 51;
  outR = uint8_t(lr * 51);
  outG = uint8_t(lg * 51);
  outB = uint8_t(lb * 51);
  return uint8_t(lr * 36 + lg * 6 + lb);
}

uint8_t TGrayScaleLookup::Nearest(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) {
  const uint8_t y = uint8_t((r * 77 + g * 150 + b * 29) >> 8);
  outR = outG = outB = y;
  return y;
}

uint8_t TMonochromeLookup::Nearest(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) {
  const int s = r * 77 + g * 150 + b * 29;
  if (s < 32513) {
    outR = outG = outB = 0;
    return 0;
  }
  outR = outG = outB = 255;
  return 1;
}

// --- Ditherers -------------------------------------------------------------------

uint8_t TDitherEngine::DitherPixel(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) {
  const uint8_t index = FColorLookup->Nearest(r, g, b, outR, outG, outB);
  FCurrentColumn += FStep;
  return index;
}

void TDitherEngine::EndRow() {
  const int old = FStep;
  FStep = -FStep;
  FCurrentColumn = old == -1 ? 0 : FRowWidth - 1;
}

namespace {
inline uint8_t Clamp(int32_t v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }
}  // namespace

TFloydSteinbergDitherer::TFloydSteinbergDitherer(int rowWidth, TColorLookup* lookup)
    : TDitherEngine(rowWidth, lookup) {
  for (auto& e : FErrors) e.assign(size_t(std::max(0, rowWidth)) + 2, 0);
}

uint8_t TFloydSteinbergDitherer::DitherPixel(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG,
                                             uint8_t& outB) {
  // Entry e of the error row holds what the row above left for column e - 1:
  // the current column's share sits one entry ahead in the direction of travel.
  uint8_t adjusted[3];
  const uint8_t value[3] = {r, g, b};
  for (int k = 0; k < 3; ++k)
    adjusted[k] = Clamp(value[k] + (FErrors[k][size_t(FPos + FStep)] + FCarried[k] + 8) / 16);
  uint8_t chosen[3];
  const uint8_t index = TDitherEngine::DitherPixel(adjusted[0], adjusted[1], adjusted[2], chosen[0], chosen[1], chosen[2]);
  for (int k = 0; k < 3; ++k) {
    const int32_t d = adjusted[k] - chosen[k];
    FErrors[k][size_t(FPos)] = FBelowPrev[k] + 3 * d;
    FBelowPrev[k] = FBelow[k] + 5 * d;
    FBelow[k] = d;
    FCarried[k] = 7 * d;
  }
  outR = chosen[0];
  outG = chosen[1];
  outB = chosen[2];
  FPos += FStep;
  return index;
}

void TFloydSteinbergDitherer::EndRow() {
  for (int k = 0; k < 3; ++k) {
    FErrors[k][size_t(FPos)] = FBelowPrev[k];
    FCarried[k] = FBelow[k] = FBelowPrev[k] = 0;
  }
  TDitherEngine::EndRow();
  FPos = FStep > 0 ? 0 : FRowWidth + 1;
}

TMatrixDitherer::TMatrixDitherer(int rowWidth, TColorLookup* lookup, int rows, int margin, int divisor,
                                 std::vector<TDitherTap> taps)
    : TDitherEngine(rowWidth, lookup), FRows(rows), FMargin(margin), FDivisor(divisor), FTaps(std::move(taps)) {
  for (auto& part : FErrors) part.assign(size_t(rows), std::vector<int32_t>(size_t(std::max(0, rowWidth) + 2 * margin), 0));
  FPos = margin;
}

void TMatrixDitherer::Spread(int part, int32_t error) {
  if (error == 0) return;
  for (const TDitherTap& t : FTaps) FErrors[part][size_t(t.Row)][size_t(FPos + t.Offset * FStep)] += t.Weight * error;
}

uint8_t TMatrixDitherer::DitherPixel(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) {
  const uint8_t value[3] = {r, g, b};
  uint8_t adjusted[3];
  for (int k = 0; k < 3; ++k)
    adjusted[k] = Clamp(value[k] + (FErrors[k][0][size_t(FPos)] + FDivisor / 2) / FDivisor);
  uint8_t chosen[3];
  const uint8_t index = TDitherEngine::DitherPixel(adjusted[0], adjusted[1], adjusted[2], chosen[0], chosen[1], chosen[2]);
  for (int k = 0; k < 3; ++k) Spread(k, adjusted[k] - chosen[k]);
  outR = chosen[0];
  outG = chosen[1];
  outB = chosen[2];
  FPos += FStep;
  return index;
}

void TMatrixDitherer::EndRow() {
  for (auto& part : FErrors) {
    std::fill(part[0].begin(), part[0].end(), 0);
    std::rotate(part.begin(), part.begin() + 1, part.end());
  }
  TDitherEngine::EndRow();
  FPos = FStep > 0 ? FMargin : FRowWidth + FMargin - 1;
}

TStuckiDitherer::TStuckiDitherer(int w, TColorLookup* l)
    : T5by3Ditherer(w, l, 42,
                    {{0, 1, 8}, {0, 2, 4},
                     {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2},
                     {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1}}) {}

TSierraDitherer::TSierraDitherer(int w, TColorLookup* l)
    : T5by3Ditherer(w, l, 32,
                    {{0, 1, 5}, {0, 2, 3},
                     {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4}, {1, 2, 2},
                     {2, -1, 2}, {2, 0, 3}, {2, 1, 2}}) {}

TJaJuNiDitherer::TJaJuNiDitherer(int w, TColorLookup* l)
    : T5by3Ditherer(w, l, 48,
                    {{0, 1, 7}, {0, 2, 5},
                     {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5}, {1, 2, 3},
                     {2, -2, 1}, {2, -1, 3}, {2, 0, 5}, {2, 1, 3}, {2, 2, 1}}) {}

TSteveArcheDitherer::TSteveArcheDitherer(int w, TColorLookup* l)
    : TMatrixDitherer(w, l, 4, 3, 200,
                      {{0, 2, 32},
                       {1, -3, 12}, {1, -1, 26}, {1, 1, 30}, {1, 3, 16},
                       {2, -2, 12}, {2, 0, 26}, {2, 2, 12},
                       {3, -3, 5}, {3, -1, 12}, {3, 1, 12}, {3, 3, 5}}) {}

TBurkesDitherer::TBurkesDitherer(int w, TColorLookup* l)
    : TMatrixDitherer(w, l, 2, 2, 32,
                      {{0, 1, 8}, {0, 2, 4},
                       {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}}) {}

std::unique_ptr<TDitherEngine> MakeDitherEngine(int mode, int rowWidth, TColorLookup* lookup) {
  switch (mode) {
    case 0: return std::make_unique<TDitherEngine>(rowWidth, lookup);
    case 1: return std::make_unique<TFloydSteinbergDitherer>(rowWidth, lookup);
    case 2: return std::make_unique<TStuckiDitherer>(rowWidth, lookup);
    case 3: return std::make_unique<TSierraDitherer>(rowWidth, lookup);
    case 4: return std::make_unique<TJaJuNiDitherer>(rowWidth, lookup);
    case 5: return std::make_unique<TSteveArcheDitherer>(rowWidth, lookup);
    case 6: return std::make_unique<TBurkesDitherer>(rowWidth, lookup);
    default: return nullptr;
  }
}

void DitherRow(TDitherEngine& engine, const uint8_t* bgr, uint8_t* indices, int width) {
  uint8_t r, g, b;
  for (int x = engine.CurrentColumn(); x >= 0 && x < width; x = engine.CurrentColumn()) {
    const uint8_t* p = bgr + size_t(x) * 3;
    indices[x] = engine.DitherPixel(p[2], p[1], p[0], r, g, b);
  }
  engine.EndRow();
}

}  // namespace om
