#include "gif/gif_win32.h"

#include "platform/win32_owners.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace om {

uintptr_t CheckGraphicsHandle(uintptr_t value) {
  if (value != 0) return value;
  const DWORD code = GetLastError();
  std::string message = code != 0 ? systemMessage(code) : std::string();
  if (message.size() > 255) message.resize(255);
  while (!message.empty() && message.back() == '.') message.pop_back();
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
  WindowDc screen(nullptr);
  CheckGraphicsHandle(reinterpret_cast<uintptr_t>(screen.get()));
  return CreateHalftonePalette(screen.get());
}

TGIFPalette HalftonePaletteEntries() {
  UniquePalette palette(MakeHalftonePalette());
  return PaletteFromHandle(palette.get());
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

void PlaceOnClipboard(unsigned format, const void* data, size_t size) {
  UniqueGlobal block(GlobalAlloc(GMEM_MOVEABLE, size));
  void* p = block ? GlobalLock(block.get()) : nullptr;
  if (!p) RaiseGIFError("Failed to store GIF on clipboard");
  std::memcpy(p, data, size);
  GlobalUnlock(block.get());
  if (!SetClipboardData(format, block.get())) RaiseGIFError("Failed to store GIF on clipboard");
  block.release();  // the clipboard's now
}

}  // namespace om
