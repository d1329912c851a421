#include "gif/gif_dib.h"

#include <cstring>
#include <new>

namespace om {

TGIFPixelFormat BitmapFormat(TGIFBitmap& bitmap) { return bitmap.PixelFormat(); }
void SetBitmapFormat(TGIFBitmap& bitmap, TGIFPixelFormat format) { bitmap.SetPixelFormat(format); }

TDIBReader::TDIBReader(TGIFBitmap& bitmap, TGIFPixelFormat format) : TDIB(bitmap, format) {
  SetBitmapFormat(bitmap, format);
}

TDIBWriter::TDIBWriter(TGIFBitmap& bitmap, TGIFPixelFormat format, int width, int height,
                       const TGIFPalette* palette)
    : TDIB(bitmap, format), FPixelWidth(width), FPixelHeight(height), FPalette(palette) {
  if (format != pf8bit && format != pf24bit) RaiseGIFError("Unsupported PixelFormat");
  // Negative sizes are refused with zero ones: rows are always stored bottom-up.
  if (width <= 0 || height <= 0) RaiseGIFError("Invalid image dimensions");
}

int64_t TDIBWriter::PixelDataBytes() const {
  const int64_t bits = FFormat == pf8bit ? 8 : 24;
  const int64_t stride = ((int64_t(FPixelWidth) * bits + 31) & ~int64_t(31)) >> 3;
  return stride * FPixelHeight;
}

uint8_t* TDIBWriter::RowPointer(int row) {
  EnsureImage();
  if (FPixelData.empty()) RaiseGIFError("Image has no DIB");
  if (row < 0 || row >= FPixelHeight) throw EInvalidGraphicOperation("Scan line index out of range");
  const size_t stride = size_t(PixelDataBytes() / FPixelHeight);
  return FPixelData.data() + stride * size_t(FPixelHeight - row - 1);
}

void TDIBWriter::EnsureImage() {
  if (FPixelData.empty()) AllocateImage();
}

void TDIBWriter::AllocateImage() {
  ReleaseImage();
  try {
    const bool indexed = FFormat == pf8bit;
    FHeaderBlock.assign(indexed ? 40 + 256 * 4 : 40, 0);
    TGIFBitmapInfoHeader h{};
    h.Size = 40;
    h.Width = FPixelWidth;
    h.Height = FPixelHeight;
    h.Planes = 1;
    h.BitCount = indexed ? 8 : 24;
    if (indexed) {
      int n = FPalette ? int(std::min<size_t>(256, FPalette->Entries.size())) : 0;
      if (n > 0) {
        std::memcpy(FHeaderBlock.data() + 40, FPalette->Entries.data(), size_t(n) * 4);
        SwapRedBlue(FHeaderBlock.data() + 40, n);
      }
      h.ClrUsed = 256;
      h.ClrImportant = uint32_t(n);
    }
    std::memcpy(FHeaderBlock.data(), &h, sizeof h);
    const int64_t bytes = PixelDataBytes();
    if (bytes <= 0 || bytes > (int64_t(1) << 31)) throw std::bad_alloc();
    FPixelData.assign(size_t(bytes), 0);
  } catch (const std::bad_alloc&) {
    ReleaseImage();
    throw EGIFOutOfMemory("Failed to allocate memory for GIF DIB");
  } catch (...) {
    ReleaseImage();
    throw;
  }
}

void TDIBWriter::ReleaseImage() {
  FHeaderBlock.clear();
  FHeaderBlock.shrink_to_fit();
  FPixelData.clear();
  FPixelData.shrink_to_fit();
}

void TDIBWriter::CommitToBitmap() {
  if (FPixelData.empty()) return;
  TMemoryStream stream;
  TGIFBitmapFileHeader f{};
  f.Type = 0x4D42;  // "BM"
  f.Size = uint32_t(14 + FHeaderBlock.size() + FPixelData.size());
  f.OffBits = uint32_t(14 + FHeaderBlock.size());
  stream.WriteBuffer(&f, 14);
  stream.WriteBuffer(FHeaderBlock.data(), int64_t(FHeaderBlock.size()));
  stream.WriteBuffer(FPixelData.data(), int64_t(FPixelData.size()));
  stream.SetPosition(0);
  FTarget.LoadFromStream(stream);
}

void TDIBWriter::Commit() {
  CommitToBitmap();
  ReleaseImage();
}

void SwapRedBlue(void* entries, int n) {
  uint8_t* p = static_cast<uint8_t*>(entries);
  for (int i = n - 1; i >= 0; --i) {
    uint8_t* e = p + size_t(i) * 4;
    std::swap(e[0], e[2]);
    e[3] = 0;
  }
}

}  // namespace om
