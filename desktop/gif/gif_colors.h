// Fixed palettes, colour lookups (colour to palette index) and the
// error-diffusion ditherers used when a picture is reduced to a palette.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "gif/gif_support.h"

namespace om {

// Logical palettes; the platform glue turns them into palette handles.
TGIFPalette MakeWebPalette();          // 216 entries, red varies slowest
TGIFPalette MakeGrayPalette();         // 256 grey levels
TGIFPalette MakeBlackWhitePalette();   // black, white
TGIFPalette MakeFourGrayPalette();     // 0, 128, 192, 255
TGIFPalette MakeSystemDefaultPalette();  // the 20 static system colours

// Maps a colour to a palette index and reports the palette colour chosen.
class TColorLookup : public TObject {
public:
  int PaletteSize() const { return FPaletteSize; }
  virtual uint8_t Nearest(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) = 0;

protected:
  int FPaletteSize = 0;
};

// Any palette: nearest colour by the sum of channel distances, cached per
// 15-bit colour cell (the answer for a cell is the one found for the first
// colour looked up in it).
class TFastColorLookup : public TColorLookup {
public:
  explicit TFastColorLookup(const TGIFPalette& palette);
  uint8_t Nearest(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) override;

private:
  std::vector<TGIFPaletteEntry> FEntries;
  std::unique_ptr<int16_t[]> FInverse;  // 32768 cells, -1 = not yet known
};

// The web palette's 6 x 6 x 6 cube.
class TNetscapeColorLookup : public TColorLookup {
public:
  TNetscapeColorLookup() { FPaletteSize = 216; }
  uint8_t Nearest(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) override;
};

class TGrayScaleLookup : public TColorLookup {
public:
  TGrayScaleLookup() { FPaletteSize = 256; }
  uint8_t Nearest(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) override;
};

class TMonochromeLookup : public TColorLookup {
public:
  TMonochromeLookup() { FPaletteSize = 2; }
  uint8_t Nearest(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) override;
};

// Nearest-colour matching without diffusion; rows are walked in serpentine
// order: from CurrentColumn() by Step() while inside the row, then EndRow.
class TDitherEngine : public TObject {
public:
  TDitherEngine(int rowWidth, TColorLookup* lookup) : FColorLookup(lookup), FRowWidth(rowWidth) {}
  int Step() const { return FStep; }
  int CurrentColumn() const { return FCurrentColumn; }
  virtual uint8_t DitherPixel(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB);
  virtual void EndRow();

protected:
  TColorLookup* FColorLookup;
  int FRowWidth;
  int FStep = 1;
  int FCurrentColumn = 0;
};

// Floyd-Steinberg with one error row per colour part and running sums.
class TFloydSteinbergDitherer : public TDitherEngine {
public:
  TFloydSteinbergDitherer(int rowWidth, TColorLookup* lookup);
  uint8_t DitherPixel(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) override;
  void EndRow() override;

private:
  std::vector<int32_t> FErrors[3];  // width + 2 entries
  int FPos = 0;
  int32_t FCarried[3] = {}, FBelow[3] = {}, FBelowPrev[3] = {};
};

// One weight of a diffusion matrix: row below the current one (0 = current),
// offset in the direction of travel, weight.
struct TDitherTap {
  int Row, Offset, Weight;
};

// Engines diffusing by a fixed matrix over several error rows.
class TMatrixDitherer : public TDitherEngine {
public:
  uint8_t DitherPixel(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) override;
  void EndRow() override;

protected:
  TMatrixDitherer(int rowWidth, TColorLookup* lookup, int rows, int margin, int divisor,
                  std::vector<TDitherTap> taps);
  // Spreads error (one colour part) from the current position.
  virtual void Spread(int part, int32_t error);

  int FRows, FMargin, FDivisor;
  std::vector<TDitherTap> FTaps;
  std::vector<std::vector<int32_t>> FErrors[3];  // per part: rows of width + 2 x margin
  int FPos = 0;
};

class T5by3Ditherer : public TMatrixDitherer {
protected:
  T5by3Ditherer(int rowWidth, TColorLookup* lookup, int divisor, std::vector<TDitherTap> taps)
      : TMatrixDitherer(rowWidth, lookup, 3, 2, divisor, std::move(taps)) {}
};

class TStuckiDitherer : public T5by3Ditherer {
public:
  TStuckiDitherer(int rowWidth, TColorLookup* lookup);
};
class TSierraDitherer : public T5by3Ditherer {
public:
  TSierraDitherer(int rowWidth, TColorLookup* lookup);
};
class TJaJuNiDitherer : public T5by3Ditherer {
public:
  TJaJuNiDitherer(int rowWidth, TColorLookup* lookup);
};
class TSteveArcheDitherer : public TMatrixDitherer {
public:
  TSteveArcheDitherer(int rowWidth, TColorLookup* lookup);
};
class TBurkesDitherer : public TMatrixDitherer {
public:
  TBurkesDitherer(int rowWidth, TColorLookup* lookup);
};

// Dither modes 0..6: nearest colour, Floyd-Steinberg, Stucki, Sierra,
// Jarvis-Judice-Ninke, Stevenson-Arce, Burkes. Null for other modes.
std::unique_ptr<TDitherEngine> MakeDitherEngine(int mode, int rowWidth, TColorLookup* lookup);

// Maps one row of blue, green, red pixels to indices in the engine's order,
// then ends the row.
void DitherRow(TDitherEngine& engine, const uint8_t* bgr, uint8_t* indices, int width);

}  // namespace om
