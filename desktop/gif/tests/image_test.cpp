// The picture, its frames and extensions without outside tools: extension
// byte layouts, block-stream edge cases, frame placement, rendering masks,
// frame copies, bitmap import, and malformed input (fuzzed).
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "gif/gif_image.h"
#include "gif_test_util.h"
#include "memory_bitmap.h"

namespace om {
namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s.push_back(char(v));
  return s;
}

// GIF89a, 4 x 2 screen, 2-colour global table.
std::string Head(int w = 4, int h = 2) {
  return "GIF89a" + Bytes({w, 0, h, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255});
}
// A w x h frame at (0, 0), all pixels 1.
std::string Image(int w = 4, int h = 2) {
  std::vector<uint8_t> px(size_t(w * h), 1);
  return Bytes({0x2C, 0, 0, 0, 0, w, 0, h, 0, 0}) + giftest::EncodeData(2, w, h, false, px, false);
}

struct Loaded {
  std::unique_ptr<TGIFPicture> P{new TGIFPicture};
  std::vector<std::string> Warnings;
  explicit Loaded(const std::string& data) {
    P->BitmapFactory = [] { return new giftest::TMemoryBitmap(); };
    P->WarningHandler = [this](TObject*, int severity, const std::string& m) {
      EXPECT_EQ(gsWarning, severity);
      Warnings.push_back(m);
    };
    TMemoryStream s(data);
    P->LoadFromStream(s);
  }
};

std::string Save(TGIFPicture& p) {
  TMemoryStream s;
  p.SaveToStream(s);
  return s.AsString();
}

TEST(GifExtensions, LoopBlocksReadAndWriteBack) {
  const std::string loop = Bytes({0x21, 0xFF, 11}) + "NETSCAPE2.0" + Bytes({3, 1, 5, 0, 5, 2, 0x10, 0x20, 0, 0, 0});
  Loaded a(Head() + loop + Image() + ";");
  ASSERT_EQ(1, a.P->FrameCount());
  auto* ext = dynamic_cast<TGIFAppExtNSLoop*>(a.P->Frame(0)->ExtensionList().Extension(0));
  ASSERT_NE(nullptr, ext);
  EXPECT_EQ(5, ext->LoopCount);
  EXPECT_EQ(0x2010u, ext->BufferBytes);
  EXPECT_NE(std::string::npos, Save(*a.P).find(loop));

  const std::string anim = Bytes({0x21, 0xFF, 11}) + "ANIMEXTS1.0" + Bytes({3, 1, 0, 0, 0});
  Loaded b(Head() + anim + Image() + ";");
  auto* ext2 = dynamic_cast<TGIFAppExtNSLoop*>(b.P->Frame(0)->ExtensionList().Extension(0));
  ASSERT_NE(nullptr, ext2);
  EXPECT_EQ("ANIMEXTS1.0", ext2->IdentifierText());
  EXPECT_NE(std::string::npos, Save(*b.P).find(anim));

  const std::string unknown = Bytes({0x21, 0xFF, 11}) + "XMP DataXMP" + Bytes({2, 'a', 'b', 1, 'c', 0});
  Loaded c(Head() + unknown + Image() + ";");
  auto* ext3 = dynamic_cast<TGIFUnknownAppExtension*>(c.P->Frame(0)->ExtensionList().Extension(0));
  ASSERT_NE(nullptr, ext3);
  EXPECT_EQ(2u, ext3->SubBlocks.size());
  EXPECT_NE(std::string::npos, Save(*c.P).find(unknown));

  const std::string bad = Bytes({0x21, 0xFF, 11}) + "NETSCAPE2.0" + Bytes({2, 1, 5, 0});
  EXPECT_THROW(Loaded(Head() + bad + Image() + ";"), GIFException);
}

// Labels nobody registered and application blocks of other lengths are read
// (as giflib and Pillow read them) and written back byte for byte.
TEST(GifExtensions, UnknownDataIsKeptVerbatim) {
  const std::string label = Bytes({0x21, 0x99, 3, 'a', 'b', 'c', 1, 'd', 0});
  const std::string longApp = Bytes({0x21, 0xFF, 14}) + "XMP DataXMPxyz" + Bytes({1, 'e', 0});
  const std::string shortApp = Bytes({0x21, 0xFF, 10}) + "ABCDEFGHIJ" + Bytes({2, 'f', 'g', 0});
  const std::string file = Head() + label + longApp + shortApp + Image() + ";";
  Loaded a(file);
  ASSERT_EQ(1, a.P->FrameCount());
  EXPECT_EQ(3, a.P->Frame(0)->ExtensionList().ItemCount());
  EXPECT_EQ(0x99, a.P->Frame(0)->ExtensionList().Extension(0)->ExtensionLabel());
  EXPECT_TRUE(a.Warnings.empty());
  EXPECT_EQ(file, Save(*a.P));
  // A registered label whose data ends is no unknown extension.
  EXPECT_THROW(Loaded(Head() + Image() + Bytes({0x21, 0xFF})), GIFException);
}

TEST(GifExtensions, GraphicControlTextAndComment) {
  const std::string gce = Bytes({0x21, 0xF9, 4, 0x09, 10, 0, 1, 0});  // disposal 2, transparent 1
  const std::string text = Bytes({0x21, 0x01, 12, 1, 0, 2, 0, 3, 0, 4, 0, 8, 8, 1, 0, 5}) + "hello" + Bytes({0});
  const std::string comment = Bytes({0x21, 0xFE, 3}) + "abc" + Bytes({2}) + "de" + Bytes({0});
  Loaded a(Head() + comment + gce + text + Image() + ";");
  TGIFSubImage& f = *a.P->Frame(0);
  ASSERT_EQ(3, f.ExtensionList().ItemCount());
  ASSERT_NE(nullptr, f.GraphicControl());
  EXPECT_EQ(2, f.GraphicControl()->DisposalMethod());
  EXPECT_EQ(10, f.GraphicControl()->DelayTime());
  EXPECT_TRUE(f.HasTransparency());
  EXPECT_EQ(1, f.TransparentColorIndex());
  auto* t = dynamic_cast<TGIFTextExtension*>(f.ExtensionList().Extension(2));
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(1, t->GridLeft());
  EXPECT_EQ(4, t->GridHeight());
  EXPECT_EQ(std::vector<std::string>{"hello"}, t->Lines);
  auto* c = dynamic_cast<TGIFCommentExtension*>(f.ExtensionList().Extension(0));
  EXPECT_EQ((std::vector<std::string>{"abc", "de"}), c->Lines);
  const std::string saved = Save(*a.P);
  EXPECT_NE(std::string::npos, saved.find(comment + gce + text));
  EXPECT_EQ("GIF89a", saved.substr(0, 6));

  // Index past the colour map: stored as 0 with a warning.
  f.GraphicControl()->SetTransparentColorIndex(2);
  EXPECT_EQ(0, f.TransparentColorIndex());
  EXPECT_EQ("Invalid color index", a.Warnings.back());
  // Freeing the extension clears the frame's transparency and reference.
  delete f.GraphicControl();
  EXPECT_FALSE(f.HasTransparency());
  EXPECT_EQ(nullptr, f.GraphicControl());
  EXPECT_EQ(2, f.ExtensionList().ItemCount());
}

TEST(GifPicture, BlockStreamEdgeCases) {
  // No trailer: no warning; zero bytes between blocks are skipped.
  Loaded a(Head() + Image() + Bytes({0, 0}) + Image());
  EXPECT_EQ(2, a.P->FrameCount());
  EXPECT_TRUE(a.Warnings.empty());
  // A stray byte ends the list and then fails the trailer check.
  Loaded b(Head() + Image() + "x" + Image() + ";");
  EXPECT_EQ(1, b.P->FrameCount());
  EXPECT_EQ((std::vector<std::string>{"Unknown GIF block type", "Invalid Image trailer"}), b.Warnings);
  // Extensions followed by the trailer make a frame of extensions only.
  Loaded c(Head() + Image() + Bytes({0x21, 0xFE, 1, 'x', 0}) + ";");
  ASSERT_EQ(2, c.P->FrameCount());
  EXPECT_TRUE(c.P->Frame(1)->IsBlank());
  EXPECT_EQ(1, c.P->Frame(1)->ExtensionList().ItemCount());
  // A file cut right after an image descriptor: the frame stays, with a warning.
  Loaded cut(Head() + Image().substr(0, 10));
  EXPECT_EQ(1, cut.P->FrameCount());
  EXPECT_EQ(std::vector<std::string>{"Premature end of data"}, cut.Warnings);
  // A 0 x 0 descriptor takes the logical screen size.
  std::vector<uint8_t> px(8, 1);
  Loaded d(Head() + Bytes({0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0}) + giftest::EncodeData(2, 4, 2, false, px, false) + ";");
  EXPECT_EQ(4, d.P->Frame(0)->Width());
  EXPECT_EQ(2, d.P->Frame(0)->Height());
  EXPECT_EQ(std::vector<std::string>{"Image exceeds Logical Screen size"}, d.Warnings);
  // An empty picture: version 0, blank, and cannot be saved.
  TGIFPicture e;
  EXPECT_EQ(gvNone, e.NeededVersion());
  EXPECT_TRUE(e.IsBlank());
  TMemoryStream s;
  EXPECT_THROW(e.SaveToStream(s), GIFException);
}

TEST(GifPicture, FramePlacementAndResizing) {
  TGIFPicture p;
  std::vector<std::string> warnings;
  p.WarningHandler = [&](TObject*, int, const std::string& m) { warnings.push_back(m); };
  p.Header().SetWidth(40);
  p.Header().SetHeight(20);
  auto* f = new TGIFSubImage(&p);
  p.Frames().Append(f);
  f->PlaceFrame(10, 0, 50, 20);
  EXPECT_EQ(60, p.ScreenWidth());
  EXPECT_EQ((std::vector<std::string>{"Image width too small for contained frames", "Image exceeds Logical Screen size"}),
            warnings);
  EXPECT_EQ(1000, f->PixelCount());
  EXPECT_THROW(p.ResizeWidth(59), GIFException);
  EXPECT_EQ(60, p.ScreenWidth());
  p.ResizeWidth(60);
  p.ResizeWidth(80);
  EXPECT_EQ(80, p.ScreenWidth());
  EXPECT_THROW(f->PixelAt(50, 0), GIFException);
  EXPECT_THROW(f->RowAt(20), GIFException);
  // The same descriptor read from a stream is taken as it is.
  warnings.clear();
  std::vector<uint8_t> px(50 * 20, 1);
  Loaded l(Head(40, 20) + Bytes({0x2C, 10, 0, 0, 0, 50, 0, 20, 0, 0}) + giftest::EncodeData(2, 50, 20, false, px, false) +
           ";");
  EXPECT_EQ(40, l.P->ScreenWidth());
  EXPECT_TRUE(l.Warnings.empty());
}

TEST(GifFrame, RenderingBuildsMaskOnlyWhenTransparentPixelsExist) {
  // Pixel 1 transparent in a 1-pixel-wide, 3-high frame.
  const std::string gce = Bytes({0x21, 0xF9, 4, 0x01, 0, 0, 1, 0});
  std::vector<uint8_t> px = {0, 1, 0};
  Loaded a(Head(1, 3) + gce + Bytes({0x2C, 0, 0, 0, 0, 1, 0, 3, 0, 0}) +
           giftest::EncodeData(2, 1, 3, false, px, false) + ";");
  TGIFSubImage& f = *a.P->Frame(0);
  ASSERT_TRUE(f.MaskReady());
  EXPECT_EQ(2, f.MaskRowBytes());
  EXPECT_EQ(std::vector<uint8_t>({0, 0, 0x80, 0, 0, 0}), f.MaskBits());
  auto* bmp = dynamic_cast<giftest::TMemoryBitmap*>(f.FrameBitmap());
  ASSERT_NE(nullptr, bmp);
  EXPECT_EQ(pf8bit, bmp->Format);
  EXPECT_EQ(1, bmp->ScanLine(1)[0]);
  EXPECT_EQ(255, bmp->Table[1].Red);

  std::vector<uint8_t> opaque = {0, 0, 0};
  Loaded b(Head(1, 3) + gce + Bytes({0x2C, 0, 0, 0, 0, 1, 0, 3, 0, 0}) +
           giftest::EncodeData(2, 1, 3, false, opaque, false) + ";");
  EXPECT_FALSE(b.P->Frame(0)->MaskReady());

  // Dithered rendering uses the web palette.
  a.P->DrawingOptions = doDither;
  a.P->Frame(0)->DropBitmap();
  auto* web = dynamic_cast<giftest::TMemoryBitmap*>(a.P->Frame(0)->FrameBitmap());
  ASSERT_NE(nullptr, web);
  EXPECT_EQ(0, web->ScanLine(0)[0]);  // black is the first web colour
  EXPECT_EQ(255, web->Table[215].Red);
}

TEST(GifFrame, CopiesAreDeep) {
  const std::string gce = Bytes({0x21, 0xF9, 4, 0x01, 7, 0, 1, 0});
  Loaded a(Head() + gce + Image() + ";");
  TGIFPicture q;
  auto* copy = new TGIFSubImage(&q);
  q.Frames().Append(copy);
  copy->CopyFrom(*a.P->Frame(0));
  delete a.P->Frame(0);
  EXPECT_EQ(0, a.P->FrameCount());
  ASSERT_NE(nullptr, copy->GraphicControl());
  EXPECT_EQ(7, copy->GraphicControl()->DelayTime());
  EXPECT_TRUE(copy->HasTransparency());
  EXPECT_EQ(1, copy->PixelAt(3, 1));
  // The copied frame saves like the original.
  q.Header().CopyFrom(a.P->Header());
  EXPECT_EQ(Head() + gce + Image() + ";", Save(q));
}

TEST(GifFrame, ImportsBitmaps) {
  TGIFPicture p;
  p.BitmapFactory = [] { return new giftest::TMemoryBitmap(); };
  p.ReductionMethod = 0;
  giftest::TMemoryBitmap bmp(4, 1, pf24bit);
  const uint8_t row[12] = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 255};  // red, green, blue, red (b, g, r)
  std::memcpy(bmp.ScanLine(0), row, 12);
  auto* f = new TGIFSubImage(&p);
  p.Frames().Append(f);
  f->ImportBitmap(bmp);
  EXPECT_EQ(3, f->LocalColorMap().Count());
  EXPECT_EQ(MakeGIFColor(255, 0, 0), f->LocalColorMap().ColorAt(0));
  EXPECT_EQ(MakeGIFColor(0, 255, 0), f->LocalColorMap().ColorAt(1));
  EXPECT_EQ(MakeGIFColor(0, 0, 255), f->LocalColorMap().ColorAt(2));
  EXPECT_EQ(std::vector<uint8_t>({0, 1, 2, 0}), std::vector<uint8_t>(f->Pixels(), f->Pixels() + 4));

  // A mask marking pixel 3 transparent adds a colour and a graphic control.
  giftest::TMemoryBitmap mask(4, 1, pf8bit);
  mask.ScanLine(0)[2] = 1;
  f->ImportBitmap(bmp, true, &mask);
  ASSERT_NE(nullptr, f->GraphicControl());
  EXPECT_TRUE(f->HasTransparency());
  EXPECT_EQ(f->TransparentColorIndex(), f->Pixels()[2]);
  EXPECT_EQ(f->LocalColorMap().Count() - 1, f->TransparentColorIndex());
  // A mask with nothing set leaves the frame opaque and the map as it was.
  giftest::TMemoryBitmap empty(4, 1, pf8bit);
  f->ImportBitmap(bmp, true, &empty);
  EXPECT_EQ(nullptr, f->GraphicControl());
  EXPECT_EQ(3, f->LocalColorMap().Count());
  // An empty bitmap leaves the frame reset.
  giftest::TMemoryBitmap none;
  f->ImportBitmap(none);
  EXPECT_TRUE(f->IsBlank());
}

// Two 4 x 2 frames over a 4-colour global map.
std::string TwoFrames(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, const std::string& ext2 = "") {
  std::string head = "GIF89a" + Bytes({4, 0, 2, 0, 0x81, 0, 0, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255});
  auto frame = [](const std::vector<uint8_t>& px) {
    return Bytes({0x2C, 0, 0, 0, 0, 4, 0, 2, 0, 0}) + giftest::EncodeData(4, 4, 2, false, px, false);
  };
  return head + frame(a) + ext2 + frame(b) + ";";
}

TEST(GifOptimize, MergeCropAndRemoval) {
  // The second frame repeats the first in its left half.
  Loaded a(TwoFrames({1, 1, 2, 2, 1, 1, 2, 2}, {1, 1, 3, 3, 1, 1, 3, 0}));
  a.P->OptimizeFrames(optMergeWithUnderlying, 0, 8, 0);
  TGIFSubImage& f = *a.P->Frame(1);
  ASSERT_NE(nullptr, f.GraphicControl());
  EXPECT_TRUE(f.HasTransparency());
  const int t = f.TransparentColorIndex();
  EXPECT_EQ(4, t);  // black appended to the global map
  EXPECT_EQ(std::vector<uint8_t>({4, 4, 3, 3, 4, 4, 3, 0}), std::vector<uint8_t>(f.Pixels(), f.Pixels() + 8));
  // Cropping the transparent border leaves the right half at left 2.
  a.P->OptimizeFrames(optCropTransparentBorders, 0, 8, 0);
  EXPECT_EQ(2, f.Left());
  EXPECT_EQ(2, f.Width());
  EXPECT_EQ(4, a.P->ScreenWidth());

  // A frame of nothing but its transparent colour goes; its delay moves back.
  const std::string gce1 = Bytes({0x21, 0xF9, 4, 0x01, 10, 0, 3, 0});
  const std::string gce2 = Bytes({0x21, 0xF9, 4, 0x01, 25, 0, 3, 0});
  std::string head = "GIF89a" + Bytes({4, 0, 2, 0, 0x81, 0, 0, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255});
  auto frame = [](const std::vector<uint8_t>& px) {
    return Bytes({0x2C, 0, 0, 0, 0, 4, 0, 2, 0, 0}) + giftest::EncodeData(4, 4, 2, false, px, false);
  };
  Loaded b(head + gce1 + frame({1, 3, 3, 3, 3, 3, 3, 3}) + gce2 + frame(std::vector<uint8_t>(8, 3)) + ";");
  b.P->OptimizeFrames(optCropTransparentBorders, 0, 8, 0);
  ASSERT_EQ(1, b.P->FrameCount());
  EXPECT_EQ(35, b.P->Frame(0)->GraphicControl()->DelayTime());
  EXPECT_EQ(1, b.P->Frame(0)->Width());

  // A single frame loses its loop and a plain graphic control.
  const std::string loop = Bytes({0x21, 0xFF, 11}) + "NETSCAPE2.0" + Bytes({3, 1, 0, 0, 0});
  const std::string plain = Bytes({0x21, 0xF9, 4, 0, 0, 0, 0, 0});
  Loaded c(Head() + loop + plain + Bytes({0x21, 0xFE, 1, 'x', 0}) + Image() + ";");
  c.P->OptimizeFrames(optRemoveUnneeded, 0, 8, 0);
  EXPECT_EQ(0, c.P->Frame(0)->ExtensionList().ItemCount());
  EXPECT_EQ(nullptr, c.P->Frame(0)->GraphicControl());
  EXPECT_EQ("GIF87a", Save(*c.P).substr(0, 6));

  // Method 9 with the reduction option fails only without the removal step.
  EXPECT_THROW(c.P->OptimizeFrames(optReduceColors, 9, 8, 0), GIFException);
  EXPECT_NO_THROW(c.P->OptimizeFrames(optReduceColors | optRemoveUnneeded, 9, 8, 0));
}

TEST(GifOptimize, FullMapPreventsMerging) {
  std::string head = "GIF89a" + Bytes({4, 0, 2, 0, 0x87, 0, 0});
  for (int i = 0; i < 256; ++i) head += Bytes({i, i, i});
  std::vector<uint8_t> px(8, 5);
  auto frame = [&] { return Bytes({0x2C, 0, 0, 0, 0, 4, 0, 2, 0, 0}) + giftest::EncodeData(256, 4, 2, false, px, false); };
  Loaded a(head + frame() + frame() + ";");
  a.P->OptimizeFrames(optMergeWithUnderlying, 0, 8, 0);
  EXPECT_FALSE(a.P->Frame(1)->HasTransparency());
  EXPECT_EQ(5, a.P->Frame(1)->Pixels()[0]);
}

TEST(GifOptimize, ScreenSizeStays) {
  // A 6 x 3 screen with a transparent 3 x 1 frame at (7, 0), off the screen.
  const std::string frame = Bytes({0x21, 0xF9, 4, 0x01, 10, 0, 1, 0, 0x2C, 7, 0, 0, 0, 3, 0, 1, 0, 0}) +
                            giftest::EncodeData(2, 3, 1, false, {1, 1, 1}, false);
  Loaded a(Head(6, 3) + frame + ";");
  a.P->OptimizeFrames(optCropTransparentBorders, 0, 8, 0);
  EXPECT_EQ(6, a.P->ScreenWidth());
  EXPECT_EQ(3, a.P->ScreenHeight());
  ASSERT_EQ(1, a.P->FrameCount());
  EXPECT_LE(a.P->Frame(0)->FrameRect().Right, 6);
  Loaded b(Head(6, 3) + frame + ";");
  CropTransparentBorders(*b.P->Frame(0));
  EXPECT_EQ(6, b.P->ScreenWidth());
  EXPECT_TRUE(b.Warnings.empty());
}

TEST(GifOptimize, SortingKeepsTheBackgroundColour) {
  // Red, green, blue, white; the background (white) is used by no pixel.
  const std::string head = "GIF89a" + Bytes({4, 0, 3, 0, 0x81, 3, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255});
  auto frame = [](int left, int top, int w, int h, const std::vector<uint8_t>& px) {
    return Bytes({0x2C, left, 0, top, 0, w, 0, h, 0, 0}) + giftest::EncodeData(4, w, h, false, px, false);
  };
  // It shows around a first frame smaller than the screen...
  Loaded a(head + frame(1, 1, 2, 1, {0, 1}) + ";");
  a.P->OptimizeFrames(optSortColorMaps, 0, 8, 0);
  EXPECT_EQ(MakeGIFColor(255, 255, 255), a.P->BackgroundColor());
  // ... and where a frame is restored to what was before it.
  const std::string restore = Bytes({0x21, 0xF9, 4, 3 << 2, 10, 0, 0, 0});
  Loaded b(head + restore + frame(0, 0, 4, 3, std::vector<uint8_t>(12, 1)) + frame(0, 0, 1, 1, {0}) + ";");
  b.P->OptimizeFrames(optSortColorMaps, 0, 8, 0);
  EXPECT_EQ(MakeGIFColor(255, 255, 255), b.P->BackgroundColor());
}

TEST(GifPicture, ProgressReportsAndFailedLoads) {
  TGIFPicture p;
  std::vector<std::string> log;
  p.OnProgress = [&](TObject*, int stage, int percent, bool, const std::string& m) {
    log.push_back(m + " " + std::to_string(stage) + " " + std::to_string(percent));
  };
  const std::string good = Head() + Image() + Image() + ";";
  TMemoryStream s(good);
  p.LoadFromStream(s);
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ("Loading... 0 0", log.front());
  EXPECT_EQ("Loading... 2 100", log.back());
  log.clear();
  TMemoryStream out;
  p.SaveToStream(out);
  EXPECT_EQ((std::vector<std::string>{"Saving... 0 0", "Saving... 1 50", "Saving... 1 100", "Saving... 2 100"}), log);

  // A failed load ends with 0 and leaves the stream where it started.
  log.clear();
  const std::string bad = "xxxx" + good.substr(0, 30);
  TMemoryStream b(bad);
  b.SetPosition(2);
  EXPECT_THROW(p.LoadFromStream(b), GIFException);
  EXPECT_EQ(2, b.Position());
  EXPECT_EQ("Loading... 2 0", log.back());
}

TEST(GifPicture, StreamOutOptimisesWhenAsked) {
  const std::string comment = Bytes({0x21, 0xFE, 1, 'x', 0});
  Loaded a(Head() + comment + Image() + ";");
  TMemoryStream plain;
  a.P->StreamOut(plain);
  EXPECT_NE(std::string::npos, plain.AsString().find(comment));
  OptimizeOnWrite = true;
  TMemoryStream optimised;
  a.P->StreamOut(optimised);
  OptimizeOnWrite = false;
  EXPECT_EQ(std::string::npos, optimised.AsString().find(comment));
  EXPECT_EQ("GIF87a", optimised.AsString().substr(0, 6));
}

TEST(GifPicture, AppendFrameTakesFramesOver) {
  Loaded a(Head() + Image() + ";");
  TGIFPicture q;
  q.Header().SetWidth(4);
  q.Header().SetHeight(2);
  std::vector<std::string> warnings;
  q.WarningHandler = [&](TObject*, int, const std::string& m) { warnings.push_back(m); };
  TGIFSubImage* f = a.P->Frame(0);
  EXPECT_EQ(0, q.AppendFrame(f));
  EXPECT_EQ(0, a.P->FrameCount());
  EXPECT_EQ(&q, f->Image());
  EXPECT_THROW(q.AppendFrame(nullptr), GIFException);
  f->SetBoundValue(3, 9);  // warnings now reach the new image
  EXPECT_FALSE(warnings.empty());
}

TEST(GifPicture, MalformedInputGivesTheCodecsErrorFuzzed) {
  // Huge frames are refused before any allocation.
  std::string huge = Head() + Bytes({0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 2, 2, 0x4C, 1, 0, 0});
  EXPECT_THROW(Loaded{huge}, GIFException);
  // The same through a 0 x 0 descriptor on a huge logical screen.
  std::string hugeScreen = "GIF89a" + Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0, 0, 0, 255, 255, 255}) +
                           Bytes({0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 0x4C, 1, 0, 0});
  EXPECT_THROW(Loaded{hugeScreen}, GIFException);
  {
    TGIFPicture p;
    auto* f = new TGIFSubImage(&p);
    p.Frames().Append(f);
    EXPECT_THROW(f->PlaceFrame(0, 0, 65535, 65535), GIFException);
  }
  // Truncated everywhere, and random byte changes: a GIF error or a load.
  const std::string gce = Bytes({0x21, 0xF9, 4, 0x09, 10, 0, 1, 0});
  const std::string loop = Bytes({0x21, 0xFF, 11}) + "NETSCAPE2.0" + Bytes({3, 1, 5, 0, 0});
  const std::string text = Bytes({0x21, 0x01, 12, 1, 0, 2, 0, 3, 0, 4, 0, 8, 8, 1, 0, 5}) + "hello" + Bytes({0});
  const std::string good = Head() + loop + gce + text + Image() + gce + Image() + ";";
  for (size_t n = 0; n < good.size(); ++n) {
    try {
      Loaded l(good.substr(0, n));
    } catch (const EInvalidGraphic&) {
    }
  }
  std::mt19937 rng(7);
  int errors = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string s = good;
    const int changes = 1 + int(rng() % 6);
    for (int k = 0; k < changes; ++k) s[rng() % s.size()] = char(rng());
    try {
      Loaded l(s);
      for (int i = 0; i < l.P->FrameCount(); ++i) l.P->Frame(i)->FrameBitmap();
      if (l.P->NeededVersion() != gvNone) {
        TMemoryStream out;
        l.P->SaveToStream(out);
      }
    } catch (const EInvalidGraphic&) {
      ++errors;
    } catch (const EGIFOutOfMemory&) {
      ++errors;
    } catch (const EInvalidGraphicOperation&) {
      ++errors;
    }
  }
  EXPECT_GT(errors, 0);
}

}  // namespace
}  // namespace om
