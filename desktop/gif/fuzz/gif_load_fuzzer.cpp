// libFuzzer target: any bytes as a GIF file. Loading (header, blocks,
// extensions, LZW data), rendering every frame, saving and optimising either
// work or raise one of the framework's exceptions; what was saved loads back
// to the same pixels. Anything else (a crash, a sanitizer report, a hang, a
// mismatch) is a finding.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gif/gif_image.h"
#include "memory_bitmap.h"

namespace {

using om::TGIFPicture;

void Setup(TGIFPicture& p) {
  p.BitmapFactory = [] { return new om::giftest::TMemoryBitmap(); };
}

// Pixels of the frames that hold any, in order.
std::vector<std::vector<uint8_t>> FramePixels(TGIFPicture& p) {
  std::vector<std::vector<uint8_t>> out;
  for (int i = 0; i < p.FrameCount(); ++i) {
    om::TGIFSubImage& f = *p.Frame(i);
    if (!f.IsBlank()) out.emplace_back(f.Pixels(), f.Pixels() + f.PixelCount());
  }
  return out;
}

bool Save(TGIFPicture& p, std::string& out) {
  try {
    om::TMemoryStream s;
    p.SaveToStream(s);
    out = s.AsString();
    return true;
  } catch (const om::Exception&) {
    return false;  // nothing to save, or pixels the colour table does not cover
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Frames of at most a quarter of a million pixels keep each input quick.
  om::GIFMaxFramePixels = int64_t(1) << 18;
  TGIFPicture p;
  Setup(p);
  try {
    om::TMemoryStream in(std::string(reinterpret_cast<const char*>(data), size));
    p.LoadFromStream(in);
  } catch (const om::Exception&) {
    // A fatal fault of the data; the frames read so far stay.
  }
  for (int i = 0; i < p.FrameCount(); ++i) {
    try {
      p.Frame(i)->FrameBitmap();
      p.Frame(i)->MaskReady();
    } catch (const om::Exception&) {
    }
  }
  std::string saved;
  if (Save(p, saved)) {
    TGIFPicture back;
    Setup(back);
    om::TMemoryStream in(saved);
    back.LoadFromStream(in);  // what the codec wrote, it reads without error
    if (FramePixels(back) != FramePixels(p)) std::abort();
  }
  try {
    p.OptimizeFrames(0x1F, 0, 8, 0);
    Save(p, saved);
  } catch (const om::Exception&) {
  }
  return 0;
}
