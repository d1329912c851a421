// A device-independent bitmap (DIB section) with scan-line access, a pixel
// format given as bits per pixel, an optional palette and a canvas to draw on.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "framework/canvas.h"
#include "framework/events.h"
#include "framework/picture.h"
#include "framework/streams.h"

namespace om {

class TBitmap : public TGraphic {
public:
  TBitmap();
  ~TBitmap() override;

  static const TGraphicClass* Class();
  const TGraphicClass* GraphicClass() const override { return Class(); }

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  bool Empty() const { return FHandle == nullptr; }
  int ScreenWidth() const override { return FWidth; }
  int ScreenHeight() const override { return FHeight; }
  bool IsBlank() const override { return Empty(); }
  void DrawOn(TCanvas& canvas, const TRect& rect) override;
  void ResizeWidth(int value) override { SetSize(value, FHeight); }
  void ResizeHeight(int value) override { SetSize(FWidth, value); }
  uintptr_t QueryPalette() override { return reinterpret_cast<uintptr_t>(FPalette); }
  // 1, 4, 8, 24 or 32; 0 while empty.
  int BitsPerPixel() const { return FBits; }
  // Keeps the format (24 bits when none yet); the content is lost.
  void SetSize(int width, int height);
  // Converts the pixels; indexed formats take the palette, or the colour
  // table, or a default one.
  void SetBitsPerPixel(int bits);
  // Row 0 is the top row.
  uint8_t* ScanLine(int row);
  int RowBytes() const { return ((FWidth * FBits + 31) / 32) * 4; }
  std::vector<RGBQUAD> ColorTable() const { return FTable; }

  HBITMAP Handle() const { return FHandle; }
  // Takes a bitmap handle over: its pixels are copied into a DIB section and
  // the handle is deleted.
  void SetHandle(HBITMAP handle);
  // The palette (owned); 0 for none. SetPalette keeps a copy.
  HPALETTE Palette() const { return FPalette; }
  void SetPalette(HPALETTE palette);

  // A BMP file image (BITMAPFILEHEADER, BITMAPINFOHEADER, colour table, rows).
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  void Assign(const TBitmap& source);
  // A bitmap, or any graphic that can copy itself into one.
  void Assign(const TPersistent* Source) override;
  // CF_BITMAP (a bitmap handle, copied) with an optional palette.
  void PasteFromClipboard(unsigned format, uintptr_t data, uintptr_t palette) override;
  void CopyToClipboard(unsigned& format, uintptr_t& data, uintptr_t& palette) override;

  // Monochrome mask: set bits where the transparent colour is (bottom-left
  // pixel's colour), 0 when not transparent.
  bool Transparent = false;
  HBITMAP MaskHandle();

  TCanvas& Canvas();
  void Changed() override;

private:
  void Create(int width, int height, int bits, const std::vector<RGBQUAD>& table);
  void Release();
  void Deselect();

  int FWidth = 0, FHeight = 0, FBits = 0;
  HBITMAP FHandle = nullptr;
  uint8_t* FPixels = nullptr;
  std::vector<RGBQUAD> FTable;
  HPALETTE FPalette = nullptr;
  HBITMAP FMask = nullptr;
  HDC FDC = nullptr;
  HGDIOBJ FOldBitmap = nullptr;
  HPALETTE FOldPalette = nullptr;
  TCanvas FCanvas;
};

}  // namespace om
