#include "gif/gif_quantize.h"

#include <algorithm>
#include <memory>

namespace om {

TOctreeNode::~TOctreeNode() {
  for (TOctreeNode* child : Children) delete child;
}

TColorQuantizer::TColorQuantizer(int maxColors, int colorBits)
    : FColorLimit(std::max(1, maxColors)), FTreeDepth(std::clamp(colorBits, 1, 8)) {}

void TColorQuantizer::InsertColor(TOctreeNode*& node, uint8_t r, uint8_t g, uint8_t b, int level) {
  // Iterative descent; the tree is at most 9 levels deep.
  TOctreeNode** ref = &node;
  for (;;) {
    if (!*ref) {
      *ref = new TOctreeNode;
      if (level == FTreeDepth) {
        (*ref)->Terminal = true;
        ++FLeaves;
      } else {
        (*ref)->NextReducible = FReducible[level];
        FReducible[level] = *ref;
      }
    }
    TOctreeNode* n = *ref;
    if (n->Terminal) {
      ++n->Hits;
      n->RedTotal += r;
      n->GreenTotal += g;
      n->BlueTotal += b;
      return;
    }
    const int m = 0x80 >> level, s = 7 - level;
    const int child = ((r & m) >> s) * 4 + ((g & m) >> s) * 2 + ((b & m) >> s);
    ref = &n->Children[child];
    ++level;
  }
}

bool TColorQuantizer::MergeDeepest() {
  int level = FTreeDepth - 1;
  while (level > 0 && !FReducible[level]) --level;
  TOctreeNode* node = FReducible[level];
  if (!node) return false;
  FReducible[level] = node->NextReducible;
  int children = 0;
  for (TOctreeNode*& child : node->Children) {
    if (!child) continue;
    node->Hits += child->Hits;
    node->RedTotal += child->RedTotal;
    node->GreenTotal += child->GreenTotal;
    node->BlueTotal += child->BlueTotal;
    delete child;
    child = nullptr;
    ++children;
  }
  node->Terminal = true;
  FLeaves -= children - 1;
  return true;
}

void TColorQuantizer::AddColor(uint8_t r, uint8_t g, uint8_t b) {
  InsertColor(FRoot, r, g, b, 0);
  while (FLeaves > FColorLimit && MergeDeepest()) {
  }
}

bool TColorQuantizer::ProcessImage(TDIBReader& reader) {
  const int width = reader.Width(), height = reader.Height();
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = reader.RowPointer(y);
    for (int x = 0; x < width; ++x) AddColor(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]);
  }
  return true;
}

int TColorQuantizer::ExportColors(TGIFRGBQuad* entries, int capacity) const {
  int count = 0;
  auto walk = [&](auto& self, const TOctreeNode* n) -> void {
    if (!n) return;
    if (n->Terminal) {
      if (count < capacity) {
        TGIFRGBQuad& e = entries[count];
        e.Red = n->Hits ? uint8_t(n->RedTotal / n->Hits) : 0;
        e.Green = n->Hits ? uint8_t(n->GreenTotal / n->Hits) : 0;
        e.Blue = n->Hits ? uint8_t(n->BlueTotal / n->Hits) : 0;
        e.Reserved = 0;
      }
      ++count;
      return;
    }
    for (const TOctreeNode* child : n->Children) self(self, child);
  };
  walk(walk, FRoot);
  return std::min(count, capacity);
}

TGIFPalette MakeOptimizedPalette(TDIBReader& reader, int colors, int colorBits, bool withSystemColors) {
  colors = std::clamp(colors, 1, 256);
  TGIFPalette palette;
  int first = 0;
  if (withSystemColors) {
    TGIFPalette system = MakeSystemDefaultPalette();
    palette.Entries.assign(256, TGIFPaletteEntry{0, 0, 0, 0});
    for (int i = 0; i < 10; ++i) {
      palette.Entries[size_t(i)] = system.Entries[size_t(i)];
      palette.Entries[size_t(246 + i)] = system.Entries[size_t(10 + i)];
    }
    colors = 236;
    first = 10;
  } else {
    palette.Entries.assign(size_t(colors), TGIFPaletteEntry{0, 0, 0, 0});
  }
  TGIFRGBQuad table[256] = {};
  {
    TColorQuantizer quantizer(colors, colorBits);
    quantizer.ProcessImage(reader);
    quantizer.ExportColors(table, 256);
  }
  // Entries past the last leaf stay black.
  for (int i = 0; i < colors; ++i)
    palette.Entries[size_t(first + i)] = {table[i].Red, table[i].Green, table[i].Blue, 0};
  return palette;
}

TGIFPalette MakeOptimizedPaletteFromBitmap(TGIFBitmap& bitmap, int colors, int colorBits, bool withSystemColors) {
  TDIBReader reader(bitmap, pf24bit);
  return MakeOptimizedPalette(reader, colors, colorBits, withSystemColors);
}

#ifdef _WIN32
TGIFPalette HalftonePaletteEntries();  // gif_win32.cpp
TGIFPalette (*HalftonePaletteProvider)() = HalftonePaletteEntries;
#else
TGIFPalette (*HalftonePaletteProvider)() = nullptr;
#endif

void ReduceColors(TGIFBitmap& source, TGIFBitmap& result, int method, int ditherMode, int reductionBits,
                  const TGIFPalette* customPalette) {
  if (method == 0) {
    result.CopyFrom(source);
    result.SetPixelFormat(pf24bit);
    return;
  }
  const int width = source.Width(), height = source.Height();
  if (int64_t(width) * height > 500000) result.SetPixelFormat(pf1bit);
  TDIBReader reader(source, pf24bit);
  if (method < 0 || method > 9) return;

  TGIFPalette palette;
  std::unique_ptr<TColorLookup> lookup;
  switch (method) {
    case 1: palette = MakeSystemDefaultPalette(); break;
    case 2:
      if (HalftonePaletteProvider) palette = HalftonePaletteProvider();
      break;
    case 3: palette = MakeFourGrayPalette(); break;
    case 4: palette = MakeBlackWhitePalette(); lookup = std::make_unique<TMonochromeLookup>(); break;
    case 5: palette = MakeGrayPalette(); lookup = std::make_unique<TGrayScaleLookup>(); break;
    case 6: palette = MakeWebPalette(); lookup = std::make_unique<TNetscapeColorLookup>(); break;
    case 7:
      // Reduction bits beyond 1..8 would ask for more than 256 colours.
      palette = MakeOptimizedPalette(reader, 1 << std::clamp(reductionBits, 1, 8), 8, false);
      break;
    case 8: palette = MakeOptimizedPaletteFromBitmap(source, 256, 8, true); break;
    case 9:
      if (customPalette) palette = *customPalette;
      break;
  }
  if (!lookup) lookup = std::make_unique<TFastColorLookup>(palette);
  if (lookup->PaletteSize() == 0) return;

  std::unique_ptr<TDitherEngine> ditherer = MakeDitherEngine(ditherMode, width, lookup.get());
  if (!ditherer) return;
  TDIBWriter writer(result, pf8bit, width, height, &palette);
  for (int y = 0; y < height; ++y) DitherRow(*ditherer, reader.RowPointer(y), writer.RowPointer(y), width);
  writer.Commit();
}

}  // namespace om
