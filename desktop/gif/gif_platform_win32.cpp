// Windows glue of the picture: graphics handles and the mask bitmap.
#include "gif/gif_image.h"
#include "gif/gif_win32.h"
#include "gif/gif_bitmap_win32.h"

namespace om {

void DeleteGraphicsHandle(uintptr_t handle) {
  if (handle) DeleteObject(reinterpret_cast<HGDIOBJ>(handle));
}

// Rows padded to 16 bits, most significant bit leftmost: CreateBitmap's layout.
uintptr_t MakeMaskHandle(const uint8_t* bits, int width, int height) {
  return CheckGraphicsHandle(reinterpret_cast<uintptr_t>(CreateBitmap(width, height, 1, 1, bits)));
}

TGIFBitmap* DefaultBitmapFactory() { return new TGIFPlatformBitmap; }

}  // namespace om
