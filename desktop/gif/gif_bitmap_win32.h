// The framework's DIB-section bitmap as the codec's TGIFBitmap.
#pragma once

#include <memory>

#include "framework/bitmap.h"
#include "gif/gif_dib.h"

namespace om {

class TGIFPlatformBitmap : public TGIFBitmap {
public:
  TGIFPlatformBitmap() : FBitmap(new TBitmap) {}
  TBitmap& Bitmap() { return *FBitmap; }

  int Width() override { return FBitmap->Width(); }
  int Height() override { return FBitmap->Height(); }
  TGIFPixelFormat PixelFormat() override;
  void SetPixelFormat(TGIFPixelFormat format) override;
  uint8_t* ScanLine(int row) override { return FBitmap->ScanLine(row); }
  // Indexed images get a palette of their colour table.
  void LoadFromStream(TStream& stream) override;
  void CopyFrom(TGIFBitmap& source) override;
  std::vector<TGIFRGBQuad> ColorTable() override;

private:
  std::unique_ptr<TBitmap> FBitmap;
};

// The framework bitmap behind a bitmap the codec made on Windows.
TBitmap& PlatformBitmap(TGIFBitmap& bitmap);

}  // namespace om
