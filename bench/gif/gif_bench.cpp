// Decode and encode throughput of the codec's LZW decoder and its LZW and
// run-length encoders on three kinds of picture, and Pillow's GIF reader and
// writer on the same files in the same run (through /usr/bin/python3).
// Rates are pixel megabytes per second, best of several runs; the ratios
// codec / Pillow are printed at the end.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "gif/gif_encoder.h"
#include "gif/gif_items.h"
#include "gif/gif_lzw.h"

using namespace om;

namespace {

const int kWidth = 1024, kHeight = 768, kRuns = 5;

struct Picture {
  std::string Name;
  int Colors;
  std::vector<uint8_t> Pixels;
};

std::vector<Picture> Pictures() {
  std::mt19937 rng(3);
  std::vector<Picture> list;
  Picture photo{"photo-like 256 colours", 256, {}};
  Picture graphic{"flat graphic 16 colours", 16, {}};
  Picture noise{"noise 4 colours", 4, {}};
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      photo.Pixels.push_back(uint8_t((x / 4 + y / 3 + int(rng() % 6)) & 255));
      graphic.Pixels.push_back(uint8_t(((x / 64) ^ (y / 48)) & 15));
      noise.Pixels.push_back(uint8_t(rng() & 3));
    }
  list.push_back(std::move(photo));
  list.push_back(std::move(graphic));
  list.push_back(std::move(noise));
  return list;
}

std::string MakeFile(const Picture& p, bool rle) {
  TMemoryStream out;
  TGIFHeader header(nullptr);
  for (int i = 0; i < p.Colors; ++i) header.GlobalMap().AppendColor(MakeGIFColor(uint8_t(i), uint8_t(i * 3), uint8_t(255 - i)));
  header.SetWidth(kWidth);
  header.SetHeight(kHeight);
  header.SaveToStream(out);
  uint8_t d[10] = {0x2C, 0, 0, 0, 0, uint8_t(kWidth), uint8_t(kWidth >> 8), uint8_t(kHeight), uint8_t(kHeight >> 8), 0};
  out.WriteBuffer(d, 10);
  TLZWEncoder lzw;
  TRLEEncoder runs;
  TGIFEncoder& e = rle ? static_cast<TGIFEncoder&>(runs) : lzw;
  e.EncodeFrame(out, BitsForColors(p.Colors), kWidth, kHeight, false, p.Pixels.data(), p.Colors);
  WriteOneByte(out, 0x3B);
  return out.AsString();
}

template <class F>
double BestRate(F f) {
  double best = 0;
  for (int i = 0; i < kRuns; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    best = std::max(best, double(kWidth) * kHeight / 1e6 / s);
  }
  return best;
}

}  // namespace

int main() {
  char dir[] = "/tmp/gif_bench_XXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::vector<Picture> pictures = Pictures();
  std::map<std::string, double> ours;
  std::vector<std::string> files;
  for (size_t i = 0; i < pictures.size(); ++i) {
    const Picture& p = pictures[i];
    const std::string gif = MakeFile(p, false);
    const size_t at = 13 + (size_t(3) << BitsForColors(p.Colors)) + 10;
    const std::string data = gif.substr(at, gif.size() - at - 1);
    std::vector<uint8_t> pixels(p.Pixels.size());
    ours[p.Name + "|decode"] = BestRate([&] {
      TMemoryStream s(data);
      DecodeLZW(s, pixels.data(), kWidth, kHeight, false, nullptr);
    });
    if (pixels != p.Pixels) std::fprintf(stderr, "decode mismatch: %s\n", p.Name.c_str());
    ours[p.Name + "|encode LZW"] = BestRate([&] { MakeFile(p, false); });
    ours[p.Name + "|encode RLE"] = BestRate([&] { MakeFile(p, true); });
    std::printf("%-26s LZW file %8zu bytes, RLE file %8zu bytes\n", p.Name.c_str(), gif.size(), MakeFile(p, true).size());
    const std::string file = std::string(dir) + "/b" + std::to_string(i) + ".gif";
    std::ofstream(file, std::ios::binary).write(gif.data(), std::streamsize(gif.size()));
    files.push_back(file);
  }

  const std::string script = std::string(dir) + "/pillow.py";
  std::ofstream(script) << "import sys, io, time\n"
                           "from PIL import Image\n"
                           "for f in sys.argv[1:]:\n"
                           "    data = open(f, 'rb').read()\n"
                           "    dec = enc = 0\n"
                           "    for i in range(" << kRuns << "):\n"
                           "        t = time.perf_counter(); im = Image.open(io.BytesIO(data)); im.load()\n"
                           "        dec = max(dec, im.size[0] * im.size[1] / 1e6 / (time.perf_counter() - t))\n"
                           "        t = time.perf_counter(); im.save(io.BytesIO(), 'GIF')\n"
                           "        enc = max(enc, im.size[0] * im.size[1] / 1e6 / (time.perf_counter() - t))\n"
                           "    print(dec, enc)\n";
  std::string cmd = "/usr/bin/python3 " + script;
  for (const auto& f : files) cmd += " " + f;
  FILE* pipe = popen(cmd.c_str(), "r");
  std::vector<std::pair<double, double>> pillow;
  double dec, enc;
  while (pipe && std::fscanf(pipe, "%lf %lf", &dec, &enc) == 2) pillow.push_back({dec, enc});
  if (pipe) pclose(pipe);
  std::system((std::string("rm -rf ") + dir).c_str());

  std::printf("\n%-26s %-11s %10s %10s %8s\n", "picture", "operation", "codec MB/s", "Pillow", "ratio");
  for (size_t i = 0; i < pictures.size(); ++i) {
    const std::string& n = pictures[i].Name;
    const bool have = i < pillow.size();
    for (const char* op : {"decode", "encode LZW", "encode RLE"}) {
      const double mine = ours[n + "|" + op];
      const double theirs = have ? (std::string(op) == "decode" ? pillow[i].first : pillow[i].second) : 0;
      if (theirs > 0)
        std::printf("%-26s %-11s %10.1f %10.1f %7.2fx\n", n.c_str(), op, mine, theirs, mine / theirs);
      else
        std::printf("%-26s %-11s %10.1f %10s\n", n.c_str(), op, mine, "n/a");
    }
  }
  return 0;
}
