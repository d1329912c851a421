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
#include "platform/testing/temp_folder.h"
#include "platform/win32_owners.h"

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

// An icon of size x size pixels from its AND mask (rows padded to 16 bits, a
// set bit transparent) and its 32-bit colours.
void SetIcon(TIcon& icon, int size, const std::vector<uint8_t>& andBits, const std::vector<uint8_t>& colors) {
  UniqueBitmap mask(CreateBitmap(size, size, 1, 1, andBits.data()));
  UniqueBitmap color(CreateBitmap(size, size, 1, 32, colors.data()));
  ICONINFO info{TRUE, 0, 0, mask.get(), color.get()};
  icon.SetHandle(CreateIconIndirect(&info));
}

// A picture or a graphic on an emptied clipboard, as the picture container
// puts it there (the bitmap it hands over placed, its palette freed); the
// bitmap's format.
template <class T>
unsigned PutOnClipboard(T& source) {
  if (!OpenClipboard(nullptr)) return 0;
  EmptyClipboard();
  unsigned format = 0;
  uintptr_t data = 0, palette = 0;
  source.CopyToClipboard(format, data, palette);
  if (data) SetClipboardData(format, reinterpret_cast<HANDLE>(data));
  UniquePalette unplaced(reinterpret_cast<HPALETTE>(palette));
  CloseClipboard();
  return format;
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
  TIcon icon;
  SetIcon(icon, 16, andBits, xorBits);
  TGIFPicture fromIcon;
  fromIcon.ReductionMethod = 0;  // keep the colours
  fromIcon.CopyFrom(icon);
  TGIFSubImage& icf = *fromIcon.Frame(0);
  ASSERT_TRUE(icf.HasTransparency());
  EXPECT_EQ(icf.TransparentColorIndex(), icf.PixelAt(3, 5));
  EXPECT_EQ(MakeGIFColor(0, 200, 0), icf.EffectiveColorMap()->ColorAt(icf.PixelAt(12, 5)));

  // Clipboard: the GIF data comes back as the same picture.
  EXPECT_EQ(unsigned(CF_BITMAP), PutOnClipboard(copy));
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
  unsigned format = 0;
  uintptr_t data = 0, palette = 0;
  empty.CopyToClipboard(format, data, palette);
  EXPECT_EQ(0u, format);
}

// While the codec is started, the picture container reads GIF files and GIF
// clipboard data into GIF pictures; the start-ups are counted.
TEST_F(GifDrawing, RegisteredWithThePictureContainerWhileStarted) {
  EXPECT_EQ(TGIFPicture::Class(), TPicture::FileFormatClass("gif"));
  EXPECT_EQ("GIF Image", TPicture::FileFormatDescription("GIF"));
  ASSERT_NE(0u, GIFClipboardFormat);
  EXPECT_TRUE(TPicture::SupportsClipboardFormat(GIFClipboardFormat));
  testing::TempFolder temp;
  temp.write("small.gif", SmallGif());
  TPicture picture;
  picture.LoadFromFile(temp.file("small.gif"));
  auto* gif = dynamic_cast<TGIFPicture*>(picture.Graphic());
  ASSERT_NE(nullptr, gif);
  EXPECT_EQ(1, gif->FrameCount());
  EXPECT_EQ(4, picture.Width());

  PutOnClipboard(picture);
  ASSERT_TRUE(OpenClipboard(nullptr));
  TPicture pasted;
  pasted.PasteFromClipboard(GIFClipboardFormat, 0, 0);
  CloseClipboard();
  ASSERT_NE(nullptr, dynamic_cast<TGIFPicture*>(pasted.Graphic()));
  EXPECT_EQ(1, static_cast<TGIFPicture*>(pasted.Graphic())->FrameCount());

  InitializeGIFCodec();
  FinalizeGIFCodec();
  EXPECT_TRUE(TPicture::SupportsClipboardFormat(GIFClipboardFormat));
  FinalizeGIFCodec();
  EXPECT_EQ(nullptr, TPicture::FileFormatClass("gif"));
  EXPECT_FALSE(TPicture::SupportsClipboardFormat(GIFClipboardFormat));
  EXPECT_THROW(picture.LoadFromFile(temp.file("small.gif")), EInvalidGraphic);
  InitializeGIFCodec();  // for TearDown
}

// A w x h metafile recorded against the screen: a green rectangle on nothing.
std::unique_ptr<TMetafile> GreenBlock(int w, int h, const RECT& block) {
  WindowDc screen(nullptr);
  const RECT frame{0, 0, w * GetDeviceCaps(screen.get(), HORZSIZE) * 100 / GetDeviceCaps(screen.get(), HORZRES),
                   h * GetDeviceCaps(screen.get(), VERTSIZE) * 100 / GetDeviceCaps(screen.get(), VERTRES)};
  HDC dc = CreateEnhMetaFileA(screen.get(), nullptr, &frame, nullptr);
  UniqueBrush green(CreateSolidBrush(RGB(0, 200, 0)));
  FillRect(dc, &block, green.get());
  auto metafile = std::make_unique<TMetafile>();
  metafile->SetHandle(CloseEnhMetaFile(dc));
  metafile->ResizeWidth(w);
  metafile->ResizeHeight(h);
  return metafile;
}

// A graphic that only draws itself: two colours side by side.
class TTwoColours : public TGraphic {
public:
  static const TGraphicClass* Class() {
    static const TGraphicClass cls{"TTwoColours", [] { return static_cast<TGraphic*>(new TTwoColours); }};
    return &cls;
  }
  const TGraphicClass* GraphicClass() const override { return Class(); }
  int ScreenWidth() const override { return 6; }
  int ScreenHeight() const override { return 3; }
  bool IsBlank() const override { return false; }
  void DrawOn(TCanvas& canvas, const TRect& r) override {
    canvas.FillRect(RECT{r.Left, r.Top, r.Left + 3, r.Bottom}, RGB(255, 0, 0));
    canvas.FillRect(RECT{r.Left + 3, r.Top, r.Right, r.Bottom}, RGB(0, 0, 255));
  }
};

TEST_F(GifDrawing, FramesFromMetafilesIconsAndOtherGraphics) {
  TGIFPicture pic;
  pic.ReductionMethod = 0;  // keep the colours
  // A metafile: what it paints, opaque; its background, transparent.
  auto metafile = GreenBlock(20, 10, RECT{4, 2, 12, 8});
  pic.CopyFrom(*metafile);
  ASSERT_EQ(1, pic.FrameCount());
  TGIFSubImage& f = *pic.Frame(0);
  EXPECT_EQ(20, f.Width());
  ASSERT_TRUE(f.HasTransparency());
  EXPECT_EQ(MakeGIFColor(0, 200, 0), f.EffectiveColorMap()->ColorAt(f.PixelAt(8, 5)));
  EXPECT_EQ(f.TransparentColorIndex(), f.PixelAt(1, 1));
  EXPECT_EQ(f.TransparentColorIndex(), f.PixelAt(18, 8));

  // Any other graphic: drawn when it cannot copy itself into a bitmap.
  TTwoColours two;
  EXPECT_EQ(1, pic.AppendFrame(&two));
  TGIFSubImage& g = *pic.Frame(1);
  EXPECT_EQ(MakeGIFColor(255, 0, 0), g.EffectiveColorMap()->ColorAt(g.PixelAt(1, 1)));
  EXPECT_EQ(MakeGIFColor(0, 0, 255), g.EffectiveColorMap()->ColorAt(g.PixelAt(4, 1)));
  EXPECT_FALSE(g.HasTransparency());
  // Another GIF picture copies itself: its composed bitmap.
  TGIFPicture other;
  TMemoryStream s(SmallGif());
  other.LoadFromStream(s);
  auto* h = new TGIFSubImage(&pic);
  h->CopyFrom(static_cast<const TGraphic&>(other));
  pic.AppendFrame(h);
  EXPECT_EQ(4, h->Width());
  EXPECT_EQ(MakeGIFColor(0, 255, 0), h->EffectiveColorMap()->ColorAt(h->PixelAt(1, 0)));

  // A picture container gives its graphic; it is no graphic itself.
  TPicture container;
  container.Assign(metafile.get());
  auto* k = new TGIFSubImage(&pic);
  k->CopyFrom(container);
  pic.AppendFrame(k);
  EXPECT_TRUE(k->HasTransparency());
  EXPECT_EQ(20, k->Width());
  try {
    pic.AppendFrame(&container);
    FAIL();
  } catch (const GIFException& e) {
    EXPECT_EQ("Object type not supported for operation", e.Message());
  }
  EXPECT_EQ(4, pic.FrameCount());
  // Whole pictures: from an icon, from nothing, from what no frame takes.
  std::vector<uint8_t> andBits(32 * 32 / 8, 0xFF), xorBits(32 * 32 * 4, 0);
  for (int y = 8; y < 16; ++y) andBits[size_t(y) * 4] = 0;  // an opaque block, 8 x 8
  TIcon icon;
  SetIcon(icon, 32, andBits, xorBits);
  pic.Assign(&icon);
  ASSERT_EQ(1, pic.FrameCount());
  EXPECT_TRUE(pic.Frame(0)->HasTransparency());
  EXPECT_EQ(pic.Frame(0)->TransparentColorIndex(), pic.Frame(0)->PixelAt(20, 20));
  EXPECT_NE(pic.Frame(0)->TransparentColorIndex(), pic.Frame(0)->PixelAt(3, 10));
  struct TNoGraphic : TPersistent {} nothing;
  EXPECT_THROW(pic.CopyFrom(nothing), EConvertError);
  pic.Assign(nullptr);
  EXPECT_TRUE(pic.IsBlank());
}

}  // namespace
}  // namespace om
