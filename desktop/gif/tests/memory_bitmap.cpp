#include "memory_bitmap.h"

#include <cstring>

namespace om::giftest {

TMemoryBitmap::TMemoryBitmap(int width, int height, TGIFPixelFormat format) : W(width), H(height), Format(format) {
  Data.assign(size_t(width) * size_t(height) * size_t(BytesPerPixel()), 0);
  if (format == pf8bit) Table.assign(256, TGIFRGBQuad{0, 0, 0, 0});
}

void TMemoryBitmap::SetPixelFormat(TGIFPixelFormat format) {
  FormatLog.push_back(format);
  if (format == Format) return;
  const size_t n = size_t(W) * size_t(H);
  std::vector<uint8_t> bgr(n * 3);
  for (size_t i = 0; i < n && !Data.empty(); ++i) {
    if (Format == pf8bit) {
      const TGIFRGBQuad& q = Table[Data[i]];
      bgr[i * 3] = q.Blue;
      bgr[i * 3 + 1] = q.Green;
      bgr[i * 3 + 2] = q.Red;
    } else if (Format == pf24bit) {
      std::memcpy(&bgr[i * 3], &Data[i * 3], 3);
    } else if (Format == pf32bit) {
      std::memcpy(&bgr[i * 3], &Data[i * 4], 3);
    }
  }
  Format = format;
  if (format == pf24bit) {
    Data = bgr;
  } else if (format == pf32bit) {
    Data.assign(n * 4, 0);
    for (size_t i = 0; i < n; ++i) std::memcpy(&Data[i * 4], &bgr[i * 3], 3);
  } else {
    Data.clear();  // other formats are only recorded
  }
}

uint8_t* TMemoryBitmap::ScanLine(int row) {
  if (row < 0 || row >= H || Data.empty()) throw EInvalidGraphicOperation("Scan line index out of range");
  return Data.data() + size_t(row) * size_t(W) * size_t(BytesPerPixel());
}

void TMemoryBitmap::LoadFromStream(TStream& stream) {
  TGIFBitmapFileHeader f{};
  stream.ReadBuffer(&f, 14);
  if (f.Type != 0x4D42) throw EInvalidGraphic("Bitmap image is not valid");
  TGIFBitmapInfoHeader h{};
  stream.ReadBuffer(&h, 40);
  if (h.BitCount != 8 && h.BitCount != 24) throw EInvalidGraphic("Unsupported bitmap");
  LoadedHeader = h;
  W = h.Width;
  H = h.Height;
  Table.assign(256, TGIFRGBQuad{0, 0, 0, 0});
  if (h.BitCount == 8) stream.ReadBuffer(Table.data(), int64_t(h.ClrUsed ? h.ClrUsed : 256) * 4);
  stream.SetPosition(f.OffBits);
  Format = h.BitCount == 8 ? pf8bit : pf24bit;
  const size_t rowBytes = size_t(W) * size_t(BytesPerPixel());
  const size_t stride = RowBytes(uint32_t(W), h.BitCount, 32);
  Data.assign(rowBytes * size_t(H), 0);
  std::vector<uint8_t> line(stride);
  for (int y = H - 1; y >= 0; --y) {
    stream.ReadBuffer(line.data(), int64_t(stride));
    std::memcpy(&Data[size_t(y) * rowBytes], line.data(), rowBytes);
  }
}

void TMemoryBitmap::CopyFrom(TGIFBitmap& source) {
  auto& s = dynamic_cast<TMemoryBitmap&>(source);
  W = s.W;
  H = s.H;
  Format = s.Format;
  Table = s.Table;
  Data = s.Data;
}

}  // namespace om::giftest
