// Windows side of the codec: graphics handle checks and the conversions
// between the codec's palettes and colour maps and the platform's palette
// handles and device contexts.
#pragma once

#include "platform/win32.h"

#include "gif/gif_items.h"
#include "gif/gif_support.h"

namespace om {

// A non-zero handle is returned unchanged; for 0 raises EOutOfResources with
// the system's text for the thread's last error ("Out of system resources"
// when there is none).
uintptr_t CheckGraphicsHandle(uintptr_t value);

// A palette handle owned by the caller; 0 for an empty palette.
HPALETTE MakePaletteHandle(const TGIFPalette& palette);
// Up to 256 entries of a palette handle.
TGIFPalette PaletteFromHandle(HPALETTE palette);
// The halftone palette for the screen (owned by the caller).
HPALETTE MakeHalftonePalette();
// Its entries (the provider of reduction method 2).
TGIFPalette HalftonePaletteEntries();

void ImportPaletteHandle(TGIFColorMap& map, HPALETTE palette);
// Colours of the DIB section selected into the device context.
void ImportDIBSectionColors(TGIFColorMap& map, HDC dc);
HPALETTE MakeColorMapPalette(const TGIFColorMap& map);

// Places a copy of the bytes on the open clipboard under format; a block that
// cannot be allocated, filled or placed raises GIFException "Failed to store
// GIF on clipboard".
void PlaceOnClipboard(unsigned format, const void* data, size_t size);

}  // namespace om
