// A device-independent bitmap (DIB section) with scan-line access, a pixel
// format given as bits per pixel, an optional palette and a canvas to draw on.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "framework/canvas.h"
#include "framework/events.h"
#include "framework/picture.h"
#include "framework/streams.h"
#include "platform/win32_owners.h"

namespace om {

class TBitmap : public TGraphic {
public:
  TBitmap();
  ~TBitmap() override;

  static const TGraphicClass* Class();
  const TGraphicClass* GraphicClass() const override { return Class(); }

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  bool Empty() const { return !FHandle; }
  int ScreenWidth() const override { return FWidth; }
  int ScreenHeight() const override { return FHeight; }
  bool IsBlank() const override { return Empty(); }
  void DrawOn(TCanvas& canvas, const TRect& rect) override;
  void ResizeWidth(int value) override { SetSize(value, FHeight); }
  void ResizeHeight(int value) override { SetSize(FWidth, value); }
  uintptr_t QueryPalette() override { return reinterpret_cast<uintptr_t>(FPalette.get()); }
  // 1, 4, 8, 24 or 32; 0 while empty.
  int BitsPerPixel() const { return FBits; }
  // Keeps the format (24 bits when none yet); the content is lost.
  void SetSize(int width, int height);
  // Converts the pixels; indexed formats take the palette, or the colour
  // table, or a default one. A failing system call raises its error and
  // leaves the bitmap as it was.
  void SetBitsPerPixel(int bits);
  // Row 0 is the top row.
  uint8_t* ScanLine(int row);
  int RowBytes() const { return ((FWidth * FBits + 31) / 32) * 4; }
  std::vector<RGBQUAD> ColorTable() const { return FTable; }

  HBITMAP Handle() const { return FHandle.get(); }
  // Takes a bitmap handle over: its pixels are copied into a DIB section and
  // the handle is deleted, also when the copy fails (which raises the system
  // error).
  void SetHandle(HBITMAP handle);
  // The palette (owned); 0 for none. SetPalette keeps a copy.
  HPALETTE Palette() const { return FPalette.get(); }
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
  // pixel's colour), 0 when not transparent; raises the system error when it
  // cannot be made.
  bool Transparent = false;
  HBITMAP MaskHandle();

  TCanvas& Canvas();
  void Changed() override;

private:
  // The memory DC the canvas draws on, with the bitmap (and palette) selected;
  // they are put back before the DC goes. Raises the system error when the
  // DC cannot be made or the bitmap not selected.
  struct TSelection {
    explicit TSelection(HBITMAP bitmap);
    UniqueDc Dc;
    SelectedObject Bitmap;
    std::optional<SelectedPalette> Palette;
  };

  void Create(int width, int height, int bits, const std::vector<RGBQUAD>& table);
  void Release();
  void Deselect();
  void SelectPaletteInto();

  int FWidth = 0, FHeight = 0, FBits = 0;
  UniqueBitmap FHandle;
  uint8_t* FPixels = nullptr;  // the bits of FHandle's DIB section
  std::vector<RGBQUAD> FTable;
  UniquePalette FPalette;
  UniqueBitmap FMask;
  std::unique_ptr<TSelection> FSelection;
  TCanvas FCanvas;
};

}  // namespace om
