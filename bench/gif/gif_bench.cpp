// Whole-file decode and encode of the codec beside giflib (Debian's libgif,
// through its public API) on the same pictures in the same run: a 2048 x 1536
// photo-like picture of 256 colours and an animation of 200 frames. Decoding is
// TGIFPicture::LoadFromStream against DGifSlurp; encoding is
// TGIFPicture::SaveToStream against EGifPutScreenDesc/EGifPutImageDesc/EGifPutLine.
// Both start from and write into memory they already hold. Times are the best
// of several runs taken by turns; the ratios are codec speed / giflib speed
// (above 1 the codec is faster).
#include <gif_lib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gif/gif_image.h"

using namespace om;

namespace {

const int kRuns = 11;

struct Frame {
  int Left = 0, Top = 0, Width = 0, Height = 0, Delay = 0;
  std::vector<uint8_t> Pixels;
};

struct Picture {
  std::string Name;
  int Width = 0, Height = 0;
  std::vector<uint8_t> Palette;  // 256 x r, g, b
  std::vector<Frame> Frames;
};

std::vector<uint8_t> Palette() {
  std::vector<uint8_t> p;
  for (int c = 0; c < 256; ++c) {
    p.push_back(uint8_t(c));
    p.push_back(uint8_t(c * 3));
    p.push_back(uint8_t(255 - c));
  }
  return p;
}

// Smooth gradients with sensor-like noise: short repeated strings, as in photos.
Picture Photo() {
  Picture p{"photo 2048x1536", 2048, 1536, Palette(), {}};
  std::mt19937 rng(3);
  Frame f{0, 0, p.Width, p.Height, 0, {}};
  f.Pixels.resize(size_t(p.Width) * p.Height);
  for (int y = 0; y < p.Height; ++y)
    for (int x = 0; x < p.Width; ++x)
      f.Pixels[size_t(y) * p.Width + x] = uint8_t((x / 8 + y / 6 + int(rng() % 6)) & 255);
  p.Frames.push_back(std::move(f));
  return p;
}

// A pattern shifting over a still background, full frames with a delay each.
Picture Animation() {
  Picture p{"animation 200x320x240", 320, 240, Palette(), {}};
  for (int i = 0; i < 200; ++i) {
    Frame f{0, 0, p.Width, p.Height, 5, {}};
    f.Pixels.resize(size_t(p.Width) * p.Height);
    for (int y = 0; y < p.Height; ++y)
      for (int x = 0; x < p.Width; ++x) {
        uint8_t v = uint8_t(((x + y) / 16) % 200);
        if (x >= (i * 3) % p.Width && x < (i * 3) % p.Width + 40) v = uint8_t(200 + (x + y) % 50);
        f.Pixels[size_t(y) * p.Width + x] = v;
      }
    p.Frames.push_back(std::move(f));
  }
  return p;
}

// --- The codec ---------------------------------------------------------------

std::unique_ptr<TGIFPicture> ToPicture(const Picture& src) {
  auto p = std::make_unique<TGIFPicture>();
  p->Header().SetWidth(src.Width);
  p->Header().SetHeight(src.Height);
  for (int c = 0; c < 256; ++c)
    p->HeaderColorMap().AppendColor(MakeGIFColor(src.Palette[c * 3], src.Palette[c * 3 + 1], src.Palette[c * 3 + 2]));
  for (const Frame& s : src.Frames) {
    auto* f = new TGIFSubImage(p.get());
    p->Frames().Append(f);
    f->PlaceFrame(s.Left, s.Top, s.Width, s.Height);
    if (src.Frames.size() > 1) {
      auto* gce = new TGIFGraphicControlExtension(f);
      f->ExtensionList().Append(gce);
      gce->SetDelayTime(s.Delay);
    }
    std::memcpy(f->Pixels(), s.Pixels.data(), s.Pixels.size());
  }
  return p;
}

// Into out from its start; both encoders write into memory they already hold.
void CodecEncode(TGIFPicture& p, TMemoryStream& out) {
  out.SetPosition(0);
  p.SaveToStream(out);
}

// Decodes the stream (from its start); with expect, also compares the pixels.
bool CodecDecode(TMemoryStream& in, const Picture* expect) {
  TGIFPicture p;
  in.SetPosition(0);
  p.LoadFromStream(in);
  if (!expect) return true;
  if (p.FrameCount() != int(expect->Frames.size())) return false;
  for (int i = 0; i < p.FrameCount(); ++i)
    if (std::memcmp(p.Frame(i)->Pixels(), expect->Frames[size_t(i)].Pixels.data(),
                    expect->Frames[size_t(i)].Pixels.size()) != 0)
      return false;
  return true;
}

// --- giflib ------------------------------------------------------------------

struct Reader {
  const std::string* Data;
  size_t At;
};

int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int n) {
  auto* r = static_cast<Reader*>(gif->UserData);
  const size_t k = std::min(size_t(n), r->Data->size() - r->At);
  std::memcpy(buffer, r->Data->data() + r->At, k);
  r->At += k;
  return int(k);
}

int WriteToMemory(GifFileType* gif, const GifByteType* buffer, int n) {
  static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(buffer), size_t(n));
  return n;
}

bool GiflibDecode(const std::string& data, const Picture* expect) {
  Reader r{&data, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&r, ReadFromMemory, &error);
  if (!gif) return false;
  bool ok = DGifSlurp(gif) == GIF_OK && (!expect || gif->ImageCount == int(expect->Frames.size()));
  for (int i = 0; ok && expect && i < gif->ImageCount; ++i)
    ok = std::memcmp(gif->SavedImages[i].RasterBits, expect->Frames[size_t(i)].Pixels.data(),
                     expect->Frames[size_t(i)].Pixels.size()) == 0;
  DGifCloseFile(gif, &error);
  return ok;
}

void GiflibEncode(const Picture& p, std::string& out) {
  out.clear();
  int error = 0;
  GifFileType* gif = EGifOpen(&out, WriteToMemory, &error);
  if (!gif) return;
  EGifSetGifVersion(gif, p.Frames.size() > 1);
  ColorMapObject* map = GifMakeMapObject(256, reinterpret_cast<const GifColorType*>(p.Palette.data()));
  EGifPutScreenDesc(gif, p.Width, p.Height, 8, 0, map);
  std::vector<GifPixelType> line;
  for (const Frame& f : p.Frames) {
    if (p.Frames.size() > 1) {
      const unsigned char gce[4] = {0, uint8_t(f.Delay), uint8_t(f.Delay >> 8), 0};
      EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, gce);
    }
    EGifPutImageDesc(gif, f.Left, f.Top, f.Width, f.Height, false, nullptr);
    for (int y = 0; y < f.Height; ++y) {
      line.assign(f.Pixels.begin() + ptrdiff_t(y) * f.Width, f.Pixels.begin() + ptrdiff_t(y + 1) * f.Width);
      EGifPutLine(gif, line.data(), f.Width);
    }
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
}

// The best times of a and b, run by turns so that both meet the same load.
template <class A, class B>
std::pair<double, double> BestSeconds(A a, B b) {
  double bestA = 1e30, bestB = 1e30;
  auto time = [](auto f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  };
  for (int i = 0; i < kRuns; ++i) {
    bestA = std::min(bestA, time(a));
    bestB = std::min(bestB, time(b));
  }
  return {bestA, bestB};
}

}  // namespace

int main() {
  std::printf("%-24s %-7s %9s %9s %7s %10s %10s\n", "picture", "op", "codec ms", "giflib ms", "ratio", "codec B",
              "giflib B");
  for (const Picture& pic : {Photo(), Animation()}) {
    auto codecPicture = ToPicture(pic);
    TMemoryStream oursOut;
    std::string theirs;
    CodecEncode(*codecPicture, oursOut);
    GiflibEncode(pic, theirs);
    const std::string ours = oursOut.AsString();
    // Both decoders start from the bytes in memory.
    TMemoryStream oursIn(ours), theirsIn(theirs);
    // Each decoder reads both files; a mismatch is a fault, not a speed.
    if (!CodecDecode(oursIn, &pic) || !CodecDecode(theirsIn, &pic) || !GiflibDecode(ours, &pic) ||
        !GiflibDecode(theirs, &pic)) {
      std::fprintf(stderr, "%s: decoded pixels differ\n", pic.Name.c_str());
      return 1;
    }
    const auto [codecDecode, giflibDecode] =
        BestSeconds([&] { CodecDecode(theirsIn, nullptr); }, [&] { GiflibDecode(theirs, nullptr); });
    const auto [codecEncode, giflibEncode] =
        BestSeconds([&] { CodecEncode(*codecPicture, oursOut); }, [&] { GiflibEncode(pic, theirs); });
    std::printf("%-24s %-7s %9.1f %9.1f %6.2fx %10s %10s\n", pic.Name.c_str(), "decode", codecDecode * 1e3,
                giflibDecode * 1e3, giflibDecode / codecDecode, "", "");
    std::printf("%-24s %-7s %9.1f %9.1f %6.2fx %10zu %10zu\n", pic.Name.c_str(), "encode", codecEncode * 1e3,
                giflibEncode * 1e3, giflibEncode / codecEncode, ours.size(), theirs.size());
  }
  return 0;
}
