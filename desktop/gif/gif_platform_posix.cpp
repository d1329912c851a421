// Off Windows the codec has no platform graphics handles, canvases, clipboard
// or default bitmap class: callers give the picture a BitmapFactory, and the
// graphics operations that need the platform refuse as the base graphic does.
#include "gif/gif_image.h"

namespace om {

void DeleteGraphicsHandle(uintptr_t) {}
uintptr_t MakeMaskHandle(const uint8_t*, int, int) { return 0; }
TGIFBitmap* DefaultBitmapFactory() { throw EInvalidGraphicOperation("No bitmap class on this platform"); }

// No painters off Windows: halting only drops the composed bitmap.
void TGIFPicture::StopPainters(bool) {}
void TGIFPicture::DropBitmap() { FRenderedBitmap.reset(); }
void TGIFPicture::HaltDrawPainter() { DropBitmap(); }
void TGIFPicture::HaltAllPainters() { DropBitmap(); }
void TGIFPicture::KillAsyncPainters() {}
TGIFPainter* TGIFPicture::StartPainter(TGIFPainter*& holder, TCanvas&, uint16_t, const TGIFRect&) {
  holder = nullptr;
  return nullptr;
}

void TGIFPicture::DrawOn(TCanvas&, const TGIFRect&) {}
uintptr_t TGIFPicture::QueryPalette() { return 0; }
void TGIFPicture::CopyTo(TPersistent& dest) const { TGraphic::CopyTo(dest); }
void TGIFPicture::PasteFromClipboard(unsigned format, uintptr_t data, uintptr_t palette) {
  TGraphic::PasteFromClipboard(format, data, palette);
}
void TGIFPicture::CopyToClipboard(unsigned& format, uintptr_t& data, uintptr_t& palette) {
  TGraphic::CopyToClipboard(format, data, palette);
}

void TGIFSubImage::CopyFromGraphic(const TGraphic& graphic) { TGIFFrameBase::CopyFrom(graphic); }

}  // namespace om
