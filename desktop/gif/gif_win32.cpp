#include "gif/gif_win32.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace om {

uintptr_t CheckGraphicsHandle(uintptr_t value) {
  if (value != 0) return value;
  const DWORD code = GetLastError();
  std::string message;
  if (code != 0) {
    char text[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    while (n > 0 && (uint8_t(text[n - 1]) <= ' ' || text[n - 1] == '.')) --n;
    message.assign(text, n);
  }
  if (message.empty()) message = "Out of system resources";
  throw EOutOfResources(message);
}

HPALETTE MakePaletteHandle(const TGIFPalette& palette) {
  const size_t n = std::min<size_t>(256, palette.Entries.size());
  if (n == 0) return nullptr;
  std::vector<uint8_t> block(sizeof(LOGPALETTE) + n * sizeof(PALETTEENTRY));
  auto* log = reinterpret_cast<LOGPALETTE*>(block.data());
  log->palVersion = palette.Version;
  log->palNumEntries = WORD(n);
  static_assert(sizeof(PALETTEENTRY) == sizeof(TGIFPaletteEntry), "palette entry layout");
  std::memcpy(log->palPalEntry, palette.Entries.data(), n * sizeof(PALETTEENTRY));
  return reinterpret_cast<HPALETTE>(CheckGraphicsHandle(reinterpret_cast<uintptr_t>(CreatePalette(log))));
}

TGIFPalette PaletteFromHandle(HPALETTE palette) {
  TGIFPalette result;
  PALETTEENTRY entries[256];
  const UINT n = palette ? GetPaletteEntries(palette, 0, 256, entries) : 0;
  for (UINT i = 0; i < n && i < 256; ++i)
    result.Entries.push_back({entries[i].peRed, entries[i].peGreen, entries[i].peBlue, entries[i].peFlags});
  return result;
}

HPALETTE MakeHalftonePalette() {
  HDC dc = reinterpret_cast<HDC>(CheckGraphicsHandle(reinterpret_cast<uintptr_t>(GetDC(nullptr))));
  HPALETTE palette = CreateHalftonePalette(dc);
  ReleaseDC(nullptr, dc);
  return palette;
}

TGIFPalette HalftonePaletteEntries() {
  HPALETTE palette = MakeHalftonePalette();
  TGIFPalette result = PaletteFromHandle(palette);
  if (palette) DeleteObject(palette);
  return result;
}

void ImportPaletteHandle(TGIFColorMap& map, HPALETTE palette) {
  TGIFPalette entries = PaletteFromHandle(palette);
  map.ImportPaletteEntries(entries.Entries.data(), int(entries.Entries.size()));
}

void ImportDIBSectionColors(TGIFColorMap& map, HDC dc) {
  std::vector<RGBQUAD> table(256);
  const UINT n = GetDIBColorTable(dc, 0, 256, table.data());
  static_assert(sizeof(RGBQUAD) == sizeof(TGIFRGBQuad), "colour table entry layout");
  map.ImportRGBQuads(reinterpret_cast<const TGIFRGBQuad*>(table.data()), int(n));
}

HPALETTE MakeColorMapPalette(const TGIFColorMap& map) { return MakePaletteHandle(map.MakePalette()); }

}  // namespace om
