#include "gif/gif_bitmap_win32.h"

#include "gif/gif_image.h"
#include "gif/gif_win32.h"
#include "platform/win32_owners.h"

namespace om {

TGIFPixelFormat TGIFPlatformBitmap::PixelFormat() {
  switch (FBitmap->BitsPerPixel()) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 24: return pf24bit;
    case 32: return pf32bit;
    default: return pfDevice;
  }
}

void TGIFPlatformBitmap::SetPixelFormat(TGIFPixelFormat format) {
  switch (format) {
    case pf1bit: FBitmap->SetBitsPerPixel(1); break;
    case pf4bit: FBitmap->SetBitsPerPixel(4); break;
    case pf8bit: FBitmap->SetBitsPerPixel(8); break;
    case pf15bit:
    case pf16bit:
    case pf24bit: FBitmap->SetBitsPerPixel(24); break;
    case pf32bit: FBitmap->SetBitsPerPixel(32); break;
    default: break;
  }
}

void TGIFPlatformBitmap::LoadFromStream(TStream& stream) {
  FBitmap->LoadFromStream(stream);
  if (FBitmap->BitsPerPixel() > 8) return;
  TGIFPalette palette;
  for (const RGBQUAD& q : FBitmap->ColorTable())
    palette.Entries.push_back({q.rgbRed, q.rgbGreen, q.rgbBlue, kPaletteNoCollapse});
  UniquePalette handle(MakePaletteHandle(palette));
  FBitmap->SetPalette(handle.get());
}

void TGIFPlatformBitmap::CopyFrom(TGIFBitmap& source) { FBitmap->Assign(PlatformBitmap(source)); }

std::vector<TGIFRGBQuad> TGIFPlatformBitmap::ColorTable() {
  std::vector<TGIFRGBQuad> out;
  for (const RGBQUAD& q : FBitmap->ColorTable()) out.push_back({q.rgbBlue, q.rgbGreen, q.rgbRed, 0});
  return out;
}

TBitmap& PlatformBitmap(TGIFBitmap& bitmap) {
  auto* platform = dynamic_cast<TGIFPlatformBitmap*>(&bitmap);
  if (!platform) throw EInvalidGraphicOperation("Not a platform bitmap");
  return platform->Bitmap();
}

}  // namespace om
