// Fixed palettes, colour lookups, ditherers, the DIB writer and colour reduction.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <cstring>
#include <set>

#include "gif/gif_colors.h"
#include "gif/gif_dib.h"
#include "gif/gif_quantize.h"
#include "memory_bitmap.h"

namespace om {
namespace {

using giftest::TMemoryBitmap;

uint8_t Look(TColorLookup& l, int r, int g, int b, int* out = nullptr) {
  uint8_t o[3];
  uint8_t i = l.Nearest(uint8_t(r), uint8_t(g), uint8_t(b), o[0], o[1], o[2]);
  if (out) out[0] = o[0], out[1] = o[1], out[2] = o[2];
  return i;
}

TEST(GifColors, FixedPalettes) {
  TGIFPalette web = MakeWebPalette();
  ASSERT_EQ(216u, web.Entries.size());
  EXPECT_EQ(0x300, web.Version);
  const TGIFPaletteEntry& e = web.Entries[5 * 36 + 0 * 6 + 2];
  EXPECT_EQ(255, e.Red);
  EXPECT_EQ(0, e.Green);
  EXPECT_EQ(102, e.Blue);
  EXPECT_EQ(0, e.Flags);
  TGIFPalette gray = MakeGrayPalette();
  ASSERT_EQ(256u, gray.Entries.size());
  EXPECT_EQ(77, gray.Entries[77].Green);
  EXPECT_EQ(kPaletteNoCollapse, gray.Entries[0].Flags);
  ASSERT_EQ(2u, MakeBlackWhitePalette().Entries.size());
  TGIFPalette four = MakeFourGrayPalette();
  ASSERT_EQ(4u, four.Entries.size());
  EXPECT_EQ(192, four.Entries[2].Blue);
  TGIFPalette sys = MakeSystemDefaultPalette();
  ASSERT_EQ(20u, sys.Entries.size());
  EXPECT_EQ(255, sys.Entries[19].Red);
}

TEST(GifColors, Lookups) {
  TNetscapeColorLookup web;
  int c[3];
  EXPECT_EQ(182, Look(web, 255, 0, 130, c));
  EXPECT_EQ(255, c[0]);
  EXPECT_EQ(0, c[1]);
  EXPECT_EQ(102, c[2]);
  EXPECT_EQ(0, Look(web, 47, 0, 0, c));
  EXPECT_EQ(0, c[0]);

  TMonochromeLookup mono;
  EXPECT_EQ(1, Look(mono, 128, 128, 128));
  EXPECT_EQ(0, Look(mono, 127, 127, 127));
  TGrayScaleLookup gray;
  EXPECT_EQ(255, Look(gray, 255, 255, 255));
  EXPECT_EQ((77 * 10 + 150 * 20 + 29 * 30) >> 8, Look(gray, 10, 20, 30));

  TFastColorLookup four(MakeFourGrayPalette());
  EXPECT_EQ(4, four.PaletteSize());
  EXPECT_EQ(1, Look(four, 100, 100, 100, c));
  EXPECT_EQ(128, c[0]);
  EXPECT_EQ(0, Look(four, 60, 60, 60));

  TGIFPalette dup;
  dup.Entries = {{9, 9, 9, 0}, {50, 50, 50, 0}, {50, 50, 50, 0}};
  TFastColorLookup d(dup);
  EXPECT_EQ(1, Look(d, 50, 50, 50));
  EXPECT_EQ(0, TFastColorLookup(TGIFPalette{}).PaletteSize());
}

// A colour whose 15-bit cell holds a palette colour gets the lowest such
// entry; the first colour asked for in any other cell gets the true nearest
// entry (sum of channel distances, lowest index on ties); palette colours map
// to themselves.
TEST(GifColors, FastLookupFindsNearest) {
  std::mt19937 rng(5);
  TGIFPalette pal;
  for (int i = 0; i < 200; ++i) pal.Entries.push_back({uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0});
  for (int k = 0; k < 300; ++k) {
    TFastColorLookup l(pal);
    const int r = int(rng() % 256), g = int(rng() % 256), b = int(rng() % 256);
    int best = 0, bestSum = 1 << 30;
    for (int i = 0; i < 200; ++i) {
      const auto& e = pal.Entries[size_t(i)];
      int s = std::abs(e.Red - r) + std::abs(e.Green - g) + std::abs(e.Blue - b);
      if (s < bestSum) bestSum = s, best = i;
    }
    for (int i = 199; i >= 0; --i) {
      const auto& e = pal.Entries[size_t(i)];
      if (e.Red >> 3 == r >> 3 && e.Green >> 3 == g >> 3 && e.Blue >> 3 == b >> 3) best = i;
    }
    EXPECT_EQ(best, Look(l, r, g, b));
  }
  TFastColorLookup l(pal);
  for (int i = 0; i < 200; ++i) {
    const auto& e = pal.Entries[size_t(i)];
    int c[3];
    Look(l, e.Red, e.Green, e.Blue, c);
    EXPECT_EQ(e.Red, c[0]);
    EXPECT_EQ(e.Green, c[1]);
    EXPECT_EQ(e.Blue, c[2]);
  }
}

// Rows of blue, green, red through an engine; returns the indices.
std::vector<uint8_t> DitherImage(TDitherEngine& engine, const std::vector<uint8_t>& bgr, int w, int h) {
  std::vector<uint8_t> out(size_t(w) * size_t(h), 0xEE);
  for (int y = 0; y < h; ++y) DitherRow(engine, &bgr[size_t(y) * w * 3], &out[size_t(y) * w], w);
  return out;
}

TEST(GifDither, SerpentineWalk) {
  TGrayScaleLookup gray;
  for (int mode = 0; mode <= 6; ++mode) {
    for (int width : {1, 2, 5}) {
      auto e = MakeDitherEngine(mode, width, &gray);
      ASSERT_TRUE(e);
      EXPECT_EQ(0, e->CurrentColumn());
      EXPECT_EQ(1, e->Step());
      std::vector<uint8_t> row(size_t(width) * 3, 100);
      std::vector<uint8_t> idx(static_cast<size_t>(width));
      DitherRow(*e, row.data(), idx.data(), width);
      EXPECT_EQ(width - 1, e->CurrentColumn()) << mode;
      EXPECT_EQ(-1, e->Step());
      DitherRow(*e, row.data(), idx.data(), width);
      EXPECT_EQ(0, e->CurrentColumn());
      EXPECT_EQ(1, e->Step());
    }
  }
  EXPECT_FALSE(MakeDitherEngine(7, 4, &gray));
}

TEST(GifDither, ExactColoursStayAndGreyMixes) {
  std::mt19937 rng(9);
  const int w = 37, h = 23;
  // Only web colours: every engine maps them exactly (no error to spread).
  std::vector<uint8_t> bgr(size_t(w) * h * 3);
  for (auto& v : bgr) v = uint8_t(51 * (rng() % 6));
  TNetscapeColorLookup web;
  TGrayScaleLookup gray;
  for (int mode = 0; mode <= 6; ++mode) {
    auto e = MakeDitherEngine(mode, w, &web);
    std::vector<uint8_t> idx = DitherImage(*e, bgr, w, h);
    for (size_t i = 0; i < idx.size(); ++i) {
      const int expected = bgr[i * 3 + 2] / 51 * 36 + bgr[i * 3 + 1] / 51 * 6 + bgr[i * 3] / 51;
      ASSERT_EQ(expected, idx[i]) << mode << " at " << i;
    }
    // A uniform grey on the grey palette: one index throughout.
    std::vector<uint8_t> flat(size_t(w) * h * 3, 90);
    auto g = MakeDitherEngine(mode, w, &gray);
    std::vector<uint8_t> gi = DitherImage(*g, flat, w, h);
    EXPECT_EQ(1u, std::set<uint8_t>(gi.begin(), gi.end()).size()) << mode;
  }
  // 50 % grey on black and white: about as many of each, for every diffusing
  // engine; the mean of a grey ramp is kept.
  TMonochromeLookup mono;
  for (int mode = 1; mode <= 6; ++mode) {
    const int W = 64, H = 64;
    std::vector<uint8_t> mid(size_t(W) * H * 3, 128);
    auto e = MakeDitherEngine(mode, W, &mono);
    std::vector<uint8_t> idx = DitherImage(*e, mid, W, H);
    double white = 0;
    for (uint8_t v : idx) white += v;
    EXPECT_NEAR(0.5, white / idx.size(), 0.03) << mode;

    std::vector<uint8_t> ramp(size_t(W) * H * 3);
    double sum = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        uint8_t v = uint8_t(x * 4);
        for (int k = 0; k < 3; ++k) ramp[(size_t(y) * W + x) * 3 + k] = v;
        sum += v;
      }
    auto r = MakeDitherEngine(mode, W, &mono);
    std::vector<uint8_t> ri = DitherImage(*r, ramp, W, H);
    double out = 0;
    for (uint8_t v : ri) out += v * 255.0;
    EXPECT_NEAR(sum / (W * H), out / (W * H), 4.0) << mode;
    // Per column band the local mean follows the ramp too.
    for (int band = 0; band < 4; ++band) {
      double s = 0, o = 0;
      for (int y = 0; y < H; ++y)
        for (int x = band * 16; x < band * 16 + 16; ++x) {
          s += ramp[(size_t(y) * W + x) * 3];
          o += ri[size_t(y) * W + x] * 255.0;
        }
      EXPECT_NEAR(s / (16 * H), o / (16 * H), 12.0) << mode << " band " << band;
    }
  }
}

TEST(GifDib, WriterLayout) {
  TMemoryBitmap target;
  try {
    TDIBWriter w(target, pf4bit, 3, 3, nullptr);
    FAIL();
  } catch (const GIFException& e) {
    EXPECT_EQ("Unsupported PixelFormat", e.Message());
  }
  try {
    TDIBWriter w(target, pf8bit, 0, 3, nullptr);
    FAIL();
  } catch (const GIFException& e) {
    EXPECT_EQ("Invalid image dimensions", e.Message());
  }
  EXPECT_EQ(4 * 10, TDIBWriter(target, pf8bit, 3, 10, nullptr).PixelDataBytes());
  EXPECT_EQ(12 * 10, TDIBWriter(target, pf24bit, 3, 10, nullptr).PixelDataBytes());
  EXPECT_EQ(4, TDIBWriter(target, pf24bit, 1, 1, nullptr).PixelDataBytes());

  TGIFPalette pal;
  for (int i = 0; i < 16; ++i) pal.Entries.push_back({uint8_t(i), uint8_t(2 * i), uint8_t(3 * i), 4});
  TDIBWriter w(target, pf8bit, 3, 10, &pal);
  EXPECT_FALSE(w.HasImage());
  uint8_t* r0 = w.RowPointer(0);
  EXPECT_EQ(4 * 9, r0 - w.RowPointer(9));  // bottom-up
  EXPECT_THROW(w.RowPointer(10), EInvalidGraphicOperation);
  EXPECT_THROW(w.RowPointer(-1), EInvalidGraphicOperation);
  ASSERT_EQ(1064, w.HeaderBytes());
  TGIFBitmapInfoHeader h;
  std::memcpy(&h, w.HeaderBlock(), 40);
  EXPECT_EQ(40u, h.Size);
  EXPECT_EQ(10, h.Height);
  EXPECT_EQ(8, h.BitCount);
  EXPECT_EQ(256u, h.ClrUsed);
  EXPECT_EQ(16u, h.ClrImportant);
  const uint8_t* table = w.HeaderBlock() + 40;
  EXPECT_EQ(3 * 5, table[5 * 4 + 0]);  // blue first
  EXPECT_EQ(5, table[5 * 4 + 2]);
  EXPECT_EQ(0, table[5 * 4 + 3]);
  for (int i = 16 * 4; i < 1024; ++i) ASSERT_EQ(0, table[i]);

  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 3; ++x) w.RowPointer(y)[x] = uint8_t(y * 3 + x);
  w.Commit();
  EXPECT_EQ(pf8bit, target.Format);
  EXPECT_EQ(3, target.W);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 3; ++x) ASSERT_EQ(y * 3 + x, target.ScanLine(y)[x]);
  EXPECT_EQ(15, target.Table[5].Blue);

  // Never asked for a row: nothing is placed into the bitmap.
  TMemoryBitmap untouched(2, 2, pf24bit);
  {
    TDIBWriter idle(untouched, pf24bit, 5, 5, nullptr);
    idle.Commit();
  }
  EXPECT_EQ(2, untouched.W);
  EXPECT_EQ(24u, 24u);
}

TEST(GifQuantize, ThreeColours) {
  TMemoryBitmap src(4, 4, pf24bit);
  const uint8_t colors[3][3] = {{200, 10, 10}, {10, 200, 10}, {10, 10, 200}};  // r, g, b
  for (int i = 0; i < 16; ++i) {
    const uint8_t* c = colors[i % 3];
    uint8_t* p = src.ScanLine(i / 4) + (i % 4) * 3;
    p[0] = c[2], p[1] = c[1], p[2] = c[0];
  }
  TDIBReader reader(src, pf24bit);
  TGIFPalette pal = MakeOptimizedPalette(reader, 256, 8, false);
  ASSERT_EQ(256u, pal.Entries.size());
  // Octree child order: blue bit lowest, so (10,10,200) first, then green, then red.
  const int expected[3][3] = {{10, 10, 200}, {10, 200, 10}, {200, 10, 10}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(expected[i][0], pal.Entries[size_t(i)].Red) << i;
    EXPECT_EQ(expected[i][1], pal.Entries[size_t(i)].Green) << i;
    EXPECT_EQ(expected[i][2], pal.Entries[size_t(i)].Blue) << i;
  }
}

void FillRandom(std::mt19937& rng, TMemoryBitmap& b, int distinct) {
  const int w = b.W, h = b.H;
  std::vector<uint32_t> colors;
  for (int i = 0; i < distinct; ++i) colors.push_back(rng() & 0xFFFFFF);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t c = colors[rng() % colors.size()];
      uint8_t* p = b.ScanLine(y) + x * 4;
      p[0] = uint8_t(c), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c >> 16);
    }
}

TEST(GifQuantize, PaletteBoundsAndExactColours) {
  std::mt19937 rng(17);
  for (int bits = 1; bits <= 8; ++bits) {
    const int limit = 1 << bits;
    // Many colours: never more leaves than asked for.
    TMemoryBitmap many(40, 30, pf32bit);
    FillRandom(rng, many, 1000);
    TColorQuantizer q(limit, 8);
    TDIBReader reader(many, pf24bit);
    q.ProcessImage(reader);
    EXPECT_LE(q.Leaves(), limit);
    EXPECT_GE(q.Leaves(), 1);

    // As many colours as fit: every pixel keeps its exact colour.
    TMemoryBitmap few(31, 17, pf32bit);
    FillRandom(rng, few, limit);
    TMemoryBitmap copy;
    copy.CopyFrom(few);
    copy.SetPixelFormat(pf24bit);
    for (int mode : {0, 1, 2}) {
      TMemoryBitmap result;
      ReduceColors(few, result, 7, mode, bits, nullptr);
      ASSERT_EQ(pf8bit, result.Format);
      std::set<uint8_t> used;
      for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 31; ++x) {
          const TGIFRGBQuad& q8 = result.Table[result.ScanLine(y)[x]];
          const uint8_t* s = copy.ScanLine(y) + x * 3;
          ASSERT_EQ(s[0], q8.Blue) << bits;
          ASSERT_EQ(s[1], q8.Green);
          ASSERT_EQ(s[2], q8.Red);
          used.insert(result.ScanLine(y)[x]);
        }
      EXPECT_LE(int(used.size()), limit);
      EXPECT_EQ(uint32_t(limit), result.LoadedHeader.ClrImportant);
    }
  }
}

TEST(GifQuantize, ReduceColorsMethods) {
  std::mt19937 rng(23);
  TMemoryBitmap src(20, 10, pf32bit);
    FillRandom(rng, src, 50);
  {
    // Method 0: a 24-bit copy; the source keeps its format.
    TMemoryBitmap result;
    ReduceColors(src, result, 0, 0, 8, nullptr);
    EXPECT_EQ(pf24bit, result.Format);
    EXPECT_EQ(pf32bit, src.Format);
  }
  {
    TMemoryBitmap result;
    ReduceColors(src, result, 8, 1, 8, nullptr);
    ASSERT_EQ(pf8bit, result.Format);
    TGIFPalette sys = MakeSystemDefaultPalette();
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(sys.Entries[size_t(i)].Red, result.Table[size_t(i)].Red);
      EXPECT_EQ(sys.Entries[size_t(10 + i)].Green, result.Table[size_t(246 + i)].Green);
      EXPECT_EQ(sys.Entries[size_t(10 + i)].Blue, result.Table[size_t(246 + i)].Blue);
    }
  }
  for (int method = 1; method <= 9; ++method) {
    TMemoryBitmap s2(9, 7, pf32bit);
    FillRandom(rng, s2, 30);
    TGIFPalette custom = MakeFourGrayPalette();
    TMemoryBitmap result;
    ReduceColors(s2, result, method, method % 7, 4, &custom);
    if (method == 2 && !HalftonePaletteProvider) {
      EXPECT_TRUE(result.Data.empty());  // no halftone palette off the platform
      continue;
    }
    ASSERT_EQ(pf8bit, result.Format) << method;
    EXPECT_EQ(9, result.W);
  }
  {
    TMemoryBitmap result;
    ReduceColors(src, result, 6, 7, 8, nullptr);
    EXPECT_TRUE(result.Data.empty());
    ReduceColors(src, result, 10, 0, 8, nullptr);
    EXPECT_TRUE(result.Data.empty());
    TGIFPalette empty;
    ReduceColors(src, result, 9, 0, 8, &empty);
    EXPECT_TRUE(result.Data.empty());
  }
  {
    TMemoryBitmap big(1000, 600, pf24bit);
    TMemoryBitmap result;
    ReduceColors(big, result, 4, 0, 8, nullptr);
    ASSERT_FALSE(result.FormatLog.empty());
    EXPECT_EQ(pf1bit, result.FormatLog[0]);
    EXPECT_EQ(pf8bit, result.Format);
  }
}

}  // namespace
}  // namespace om
