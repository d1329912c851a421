// Malformed input: the decoder and the header and block parsing either read
// something or raise the codec's error; never a crash or a hang (this suite
// also runs under AddressSanitizer).
#include <gtest/gtest.h>

#include "gif/gif_items.h"
#include "gif/gif_lzw.h"
#include "gif_test_util.h"

namespace om {
namespace {

using giftest::MakeGIF;
using giftest::MakePixels;
using giftest::ParseGIF;

void ParseQuietly(const std::string& bytes) {
  try {
    ParseGIF(bytes, 1 << 20);
  } catch (const GIFException&) {
  }
}

TEST(GifFuzz, MutatedFiles) {
  std::mt19937 rng(12345);
  std::vector<std::string> seeds;
  for (int bits : {1, 2, 4, 8})
    for (int kind = 0; kind < 4; ++kind)
      for (bool rle : {false, true})
        seeds.push_back(MakeGIF(1 << bits, 23 + kind, 17, kind % 2 == 1,
                                MakePixels(rng, kind, 23 + kind, 17, 1 << bits), rle));
  int cases = 0;
  for (const std::string& seed : seeds) {
    ASSERT_NO_THROW(ParseGIF(seed));
    for (int round = 0; round < 300; ++round) {
      std::string m = seed;
      const int edits = 1 + int(rng() % 8);
      for (int e = 0; e < edits; ++e) {
        size_t at = rng() % m.size();
        switch (rng() % 5) {
          case 0: m[at] = char(rng()); break;
          case 1: m[at] = char(uint8_t(m[at]) ^ (1u << (rng() % 8))); break;
          case 2: m.erase(at, 1 + rng() % 16); break;
          case 3: m.insert(at, std::string(1 + rng() % 4, char(rng()))); break;
          default: m.resize(at); break;
        }
        if (m.empty()) m = "G";
      }
      ParseQuietly(m);
      ++cases;
    }
  }
  EXPECT_GT(cases, 9000);
}

// Random code streams straight into the decoder: every code size, random
// sub-block lengths, random codes (undefined codes, cycles, early ends).
TEST(GifFuzz, RandomImageData) {
  std::mt19937 rng(99);
  std::vector<uint8_t> pixels(64 * 64);
  for (int round = 0; round < 4000; ++round) {
    std::string data;
    data.push_back(char(rng() % 10));
    const int blocks = int(rng() % 6);
    for (int b = 0; b < blocks; ++b) {
      const int n = int(rng() % 256);
      data.push_back(char(n));
      for (int i = 0; i < n; ++i) data.push_back(char(rng()));
    }
    if (rng() % 2) data.push_back(0);
    TMemoryStream s(data);
    const int w = 1 + int(rng() % 64), h = 1 + int(rng() % 64);
    try {
      DecodeLZW(s, pixels.data(), w, h, rng() % 2 == 0, [](int, const std::string&) {});
    } catch (const GIFException&) {
    }
    EXPECT_LE(s.Position(), s.Size() + 255);
  }
}

// Descriptors claiming sizes and tables that are not there.
TEST(GifFuzz, HeaderFields) {
  std::mt19937 rng(3);
  for (int round = 0; round < 2000; ++round) {
    std::string h = "GIF89a";
    for (int i = 0; i < 7; ++i) h.push_back(char(rng()));
    const size_t table = rng() % 800;
    for (size_t i = 0; i < table; ++i) h.push_back(char(rng()));
    TMemoryStream s(h);
    TGIFHeader header(nullptr);
    try {
      header.LoadFromStream(s);
      EXPECT_LE(header.GlobalMap().Count(), 256);
      EXPECT_EQ(header.PackedFields() & 0x80 ? 2 << (header.PackedFields() & 7) : 0, header.GlobalMap().Count());
    } catch (const GIFException& e) {
      EXPECT_EQ("Premature end of data", e.Message());
    }
  }
}

}  // namespace
}  // namespace om
