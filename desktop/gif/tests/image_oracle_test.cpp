// Whole pictures against Pillow (Debian's /usr/bin/python3), gifsicle and
// giflib's giftext as black boxes: animated files with disposal modes,
// transparency, loop counts, comments, local tables, offsets and interlacing
// load to the frames and pixels Pillow sees; what the codec saves reads back
// in Pillow as the same animation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

#include "gif/gif_image.h"
#include "memory_bitmap.h"
#include "gif_test_util.h"
#include "platform/testing/temp_folder.h"

namespace om {
namespace {

using giftest::ReadFile;
using giftest::WriteFile;

const char* kPython = "/usr/bin/python3";


// Makes the sample files and describes each frame as Pillow reads it.
const char* kMakeScript = R"PY(
import sys, os
from PIL import Image, ImageDraw
d = sys.argv[1]
def frames(n, w, h, local):
    out = []
    for i in range(n):
        im = Image.new('P', (w, h), 0)
        pal = []
        for c in range(256):
            pal += [(c * 7 + i * 40 * local) % 256, (c * 13) % 256, (c * 29 + 5) % 256]
        im.putpalette(pal)
        dr = ImageDraw.Draw(im)
        for k in range(6):
            dr.rectangle([(k * 5 + i * 3) % w, (k * 4 + i) % h, (k * 5 + i * 3) % w + 6, (k * 4 + i) % h + 5], fill=1 + (k + i) % 9)
        dr.ellipse([i, i, w // 2 + i, h // 2 + i], fill=0)
        out.append(im)
    return out
f = frames(4, 40, 30, 0)
f[0].save(d + '/anim.gif', save_all=True, append_images=f[1:], duration=[100, 200, 50, 70], loop=3,
          disposal=[0, 1, 2, 3], transparency=0, comment=b'made for the codec', optimize=False)
f = frames(3, 33, 17, 1)
f[0].save(d + '/local.gif', save_all=True, append_images=f[1:], duration=120, loop=0, disposal=2, optimize=False)
f = frames(5, 40, 30, 0)
f[0].save(d + '/keep.gif', save_all=True, append_images=f[1:], duration=60, loop=0, disposal=1, optimize=False)
f = frames(1, 61, 45, 0)
f[0].save(d + '/still.gif', optimize=False)
os.system('gifsicle -i %s/anim.gif > %s/inter.gif' % (d, d))
os.system('gifsicle -O2 %s/local.gif > %s/opt.gif' % (d, d))
os.system('gifsicle --loopcount=forever -i %s/local.gif > %s/inter_local.gif' % (d, d))
)PY";

// For each file: per frame the box, duration, disposal, transparency, and
// the composed RGBA frame in <file>.<i>.rgba; then the loop count.
const char* kDescribeScript = R"PY(
import sys
from PIL import Image
for path in sys.argv[1:]:
    im = Image.open(path)
    out = open(path + '.txt', 'w')
    out.write('N %d %d %d\n' % (im.n_frames, im.size[0], im.size[1]))
    for i in range(im.n_frames):
        im.seek(i)
        box = im.dispose_extent
        t = im.info.get('transparency', -1)
        if not isinstance(t, int): t = -1
        out.write('F %d %d %d %d %d %d %d\n' % (box[0], box[1], box[2], box[3], im.info.get('duration', 0),
                  getattr(im, 'disposal_method', 0), t))
        open('%s.%d.rgba' % (path, i), 'wb').write(im.convert('RGBA').tobytes())
    out.write('L %d\n' % im.info.get('loop', -1))
    c = im.info.get('comment', b'')
    out.write('C %s\n' % c.decode('latin-1'))
)PY";

struct FrameInfo {
  int Left, Top, Right, Bottom, Duration, Disposal, Transparency;
};
struct FileInfo {
  int Frames = 0, Width = 0, Height = 0, Loop = -1;
  std::string Comment;
  std::vector<FrameInfo> Frame;
};

FileInfo ReadInfo(const std::string& path) {
  FileInfo info;
  std::istringstream in(ReadFile(path + ".txt"));
  std::string tag;
  while (in >> tag) {
    if (tag == "N") {
      in >> info.Frames >> info.Width >> info.Height;
    } else if (tag == "F") {
      FrameInfo f{};
      in >> f.Left >> f.Top >> f.Right >> f.Bottom >> f.Duration >> f.Disposal >> f.Transparency;
      info.Frame.push_back(f);
    } else if (tag == "L") {
      in >> info.Loop;
    } else if (tag == "C") {
      in.get();
      std::getline(in, info.Comment);
    }
  }
  return info;
}

class GifImageOracle : public ::testing::Test {
protected:
  void SetUp() override {
    if (std::system((std::string(kPython) + " -c 'import PIL' >/dev/null 2>&1").c_str()) != 0)
      GTEST_SKIP() << "Pillow for /usr/bin/python3 is not installed";
    if (std::system("command -v gifsicle >/dev/null 2>&1") != 0) GTEST_SKIP() << "gifsicle is not installed";
    Dir = Temp.path();
    WriteFile(Dir + "/make.py", kMakeScript);
    WriteFile(Dir + "/describe.py", kDescribeScript);
    ASSERT_EQ(0, std::system((std::string(kPython) + " " + Dir + "/make.py " + Dir).c_str()));
  }
  void Describe(const std::vector<std::string>& files) {
    std::string cmd = std::string(kPython) + " " + Dir + "/describe.py";
    for (const auto& f : files) cmd += " " + f;
    ASSERT_EQ(0, std::system(cmd.c_str()));
  }
  testing::TempFolder Temp;
  std::string Dir;
  std::vector<std::string> Files = {"anim.gif", "local.gif", "still.gif", "inter.gif", "opt.gif", "inter_local.gif"};
};

// Loop count, comment and delay/disposal of a loaded picture.
int LoopOf(TGIFPicture& p) {
  for (int i = 0; i < p.FrameCount(); ++i)
    for (int k = 0; k < p.Frame(i)->ExtensionList().ItemCount(); ++k)
      if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(p.Frame(i)->ExtensionList().Extension(k)))
        return loop->LoopCount;
  return -1;
}
std::string CommentOf(TGIFPicture& p) {
  for (int i = 0; i < p.FrameCount(); ++i)
    for (int k = 0; k < p.Frame(i)->ExtensionList().ItemCount(); ++k)
      if (auto* c = dynamic_cast<TGIFCommentExtension*>(p.Frame(i)->ExtensionList().Extension(k))) {
        std::string all;
        for (const auto& s : c->Lines) all += s;
        return all;
      }
  return "";
}

// Every frame: box, delay, disposal, transparency, and every opaque pixel of
// the frame equals Pillow's composed frame at that place.
void CheckAgainstPillow(TGIFPicture& p, const std::string& path) {
  SCOPED_TRACE(path);
  FileInfo info = ReadInfo(path);
  ASSERT_EQ(info.Frames, p.FrameCount());
  EXPECT_EQ(info.Width, p.ScreenWidth());
  EXPECT_EQ(info.Height, p.ScreenHeight());
  for (int i = 0; i < p.FrameCount(); ++i) {
    SCOPED_TRACE(i);
    TGIFSubImage& f = *p.Frame(i);
    const FrameInfo& e = info.Frame[size_t(i)];
    EXPECT_EQ(e.Left, f.Left());
    EXPECT_EQ(e.Top, f.Top());
    EXPECT_EQ(e.Right, f.Left() + f.Width());
    EXPECT_EQ(e.Bottom, f.Top() + f.Height());
    TGIFGraphicControlExtension* gce = f.GraphicControl();
    EXPECT_EQ(e.Duration, gce ? gce->DelayTime() * 10 : 0);
    EXPECT_EQ(e.Disposal, gce ? gce->DisposalMethod() : 0);
    // Pillow reports the transparent index of the first frame only (later
    // frames come out composed as RGBA).
    if (i == 0) {
      EXPECT_EQ(e.Transparency, f.HasTransparency() ? f.TransparentColorIndex() : -1);
    }
    const std::string rgba = ReadFile(path + "." + std::to_string(i) + ".rgba");
    ASSERT_EQ(size_t(info.Width) * info.Height * 4, rgba.size());
    TGIFColorMap* map = f.EffectiveColorMap();
    int mismatches = 0;
    for (int y = 0; y < f.Height(); ++y)
      for (int x = 0; x < f.Width(); ++x) {
        const int px = f.PixelAt(x, y);
        if (f.HasTransparency() && px == f.TransparentColorIndex()) continue;
        const TGIFColor c = map->ColorAt(px);
        const size_t at = (size_t(f.Top() + y) * info.Width + size_t(f.Left() + x)) * 4;
        if (uint8_t(rgba[at]) != GIFRed(c) || uint8_t(rgba[at + 1]) != GIFGreen(c) ||
            uint8_t(rgba[at + 2]) != GIFBlue(c))
          ++mismatches;
      }
    EXPECT_EQ(0, mismatches);
  }
  if (info.Loop >= 0) {
    EXPECT_EQ(info.Loop, LoopOf(p));
  }
  EXPECT_EQ(info.Comment, CommentOf(p));
}

TEST_F(GifImageOracle, LoadsWhatPillowAndGifsicleMake) {
  std::vector<std::string> paths;
  for (const auto& f : Files) paths.push_back(Dir + "/" + f);
  Describe(paths);
  for (const auto& path : paths) {
    TGIFPicture p;
    std::vector<std::string> warnings;
    p.WarningHandler = [&](TObject*, int, const std::string& m) { warnings.push_back(m); };
    TMemoryStream s(ReadFile(path));
    p.LoadFromStream(s);
    EXPECT_TRUE(warnings.empty()) << path << ": " << (warnings.empty() ? "" : warnings[0]);
    CheckAgainstPillow(p, path);
  }
  // Interlacing as gifsicle wrote it.
  TGIFPicture inter;
  TMemoryStream s(ReadFile(Dir + "/inter.gif"));
  inter.LoadFromStream(s);
  EXPECT_TRUE(inter.Frame(0)->IsInterlaced());
}

TEST_F(GifImageOracle, SavedPicturesReadBackInPillowAndGiflib) {
  for (int encoder = 0; encoder < 2; ++encoder)
    for (const auto& name : Files) {
      SCOPED_TRACE(name + (encoder ? " rle" : " lzw"));
      TGIFPicture p;
      p.EncoderKind = uint8_t(encoder);
      TMemoryStream in(ReadFile(Dir + "/" + name));
      p.LoadFromStream(in);
      TMemoryStream out;
      p.SaveToStream(out);
      const std::string saved = Dir + "/saved_" + std::to_string(encoder) + "_" + name;
      WriteFile(saved, out.AsString());
      Describe({saved});
      CheckAgainstPillow(p, saved);
      // Pillow composes the saved file exactly as it composes the original.
      Describe({Dir + "/" + name});
      FileInfo a = ReadInfo(Dir + "/" + name), b = ReadInfo(saved);
      ASSERT_EQ(a.Frames, b.Frames);
      EXPECT_EQ(a.Loop, b.Loop);
      EXPECT_EQ(a.Comment, b.Comment);
      for (int i = 0; i < a.Frames; ++i) {
        EXPECT_EQ(a.Frame[size_t(i)].Duration, b.Frame[size_t(i)].Duration);
        EXPECT_EQ(a.Frame[size_t(i)].Disposal, b.Frame[size_t(i)].Disposal);
        EXPECT_EQ(ReadFile(Dir + "/" + name + "." + std::to_string(i) + ".rgba"),
                  ReadFile(saved + "." + std::to_string(i) + ".rgba"))
            << "frame " << i;
      }
      if (std::system("command -v giftext >/dev/null 2>&1") == 0) {
        EXPECT_EQ(0, std::system(("giftext '" + saved + "' >/dev/null 2>&1").c_str()));
      }
    }
}

TEST_F(GifImageOracle, ImportedBitmapMatchesPillowsReading) {
  // A 24-bit bitmap of a few colours becomes a frame; Pillow reads it back.
  TGIFPicture p;
  p.BitmapFactory = [] { return new giftest::TMemoryBitmap(); };
  p.ReductionMethod = 0;  // keep the colours: at most 256 occur
  giftest::TMemoryBitmap bmp(23, 11, pf24bit);
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 23; ++x) {
      uint8_t* px = bmp.ScanLine(y) + x * 3;
      px[0] = uint8_t((x * 40) % 256);  // blue
      px[1] = uint8_t(y * 20);
      px[2] = uint8_t((x / 5) * 60);
    }
  auto* frame = new TGIFSubImage(&p);
  p.Frames().Append(frame);
  frame->ImportBitmap(bmp);
  TMemoryStream out;
  p.SaveToStream(out);
  const std::string saved = Dir + "/imported.gif";
  WriteFile(saved, out.AsString());
  Describe({saved});
  const std::string rgba = ReadFile(saved + ".0.rgba");
  ASSERT_EQ(size_t(23 * 11 * 4), rgba.size());
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 23; ++x) {
      const uint8_t* px = bmp.ScanLine(y) + x * 3;
      const size_t at = (size_t(y) * 23 + size_t(x)) * 4;
      ASSERT_EQ(px[2], uint8_t(rgba[at])) << x << "," << y;
      ASSERT_EQ(px[1], uint8_t(rgba[at + 1]));
      ASSERT_EQ(px[0], uint8_t(rgba[at + 2]));
    }
}

TEST_F(GifImageOracle, OptimisedAnimationComposesTheSameInPillow) {
  // Frames kept in place: merging makes repeated pixels transparent and
  // cropping shrinks frames, yet every frame shows the same.
  const std::string original = Dir + "/keep.gif";
  TGIFPicture p;
  TMemoryStream in(ReadFile(original));
  p.LoadFromStream(in);
  const int64_t before = in.Size();
  p.OptimizeFrames(0x1F, 0, 8, 0);
  ASSERT_EQ(5, p.FrameCount());
  EXPECT_TRUE(p.Frame(1)->HasTransparency());
  TMemoryStream out;
  p.SaveToStream(out);
  EXPECT_LT(out.Size(), before);
  const std::string optimised = Dir + "/keep_optimised.gif";
  WriteFile(optimised, out.AsString());
  Describe({original, optimised});
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(ReadFile(original + "." + std::to_string(i) + ".rgba"), ReadFile(optimised + "." + std::to_string(i) + ".rgba"))
        << "frame " << i;
}

// --- Optimisation against ImageMagick's composition ------------------------------

// An animation as the test describes it; built through the codec.
struct FrameSpec {
  int Left = 0, Top = 0, Width = 1, Height = 1, Disposal = 0, Delay = 10, Transparent = -1;
  std::vector<TGIFColor> Local;  // empty: the global map
  std::vector<uint8_t> Pixels;
};
struct AnimationSpec {
  int Width = 1, Height = 1, Loop = -1, Background = 0;
  std::vector<TGIFColor> Global;
  std::vector<FrameSpec> Frames;
};

std::string Build(const AnimationSpec& a) {
  TGIFPicture p;
  p.Header().SetWidth(a.Width);
  p.Header().SetHeight(a.Height);
  for (TGIFColor c : a.Global) p.HeaderColorMap().AppendColor(c);
  p.Header().ScreenDescriptor[5] = uint8_t(a.Background);
  for (size_t i = 0; i < a.Frames.size(); ++i) {
    const FrameSpec& s = a.Frames[i];
    auto* f = new TGIFSubImage(&p);
    p.Frames().Append(f);
    f->PlaceFrame(s.Left, s.Top, s.Width, s.Height);
    for (TGIFColor c : s.Local) f->LocalColorMap().AppendColor(c);
    if (i == 0 && a.Loop >= 0) {
      auto* loop = new TGIFAppExtNSLoop(f);
      loop->LoopCount = uint16_t(a.Loop);
      f->ExtensionList().Append(loop);
    }
    auto* gce = new TGIFGraphicControlExtension(f);
    f->ExtensionList().Append(gce);
    gce->SetDisposalMethod(s.Disposal);
    gce->SetDelayTime(s.Delay);
    if (s.Transparent >= 0) {
      gce->SetTransparentColorFlag(true);
      gce->SetTransparentColorIndex(s.Transparent);
    }
    std::copy(s.Pixels.begin(), s.Pixels.end(), f->Pixels());
  }
  TMemoryStream out;
  p.SaveToStream(out);
  return out.AsString();
}

// What a viewer shows: each composed frame (RGBA over a transparent screen,
// the colour of fully transparent pixels ignored) with its delay, equal
// neighbours joined; and the loop count. Viewers read a frame of no delay in
// one of two ways, so both are kept: shown for no time (left out), or shown
// briefly (counted apart from the delays).
struct Showing {
  struct Shown {
    std::string Pixels;
    int Delay = 0;
    int Brief = 0;
  };
  std::vector<Shown> Frames[2];  // no time, briefly
  std::string Loop;
  std::string Last;  // the last frame composed, whatever its delay
};

Showing Compose(const testing::TempFolder& temp, const std::string& name, const std::string& gif) {
  temp.write(name, gif);
  const std::string path = temp.file(name);
  Showing out;
  EXPECT_EQ(0, std::system(("/usr/bin/convert '" + path + "' -verbose -write 'info:" + path +
                            ".txt' +verbose -alpha set -coalesce +adjoin -depth 8 'rgba:" + path + "-%d.rgba'")
                               .c_str()));
  // Each frame's block starts with "Image:"; "Delay: <cs>x100" is left out
  // for no delay; "Iterations: <n>" comes with a loop block.
  std::istringstream info(temp.read(name + ".txt"));
  std::string line;
  std::vector<int> delays;
  while (std::getline(info, line)) {
    if (line.compare(0, 6, "Image:") == 0) delays.push_back(0);
    const size_t at = line.find_first_not_of(' ');
    if (at == std::string::npos || delays.empty()) continue;
    if (line.compare(at, 7, "Delay: ") == 0) delays.back() = std::atoi(line.c_str() + at + 7);
    if (line.compare(at, 12, "Iterations: ") == 0 && out.Loop.empty()) out.Loop = line.substr(at + 12);
  }
  for (size_t i = 0; i < delays.size(); ++i) {
    const int delay = delays[i];
    std::string rgba = temp.read(name + "-" + std::to_string(i) + ".rgba");
    for (size_t k = 0; k + 3 < rgba.size(); k += 4)
      if (rgba[k + 3] == 0) rgba[k] = rgba[k + 1] = rgba[k + 2] = 0;
    out.Last = rgba;
    for (int brief = 0; brief < 2; ++brief) {
      if (delay == 0 && !brief) continue;
      std::vector<Showing::Shown>& frames = out.Frames[brief];
      if (frames.empty() || frames.back().Pixels != rgba) frames.push_back({rgba, 0, 0});
      frames.back().Delay += delay;
      frames.back().Brief += delay == 0;
    }
  }
  return out;
}

std::string Optimised(const std::string& gif) {
  TGIFPicture p;
  TMemoryStream in(gif);
  p.LoadFromStream(in);
  p.OptimizeFrames(0x1F, 0, 8, 0);
  TMemoryStream out;
  p.SaveToStream(out);
  return out.AsString();
}

void ExpectSameShowing(const testing::TempFolder& temp, const std::string& name, const AnimationSpec& a) {
  SCOPED_TRACE(name);
  const std::string original = Build(a);
  const Showing before = Compose(temp, name + ".gif", original);
  const Showing after = Compose(temp, name + "-optimised.gif", Optimised(original));
  for (int brief = 0; brief < 2; ++brief) {
    SCOPED_TRACE(brief ? "no delay shown briefly" : "no delay shown for no time");
    const std::vector<Showing::Shown>& shown = before.Frames[brief];
    ASSERT_FALSE(shown.empty());
    if (shown.size() == 1) {
      // A still picture (every frame shows the same): its time and loop do not show.
      EXPECT_LE(after.Frames[brief].size(), 1u);
      EXPECT_TRUE(shown[0].Pixels == after.Last);
      continue;
    }
    EXPECT_EQ(before.Loop, after.Loop);
    ASSERT_EQ(shown.size(), after.Frames[brief].size());
    for (size_t i = 0; i < shown.size(); ++i) {
      EXPECT_EQ(shown[i].Delay, after.Frames[brief][i].Delay) << "delay of shown frame " << i;
      EXPECT_EQ(shown[i].Brief, after.Frames[brief][i].Brief) << "brief showings of frame " << i;
      EXPECT_TRUE(shown[i].Pixels == after.Frames[brief][i].Pixels) << "pixels of shown frame " << i;
    }
  }
}

FrameSpec Filled(int left, int top, int width, int height, uint8_t value) {
  FrameSpec f;
  f.Left = left, f.Top = top, f.Width = width, f.Height = height;
  f.Pixels.assign(size_t(width) * size_t(height), value);
  return f;
}

class GifOptimiseOracle : public ::testing::Test {
protected:
  void SetUp() override {
    if (std::system("test -x /usr/bin/convert && test -x /usr/bin/identify") != 0)
      GTEST_SKIP() << "ImageMagick is not installed";
  }
  testing::TempFolder Temp;
  // Black, red, green, blue.
  std::vector<TGIFColor> Four = {MakeGIFColor(0, 0, 0), MakeGIFColor(255, 0, 0), MakeGIFColor(0, 255, 0),
                                 MakeGIFColor(0, 0, 255)};
};

// The cases that once changed what was shown.
TEST_F(GifOptimiseOracle, FramesDelaysAndLoopStayAsShown) {
  // A frame restored to the background, then an opaque frame inside it: the
  // rest of the first frame's area must still be cleared.
  AnimationSpec inside{8, 6, -1, 0, Four, {Filled(0, 0, 8, 6, 1), Filled(2, 2, 3, 2, 2), Filled(0, 0, 1, 1, 3)}};
  inside.Frames[0].Disposal = 2;
  ExpectSameShowing(Temp, "inside", inside);

  // Index 3 is transparent in the first frame; the second draws it opaque and
  // repeats the first frame elsewhere: it must not borrow index 3.
  AnimationSpec borrow{6, 2, -1, 0, Four, {Filled(0, 0, 6, 2, 1), Filled(0, 0, 6, 2, 1)}};
  borrow.Frames[0].Transparent = 3;
  borrow.Frames[0].Pixels[5] = 3;
  borrow.Frames[1].Pixels = {1, 1, 3, 3, 2, 2, 1, 1, 3, 3, 2, 2};
  ExpectSameShowing(Temp, "borrow", borrow);

  // An empty first frame carrying the loop count.
  AnimationSpec first{4, 4, 3, 0, Four, {Filled(0, 0, 4, 4, 0), Filled(0, 0, 4, 4, 1), Filled(1, 1, 2, 2, 2)}};
  first.Frames[0].Transparent = 0;
  first.Frames[0].Delay = 0;
  ExpectSameShowing(Temp, "first", first);

  // An empty frame of 60 after an opaque one: the picture stays for 60 more.
  AnimationSpec pause{4, 4, 0, 0, Four, {Filled(0, 0, 4, 4, 1), Filled(0, 0, 4, 4, 0), Filled(0, 0, 4, 4, 2)}};
  pause.Frames[1].Transparent = 0;
  pause.Frames[1].Delay = 60;
  ExpectSameShowing(Temp, "pause", pause);

  // A frame with a transparent border restored to the background: the whole
  // frame's area is cleared, border included.
  AnimationSpec border{6, 6, -1, 0, Four, {Filled(0, 0, 6, 6, 1), Filled(0, 0, 6, 6, 0), Filled(5, 5, 1, 1, 3)}};
  border.Frames[1].Transparent = 0;
  border.Frames[1].Pixels[2 * 6 + 2] = 2;
  border.Frames[1].Disposal = 2;
  ExpectSameShowing(Temp, "border", border);
}

// Random animations: every disposal method, transparency, local maps, offsets,
// repeated and empty frames.
TEST_F(GifOptimiseOracle, RandomAnimationsStayAsShown) {
  std::mt19937 rng(2024);
  auto pick = [&rng](int n) { return int(rng() % unsigned(n)); };
  const std::vector<TGIFColor> base = {MakeGIFColor(0, 0, 0),   MakeGIFColor(255, 0, 0), MakeGIFColor(0, 255, 0),
                                       MakeGIFColor(0, 0, 255), MakeGIFColor(255, 255, 0), MakeGIFColor(9, 9, 9)};
  for (int round = 0; round < 25; ++round) {
    AnimationSpec a;
    a.Width = 3 + pick(10);
    a.Height = 3 + pick(8);
    a.Loop = pick(3) == 0 ? -1 : pick(4);
    if (pick(5) > 0)
      for (int i = 0, n = 2 << pick(3); i < n; ++i) a.Global.push_back(base[size_t(pick(int(base.size())))]);
    a.Background = a.Global.empty() ? 0 : pick(int(a.Global.size()));
    std::vector<uint8_t> last;  // previous frame's pixels on the screen
    for (int k = 0, n = 2 + pick(5); k < n; ++k) {
      FrameSpec f;
      f.Left = pick(a.Width);
      f.Top = pick(a.Height);
      f.Width = 1 + pick(a.Width - f.Left);
      f.Height = 1 + pick(a.Height - f.Top);
      if (pick(3) == 0 && k % 2 == 1) f = Filled(0, 0, a.Width, a.Height, 0);
      if (a.Global.empty() || pick(3) == 0)
        for (int i = 0, m = 2 << pick(2); i < m; ++i) f.Local.push_back(base[size_t(pick(int(base.size())))]);
      const int colors = int(f.Local.empty() ? a.Global.size() : f.Local.size());
      f.Disposal = pick(4);
      f.Delay = pick(6) == 0 && k + 1 < n ? 0 : 10 * (1 + pick(6));
      if (pick(2) == 0) f.Transparent = pick(colors);
      f.Pixels.resize(size_t(f.Width) * size_t(f.Height));
      const int kind = pick(4);
      for (int y = 0; y < f.Height; ++y)
        for (int x = 0; x < f.Width; ++x) {
          uint8_t v = uint8_t(pick(std::min(colors, 3)));
          if (kind == 1 && !last.empty()) v = uint8_t(last[size_t(f.Top + y) * size_t(a.Width) + size_t(f.Left + x)] % colors);
          if (kind == 2 && f.Transparent >= 0) v = uint8_t(f.Transparent);
          if (kind == 3 && f.Transparent >= 0 && (x == 0 || y == 0 || x == f.Width - 1)) v = uint8_t(f.Transparent);
          f.Pixels[size_t(y) * size_t(f.Width) + size_t(x)] = v;
        }
      last.assign(size_t(a.Width) * size_t(a.Height), 0);
      for (int y = 0; y < f.Height; ++y)
        for (int x = 0; x < f.Width; ++x)
          last[size_t(f.Top + y) * size_t(a.Width) + size_t(f.Left + x)] = f.Pixels[size_t(y) * size_t(f.Width) + size_t(x)];
      a.Frames.push_back(std::move(f));
    }
    ExpectSameShowing(Temp, "random" + std::to_string(round), a);
  }
}

}  // namespace
}  // namespace om
