// Octree colour quantiser and the reduction of a true-colour bitmap to an
// 8-bit palette bitmap (fixed, optimised or given palette; optional dithering).
#pragma once

#include <cstdint>
#include <functional>

#include "gif/gif_colors.h"
#include "gif/gif_dib.h"

namespace om {

class TOctreeNode : public TObject {
public:
  ~TOctreeNode() override;
  bool Terminal = false;
  int64_t Hits = 0, RedTotal = 0, GreenTotal = 0, BlueTotal = 0;
  TOctreeNode* NextReducible = nullptr;
  TOctreeNode* Children[8] = {};
};

class TColorQuantizer : public TObject {
public:
  TColorQuantizer(int maxColors, int colorBits);
  ~TColorQuantizer() override { delete FRoot; }

  // Every pixel of the reader's 24-bit rows (blue, green, red).
  bool ProcessImage(TDIBReader& reader);
  void AddColor(uint8_t r, uint8_t g, uint8_t b);
  // One entry (blue, green, red, 0) per leaf, depth first; returns the count.
  int ExportColors(TGIFRGBQuad* entries, int capacity) const;
  int Leaves() const { return FLeaves; }

private:
  void InsertColor(TOctreeNode*& node, uint8_t r, uint8_t g, uint8_t b, int level);
  // False when no node is left to merge.
  bool MergeDeepest();

  TOctreeNode* FRoot = nullptr;
  int FLeaves = 0;
  TOctreeNode* FReducible[8] = {};
  int FColorLimit, FTreeDepth;
};

// A palette of `colors` entries optimised for the reader's picture; with
// system colours the 20 static colours take entries 0-9 and 246-255 and the
// quantiser fills the 236 between.
TGIFPalette MakeOptimizedPalette(TDIBReader& reader, int colors, int colorBits, bool withSystemColors);
TGIFPalette MakeOptimizedPaletteFromBitmap(TGIFBitmap& bitmap, int colors, int colorBits, bool withSystemColors);

// The platform's halftone palette (none off Windows).
extern TGIFPalette (*HalftonePaletteProvider)();

// Reduction methods: 0 none (24-bit copy), 1 system default palette, 2
// halftone, 3 four greys, 4 black and white, 5 256 greys, 6 web palette, 7
// optimised for 2^reductionBits colours, 8 optimised 256 with system colours,
// 9 the custom palette. Dither modes as MakeDitherEngine. An unknown method
// or mode, or an empty palette, leaves result empty. Converts source to 24 bits.
void ReduceColors(TGIFBitmap& source, TGIFBitmap& result, int method, int ditherMode, int reductionBits,
                  const TGIFPalette* customPalette);

}  // namespace om
