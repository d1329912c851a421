// Off Windows the codec has no platform graphics handles and no default
// bitmap class: callers give the picture a BitmapFactory.
#include "gif/gif_image.h"

namespace om {

void DeleteGraphicsHandle(uintptr_t) {}
uintptr_t MakeMaskHandle(const uint8_t*, int, int) { return 0; }
TGIFBitmap* DefaultBitmapFactory() { throw EInvalidGraphicOperation("No bitmap class on this platform"); }

}  // namespace om

namespace om {

// No painters off Windows: halting only drops the composed bitmap.
void TGIFPicture::HaltDrawPainter() { DropBitmap(); }
void TGIFPicture::HaltAllPainters() { DropBitmap(); }
void TGIFPicture::KillAsyncPainters() {}
TGIFPainter* TGIFPicture::StartPainter(TGIFPainter*& holder, TCanvas&, uint16_t, const TGIFRect&) {
  holder = nullptr;
  return nullptr;
}

}  // namespace om
