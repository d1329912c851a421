// Drawing pictures onto bitmaps with the platform's GDI: frames with
// transparency and every disposal mode composed frame after frame match
// Pillow's composition of the same files (made by Pillow and gifsicle on the
// build host); scaling, tiling, the masked copy's device-context state, and
// import from a true-colour bitmap.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "framework/bitmap.h"
#include "framework/graphics.h"
#include "gif/gif_bitmap_win32.h"
#include "gif/gif_picture_win32.h"
#include "gif_test_util.h"

namespace om {
namespace {

using giftest::ReadFile;


std::string Fixture(const std::string& name) { return std::string("Z:") + GIF_FIXTURE_DIR + "/" + name; }

// A 32-bit canvas filled with one colour.
std::unique_ptr<TBitmap> Canvas32(int w, int h, COLORREF fill) {
  auto b = std::make_unique<TBitmap>();
  b->SetBitsPerPixel(32);
  b->SetSize(w, h);
  b->Canvas().FillRect(RECT{0, 0, w, h}, fill);
  return b;
}

COLORREF At(TBitmap& b, int x, int y) {
  const uint8_t* p = b.ScanLine(y) + x * 4;
  return RGB(p[2], p[1], p[0]);
}

struct PillowFrames {
  int Width = 0, Height = 0;
  std::vector<std::string> Rgba;
};

PillowFrames ReadPillow(const std::string& name) {
  PillowFrames out;
  std::istringstream in(ReadFile(Fixture(name + ".txt")));
  int n = 0;
  in >> n >> out.Width >> out.Height;
  for (int i = 0; i < n; ++i) out.Rgba.push_back(ReadFile(Fixture(name + "." + std::to_string(i) + ".rgba")));
  return out;
}

class GifDrawing : public ::testing::Test {
protected:
  void SetUp() override { InitializeGIFCodec(); }
  void TearDown() override { FinalizeGIFCodec(); }
};

TEST_F(GifDrawing, ComposedFramesMatchPillow) {
  for (const char* name : {"anim.gif", "opt.gif", "offsets.gif"}) {
    SCOPED_TRACE(name);
    const std::string data = ReadFile(Fixture(name));
    if (data.empty() || ReadFile(Fixture(std::string(name) + ".txt")).empty())
      GTEST_SKIP() << "Pillow fixtures were not made on the build host";
    PillowFrames expected = ReadPillow(name);
    TGIFPicture pic;
    TMemoryStream s(data);
    pic.LoadFromStream(s);
    ASSERT_EQ(int(expected.Rgba.size()), pic.FrameCount());
    const int w = pic.ScreenWidth(), h = pic.ScreenHeight();
    ASSERT_EQ(expected.Width, w);
    const COLORREF marker = RGB(1, 2, 3);
    auto canvas = Canvas32(w, h, marker);
    std::unique_ptr<TBitmap> saved;
    const TGIFRect screen{0, 0, w, h};
    for (int i = 0; i < pic.FrameCount(); ++i) {
      SCOPED_TRACE(i);
      if (i > 0) {
        TGIFSubImage& prev = *pic.Frame(i - 1);
        const int disposal = prev.GraphicControl() ? prev.GraphicControl()->DisposalMethod() : 0;
        if (disposal == 2) {
          const TGIFColor bg = pic.BackgroundColor();
          canvas->Canvas().FillRect(RECT{prev.Left(), prev.Top(), prev.Left() + prev.Width(), prev.Top() + prev.Height()},
                                    RGB(GIFRed(bg), GIFGreen(bg), GIFBlue(bg)));
        } else if (disposal == 3 && saved) {
          canvas->Assign(*saved);
        }
      }
      TGIFSubImage& f = *pic.Frame(i);
      if (f.GraphicControl() && f.GraphicControl()->DisposalMethod() == 3) {
        saved = std::make_unique<TBitmap>();
        saved->Assign(*canvas);
      }
      pic.DrawFrame(f, canvas->Canvas(), screen, false, true);
      GdiFlush();
      const std::string& rgba = expected.Rgba[size_t(i)];
      ASSERT_EQ(size_t(w) * h * 4, rgba.size());
      int compared = 0, wrong = 0;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const uint8_t* e = reinterpret_cast<const uint8_t*>(rgba.data()) + (size_t(y) * w + x) * 4;
          if (e[3] != 255) continue;
          ++compared;
          if (At(*canvas, x, y) != RGB(e[0], e[1], e[2])) ++wrong;
        }
      EXPECT_GT(compared, 0);
      EXPECT_EQ(0, wrong) << "of " << compared;
    }
  }
}

// A 4 x 2 picture: colour 0 red, 1 green, 2 transparent; drawn scaled and tiled.
std::string SmallGif() {
  TGIFPicture p;
  p.Header().SetWidth(4);
  p.Header().SetHeight(2);
  auto* f = new TGIFSubImage(&p);
  p.Frames().Append(f);
  f->PlaceFrame(0, 0, 4, 2);
  f->LocalColorMap().AppendColor(MakeGIFColor(255, 0, 0));
  f->LocalColorMap().AppendColor(MakeGIFColor(0, 255, 0));
  f->LocalColorMap().AppendColor(MakeGIFColor(0, 0, 255));
  const uint8_t px[8] = {0, 1, 2, 0, 2, 2, 1, 0};
  std::memcpy(f->Pixels(), px, 8);
  auto* gce = new TGIFGraphicControlExtension(f);
  f->ExtensionList().Append(gce);
  gce->SetTransparentColorFlag(true);
  gce->SetTransparentColorIndex(2);
  TMemoryStream s;
  p.SaveToStream(s);
  return s.AsString();
}

TEST_F(GifDrawing, ScaledTiledAndMaskedCopies) {
  TGIFPicture pic;
  TMemoryStream s(SmallGif());
  pic.LoadFromStream(s);
  const COLORREF marker = RGB(9, 9, 9);
  const COLORREF red = RGB(255, 0, 0), green = RGB(0, 255, 0);
  const COLORREF expect[8] = {red, green, marker, red, marker, marker, green, red};

  // Twice the size: the stretched masked path.
  auto big = Canvas32(8, 4, marker);
  HDC dc = big->Canvas().Handle();
  SetTextColor(dc, RGB(10, 20, 30));
  SetBkColor(dc, RGB(40, 50, 60));
  pic.DrawOn(big->Canvas(), TGIFRect{0, 0, 8, 4});
  GdiFlush();
  EXPECT_EQ(RGB(10, 20, 30), GetTextColor(dc));
  EXPECT_EQ(RGB(40, 50, 60), GetBkColor(dc));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(expect[(y / 2) * 4 + x / 2], At(*big, x, y)) << x << "," << y;

  // Tiled: a 4 x 2 picture in a 10 x 2 rectangle is drawn three times.
  pic.DrawingOptions |= doTile;
  auto tiles = Canvas32(10, 2, marker);
  pic.DrawOn(tiles->Canvas(), TGIFRect{0, 0, 10, 2});
  GdiFlush();
  for (int x = 0; x < 10; ++x) EXPECT_EQ(expect[x % 4], At(*tiles, x, 0)) << x;

  // Without transparency the transparent index shows its colour.
  pic.DrawingOptions = 0;
  auto plain = Canvas32(4, 2, marker);
  pic.DrawOn(plain->Canvas(), TGIFRect{0, 0, 4, 2});
  GdiFlush();
  EXPECT_EQ(RGB(0, 0, 255), At(*plain, 2, 0));

  // Palettes: the rendered frame's own, and the picture's from its maps.
  EXPECT_NE(0u, pic.Frame(0)->QueryPalette());
  EXPECT_NE(0u, pic.QueryPalette());

  // A frame into a bitmap: its 8-bit rendering.
  TBitmap frameBitmap;
  pic.Frame(0)->CopyTo(frameBitmap);
  EXPECT_EQ(4, frameBitmap.Width());
  EXPECT_EQ(8, frameBitmap.BitsPerPixel());

  // Empty rectangle, empty picture: nothing happens.
  TGIFPicture empty;
  empty.DrawOn(plain->Canvas(), TGIFRect{0, 0, 4, 2});
  EXPECT_EQ(nullptr, empty.ComposedBitmap());
  ASSERT_NE(nullptr, pic.ComposedBitmap());
  EXPECT_EQ(4, pic.ComposedBitmap()->Width());
}

TEST_F(GifDrawing, ScaleFrameRectPlacesFramesInProportion) {
  TGIFPicture pic;
  pic.Header().SetWidth(10);
  pic.Header().SetHeight(10);
  auto* f = new TGIFSubImage(&pic);
  pic.Frames().Append(f);
  f->PlaceFrame(2, 3, 4, 5);
  EXPECT_EQ((TGIFRect{4, 6, 12, 16}), pic.ScaleFrameRect(*f, TGIFRect{0, 0, 20, 20}));
  EXPECT_EQ((TGIFRect{6, 7, 8, 9}), pic.ScaleFrameRect(*f, TGIFRect{5, 5, 10, 10}));  // 1.5 rounds up
}

TEST_F(GifDrawing, ImportFromATrueColourBitmapRoundTrips) {
  // 24-bit gradient bitmap -> frame (web palette, nearest colour) -> GIF ->
  // rendered again: every pixel within one web step of the original (the web
  // lookup takes the step at or below the value + 3).
  TBitmap bmp;
  bmp.SetBitsPerPixel(24);
  bmp.SetSize(40, 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) {
      uint8_t* p = bmp.ScanLine(y) + x * 3;
      p[0] = uint8_t(x * 6);
      p[1] = uint8_t(y * 12);
      p[2] = uint8_t(255 - x * 6);
    }
  TGIFPicture pic;
  auto* f = new TGIFSubImage(&pic);
  pic.Frames().Append(f);
  TGIFPlatformBitmap source;
  source.Bitmap().Assign(bmp);
  f->ImportBitmap(source);
  EXPECT_EQ(40, pic.ScreenWidth());
  TMemoryStream s;
  pic.SaveToStream(s);
  TGIFPicture back;
  s.SetPosition(0);
  back.LoadFromStream(s);
  auto out = Canvas32(40, 20, 0);
  back.DrawOn(out->Canvas(), TGIFRect{0, 0, 40, 20});
  GdiFlush();
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) {
      const uint8_t* p = bmp.ScanLine(y) + x * 3;
      const COLORREF c = At(*out, x, y);
      EXPECT_LE(std::abs(int(GetRValue(c)) - p[2]), 48) << x << "," << y;
      EXPECT_LE(std::abs(int(GetGValue(c)) - p[1]), 48);
      EXPECT_LE(std::abs(int(GetBValue(c)) - p[0]), 48);
    }
}

TEST_F(GifDrawing, CopiesBetweenPicturesBitmapsIconsAndTheClipboard) {
  TGIFPicture source;
  TMemoryStream s(SmallGif());
  source.LoadFromStream(s);
  std::vector<int> percents;
  source.OnProgress = [&](TObject*, int stage, int percent, bool, const std::string& m) {
    if (m == "Copying..." && stage == 1) percents.push_back(percent);
  };
  // Three frames copied: 33, 67, 100; new frame objects; handlers cleared.
  for (int i = 0; i < 2; ++i) {
    auto* f = new TGIFSubImage(&source);
    f->CopyFrom(*source.Frame(0));
    source.AppendFrame(f);
  }
  TGIFPicture copy;
  copy.WarningHandler = [](TObject*, int, const std::string&) {};
  copy.CopyFrom(source);
  EXPECT_EQ((std::vector<int>{33, 67, 100}), percents);
  ASSERT_EQ(3, copy.FrameCount());
  EXPECT_NE(source.Frame(2), copy.Frame(2));
  EXPECT_FALSE(copy.WarningHandler);
  TMemoryStream a, b;
  source.SaveToStream(a);
  copy.SaveToStream(b);
  EXPECT_EQ(a.AsString(), b.AsString());

  // Into a bitmap and back: one frame of the bitmap's size.
  TBitmap bmp;
  copy.CopyTo(bmp);
  EXPECT_EQ(4, bmp.Width());
  bmp.SetBitsPerPixel(32);
  EXPECT_EQ(RGB(255, 0, 0), At(bmp, 0, 0));
  TGIFPicture fromBitmap;
  fromBitmap.CopyFrom(bmp);
  ASSERT_EQ(1, fromBitmap.FrameCount());
  EXPECT_EQ(4, fromBitmap.ScreenWidth());
  EXPECT_EQ(2, fromBitmap.ScreenHeight());

  // A transparent bitmap: its key colour (bottom-left) becomes transparent.
  auto keyed = Canvas32(3, 2, RGB(0, 0, 255));
  keyed->Canvas().FillRect(RECT{0, 0, 1, 1}, RGB(255, 0, 0));
  keyed->Transparent = true;
  TGIFPicture fromKeyed;
  fromKeyed.CopyFrom(*keyed);
  TGIFSubImage& kf = *fromKeyed.Frame(0);
  ASSERT_TRUE(kf.HasTransparency());
  EXPECT_NE(kf.TransparentColorIndex(), kf.PixelAt(0, 0));
  EXPECT_EQ(kf.TransparentColorIndex(), kf.PixelAt(1, 0));

  // An icon: its mask makes the transparent pixels.
  std::vector<uint8_t> andBits(16 * 16 / 8, 0), xorBits(16 * 16 * 4, 0);
  for (int i = 0; i < 16; ++i) andBits[size_t(i) * 2] = 0xFF;  // left 8 columns transparent
  for (size_t i = 0; i < xorBits.size(); i += 4) xorBits[i + 1] = 200;  // green
  ICONINFO ii{};
  ii.fIcon = TRUE;
  ii.hbmMask = CreateBitmap(16, 16, 1, 1, andBits.data());
  ii.hbmColor = CreateBitmap(16, 16, 1, 32, xorBits.data());
  TIcon icon;
  icon.SetHandle(CreateIconIndirect(&ii));
  DeleteObject(ii.hbmMask);
  DeleteObject(ii.hbmColor);
  TGIFPicture fromIcon;
  fromIcon.ReductionMethod = 0;  // keep the colours
  fromIcon.CopyFrom(icon);
  TGIFSubImage& icf = *fromIcon.Frame(0);
  ASSERT_TRUE(icf.HasTransparency());
  EXPECT_EQ(icf.TransparentColorIndex(), icf.PixelAt(3, 5));
  EXPECT_EQ(MakeGIFColor(0, 200, 0), icf.EffectiveColorMap()->ColorAt(icf.PixelAt(12, 5)));

  // Clipboard: the GIF data comes back as the same picture.
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  unsigned format = 0;
  uintptr_t data = 0, palette = 0;
  copy.CopyToClipboard(format, data, palette);
  EXPECT_EQ(unsigned(CF_BITMAP), format);
  if (data) SetClipboardData(format, reinterpret_cast<HANDLE>(data));
  if (palette) DeleteObject(reinterpret_cast<HGDIOBJ>(palette));
  CloseClipboard();
  ASSERT_TRUE(OpenClipboard(nullptr));
  TGIFPicture pasted;
  pasted.PasteFromClipboard(GIFClipboardFormat, 0, 0);
  EXPECT_EQ(3, pasted.FrameCount());
  TGIFPicture fromClipBitmap;
  fromClipBitmap.PasteFromClipboard(CF_BITMAP, 0, 0);
  EXPECT_EQ(1, fromClipBitmap.FrameCount());
  EXPECT_THROW(pasted.PasteFromClipboard(CF_TEXT, 0, 0), GIFException);
  CloseClipboard();
  // An empty picture places nothing.
  TGIFPicture empty;
  format = 0;
  empty.CopyToClipboard(format, data, palette);
  EXPECT_EQ(0u, format);
}

}  // namespace
}  // namespace om
