// An in-memory bitmap standing in for the platform bitmap in the tests: 8-bit
// (with a colour table), 24-bit and 32-bit rows top to bottom, loading BMP
// file images; every format change is logged.
#pragma once

#include <vector>

#include "gif/gif_dib.h"

namespace om::giftest {

class TMemoryBitmap : public TGIFBitmap {
public:
  TMemoryBitmap() = default;
  TMemoryBitmap(int width, int height, TGIFPixelFormat format);

  int Width() override { return W; }
  int Height() override { return H; }
  TGIFPixelFormat PixelFormat() override { return Format; }
  void SetPixelFormat(TGIFPixelFormat format) override;
  uint8_t* ScanLine(int row) override;
  void LoadFromStream(TStream& stream) override;
  void CopyFrom(TGIFBitmap& source) override;
  std::vector<TGIFRGBQuad> ColorTable() override { return Format == pf8bit ? Table : std::vector<TGIFRGBQuad>{}; }

  int BytesPerPixel() const { return Format == pf8bit ? 1 : Format == pf24bit ? 3 : Format == pf32bit ? 4 : 0; }

  int W = 0, H = 0;
  TGIFPixelFormat Format = pfDevice;
  std::vector<TGIFRGBQuad> Table;  // 8-bit colour table
  std::vector<uint8_t> Data;
  std::vector<TGIFPixelFormat> FormatLog;
  TGIFBitmapInfoHeader LoadedHeader{};
};

}  // namespace om::giftest
