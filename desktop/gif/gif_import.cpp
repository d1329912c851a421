// Frame copying and import of pixels from a bitmap: indexed rows keep their
// colour table, true-colour rows are reduced first or collected colour by
// colour; a mask bitmap turns into a transparent colour.
#include <cstring>

#include "gif/gif_image.h"
#include "gif/gif_quantize.h"

namespace om {

void TGIFSubImage::Assign(const TPersistent* Source) {
  if (Source)
    CopyFrom(*Source);
  else
    ResetFrame();
}

void TGIFSubImage::CopyFrom(const TPersistent& source) {
  if (&source == this) return;
  const auto* other = dynamic_cast<const TGIFSubImage*>(&source);
  if (!other) {
    if (const auto* picture = dynamic_cast<const TPicture*>(&source)) {
      if (picture->Graphic())
        CopyFrom(*picture->Graphic());
      else
        ResetFrame();
    } else if (const auto* graphic = dynamic_cast<const TGraphic*>(&source)) {
      CopyFromGraphic(*graphic);
    } else {
      TGIFFrameBase::CopyFrom(source);
    }
    return;
  }
  auto* src = const_cast<TGIFSubImage*>(other);
  ResetFrame();
  if (src->IsBlank()) return;
  FDescriptor = src->FDescriptor;
  FHasTransparency = src->FHasTransparency;
  AllocatePixels();
  std::memcpy(FPixels.data(), src->FPixels.data(), std::min(FPixels.size(), src->FPixels.size()));
  FLocalMap->CopyFrom(*src->FLocalMap);
  if (src->FExtensions->ItemCount() > 0) {
    // Through the stream form, so every extension is a copy of its own.
    TMemoryStream stream;
    src->FExtensions->SaveToStream(stream);
    WriteOneByte(stream, 0x2C);
    stream.SetPosition(0);
    FExtensions->LoadFromStream(stream);
  }
  if (src->FBitmapCache) {
    FBitmapCache.reset(Image() ? Image()->NewBitmap() : DefaultBitmapFactory());
    FBitmapCache->CopyFrom(*src->FrameBitmap());
  }
}

void TGIFSubImage::ImportBitmap(TGIFBitmap& source, bool transparent, TGIFBitmap* mask) {
  ResetFrame();
  if (source.Width() <= 0 || source.Height() <= 0) return;
  SetBoundValue(3, source.Width());
  SetBoundValue(4, source.Height());
  TGIFPixelFormat format = BitmapFormat(source);
  TGIFPicture* image = Image();
  std::unique_ptr<TGIFBitmap> cache(image ? image->NewBitmap() : DefaultBitmapFactory());
  if (format == pf1bit || format == pf4bit || format == pf8bit) {
    cache->CopyFrom(source);
  } else {
    ReduceColors(source, *cache, image ? image->ReductionMethod : 6, image ? image->DitherKind : 0,
                 image ? image->ReductionColorBits : 8, nullptr);
    format = BitmapFormat(*cache);
  }
  FBitmapCache = std::move(cache);
  AllocatePixels();
  if (image) image->Progress(this, 0, 0, false, "Converting...");
  bool ok = false;
  try {
    if (format != pf1bit && format != pf4bit && format != pf8bit) format = pf24bit;
    {
      TDIBReader reader(*FBitmapCache, format);
      if (format == pf24bit)
        ImportRows24(reader);
      else
        ImportIndexedRows(reader, format);
    }
    if (transparent && mask) ImportMaskBitmap(*mask);
    ok = true;
  } catch (...) {
    if (image) image->Progress(this, 2, 0, image->PaletteModified, "Converting...");
    throw;
  }
  if (image) image->Progress(this, 2, ok ? 100 : 0, image->PaletteModified, "Converting...");
}

namespace {
void ImportTable(TGIFColorMap& map, TGIFBitmap& bitmap) {
  std::vector<TGIFRGBQuad> table = bitmap.ColorTable();
  map.ImportRGBQuads(table.data(), int(table.size()));
}
}  // namespace

template <class Convert>
void TGIFSubImage::ImportRows(TDIBReader& reader, Convert convert) {
  const int w = Width(), h = Height();
  for (int y = 0; y < h; ++y) {
    RowProgress(y, "Converting...");
    convert(reader.RowPointer(y), FPixels.data() + size_t(y) * size_t(w), w);
  }
}

void TGIFSubImage::ImportIndexedRows(TDIBReader& reader, TGIFPixelFormat format) {
  ImportTable(*FLocalMap, *FBitmapCache);
  switch (format) {
    case pf1bit:
      ImportRows(reader, [](const uint8_t* src, uint8_t* dst, int w) {
        for (int x = 0; x < w; ++x) dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
      });
      break;
    case pf4bit:
      ImportRows(reader, [](const uint8_t* src, uint8_t* dst, int w) {
        for (int x = 0; x < w; ++x) dst[x] = x & 1 ? src[x >> 1] & 0x0F : src[x >> 1] >> 4;
      });
      break;
    default:  // pf8bit
      ImportRows(reader, [](const uint8_t* src, uint8_t* dst, int w) { std::memcpy(dst, src, size_t(w)); });
      break;
  }
}

void TGIFSubImage::ImportRows24(TDIBReader& reader) {
  FLocalMap->ClearTable();
  struct Slot {
    uint32_t Color;
    int Index;  // -1: empty
  } cache[8];
  for (Slot& s : cache) s = {0, -1};
  int last = 0;
  ImportRows(reader, [&](const uint8_t* src, uint8_t* dst, int w) {
    for (int x = 0; x < w; ++x, src += 3) {
      // Stored order blue, green, red; swapped to red, green, blue at the end.
      const uint32_t color = uint32_t(src[0]) | (uint32_t(src[1]) << 8) | (uint32_t(src[2]) << 16);
      int index = -1;
      int slot = last;
      do {
        if (cache[slot].Index < 0) break;
        if (cache[slot].Color == color) {
          index = cache[slot].Index;
          last = slot;
          break;
        }
        slot = (slot + 7) % 8;
      } while (slot != last);
      if (index < 0) {
        index = FLocalMap->AddUniqueColor(color);
        last = (last + 1) % 8;
        cache[last] = {color, index};
      }
      dst[x] = uint8_t(index);
    }
  });
  // Entries were stored blue first: put them into red, green, blue order.
  const int n = FLocalMap->Count();
  std::vector<TGIFRGBQuad> quads(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const TGIFColor c = FLocalMap->ColorAt(i);
    quads[size_t(i)] = {GIFRed(c), GIFGreen(c), GIFBlue(c), 0};
  }
  FLocalMap->ImportRGBQuads(quads.data(), n);
}

void TGIFSubImage::ImportMaskBitmap(TGIFBitmap& mask) {
  FLocalMap->Reorder();
  if (FLocalMap->Count() == 0 || FLocalMap->Count() >= 256) return;
  const int t = FLocalMap->AppendColor(0);
  TDIBReader reader(mask, pf8bit);
  const int w = std::min(Width(), mask.Width()), h = std::min(Height(), mask.Height());
  bool any = false;
  for (int y = 0; y < h; ++y) {
    const uint8_t* m = reader.RowPointer(y);
    uint8_t* dst = FPixels.data() + size_t(y) * size_t(Width());
    for (int x = 0; x < w; ++x)
      if (m[x] != 0) {
        dst[x] = uint8_t(t);
        any = true;
      }
  }
  if (any) {
    auto* gce = new TGIFGraphicControlExtension(this);
    gce->SetTransparentColorFlag(true);
    gce->SetTransparentColorIndex(t);
    FExtensions->Append(gce);
  } else {
    FLocalMap->DeleteColor(t);
  }
}

}  // namespace om
