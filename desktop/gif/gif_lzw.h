// Decoder of GIF image data (variable-width LZW codes in data sub-blocks).
#pragma once

#include <cstdint>

#include "gif/gif_items.h"
#include "gif/gif_support.h"

namespace om {

// Decodes one frame's image data into width x height bytes (rows top to
// bottom). The stream stands at the minimum code size byte; pixels must be
// filled with the fill index beforehand, and those the data does not reach keep
// it. Recoverable faults go to warning (severity 1); a corrupt code table or a
// code size the tables cannot hold raises GIFException. On return the stream
// stands after the frame's data sub-blocks, unless the data ended first.
void DecodeLZW(TStream& stream, uint8_t* pixels, int width, int height, bool interlaced,
               const TGIFWarningFn& warning);

// Allocates the frame's pixels and decodes the frame's image data into them;
// the pixels the data does not reach get the transparent index (or 0).
void DecodeFrameData(TGIFFrameBase& frame, TStream& stream);

}  // namespace om
