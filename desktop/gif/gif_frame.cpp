// A frame: descriptor, local colour map, pixels, reading and writing, and
// rendering into an 8-bit bitmap with a transparency mask.
#include <algorithm>
#include <cstring>
#include <new>

#include "gif/gif_colors.h"
#include "gif/gif_encoder.h"
#include "gif/gif_image.h"
#include "gif/gif_lzw.h"

namespace om {

int64_t GIFMaxFramePixels = int64_t(1) << 26;

TGIFSubImage::TGIFSubImage(TGIFPicture* image)
    : TGIFFrameBase(image),
      FLocalMap(new TGIFLocalColorMap(this)),
      FExtensions(new TGIFExtensionList(image, this)) {}

TGIFSubImage::~TGIFSubImage() {
  if (TGIFPicture* image = Image()) image->Frames().Detach(this);
  FExtensions->DeleteAll();
  delete FExtensions;
  FExtensions = nullptr;
  delete FLocalMap;
  DeleteMask();
  if (FFramePalette) DeleteGraphicsHandle(FFramePalette);
}

TGIFPicture* TGIFSubImage::Image() const { return static_cast<TGIFPicture*>(FOwnerImage); }

void TGIFSubImage::MoveToImage(TGIFPicture* image) {
  if (TGIFPicture* old = Image()) old->Frames().Detach(this);
  FOwnerImage = image;
  FExtensions->SetOwnerImage(image);
  for (int i = 0; i < FExtensions->ItemCount(); ++i) FExtensions->Extension(i)->SetOwnerImage(image);
  FBitmapCache.reset();
  DeleteMask();
}

void TGIFSubImage::ResetFrame() {
  FExtensions->DeleteAll();
  FLocalMap->ClearTable();
  FPixels.clear();
  FPixels.shrink_to_fit();
  // An empty frame needs no room: the screen keeps its size.
  StoreBounds(Left(), Top(), 0, 0);
  FHasTransparency = false;
  FGraphicControl = nullptr;
  FBitmapCache.reset();
  DeleteMask();
}

void TGIFSubImage::DeleteMask() {
  if (FMaskHandle) DeleteGraphicsHandle(FMaskHandle);
  FMaskHandle = 0;
  FMaskBits.clear();
  FMaskNeeded = true;
}

int TGIFSubImage::BoundValue(int selector) const {
  if (selector < 1 || selector > 4) return 0;
  const size_t at = size_t(selector) * 2 - 1;
  return FDescriptor[at] | (FDescriptor[at + 1] << 8);
}

void TGIFSubImage::SetBoundValue(int selector, int value) {
  int v[4] = {BoundValue(1), BoundValue(2), BoundValue(3), BoundValue(4)};
  if (selector < 1 || selector > 4) return;
  v[selector - 1] = value;
  PlaceFrame(v[0], v[1], v[2], v[3]);
}

void TGIFSubImage::StoreBounds(int left, int top, int width, int height) {
  const int values[4] = {left, top, width, height};
  for (size_t i = 0; i < 4; ++i) {
    FDescriptor[i * 2 + 1] = uint8_t(values[i]);
    FDescriptor[i * 2 + 2] = uint8_t(values[i] >> 8);
  }
}

void TGIFSubImage::PlaceFrame(int left, int top, int width, int height) {
  const bool resized = width != Width() || height != Height();
  StoreBounds(left, top, width, height);
  if (resized) {
    FBitmapCache.reset();
    DeleteMask();
    FPixels.clear();
    FPixels.shrink_to_fit();
    AllocatePixels();
  }
  TGIFPicture* image = Image();
  if (!image) return;
  bool warned = false;
  TGIFHeader& header = image->Header();
  if (header.Width() < Left() + Width()) {
    if (header.Width() > 0) {
      Warning(gsWarning, "Image width too small for contained frames");
      warned = true;
    }
    header.SetWidth(Left() + Width());
  }
  if (header.Height() < Top() + Height()) {
    if (header.Height() > 0) {
      Warning(gsWarning, "Image height too small for contained frames");
      warned = true;
    }
    header.SetHeight(Top() + Height());
  }
  if (warned) Warning(gsWarning, "Image exceeds Logical Screen size");
}

TGIFRect TGIFSubImage::FrameRect() const {
  return {BoundValue(1), BoundValue(2), BoundValue(1) + BoundValue(3), BoundValue(2) + BoundValue(4)};
}

bool TGIFSubImage::IsBlank() const { return FPixels.empty() || BoundValue(3) == 0 || BoundValue(4) == 0; }

int TGIFSubImage::RequiredVersion() {
  int version = FLocalMap->Sorted() ? gv89a : gv87a;
  for (int i = 0; version < gv89a && i < FExtensions->ItemCount(); ++i)
    version = std::max(version, FExtensions->Extension(i)->RequiredVersion());
  return version;
}

TGIFColorMap* TGIFSubImage::EffectiveColorMap() {
  if (FLocalMap->Count() > 0) return FLocalMap;
  if (Image() && Image()->HeaderColorMap().Count() > 0) return &Image()->HeaderColorMap();
  return FLocalMap;
}

int TGIFSubImage::TransparentColorIndex() { return FGraphicControl ? FGraphicControl->TransparentColorIndex() : 0; }

void TGIFSubImage::SetTransparentColorIndex(int index) {
  if (FGraphicControl) FGraphicControl->SetTransparentColorIndex(index);
}

void TGIFSubImage::AllocatePixels() {
  const int64_t n = int64_t(Width()) * int64_t(Height());
  if (n > GIFMaxFramePixels) RaiseGIFError("Image is too large");
  if (int64_t(FPixels.size()) == n) return;
  try {
    FPixels.assign(size_t(n), 0);
  } catch (const std::bad_alloc&) {
    throw EGIFOutOfMemory("Out of memory");
  }
}

void TGIFSubImage::AllocatePixelsForDecoding() {
  const int64_t n = int64_t(Width()) * int64_t(Height());
  if (n > GIFMaxFramePixels) RaiseGIFError("Image is too large");
  if (int64_t(FPixels.size()) == n) return;
  try {
    FPixels.clear();
    FPixels.resize(size_t(n));
  } catch (const std::bad_alloc&) {
    throw EGIFOutOfMemory("Out of memory");
  }
}

void TGIFSubImage::EnsurePixels() {
  if (FPixels.empty()) AllocatePixels();
  if (FPixels.empty()) RaiseGIFError("Image is empty");
}

uint8_t* TGIFSubImage::RowAt(int row) {
  if (row < 0 || row >= Height()) RaiseGIFError("Invalid pixel coordinates");
  EnsurePixels();
  return FPixels.data() + size_t(row) * size_t(Width());
}

uint8_t TGIFSubImage::PixelAt(int x, int y) {
  if (x < 0 || x >= Width()) RaiseGIFError("Invalid pixel coordinates");
  return RowAt(y)[x];
}

void TGIFSubImage::DropPalette() {
  if (FFramePalette) DeleteGraphicsHandle(FFramePalette);
  FFramePalette = 0;
}

void TGIFSubImage::LoadFromStream(TStream& stream) {
  ResetFrame();
  FExtensions->LoadFromStream(stream);
  uint8_t peek = 0;
  if (stream.Read(&peek, 1) != 1) return;
  stream.Seek(-1, soCurrent);
  if (peek == 0x3B || peek == 0x00) return;
  std::array<uint8_t, 10> d{};
  ReadExact(stream, d.data(), 10);
  // The descriptor as read; the pixels follow its size.
  FDescriptor = d;
  const int width = Width(), height = Height();
  if (width == 0 || height == 0) {
    TGIFPicture* image = Image();
    const int sw = image ? image->ScreenWidth() : 0, sh = image ? image->ScreenHeight() : 0;
    FDescriptor[5] = uint8_t(sw);
    FDescriptor[6] = uint8_t(sw >> 8);
    FDescriptor[7] = uint8_t(sh);
    FDescriptor[8] = uint8_t(sh >> 8);
    Warning(gsWarning, "Image exceeds Logical Screen size");
  }
  if (FDescriptor[9] & 0x80) {
    const int n = 2 << (FDescriptor[9] & 7);
    if (n < 2 || n > 256) RaiseGIFError("Invalid number of colors specified in Image Descriptor");
    FLocalMap->ReadTable(stream, n);
  }
  DecodeFrameData(*this, stream);
  if (RenderOnLoad) FrameBitmap();
}

void TGIFSubImage::SaveToStream(TStream& stream) {
  FExtensions->SaveToStream(stream);
  if (IsBlank()) return;
  uint8_t& flags = FDescriptor[9];
  if (FLocalMap->Count() == 0) {
    flags &= 0x58;
  } else {
    flags = 0x80;
    if (FLocalMap->Sorted()) flags |= 0x20;
    flags |= uint8_t((PixelDepth() - 1) & 7);
  }
  stream.WriteBuffer(FDescriptor.data(), 10);
  FLocalMap->WriteTable(stream);
  int bits, count;
  if (FLocalMap->Count() > 0) {
    bits = FLocalMap->TableBits();
    count = FLocalMap->Count();
  } else {
    bits = Image() ? Image()->PixelDepth() : 8;
    count = 1 << bits;
  }
  std::unique_ptr<TGIFEncoder> encoder;
  if (Image() && Image()->EncoderKind == 1)
    encoder.reset(new TRLEEncoder);
  else
    encoder.reset(new TLZWEncoder);
  encoder->WarningHandler = [this](int severity, const std::string& message) { Warning(severity, message); };
  encoder->EncodeFrame(stream, bits, Width(), Height(), IsInterlaced(), FPixels.data(), count);
}

// --- Rendering -------------------------------------------------------------------

TGIFPalette TGIFSubImage::FramePaletteEntries() {
  if (Image() && Image()->UsesDithering()) return MakeWebPalette();
  return EffectiveColorMap()->MakePalette();
}

void TGIFSubImage::RowProgress(int row, const char* stage) {
  if (row % 32 == 0 && Image())
    Image()->Progress(this, 1, int(int64_t(row) * 100 / std::max(1, Height())), false, stage);
}

TGIFBitmap* TGIFSubImage::FrameBitmap() {
  if (FBitmapCache || IsBlank()) return FBitmapCache.get();
  TGIFPicture* image = Image();
  if (image) image->Progress(this, 0, 0, false, "Rendering...");
  bool done = false;
  try {
    std::unique_ptr<TGIFBitmap> bitmap(image ? image->NewBitmap() : DefaultBitmapFactory());
    if (int64_t(Width()) * Height() > 500000) SetBitmapFormat(*bitmap, pf1bit);
    if (image && image->UsesDithering())
      RenderDithered(*bitmap);
    else
      RenderPlain(*bitmap);
    FBitmapCache = std::move(bitmap);
    done = true;
  } catch (const EAbort&) {
  } catch (...) {
    if (image) image->Progress(this, 2, 0, image->PaletteModified, "Rendering...");
    throw;
  }
  if (image) {
    image->Progress(this, 2, done ? 100 : 0, image->PaletteModified, "Rendering...");
    if (image->PaletteModified && image->OnChange) image->OnChange(this);
  }
  return FBitmapCache.get();
}

void TGIFSubImage::DropBitmap() {
  FBitmapCache.reset();
  DeleteMask();
}

bool TGIFSubImage::MaskReady() {
  if (FMaskNeeded && FHasTransparency) {
    FBitmapCache.reset();
    FrameBitmap();
  }
  return !FMaskBits.empty();
}

uintptr_t TGIFSubImage::MaskHandle() {
  if (!FMaskHandle && !FMaskBits.empty()) FMaskHandle = MakeMaskHandle(FMaskBits.data(), Width(), Height());
  return FMaskHandle;
}

void TGIFSubImage::RenderPlain(TGIFBitmap& bitmap) {
  const int w = Width(), h = Height();
  const TGIFPalette palette = FramePaletteEntries();
  TDIBWriter writer(bitmap, pf8bit, w, h, &palette);
  const bool masking = FMaskNeeded && FHasTransparency;
  FMaskNeeded = false;
  const int maskRow = MaskRowBytes();
  std::vector<uint8_t> mask(masking ? size_t(maskRow) * size_t(h) : 0, 0);
  const uint8_t t = uint8_t(TransparentColorIndex());
  bool any = false;
  for (int y = 0; y < h; ++y) {
    RowProgress(y);
    const uint8_t* src = FPixels.data() + size_t(y) * size_t(w);
    std::memcpy(writer.RowPointer(y), src, size_t(w));
    if (masking) {
      uint8_t* m = mask.data() + size_t(y) * size_t(maskRow);
      for (int x = 0; x < w; ++x)
        if (src[x] == t) {
          m[x >> 3] |= uint8_t(0x80 >> (x & 7));
          any = true;
        }
    }
  }
  writer.Commit();
  if (any) FMaskBits = std::move(mask);
}

void TGIFSubImage::RenderDithered(TGIFBitmap& bitmap) {
  const int w = Width(), h = Height();
  const TGIFPalette palette = MakeWebPalette();
  TDIBWriter writer(bitmap, pf8bit, w, h, &palette);
  const bool masking = FMaskNeeded && FHasTransparency;
  FMaskNeeded = false;
  const int maskRow = MaskRowBytes();
  std::vector<uint8_t> mask(masking ? size_t(maskRow) * size_t(h) : 0, 0);
  TGIFColorMap* map = EffectiveColorMap();
  const int t = TransparentColorIndex();
  auto component = [](uint8_t v) { return (v + 25) / 51; };
  uint8_t fill = 0;
  if (masking && t < map->Count()) {
    const TGIFColor c = map->ColorAt(t);
    fill = uint8_t(36 * component(GIFRed(c)) + 6 * component(GIFGreen(c)) + component(GIFBlue(c)));
  }
  TNetscapeColorLookup lookup;
  TFloydSteinbergDitherer ditherer(w, &lookup);
  bool any = false;
  for (int y = 0; y < h; ++y) {
    RowProgress(y);
    const uint8_t* src = FPixels.data() + size_t(y) * size_t(w);
    uint8_t* dst = writer.RowPointer(y);
    if (masking) std::memset(dst, fill, size_t(w));
    uint8_t* m = masking ? mask.data() + size_t(y) * size_t(maskRow) : nullptr;
    const bool forward = ditherer.Step() > 0;
    for (int i = 0; i < w; ++i) {
      const int x = forward ? i : w - 1 - i;
      if (masking && src[x] == t) {
        m[x >> 3] |= uint8_t(0x80 >> (x & 7));
        any = true;
        continue;
      }
      const TGIFColor c = src[x] < map->Count() ? map->ColorAt(src[x]) : 0;
      uint8_t r, g, b;
      dst[x] = ditherer.DitherPixel(GIFRed(c), GIFGreen(c), GIFBlue(c), r, g, b);
    }
    ditherer.EndRow();
  }
  writer.Commit();
  if (any) FMaskBits = std::move(mask);
}

// --- Frame list and trailer ------------------------------------------------------

void TGIFFrameList::LoadFromStream(TStream& stream) {
  TGIFPicture* image = static_cast<TGIFPicture*>(FOwnerImage);
  auto next = [&stream](uint8_t& b) {
    do {
      if (stream.Read(&b, 1) != 1) return false;
    } while (b == 0);
    return true;
  };
  uint8_t b = 0;
  if (!next(b)) return;
  const int64_t size = stream.Size();
  while (b != 0x3B) {
    stream.Seek(-1, soCurrent);
    if (b != 0x21 && b != 0x2C) {
      Warning(gsWarning, "Unknown GIF block type");
      return;
    }
    TGIFSubImage* frame = new TGIFSubImage(image);
    try {
      frame->LoadFromStream(stream);
    } catch (...) {
      delete frame;
      throw;
    }
    Append(frame);
    if (image && size > 0)
      image->Progress(this, 1, int((stream.Position() * 100 + size / 2) / size), RenderOnLoad, "Loading...");
    if (!next(b)) return;
  }
  stream.Seek(-1, soCurrent);
}

void TGIFTrailer::LoadFromStream(TStream& stream) {
  uint8_t b = 0;
  if (stream.Read(&b, 1) == 1 && b != 0x3B) Warning(gsWarning, "Invalid Image trailer");
}

}  // namespace om
