// Image data coding: exact encoder output, the decoder's handling of odd but
// legal data, and round trips through both encoders at every code size.
#include <gtest/gtest.h>

#include "gif/gif_encoder.h"
#include "gif/gif_lzw.h"
#include "gif_test_util.h"

namespace om {
namespace {

using giftest::EncodeData;
using giftest::MakePixels;

std::string Bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s.push_back(char(b));
  return s;
}

struct Decoded {
  std::vector<uint8_t> Pixels;
  std::vector<std::string> Warnings;
  int64_t End = 0;
};

Decoded Decode(const std::string& data, int width, int height, bool interlaced, uint8_t fill = 0) {
  Decoded d;
  d.Pixels.assign(size_t(width) * size_t(height), fill);
  TMemoryStream s(data);
  DecodeLZW(s, d.Pixels.data(), width, height, interlaced,
            [&d](int, const std::string& m) { d.Warnings.push_back(m); });
  d.End = s.Position();
  return d;
}

// The same image data cut into sub-blocks of the given sizes (cycled).
std::string Rechunk(const std::string& data, const std::vector<int>& sizes) {
  std::string codes;
  size_t at = 1;
  while (at < data.size() && data[at] != 0) {
    size_t n = uint8_t(data[at]);
    codes += data.substr(at + 1, n);
    at += n + 1;
  }
  std::string out = data.substr(0, 1);
  size_t i = 0, k = 0;
  while (i < codes.size()) {
    size_t n = std::min<size_t>(size_t(sizes[k++ % sizes.size()]), codes.size() - i);
    out.push_back(char(n));
    out += codes.substr(i, n);
    i += n;
  }
  out.push_back(0);
  return out;
}

TEST(GifEncoder, SmallestFrames) {
  std::vector<uint8_t> one{0};
  EXPECT_EQ(Bytes({2, 2, 0x44, 0x01, 0}), EncodeData(2, 1, 1, false, one, false));
  EXPECT_EQ(Bytes({2, 2, 0x44, 0x01, 0}), EncodeData(2, 1, 1, false, one, true));
  EXPECT_EQ(Bytes({2, 1, 5, 0}), EncodeData(2, 0, 1, false, one, false));
  EXPECT_EQ(Bytes({2, 1, 5, 0}), EncodeData(2, 1, 1, false, {}, true));
  // Both decode: the empty frame keeps its fill and leaves the stream at its end.
  Decoded d = Decode(Bytes({2, 1, 5, 0, 0x3B}), 2, 2, false, 7);
  EXPECT_EQ(std::vector<uint8_t>(4, 7), d.Pixels);
  EXPECT_EQ(4, d.End);
  EXPECT_TRUE(d.Warnings.empty());
}

TEST(GifEncoder, WriterNeverWritesEmptyBlocks) {
  for (int n : {0, 1, 254, 255, 256, 510, 511}) {
    TMemoryStream out;
    {
      TGIFWriter w(out);
      for (int i = 0; i < n; ++i) w.WriteOne(uint8_t(i));
      w.Flush();
    }
    std::string s = out.AsString();
    size_t at = 0, total = 0;
    while (at < s.size()) {
      size_t len = uint8_t(s[at]);
      ASSERT_GT(len, 0u) << n;
      ASSERT_TRUE(len == 255 || at + 1 + len == s.size()) << n;
      total += len;
      at += len + 1;
    }
    EXPECT_EQ(size_t(n), total);
  }
  TMemoryStream target;
  TGIFWriter w(target);
  uint8_t b;
  EXPECT_THROW(w.Read(&b, 1), Exception);
  EXPECT_THROW(w.Seek(0, soBeginning), Exception);
}

TEST(GifEncoder, InterlacedRowOrder) {
  for (int height : {1, 2, 3, 5, 8, 9, 17, 33}) {
    const int width = 3;
    std::vector<uint8_t> pixels;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) pixels.push_back(uint8_t(y));
    for (bool rle : {false, true}) {
      // Read back without de-interlacing: rows in storage order.
      Decoded stored = Decode(EncodeData(64, width, height, true, pixels, rle), width, height, false);
      std::vector<int> order;
      for (int y = 0; y < height; ++y) order.push_back(stored.Pixels[size_t(y) * width]);
      std::vector<int> expected;
      for (int start : {0, 4, 2, 1})
        for (int y = start; y < height; y += start == 0 ? 8 : start == 4 ? 8 : start == 2 ? 4 : 2)
          expected.push_back(y);
      EXPECT_EQ(expected, order) << height;
      // With de-interlacing the image comes back as it was.
      EXPECT_EQ(pixels, Decode(EncodeData(64, width, height, true, pixels, rle), width, height, true).Pixels);
    }
  }
}

TEST(GifEncoder, PixelOutsideTableIsRefused) {
  for (bool rle : {false, true}) {
    std::vector<uint8_t> pixels{0, 1, 2, 3, 4, 1};
    TMemoryStream out;
    TLZWEncoder lzw;
    TRLEEncoder runs;
    TGIFEncoder& e = rle ? static_cast<TGIFEncoder&>(runs) : lzw;
    try {
      e.EncodeFrame(out, 2, 6, 1, false, pixels.data(), 4);
      FAIL();
    } catch (const GIFException& ex) {
      EXPECT_EQ("Color not in color table", ex.Message());
    }
    std::string s = out.AsString();
    ASSERT_GE(s.size(), 3u);
    EXPECT_EQ(2, s[0]);
    EXPECT_NE(0, s.back());  // no terminator after the failure
    // A colour count above what the code size can express is no excuse.
    std::vector<uint8_t> big{5};
    TMemoryStream out2;
    EXPECT_THROW(e.EncodeFrame(out2, 2, 1, 1, false, big.data(), 256), GIFException);
  }
}

TEST(GifEncoder, RunLengthCodes) {
  // One colour: runs of growing length after the first clear, much shorter
  // than one code per pixel.
  std::vector<uint8_t> flat(100 * 100, 3);
  std::string rle = EncodeData(4, 100, 100, false, flat, true);
  EXPECT_LT(rle.size(), 400u);
  EXPECT_EQ(flat, Decode(rle, 100, 100, false).Pixels);
  // Alternating values: one code per pixel, clear codes keep them 3 bits wide.
  std::vector<uint8_t> alt(1000);
  for (size_t i = 0; i < alt.size(); ++i) alt[i] = uint8_t(i & 1);
  std::string data = EncodeData(4, 1000, 1, false, alt, true);
  // 1000 pixels, a clear after every 9 codes and the end code, at most 4 bits each.
  EXPECT_LE(data.size(), (1000 + 112 + 1) * 4 / 8 + 3 + 5u);
  EXPECT_EQ(alt, Decode(data, 1000, 1, false).Pixels);
}

TEST(GifEncoder, HelperArithmetic) {
  EXPECT_EQ(0, IntSqrt(0));
  EXPECT_EQ(1, IntSqrt(3));
  EXPECT_EQ(2, IntSqrt(4));
  EXPECT_EQ(31622, IntSqrt(1000000000));
  // Runs of 1, 2, 3 cover 6 pixels in 3 codes; 7 need 4.
  EXPECT_EQ(3, TriangleCost(6, 100));
  EXPECT_EQ(4, TriangleCost(7, 100));
  EXPECT_EQ(1, TriangleCost(1, 100));
  EXPECT_EQ(3 + 1, TriangleCost(7, 3));  // one full triangle of 6, then 1
  EXPECT_EQ(0xFFFu, CodeMaskForBits(12));
  THashTable t;
  EXPECT_EQ(0xFFFF, t.Find(123));
  for (uint32_t k = 0; k < 3837; ++k) t.Store(k * 4099 % 0xFFFFF, int(k + 258) & 0xFFF);
  for (uint32_t k = 0; k < 3837; ++k) EXPECT_EQ((k + 258) & 0xFFF, t.Find(k * 4099 % 0xFFFFF));
}

// A 2-bit frame stores up to 4089 strings before the table restarts, more than
// half of the slots; every one finds room and is found again. (The keys are
// ones that a table of 8009 slots probing by doubling the slot number once
// crowded into the half of the slots it could reach, so that it never ended.)
TEST(GifEncoder, StringTableHoldsEveryStringOfATwoBitFrame) {
  std::vector<bool> half(8009, false);
  for (int h = 1; !half[size_t(h)]; h = h * 2 % 8009) half[size_t(h)] = true;
  std::vector<uint32_t> keys;
  for (uint32_t k = 0; keys.size() < 4089; ++k)
    if (half[(k ^ (k >> 4)) % 8009]) keys.push_back(k);
  THashTable t;
  for (size_t i = 0; i < keys.size(); ++i) t.Store(keys[i], int(i + 6));
  for (size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(i + 6, t.Find(keys[i]));
  EXPECT_EQ(0xFFFF, t.Find(keys.back() + 1 + (1u << 19)));
}

TEST(GifDecoder, OddButLegalData) {
  // No clear code at the start.
  EXPECT_EQ((std::vector<uint8_t>{1, 1}), Decode(Bytes({2, 2, 0x49, 0x01, 0}), 2, 1, false).Pixels);
  // Code equal to the next free code: previous string plus its first value.
  // codes 1, 6 (=1,1), 7 (=1,1,1), 5 at 3 bits: 001 110 111 101
  Decoded k = Decode(Bytes({2, 2, 0xF1, 0x0B, 0}), 6, 1, false);
  EXPECT_EQ(std::vector<uint8_t>(6, 1), k.Pixels);
  // Several clear codes in a row, and a clear before the end code.
  std::vector<uint8_t> pixels{1, 2, 3, 0, 1, 2};
  Decoded one = Decode(EncodeData(4, 6, 1, false, pixels, false), 6, 1, false);
  EXPECT_EQ(pixels, one.Pixels);
}

TEST(GifDecoder, EarlyEndKeepsFill) {
  std::vector<uint8_t> pixels{1, 2, 3, 1};
  std::string data = EncodeData(4, 4, 1, false, pixels, false);
  // Declared larger than the data: the rest keeps the fill, no warning (end code seen).
  Decoded d = Decode(data + "\x3B", 4, 2, false, 3);
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 1, 3, 3, 3, 3}), d.Pixels);
  EXPECT_EQ(int64_t(data.size()), d.End);

  // Data without an end code: under-run warning; the padding bits are no pixel.
  // codes 1, 2 at 3 bits, then the terminator.
  Decoded u = Decode(Bytes({2, 1, 0x11, 0}), 3, 1, false, 3);
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), u.Pixels);
  EXPECT_EQ(std::vector<std::string>{"Decoder bit buffer under-run"}, u.Warnings);

  // The stream ends inside a sub-block.
  std::string cut = data.substr(0, data.size() - 2);
  Decoded c = Decode(cut, 4, 1, false, 3);
  EXPECT_FALSE(c.Warnings.empty());
  EXPECT_EQ("Premature end of data", c.Warnings[0]);
  // No data at all.
  Decoded none = Decode("", 2, 1, false, 9);
  EXPECT_EQ(std::vector<uint8_t>(2, 9), none.Pixels);
}

TEST(GifDecoder, DataBeyondLastPixelIsSkipped) {
  std::vector<uint8_t> pixels(300);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 7 % 16);
  std::string data = EncodeData(16, 300, 1, false, pixels, false);
  // Only the first 100 pixels are asked for; the stream must still end after
  // the terminator, ready for the next block.
  Decoded d = Decode(data + "\x3B", 100, 1, false);
  EXPECT_EQ(std::vector<uint8_t>(pixels.begin(), pixels.begin() + 100), d.Pixels);
  EXPECT_EQ(int64_t(data.size()), d.End);
  // Garbage sub-blocks after the end code are skipped too.
  std::string padded = data.substr(0, data.size() - 1) + Bytes({3, 1, 2, 3, 0});
  Decoded g = Decode(padded + "\x3B", 300, 1, false);
  EXPECT_EQ(pixels, g.Pixels);
  EXPECT_EQ(int64_t(padded.size()), g.End);
}

TEST(GifDecoder, BadCodeSizesAndCycles) {
  std::vector<uint8_t> px(4);
  for (int size : {9, 12, 13, 200, 255}) {
    TMemoryStream s(Bytes({size, 2, 0, 0, 0}));
    EXPECT_THROW(DecodeLZW(s, px.data(), 2, 2, false, nullptr), GIFException) << size;
  }
}

// Both encoders, every code size, interlaced or not, long enough to fill the
// table, with the sub-blocks re-cut at awkward sizes.
TEST(GifRoundTrip, EveryCodeSize) {
  std::mt19937 rng(7);
  for (int bits = 1; bits <= 8; ++bits) {
    const int colors = 1 << bits;
    for (int kind = 0; kind < 4; ++kind) {
      for (bool interlaced : {false, true}) {
        const int w = 97 + bits * 13, h = 61 + kind * 7;
        std::vector<uint8_t> pixels = MakePixels(rng, kind, w, h, colors);
        for (bool rle : {false, true}) {
          std::string data = EncodeData(colors, w, h, interlaced, pixels, rle);
          EXPECT_EQ(std::max(2, bits), data[0]);
          Decoded d = Decode(data, w, h, interlaced);
          ASSERT_EQ(pixels, d.Pixels) << bits << " " << kind << " " << interlaced << " " << rle;
          EXPECT_TRUE(d.Warnings.empty());
          EXPECT_EQ(int64_t(data.size()), d.End);
          for (const auto& sizes : std::vector<std::vector<int>>{{1}, {2, 1}, {255, 1, 3}, {7}}) {
            std::string re = Rechunk(data, sizes);
            Decoded r = Decode(re, w, h, interlaced);
            ASSERT_EQ(pixels, r.Pixels) << bits << " " << kind << " chunked";
            EXPECT_EQ(int64_t(re.size()), r.End);
          }
        }
      }
    }
  }
}

TEST(GifRoundTrip, LargeFramesForceClearCodes) {
  std::mt19937 rng(11);
  for (int kind = 0; kind < 4; ++kind) {
    std::vector<uint8_t> pixels = MakePixels(rng, kind, 640, 480, 256);
    for (bool rle : {false, true}) {
      std::string data = EncodeData(256, 640, 480, false, pixels, rle);
      ASSERT_EQ(pixels, Decode(data, 640, 480, false).Pixels) << kind << rle;
    }
  }
}

}  // namespace
}  // namespace om

namespace om {
namespace {

struct Code {
  int Value, Width;
};

// The code sequence of image data, read with the standard's width rules.
std::vector<Code> Trace(const std::string& data) {
  std::string bytes;
  for (size_t at = 1; at < data.size() && data[at] != 0; at += uint8_t(data[at]) + 1)
    bytes += data.substr(at + 1, uint8_t(data[at]));
  const int m = data[0], clear = 1 << m;
  int width = m + 1, next = clear + 2;
  bool first = true;
  std::vector<Code> codes;
  size_t bit = 0;
  while (bit + size_t(width) <= bytes.size() * 8) {
    int v = 0;
    for (int i = 0; i < width; ++i, ++bit) v |= ((uint8_t(bytes[bit / 8]) >> (bit % 8)) & 1) << i;
    codes.push_back({v, width});
    if (v == clear) {
      width = m + 1, next = clear + 2, first = true;
      continue;
    }
    if (v == clear + 1) break;
    if (!first && next < 4096) {
      ++next;
      if (next == (1 << width) && width < 12) ++width;
    }
    first = false;
  }
  return codes;
}

TEST(GifEncoder, CodeSequences) {
  // LZW, 8 bits, varied pixels: a clear comes when 4095 codes would be
  // assigned, and the code after it is 9 bits wide again.
  std::mt19937 rng(1);
  std::vector<uint8_t> varied(20000);
  for (auto& v : varied) v = uint8_t(rng());
  std::vector<Code> lzw = Trace(EncodeData(256, 20000, 1, false, varied, false));
  ASSERT_GT(lzw.size(), 2u);
  EXPECT_EQ(256, lzw.front().Value);
  EXPECT_EQ(257, lzw.back().Value);
  int clears = 0;
  for (size_t i = 1; i + 1 < lzw.size(); ++i) {
    if (lzw[i].Value != 256) continue;
    ++clears;
    EXPECT_EQ(12, lzw[i].Width);
    EXPECT_EQ(9, lzw[i + 1].Width);
    // 4095 - 258 codes were assigned since the last clear: one per code but the first.
    size_t since = 0;
    for (size_t k = i - 1; lzw[k].Value != 256; --k) ++since;
    EXPECT_EQ(size_t(4095 - 258 + 1), since);
  }
  EXPECT_GT(clears, 0);

  // Run-length encoder, one colour: runs of 1, 2, 3, ... after the first clear.
  std::vector<uint8_t> flat(5000, 2);
  std::vector<Code> runs = Trace(EncodeData(4, 5000, 1, false, flat, true));
  ASSERT_GT(runs.size(), 10u);
  EXPECT_EQ(4, runs[0].Value);
  EXPECT_EQ(2, runs[1].Value);
  for (int n = 2; n < 8; ++n) EXPECT_EQ(6 + n - 2, runs[size_t(n)].Value) << n;
  EXPECT_LT(runs.size(), 120u);

  // Without runs: a clear after every 9 codes at 2 bits per pixel, 254 at 8.
  for (int bits : {2, 8}) {
    std::vector<uint8_t> alt(3000);
    for (size_t i = 0; i < alt.size(); ++i) alt[i] = uint8_t(i % 3);
    std::vector<Code> plain = Trace(EncodeData(1 << bits, 3000, 1, false, alt, true));
    const int clear = 1 << bits;
    size_t since = 0;
    int clears = 0;
    for (size_t i = 1; i + 1 < plain.size(); ++i) {
      if (plain[i].Value == clear) {
        EXPECT_EQ(size_t(bits == 2 ? 9 : 254), since);
        since = 0;
        ++clears;
      } else {
        ++since;
      }
    }
    EXPECT_GT(clears, 5) << bits;
  }
}

}  // namespace
}  // namespace om

namespace om {
namespace {

// Random sizes, depths and contents: both encoders round-trip through the decoder.
TEST(GifRoundTrip, RandomFrames) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 1500; ++round) {
    const int bits = 1 + int(rng() % 8), colors = 1 + int(rng() % (1 << bits));
    const int w = 1 + int(rng() % 70), h = 1 + int(rng() % 70);
    const bool interlaced = rng() % 2, rle = rng() % 2;
    std::vector<uint8_t> pixels = giftest::MakePixels(rng, int(rng() % 4), w, h, colors);
    std::string data = EncodeData(colors, w, h, interlaced, pixels, rle);
    Decoded d = Decode(data, w, h, interlaced);
    ASSERT_EQ(pixels, d.Pixels) << round << " bits " << bits << " " << w << "x" << h << " rle " << rle;
    ASSERT_TRUE(d.Warnings.empty());
    ASSERT_EQ(int64_t(data.size()), d.End);
  }
}

}  // namespace
}  // namespace om
