// Small routines shared by every part of the GIF codec: its exception, stream
// byte access with an end-of-data check, text stored as data sub-blocks, row
// size arithmetic, the persistent base of the codec's classes and the Windows
// bitmap and palette record layouts the codec exchanges with the platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "framework/object.h"
#include "framework/picture.h"
#include "framework/streams.h"

namespace om {

// EInvalidGraphic, EInvalidGraphicOperation and EOutOfResources come from the framework.
class EGIFOutOfMemory : public Exception {
public:
  using Exception::Exception;
};
// List index out of range, unsupported assignment.
class EListError : public Exception {
public:
  using Exception::Exception;
};

// The codec's own errors; callers that catch invalid-graphic errors catch it too.
class GIFException : public EInvalidGraphic {
public:
  using EInvalidGraphic::EInvalidGraphic;
};

[[noreturn]] void RaiseGIFError(const std::string& message);

// Colour value: red in bits 0-7, green 8-15, blue 16-23.
using TGIFColor = uint32_t;
inline TGIFColor MakeGIFColor(uint8_t r, uint8_t g, uint8_t b) {
  return uint32_t(r) | (uint32_t(g) << 8) | (uint32_t(b) << 16);
}
inline uint8_t GIFRed(TGIFColor c) { return uint8_t(c); }
inline uint8_t GIFGreen(TGIFColor c) { return uint8_t(c >> 8); }
inline uint8_t GIFBlue(TGIFColor c) { return uint8_t(c >> 16); }

// Warning sink: severity and message (severity 1 for recoverable faults).
using TGIFWarningFn = std::function<void(int severity, const std::string& message)>;

// Base of the codec's classes: copy from another object, or report that the
// assignment is not supported.
class TGIFPersistent : public TPersistent {
public:
  virtual const char* ClassName() const { return "TGIFPersistent"; }
  // Copies source into this object; the base hands a codec object over to
  // its CopyTo and refuses anything else (EConvertError).
  virtual void CopyFrom(const TPersistent& source);
  // The framework's copy: CopyFrom.
  void Assign(const TPersistent* Source) override;

protected:
  // Copies this object into dest; the base raises "Cannot assign a X to a Y".
  virtual void CopyTo(TGIFPersistent& dest) const;
};

// Row length in bytes of pixels at the given depth, padded to the alignment (bits).
uint32_t RowBytes(uint32_t pixels, uint32_t bitsPerPixel, uint32_t alignment);
// 0 for 0; else the smallest n >= 1 with 2^n >= count.
int BitsForColors(int count);

void WriteOneByte(TStream& stream, uint8_t value);
// Returns 0 when the stream has ended.
uint8_t ReadOneByte(TStream& stream);
// Reads exactly n bytes or raises "Premature end of data".
void ReadExact(TStream& stream, void* buffer, int64_t n);
// Each string as data sub-blocks (1..255 bytes each), then one terminator.
void WriteTextBlocks(TStream& stream, const std::vector<std::string>& strings);
// Every sub-block up to the terminator (or the end of the stream) as one string.
void ReadTextBlocks(TStream& stream, std::vector<std::string>& strings);

// Windows record layouts, byte for byte.
#pragma pack(push, 1)
struct TGIFRGBQuad {  // RGBQUAD
  uint8_t Blue, Green, Red, Reserved;
};
struct TGIFPaletteEntry {  // PALETTEENTRY
  uint8_t Red, Green, Blue, Flags;
};
struct TGIFBitmapFileHeader {  // BITMAPFILEHEADER
  uint16_t Type;
  uint32_t Size;
  uint16_t Reserved1, Reserved2;
  uint32_t OffBits;
};
struct TGIFBitmapInfoHeader {  // BITMAPINFOHEADER
  uint32_t Size;
  int32_t Width, Height;
  uint16_t Planes, BitCount;
  uint32_t Compression, SizeImage;
  int32_t XPelsPerMeter, YPelsPerMeter;
  uint32_t ClrUsed, ClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(TGIFRGBQuad) == 4 && offsetof(TGIFRGBQuad, Red) == 2, "RGBQUAD layout");
static_assert(sizeof(TGIFPaletteEntry) == 4 && offsetof(TGIFPaletteEntry, Flags) == 3, "PALETTEENTRY layout");
static_assert(sizeof(TGIFBitmapFileHeader) == 14 && offsetof(TGIFBitmapFileHeader, OffBits) == 10,
              "BITMAPFILEHEADER layout");
static_assert(sizeof(TGIFBitmapInfoHeader) == 40 && offsetof(TGIFBitmapInfoHeader, BitCount) == 14 &&
                  offsetof(TGIFBitmapInfoHeader, ClrUsed) == 32,
              "BITMAPINFOHEADER layout");

// A logical palette (LOGPALETTE version 0x300 and its entries), as the codec
// builds it before the platform turns it into a palette handle.
struct TGIFPalette {
  uint16_t Version = 0x300;
  std::vector<TGIFPaletteEntry> Entries;
};
constexpr uint8_t kPaletteNoCollapse = 4;  // PC_NOCOLLAPSE

}  // namespace om
