// Windows drawing helpers of the picture and the codec's start-up.
#pragma once

#include "platform/win32.h"

#include "framework/bitmap.h"
#include "framework/canvas.h"
#include "gif/gif_image.h"

namespace om {

// Copies the source through the mask (a set mask bit keeps the destination
// pixel); stretches when the sizes differ. Always true; failures raise.
bool TransparentStretchBlit(HDC dst, int dx, int dy, int dw, int dh, HDC src, int sx, int sy, int sw, int sh,
                            HDC mask, int mx, int my);

// The graphic drawn at (0, 0) into a 24-bit bitmap of its size; the same over
// a background of one colour.
void RasteriseGraphic(TBitmap& bitmap, TGraphic& graphic);
void RenderOnBackground(TBitmap& bitmap, TGraphic& graphic, COLORREF color);

// The registered "GIF Image" clipboard format.
extern unsigned GIFClipboardFormat;
// Counted: the first call registers the clipboard format and reads the
// screen's depth; the last finalisation frees the extension registries.
void InitializeGIFCodec();
void FinalizeGIFCodec();

// The codec started for the lifetime of the object (a program's main scope).
class TGIFCodecUnit {
public:
  TGIFCodecUnit() { InitializeGIFCodec(); }
  ~TGIFCodecUnit() { FinalizeGIFCodec(); }
  TGIFCodecUnit(const TGIFCodecUnit&) = delete;
  TGIFCodecUnit& operator=(const TGIFCodecUnit&) = delete;
};

}  // namespace om
