#include "framework/bitmap.h"

#include <cstring>

#include "framework/exceptions.h"
#include "platform/win32_owners.h"

namespace om {

namespace {

// Default colour tables for indexed formats without a palette.
std::vector<RGBQUAD> DefaultTable(int bits) {
  std::vector<RGBQUAD> t;
  if (bits == 1) {
    t = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
  } else if (bits == 4) {
    static const uint8_t vga[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                       {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                       {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                       {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    for (auto& c : vga) t.push_back(RGBQUAD{c[2], c[1], c[0], 0});
  } else if (bits == 8) {
    // 6 x 6 x 6 colour cube, then greys.
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b) t.push_back(RGBQUAD{uint8_t(b * 51), uint8_t(g * 51), uint8_t(r * 51), 0});
    for (int i = 0; i < 40; ++i) {
      const uint8_t v = uint8_t(i * 255 / 39);
      t.push_back(RGBQUAD{v, v, v, 0});
    }
  }
  return t;
}

std::vector<RGBQUAD> PaletteTable(HPALETTE palette, int bits) {
  std::vector<RGBQUAD> t;
  PALETTEENTRY e[256];
  const UINT n = GetPaletteEntries(palette, 0, UINT(1) << bits, e);
  for (UINT i = 0; i < n; ++i) t.push_back(RGBQUAD{e[i].peBlue, e[i].peGreen, e[i].peRed, 0});
  return t;
}

// A palette of its own with the entries of palette (0 for none).
HPALETTE CopyPalette(HPALETTE palette) {
  PALETTEENTRY e[256];
  const UINT n = GetPaletteEntries(palette, 0, 256, e);
  if (n == 0) return nullptr;
  std::vector<uint8_t> block(sizeof(LOGPALETTE) + 256 * sizeof(PALETTEENTRY));
  auto* log = reinterpret_cast<LOGPALETTE*>(block.data());
  log->palVersion = 0x300;
  log->palNumEntries = WORD(n);
  std::memcpy(log->palPalEntry, e, n * sizeof(PALETTEENTRY));
  HPALETTE copy = CreatePalette(log);
  if (!copy) RaiseLastOSError();
  return copy;
}

HDC NewMemoryDc() {
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) RaiseLastOSError();
  return dc;
}

}  // namespace

TBitmap::TBitmap() = default;

TBitmap::TSelection::TSelection(HBITMAP bitmap) : Dc(NewMemoryDc()), Bitmap(Dc.get(), bitmap) {
  if (!Bitmap) RaiseLastOSError();
}

const TGraphicClass* TBitmap::Class() {
  static const TGraphicClass cls{"TBitmap", [] { return static_cast<TGraphic*>(new TBitmap); }};
  return &cls;
}

void TBitmap::DrawOn(TCanvas& canvas, const TRect& rect) {
  canvas.StretchDraw(RECT{rect.Left, rect.Top, rect.Right, rect.Bottom}, *this);
}

TBitmap::~TBitmap() { Release(); }

void TBitmap::Deselect() {
  FSelection.reset();
  FCanvas.SetHandle(nullptr);
}

void TBitmap::SelectPaletteInto() {
  if (!FSelection || !FPalette) return;
  FSelection->Palette.emplace(FSelection->Dc.get(), FPalette.get(), true);
  RealizePalette(FSelection->Dc.get());
}

void TBitmap::Release() {
  Deselect();
  FMask.reset();
  FHandle.reset();
  FPixels = nullptr;
  FWidth = FHeight = FBits = 0;
  FTable.clear();
}

void TBitmap::Create(int width, int height, int bits, const std::vector<RGBQUAD>& table) {
  Release();
  if (width <= 0 || height <= 0) return;
  std::vector<uint8_t> info(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), 0);
  auto* h = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
  h->biSize = sizeof(BITMAPINFOHEADER);
  h->biWidth = width;
  h->biHeight = -height;  // top-down rows
  h->biPlanes = 1;
  h->biBitCount = WORD(bits);
  h->biCompression = BI_RGB;
  std::vector<RGBQUAD> t = table;
  if (bits <= 8) {
    if (t.empty()) t = DefaultTable(bits);
    if (t.size() > (size_t(1) << bits)) t.resize(size_t(1) << bits);
    h->biClrUsed = DWORD(t.size());
    std::memcpy(info.data() + sizeof(BITMAPINFOHEADER), t.data(), t.size() * sizeof(RGBQUAD));
  } else {
    t.clear();
  }
  void* bitsPtr = nullptr;
  UniqueBitmap handle(
      CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS, &bitsPtr, nullptr, 0));
  if (!handle) throw EOutOfResources("Out of system resources");
  FHandle = std::move(handle);
  FPixels = static_cast<uint8_t*>(bitsPtr);
  FWidth = width;
  FHeight = height;
  FBits = bits;
  FTable = t;
}

void TBitmap::SetSize(int width, int height) {
  Create(width, height, FBits ? FBits : 24, FTable);
  Changed();
}

void TBitmap::SetBitsPerPixel(int bits) {
  if (bits == FBits || (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)) return;
  if (!FHandle) {
    FBits = bits;
    return;
  }
  std::vector<RGBQUAD> table;
  if (bits <= 8) table = FPalette ? PaletteTable(FPalette.get(), bits) : FBits == bits ? FTable : std::vector<RGBQUAD>{};
  TBitmap converted;
  converted.Create(FWidth, FHeight, bits, table);
  GdiFlush();
  if (bits <= 8 && FBits > 8) {
    // Nearest colour of the target table, pixel by pixel.
    const std::vector<RGBQUAD>& t = converted.FTable;
    for (int y = 0; y < FHeight; ++y) {
      const uint8_t* src = ScanLine(y);
      uint8_t* dst = converted.ScanLine(y);
      std::memset(dst, 0, size_t(converted.RowBytes()));
      for (int x = 0; x < FWidth; ++x) {
        const uint8_t* p = src + x * (FBits / 8);
        int best = 0, bestDist = 1 << 30;
        for (size_t i = 0; i < t.size(); ++i) {
          const int db = p[0] - t[i].rgbBlue, dg = p[1] - t[i].rgbGreen, dr = p[2] - t[i].rgbRed;
          const int d = db * db + dg * dg + dr * dr;
          if (d < bestDist) bestDist = d, best = int(i);
        }
        if (bits == 8)
          dst[x] = uint8_t(best);
        else if (bits == 4)
          dst[x >> 1] |= uint8_t(x & 1 ? best : best << 4);
        else
          dst[x >> 3] |= uint8_t((best & 1) << (7 - (x & 7)));
      }
    }
  } else {
    // Widening (and indexed to indexed) through GDI.
    HDC dc = converted.Canvas().Handle();
    SetStretchBltMode(dc, COLORONCOLOR);
    if (!BitBlt(dc, 0, 0, FWidth, FHeight, Canvas().Handle(), 0, 0, SRCCOPY)) RaiseLastOSError();
    GdiFlush();
  }
  converted.Deselect();
  Release();
  FHandle = std::move(converted.FHandle);
  FPixels = converted.FPixels;
  FWidth = converted.FWidth;
  FHeight = converted.FHeight;
  FBits = converted.FBits;
  FTable = converted.FTable;
  converted.FPixels = nullptr;
  Changed();
}

uint8_t* TBitmap::ScanLine(int row) {
  if (!FHandle || row < 0 || row >= FHeight) throw EInvalidOperation("Scan line index out of range");
  GdiFlush();
  return FPixels + size_t(row) * size_t(RowBytes());
}

void TBitmap::SetHandle(HBITMAP handle) {
  if (handle == FHandle.get()) FHandle.release();  // its own: copied like any other
  UniqueBitmap given(handle);
  Release();
  if (!given) return;
  BITMAP bm{};
  if (!GetObject(handle, sizeof bm, &bm)) RaiseLastOSError();
  int bits = bm.bmBitsPixel * bm.bmPlanes;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24) bits = 32;
  std::vector<uint8_t> info(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), 0);
  auto* h = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
  h->biSize = sizeof(BITMAPINFOHEADER);
  WindowDc screen(nullptr);
  GetDIBits(screen.get(), handle, 0, 0, nullptr, reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS);
  std::vector<RGBQUAD> table;
  if (bits <= 8) {
    h->biBitCount = WORD(bits);
    h->biCompression = BI_RGB;
    h->biHeight = -bm.bmHeight;
    h->biClrUsed = 0;
    if (!GetDIBits(screen.get(), handle, 0, 0, nullptr, reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS))
      RaiseLastOSError();
    const RGBQUAD* q = reinterpret_cast<const RGBQUAD*>(info.data() + sizeof(BITMAPINFOHEADER));
    table.assign(q, q + (size_t(1) << bits));
  }
  Create(bm.bmWidth, bm.bmHeight, bits, table);
  h->biSize = sizeof(BITMAPINFOHEADER);
  h->biWidth = bm.bmWidth;
  h->biHeight = -bm.bmHeight;
  h->biPlanes = 1;
  h->biBitCount = WORD(bits);
  h->biCompression = BI_RGB;
  h->biClrUsed = 0;
  if (FHandle && !GetDIBits(screen.get(), handle, 0, UINT(bm.bmHeight), FPixels,
                            reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS))
    RaiseLastOSError();
  Changed();
}

void TBitmap::SetPalette(HPALETTE palette) {
  UniquePalette copy(palette ? CopyPalette(palette) : nullptr);
  if (FSelection) FSelection->Palette.reset();
  FPalette = std::move(copy);
  SelectPaletteInto();
}

void TBitmap::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  BITMAPFILEHEADER f{};
  BITMAPINFOHEADER h{};
  if (stream.Read(&f, sizeof f) != int64_t(sizeof f) || f.bfType != 0x4D42 ||
      stream.Read(&h, sizeof h) != int64_t(sizeof h) || h.biSize < sizeof h || h.biCompression != BI_RGB)
    throw EInvalidOperation("Bitmap image is not valid");
  const int bits = h.biBitCount;
  if ((bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) || h.biWidth <= 0 || h.biHeight == 0 ||
      int64_t(h.biWidth) * std::abs(int64_t(h.biHeight)) > (int64_t(1) << 28))
    throw EInvalidOperation("Bitmap image is not valid");
  std::vector<RGBQUAD> table;
  if (bits <= 8) {
    size_t n = h.biClrUsed ? h.biClrUsed : size_t(1) << bits;
    if (n > 256) n = 256;
    stream.SetPosition(start + 14 + int64_t(h.biSize));
    table.resize(n);
    stream.ReadBuffer(table.data(), int64_t(n * sizeof(RGBQUAD)));
    if (n > (size_t(1) << bits)) table.resize(size_t(1) << bits);
  }
  const bool bottomUp = h.biHeight > 0;
  const int height = bottomUp ? h.biHeight : -h.biHeight;
  Create(h.biWidth, height, bits, table);
  stream.SetPosition(start + f.bfOffBits);
  const int stride = RowBytes();
  for (int i = 0; i < height; ++i) stream.ReadBuffer(ScanLine(bottomUp ? height - 1 - i : i), stride);
  Changed();
}

void TBitmap::SaveToStream(TStream& stream) {
  const int n = FBits <= 8 ? int(FTable.size()) : 0;
  BITMAPINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = FWidth;
  h.biHeight = FHeight;
  h.biPlanes = 1;
  h.biBitCount = WORD(FBits);
  h.biClrUsed = DWORD(n);
  BITMAPFILEHEADER f{};
  f.bfType = 0x4D42;
  f.bfOffBits = DWORD(sizeof f + sizeof h + n * sizeof(RGBQUAD));
  f.bfSize = f.bfOffBits + DWORD(RowBytes() * FHeight);
  stream.WriteBuffer(&f, sizeof f);
  stream.WriteBuffer(&h, sizeof h);
  if (n) stream.WriteBuffer(FTable.data(), int64_t(n * sizeof(RGBQUAD)));
  for (int y = FHeight - 1; y >= 0; --y) stream.WriteBuffer(ScanLine(y), RowBytes());
}

void TBitmap::Assign(const TBitmap& source) {
  if (&source == this) return;
  Create(source.FWidth, source.FHeight, source.FBits, source.FTable);
  if (FHandle) {
    GdiFlush();
    std::memcpy(FPixels, source.FPixels, size_t(RowBytes()) * size_t(FHeight));
  }
  SetPalette(source.FPalette.get());
  Transparent = source.Transparent;
  Changed();
}

void TBitmap::Assign(const TPersistent* Source) {
  if (const auto* bitmap = dynamic_cast<const TBitmap*>(Source))
    Assign(*bitmap);
  else if (const auto* graphic = dynamic_cast<const TGraphic*>(Source))
    graphic->CopyTo(*this);
  else
    TGraphic::Assign(Source);
}

void TBitmap::PasteFromClipboard(unsigned format, uintptr_t data, uintptr_t palette) {
  HANDLE handle = reinterpret_cast<HANDLE>(data);
  if (!handle && format == CF_BITMAP) handle = GetClipboardData(format);
  if (!handle || format != CF_BITMAP) throw EInvalidGraphic("Unsupported clipboard format");
  // The clipboard keeps its own handle: a copy is taken over.
  HANDLE copy = CopyImage(handle, IMAGE_BITMAP, 0, 0, 0);
  if (!copy) throw EInvalidGraphic("Unsupported clipboard format");
  SetHandle(static_cast<HBITMAP>(copy));
  if (palette) SetPalette(reinterpret_cast<HPALETTE>(palette));
}

void TBitmap::CopyToClipboard(unsigned& format, uintptr_t& data, uintptr_t& palette) {
  if (!FHandle) throw EInvalidGraphicOperation("An empty bitmap cannot be put on the clipboard");
  UniqueBitmap copy(static_cast<HBITMAP>(CopyImage(FHandle.get(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  if (!copy) RaiseLastOSError();
  UniquePalette paletteCopy(FPalette ? CopyPalette(FPalette.get()) : nullptr);
  format = CF_BITMAP;
  data = reinterpret_cast<uintptr_t>(copy.release());
  palette = reinterpret_cast<uintptr_t>(paletteCopy.release());
}

HBITMAP TBitmap::MaskHandle() {
  if (!Transparent || !FHandle) return nullptr;
  if (FMask) return FMask.get();
  // Transparent colour: the bottom-left pixel's.
  HDC dc = Canvas().Handle();
  const COLORREF key = GetPixel(dc, 0, FHeight - 1);
  UniqueBitmap mask(CreateBitmap(FWidth, FHeight, 1, 1, nullptr));
  if (!mask) RaiseLastOSError();
  UniqueDc mdc(NewMemoryDc());
  {
    SelectedObject selected(mdc.get(), mask.get());
    if (!selected) RaiseLastOSError();
    const COLORREF back = SetBkColor(dc, key);
    const BOOL copied = BitBlt(mdc.get(), 0, 0, FWidth, FHeight, dc, 0, 0, SRCCOPY);  // key colour -> 1 (white)
    SetBkColor(dc, back);
    if (!copied) RaiseLastOSError();
  }
  FMask = std::move(mask);
  return FMask.get();
}

TCanvas& TBitmap::Canvas() {
  if (!FSelection && FHandle) {
    FSelection = std::make_unique<TSelection>(FHandle.get());
    SelectPaletteInto();
    FCanvas.SetHandle(FSelection->Dc.get());
  }
  return FCanvas;
}

void TBitmap::Changed() {
  FMask.reset();
  TGraphic::Changed();
}

}  // namespace om
