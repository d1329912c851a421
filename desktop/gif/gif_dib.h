// Row access to device-independent bitmaps: a reader over an existing bitmap at
// a chosen pixel format, and a writer that builds an 8- or 24-bit DIB in memory
// and places it into a bitmap as a BMP file image.
#pragma once

#include <cstdint>
#include <vector>

#include "gif/gif_support.h"

namespace om {

enum TGIFPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

// What the codec needs of a platform bitmap.
class TGIFBitmap : public TObject {
public:
  virtual int Width() = 0;
  virtual int Height() = 0;
  virtual TGIFPixelFormat PixelFormat() = 0;
  // Changes the format; the pixels are converted.
  virtual void SetPixelFormat(TGIFPixelFormat format) = 0;
  // First byte of a pixel row (row 0 at the top).
  virtual uint8_t* ScanLine(int row) = 0;
  // Replaces the bitmap with a BMP file image.
  virtual void LoadFromStream(TStream& stream) = 0;
  // Becomes a copy of source.
  virtual void CopyFrom(TGIFBitmap& source) = 0;
  // Colour table of an indexed bitmap (blue, green, red, 0); empty otherwise.
  virtual std::vector<TGIFRGBQuad> ColorTable() { return {}; }
};

TGIFPixelFormat BitmapFormat(TGIFBitmap& bitmap);
void SetBitmapFormat(TGIFBitmap& bitmap, TGIFPixelFormat format);

class TDIB : public TObject {
public:
  TDIB(TGIFBitmap& target, TGIFPixelFormat format) : FTarget(target), FFormat(format) {}
  TGIFPixelFormat Format() const { return FFormat; }
  virtual uint8_t* RowPointer(int row) = 0;

protected:
  TGIFBitmap& FTarget;
  TGIFPixelFormat FFormat;
};

// Rows of an existing bitmap, converted to the format first.
class TDIBReader : public TDIB {
public:
  TDIBReader(TGIFBitmap& bitmap, TGIFPixelFormat format);
  uint8_t* RowPointer(int row) override { return FTarget.ScanLine(row); }
  int Width() { return FTarget.Width(); }
  int Height() { return FTarget.Height(); }
};

// A new 8- or 24-bit DIB, stored bottom-up; memory is taken on first row access.
class TDIBWriter : public TDIB {
public:
  // palette (8 bits per pixel) is not owned; it may be null.
  TDIBWriter(TGIFBitmap& bitmap, TGIFPixelFormat format, int width, int height, const TGIFPalette* palette);
  ~TDIBWriter() override { ReleaseImage(); }
  uint8_t* RowPointer(int row) override;
  // Places the built image into the bitmap (when one was built) and releases it.
  void Commit();

  int HeaderBytes() const { return int(FHeaderBlock.size()); }
  const uint8_t* HeaderBlock() const { return FHeaderBlock.data(); }
  int64_t PixelDataBytes() const;
  bool HasImage() const { return !FPixelData.empty(); }

private:
  void EnsureImage();
  void AllocateImage();
  void ReleaseImage();
  void CommitToBitmap();

  int FPixelWidth, FPixelHeight;
  const TGIFPalette* FPalette;
  std::vector<uint8_t> FHeaderBlock;
  std::vector<uint8_t> FPixelData;
};

// Palette order red, green, blue, flag to colour-table order blue, green, red, 0.
void SwapRedBlue(void* entries, int n);

}  // namespace om
