// The codec against independent GIF implementations run as black boxes:
// Pillow (Debian's /usr/bin/python3), gifsicle and giflib's giftext. Files made
// by them decode to the pixels they decode themselves; files made by the
// codec's encoders decode in them to the pixels that were encoded.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "gif/gif_items.h"
#include "gif/gif_lzw.h"
#include "gif_test_util.h"
#include "platform/testing/temp_folder.h"

namespace om {
namespace {

using giftest::ReadFile;
using giftest::WriteFile;

using giftest::MakeGIF;
using giftest::MakePixels;
using giftest::ParseGIF;

const char* kPython = "/usr/bin/python3";

bool HavePillow() {
  return std::system((std::string(kPython) + " -c 'import PIL' >/dev/null 2>&1").c_str()) == 0;
}
bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}



// The minimum code size byte of the first frame.
int CodeSizeOf(const std::string& bytes) {
  size_t at = 13 + (uint8_t(bytes[10]) & 0x80 ? size_t(3) << ((uint8_t(bytes[10]) & 7) + 1) : 0);
  while (at < bytes.size() && bytes[at] == 0x21) {
    at += 2;
    while (at < bytes.size() && bytes[at]) at += uint8_t(bytes[at]) + 1;
    ++at;
  }
  if (at + 10 >= bytes.size()) return -1;
  size_t d = at + 10;
  if (uint8_t(bytes[at + 9]) & 0x80) d += size_t(3) << ((uint8_t(bytes[at + 9]) & 7) + 1);
  return d < bytes.size() ? bytes[d] : -1;
}

std::vector<uint8_t> AsPixels(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

class GifOracle : public ::testing::Test {
protected:
  void SetUp() override {
    if (!HavePillow()) GTEST_SKIP() << "Pillow for /usr/bin/python3 is not installed";
    Dir = Temp.path();
  }

  int Run(const std::string& command) { return std::system(command.c_str()); }

  // Pillow decodes each file's first frame into file + ".raw" (palette indices).
  void PillowDecode(const std::vector<std::string>& files) {
    std::string script = Dir + "/decode.py";
    WriteFile(script,
              "import sys\n"
              "from PIL import Image\n"
              "for f in sys.argv[1:]:\n"
              "    im = Image.open(f)\n"
              "    im.load()\n"
              "    assert im.mode == 'P', (f, im.mode)\n"
              "    open(f + '.raw', 'wb').write(im.tobytes())\n");
    std::string cmd = std::string(kPython) + " " + script;
    for (const auto& f : files) cmd += " '" + f + "'";
    ASSERT_EQ(0, Run(cmd));
  }

  testing::TempFolder Temp;
  std::string Dir;
};

// Pillow writes files at every code size, interlaced or not; the codec reads
// the same indices Pillow reads back.
TEST_F(GifOracle, DecodesPillowFiles) {
  std::string script = Dir + "/make.py";
  WriteFile(script,
            "import sys, random\n"
            "from PIL import Image\n"
            "out = sys.argv[1]\n"
            "random.seed(5)\n"
            "i = 0\n"
            "for bits in range(1, 9):\n"
            "    n = 1 << bits\n"
            "    for kind in range(3):\n"
            "        for inter in (0, 1):\n"
            "            w, h = 37 + bits * 11, 23 + kind * 9\n"
            "            if kind == 2 and bits == 8: w, h = 320, 240\n"
            "            if kind == 0 or kind == 2: data = [random.randrange(n) for _ in range(w * h)]\n"
            "            else:\n"
            "                data = []\n"
            "                while len(data) < w * h: data += [random.randrange(n)] * random.randrange(1, 40)\n"
            "                data = data[:w * h]\n"
            "            im = Image.new('P', (w, h))\n"
            "            pal = []\n"
            "            for c in range(n): pal += [c, 255 - c, (c * 7) & 255]\n"
            "            im.putpalette(pal)\n"
            "            im.putdata(data)\n"
            "            im.save('%s/p%d.gif' % (out, i), interlace=inter, optimize=False)\n"
            "            i += 1\n");
  ASSERT_EQ(0, Run(std::string(kPython) + " " + script + " " + Dir));
  std::vector<std::string> files;
  for (int i = 0; i < 48; ++i) files.push_back(Dir + "/p" + std::to_string(i) + ".gif");
  PillowDecode(files);
  std::set<int> codeSizes;
  int interlaced = 0;
  for (const auto& f : files) {
    giftest::Parsed p = ParseGIF(ReadFile(f));
    ASSERT_EQ(1u, p.Frames.size()) << f;
    EXPECT_EQ(AsPixels(ReadFile(f + ".raw")), p.Frames[0].Pixels) << f;
    EXPECT_TRUE(p.Warnings.empty()) << f;
    interlaced += p.Frames[0].Interlaced;
    codeSizes.insert(CodeSizeOf(ReadFile(f)));
  }
  // Pillow writes every palette size with code size 8.
  EXPECT_EQ(std::set<int>{8}, codeSizes);
  EXPECT_GT(interlaced, 0);
}

// gifsicle rewrites those files (interlaced, not interlaced, optimised); the
// codec reads what Pillow reads.
TEST_F(GifOracle, DecodesGifsicleFiles) {
  if (!HaveTool("gifsicle")) GTEST_SKIP() << "gifsicle is not installed";
  std::mt19937 rng(21);
  std::vector<std::string> files;
  int n = 0;
  for (int bits = 1; bits <= 8; ++bits) {
    for (int kind = 0; kind < 4; ++kind) {
      const int w = 150, h = 90;
      std::string src = Dir + "/s" + std::to_string(n) + ".gif";
      WriteFile(src, MakeGIF(1 << bits, w, h, false, MakePixels(rng, kind, w, h, 1 << bits), false));
      int v = 0;
      for (const char* options : {"--interlace", "--no-interlace", "-O3", "-O2 --interlace"}) {
        std::string out = Dir + "/g" + std::to_string(n) + "_" + std::to_string(v++) + ".gif";
        ASSERT_EQ(0, Run(std::string("gifsicle ") + options + " '" + src + "' -o '" + out + "' 2>/dev/null"));
        files.push_back(out);
      }
      ++n;
    }
  }
  PillowDecode(files);
  std::set<int> codeSizes;
  for (const auto& f : files) {
    giftest::Parsed p = ParseGIF(ReadFile(f));
    ASSERT_EQ(1u, p.Frames.size()) << f;
    EXPECT_EQ(AsPixels(ReadFile(f + ".raw")), p.Frames[0].Pixels) << f;
    EXPECT_TRUE(p.Warnings.empty()) << f;
    codeSizes.insert(CodeSizeOf(ReadFile(f)));
  }
  EXPECT_EQ((std::set<int>{2, 3, 4, 5, 6, 7, 8}), codeSizes);
}

// A plain LZW encoder written for this test that never clears a full table
// (deferred clear codes) and cuts its sub-blocks at random sizes.
TEST_F(GifOracle, DecodesDeferredClearCodes) {
  std::string script = Dir + "/deferred.py";
  WriteFile(script,
            "import sys, random\n"
            "from PIL import Image\n"
            "random.seed(int(sys.argv[2]))\n"
            "m = int(sys.argv[3]); n = 1 << m\n"
            "w, h = 200, 150\n"
            "px = [random.randrange(n) if random.random() < 0.7 else 0 for _ in range(w * h)]\n"
            "clear = 1 << max(m, 2); end = clear + 1; size = max(m, 2) + 1; nxt = end + 1\n"
            "table = {}; codes = [(clear, size)]\n"
            "cur = px[0]\n"
            "for c in px[1:]:\n"
            "    if (cur, c) in table: cur = table[(cur, c)]; continue\n"
            "    codes.append((cur, size))\n"
            "    if nxt < 4096:\n"
            "        table[(cur, c)] = nxt; nxt += 1\n"
            "        if nxt - 1 >= (1 << size) and size < 12: size += 1\n"
            "    cur = c\n"
            "codes.append((cur, size)); codes.append((end, size))\n"
            "acc = 0; nb = 0; data = bytearray()\n"
            "for code, width in codes:\n"
            "    acc |= code << nb; nb += width\n"
            "    while nb >= 8: data.append(acc & 255); acc >>= 8; nb -= 8\n"
            "if nb: data.append(acc & 255)\n"
            "blocks = bytearray([max(m, 2)]); i = 0\n"
            "while i < len(data):\n"
            "    k = min(random.choice([1, 2, 3, 254, 255, 17]), len(data) - i)\n"
            "    blocks.append(k); blocks += data[i:i + k]; i += k\n"
            "blocks.append(0)\n"
            "pal = b''.join(bytes([c, 255 - c, 7 * c & 255]) for c in range(1 << max(m, 1)))\n"
            "hdr = b'GIF87a' + bytes([w & 255, w >> 8, h & 255, h >> 8, 0x80 | 0x70 | (max(m, 1) - 1), 0, 0]) + pal\n"
            "desc = bytes([0x2C, 0, 0, 0, 0, w & 255, w >> 8, h & 255, h >> 8, 0])\n"
            "open(sys.argv[1], 'wb').write(hdr + desc + bytes(blocks) + b';')\n"
            "open(sys.argv[1] + '.src', 'wb').write(bytes(px))\n");
  std::vector<std::string> files;
  for (int m = 1; m <= 8; ++m) {
    std::string f = Dir + "/d" + std::to_string(m) + ".gif";
    ASSERT_EQ(0, Run(std::string(kPython) + " " + script + " " + f + " " + std::to_string(m * 3) + " " +
                     std::to_string(m)));
    files.push_back(f);
  }
  PillowDecode(files);
  for (const auto& f : files) {
    giftest::Parsed p = ParseGIF(ReadFile(f));
    ASSERT_EQ(1u, p.Frames.size());
    EXPECT_EQ(AsPixels(ReadFile(f + ".src")), p.Frames[0].Pixels) << f;
    EXPECT_EQ(AsPixels(ReadFile(f + ".raw")), p.Frames[0].Pixels) << f;
  }
}

// Files made by the codec's LZW and run-length encoders decode to the encoded
// pixels in Pillow, giflib (giftext -r) and gifsicle, at every bit depth, with
// the sub-blocks also re-cut at awkward sizes.
TEST_F(GifOracle, EncoderOutputAcceptedEverywhere) {
  const bool giflib = HaveTool("giftext");
  const bool gifsicle = HaveTool("gifsicle");
  std::mt19937 rng(77);
  struct Case {
    std::string File;
    std::vector<uint8_t> Pixels;
    bool Interlaced;
  };
  std::vector<Case> cases;
  for (int bits = 1; bits <= 8; ++bits) {
    for (int kind = 0; kind < 4; ++kind) {
      for (bool interlaced : {false, true}) {
        for (bool rle : {false, true}) {
          const int w = 61 + 17 * kind, h = kind == 0 && bits == 8 ? 300 : 45;
          Case c;
          c.Pixels = MakePixels(rng, kind, w, h, 1 << bits);
          c.Interlaced = interlaced;
          c.File = Dir + "/e" + std::to_string(cases.size()) + ".gif";
          std::string gif = MakeGIF(1 << bits, w, h, interlaced, c.Pixels, rle);
          if (cases.size() % 3 == 1) {
            // Re-cut the image data into sub-blocks of 1, 2 and 254 bytes.
            giftest::Parsed check = ParseGIF(gif);
            size_t at = 13 + (size_t(3) << bits) + 10;
            std::string codes;
            size_t p = at + 1;
            while (gif[p]) {
              codes += gif.substr(p + 1, uint8_t(gif[p]));
              p += uint8_t(gif[p]) + 1;
            }
            std::string re = gif.substr(0, at + 1);
            const int sizes[] = {1, 2, 254};
            for (size_t i = 0, k = 0; i < codes.size(); ++k) {
              size_t n = std::min<size_t>(size_t(sizes[k % 3]), codes.size() - i);
              re.push_back(char(n));
              re += codes.substr(i, n);
              i += n;
            }
            re += std::string(1, '\0') + ";";
            gif = re;
            ASSERT_EQ(c.Pixels, ParseGIF(gif).Frames[0].Pixels);
          }
          WriteFile(c.File, gif);
          cases.push_back(std::move(c));
        }
      }
    }
  }
  std::vector<std::string> files;
  for (const auto& c : cases) files.push_back(c.File);
  PillowDecode(files);
  for (const auto& c : cases) {
    EXPECT_EQ(c.Pixels, AsPixels(ReadFile(c.File + ".raw"))) << c.File;
    if (giflib && !c.Interlaced) {
      // giftext -r dumps the indices in storage order.
      ASSERT_EQ(0, Run("giftext -r '" + c.File + "' > '" + c.File + ".giflib' 2>/dev/null")) << c.File;
      EXPECT_EQ(c.Pixels, AsPixels(ReadFile(c.File + ".giflib"))) << c.File;
    }
    if (gifsicle) {
      // gifsicle decodes and re-encodes; a decoding error shows on stderr.
      std::string out = c.File + ".sicle.gif";
      ASSERT_EQ(0, Run("gifsicle --no-interlace '" + c.File + "' -o '" + out + "' 2>'" + c.File + ".err'"));
      EXPECT_EQ("", ReadFile(c.File + ".err")) << c.File;
      giftest::Parsed p = ParseGIF(ReadFile(out));
      ASSERT_EQ(1u, p.Frames.size());
      // gifsicle may renumber the colours; compare through the colour tables.
      giftest::Parsed mine = ParseGIF(ReadFile(c.File));
      ASSERT_EQ(mine.Frames[0].Pixels.size(), p.Frames[0].Pixels.size());
      size_t differ = 0;
      for (size_t i = 0; i < c.Pixels.size(); ++i)
        differ += giftest::PixelColor(mine, mine.Frames[0], i) != giftest::PixelColor(p, p.Frames[0], i);
      EXPECT_EQ(0u, differ) << c.File;
    }
  }
}

// Two frames, the first followed by garbage sub-blocks after its end code:
// Pillow and the codec both find the second frame and agree on its colours.
TEST_F(GifOracle, GarbageAfterEndCodeAndSecondFrame) {
  std::mt19937 rng(31);
  const int w = 40, h = 30, colors = 16;
  std::vector<uint8_t> first = MakePixels(rng, 0, w, h, colors), second = MakePixels(rng, 1, w, h, colors);
  TMemoryStream out;
  TGIFHeader header(nullptr);
  for (int i = 0; i < colors; ++i) header.GlobalMap().AppendColor(giftest::TestColor(i * 13));
  header.SetWidth(w);
  header.SetHeight(h);
  header.SaveToStream(out);
  std::string file = out.AsString();
  auto frame = [&](const std::vector<uint8_t>& px, bool garbage) {
    const char d[10] = {0x2C, 0, 0, 0, 0, char(w), 0, char(h), 0, 0};
    file += std::string(d, 10);
    std::string data = giftest::EncodeData(colors, w, h, false, px, false);
    if (garbage) data = data.substr(0, data.size() - 1) + std::string("\x05garba\x02ge", 9) + std::string(1, '\0');
    file += data;
  };
  frame(first, true);
  frame(second, false);
  file += ";";
  const std::string path = Dir + "/two.gif";
  WriteFile(path, file);
  std::string script = Dir + "/two.py";
  WriteFile(script,
            "import sys\n"
            "from PIL import Image\n"
            "im = Image.open(sys.argv[1])\n"
            "im.seek(1)\n"
            "im.load()\n"
            "open(sys.argv[1] + '.rgb', 'wb').write(im.convert('RGB').tobytes())\n");
  ASSERT_EQ(0, Run(std::string(kPython) + " " + script + " " + path));
  giftest::Parsed p = ParseGIF(file);
  ASSERT_EQ(2u, p.Frames.size());
  EXPECT_EQ(first, p.Frames[0].Pixels);
  EXPECT_EQ(second, p.Frames[1].Pixels);
  const std::string rgb = ReadFile(path + ".rgb");
  ASSERT_EQ(size_t(w * h * 3), rgb.size());
  for (size_t i = 0; i < size_t(w * h); ++i) {
    const uint32_t c = giftest::PixelColor(p, p.Frames[1], i);
    ASSERT_EQ(GIFRed(c), uint8_t(rgb[i * 3])) << i;
    ASSERT_EQ(GIFGreen(c), uint8_t(rgb[i * 3 + 1])) << i;
    ASSERT_EQ(GIFBlue(c), uint8_t(rgb[i * 3 + 2])) << i;
  }
}

}  // namespace
}  // namespace om
