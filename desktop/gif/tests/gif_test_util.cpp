#include "gif_test_util.h"

#include <fstream>
#include <sstream>

#include "gif/gif_encoder.h"
#include "gif/gif_items.h"
#include "gif/gif_lzw.h"

namespace om::giftest {

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), std::streamsize(bytes.size()));
}

Parsed ParseGIF(const std::string& bytes, int64_t maxPixels) {
  Parsed result;
  TMemoryStream stream(bytes);
  TGIFHeader header(nullptr);
  header.LoadFromStream(stream);
  result.ScreenWidth = header.Width();
  result.ScreenHeight = header.Height();
  result.GlobalColors = header.GlobalMap().Count();
  result.GlobalTable.assign(header.GlobalMap().Data(), header.GlobalMap().Data() + 3 * result.GlobalColors);
  auto warn = [&result](int, const std::string& message) { result.Warnings.push_back(message); };
  for (;;) {
    uint8_t introducer = 0;
    if (stream.Read(&introducer, 1) != 1) RaiseGIFError("Premature end of data");
    if (introducer == 0x3B) break;
    if (introducer == 0x21) {
      ReadOneByte(stream);
      std::vector<std::string> blocks;
      ReadTextBlocks(stream, blocks);
      continue;
    }
    if (introducer != 0x2C) RaiseGIFError("Unknown block");
    uint8_t d[9];
    ReadExact(stream, d, 9);
    Frame frame;
    frame.Width = d[4] | (d[5] << 8);
    frame.Height = d[6] | (d[7] << 8);
    frame.Interlaced = (d[8] & 0x40) != 0;
    if (d[8] & 0x80) {
      frame.LocalTable.resize(size_t(3) << ((d[8] & 7) + 1));
      ReadExact(stream, frame.LocalTable.data(), int64_t(frame.LocalTable.size()));
    }
    if (int64_t(frame.Width) * frame.Height > maxPixels) RaiseGIFError("Frame too large for the test");
    frame.Pixels.assign(size_t(frame.Width) * size_t(frame.Height), 0);
    DecodeLZW(stream, frame.Pixels.data(), frame.Width, frame.Height, frame.Interlaced, warn);
    result.Frames.push_back(std::move(frame));
  }
  return result;
}

std::string EncodeData(int colors, int width, int height, bool interlaced, const std::vector<uint8_t>& pixels,
                       bool rle) {
  TMemoryStream out;
  TLZWEncoder lzw;
  TRLEEncoder runs;
  TGIFEncoder& encoder = rle ? static_cast<TGIFEncoder&>(runs) : lzw;
  encoder.EncodeFrame(out, BitsForColors(colors), width, height, interlaced,
                      pixels.empty() ? nullptr : pixels.data(), colors);
  return out.AsString();
}

uint32_t PixelColor(const Parsed& p, const Frame& f, size_t i) {
  const std::vector<uint8_t>& t = f.LocalTable.empty() ? p.GlobalTable : f.LocalTable;
  const size_t at = size_t(f.Pixels[i]) * 3;
  if (at + 2 >= t.size()) return 0xFF000000u;
  return MakeGIFColor(t[at], t[at + 1], t[at + 2]);
}

TGIFColor TestColor(int i) { return MakeGIFColor(uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)); }

std::string MakeGIF(int colors, int width, int height, bool interlaced, const std::vector<uint8_t>& pixels,
                    bool rle) {
  TMemoryStream out;
  TGIFHeader header(nullptr);
  for (int i = 0; i < colors; ++i) header.GlobalMap().AppendColor(TestColor(i));
  header.SetWidth(width);
  header.SetHeight(height);
  header.SaveToStream(out);
  uint8_t d[10] = {0x2C, 0, 0, 0, 0, uint8_t(width), uint8_t(width >> 8), uint8_t(height), uint8_t(height >> 8),
                   uint8_t(interlaced ? 0x40 : 0)};
  out.WriteBuffer(d, 10);
  std::string data = EncodeData(colors, width, height, interlaced, pixels, rle);
  out.WriteBuffer(data.data(), int64_t(data.size()));
  WriteOneByte(out, 0x3B);
  return out.AsString();
}

std::vector<uint8_t> MakePixels(std::mt19937& rng, int kind, int width, int height, int colors) {
  std::vector<uint8_t> p(size_t(width) * size_t(height));
  std::uniform_int_distribution<int> any(0, colors - 1);
  switch (kind) {
    case 0:  // random
      for (auto& v : p) v = uint8_t(any(rng));
      break;
    case 1: {  // runs of random length
      size_t i = 0;
      std::uniform_int_distribution<int> len(1, 300);
      while (i < p.size()) {
        int v = any(rng), n = len(rng);
        for (int k = 0; k < n && i < p.size(); ++k) p[i++] = uint8_t(v);
      }
      break;
    }
    case 2:  // gradient-like, repeating strings
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) p[size_t(y) * size_t(width) + size_t(x)] = uint8_t((x / 3 + y / 5) % colors);
      break;
    default:  // one colour
      std::fill(p.begin(), p.end(), uint8_t(any(rng)));
      break;
  }
  return p;
}

}  // namespace om::giftest
