// Whole-picture throughput: loading, saving and optimising an animation of
// many frames built in memory (frames shifting a pattern over a still
// background, so optimisation finds work). Prints MB/s and frames/s.
#include <chrono>
#include <cstdio>
#include <vector>

#include "gif/gif_image.h"

using namespace om;

namespace {

std::string MakeAnimation(int frames, int w, int h) {
  TGIFPicture p;
  p.Header().SetWidth(w);
  p.Header().SetHeight(h);
  for (int c = 0; c < 256; ++c) p.HeaderColorMap().AppendColor(MakeGIFColor(uint8_t(c), uint8_t(c * 3), uint8_t(c * 7)));
  for (int i = 0; i < frames; ++i) {
    auto* f = new TGIFSubImage(&p);
    p.Frames().Append(f);
    f->PlaceFrame(0, 0, w, h);
    auto* gce = new TGIFGraphicControlExtension(f);
    f->ExtensionList().Append(gce);
    gce->SetDelayTime(5);
    for (int y = 0; y < h; ++y) {
      uint8_t* row = f->RowAt(y);
      for (int x = 0; x < w; ++x) row[x] = uint8_t(((x + y) / 16) % 200);
      for (int x = i % w; x < w && x < i % w + 40; ++x) row[x] = uint8_t(200 + (x + y) % 50);
    }
  }
  TMemoryStream s;
  p.SaveToStream(s);
  return s.AsString();
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main() {
  const int frames = 60, w = 320, h = 240;
  const std::string data = MakeAnimation(frames, w, h);
  const double pixels = double(frames) * w * h;
  const int rounds = 5;

  auto t0 = std::chrono::steady_clock::now();
  for (int r = 0; r < rounds; ++r) {
    TGIFPicture p;
    TMemoryStream s(data);
    p.LoadFromStream(s);
  }
  const double load = Seconds(t0) / rounds;

  TGIFPicture p;
  TMemoryStream s(data);
  p.LoadFromStream(s);
  t0 = std::chrono::steady_clock::now();
  for (int r = 0; r < rounds; ++r) {
    TMemoryStream out;
    p.SaveToStream(out);
  }
  const double save = Seconds(t0) / rounds;

  t0 = std::chrono::steady_clock::now();
  p.OptimizeFrames(0x1F, 0, 8, 0);
  const double optimise = Seconds(t0);
  TMemoryStream optimised;
  p.SaveToStream(optimised);

  std::printf("animation: %d frames of %dx%d, %zu bytes\n", frames, w, h, data.size());
  std::printf("load:     %8.1f Mpixel/s %8.1f frames/s\n", pixels / load / 1e6, frames / load);
  std::printf("save:     %8.1f Mpixel/s %8.1f frames/s\n", pixels / save / 1e6, frames / save);
  std::printf("optimise: %8.1f Mpixel/s, %lld -> %lld bytes\n", pixels / optimise / 1e6, (long long)data.size(),
              (long long)optimised.Size());
  return 0;
}
