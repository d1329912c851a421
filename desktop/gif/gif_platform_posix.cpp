// Off Windows the codec has no platform graphics handles and no default
// bitmap class: callers give the picture a BitmapFactory.
#include "gif/gif_image.h"

namespace om {

void DeleteGraphicsHandle(uintptr_t) {}
uintptr_t MakeMaskHandle(const uint8_t*, int, int) { return 0; }
TGIFBitmap* DefaultBitmapFactory() { throw EInvalidGraphicOperation("No bitmap class on this platform"); }

}  // namespace om
