// Writing a frame's image data: the sub-block writer, the code packer with the
// interlace walk, the LZW encoder and its string table, and the run-length
// encoder whose output any GIF decoder reads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "gif/gif_support.h"

namespace om {

// Write-only adapter; reading and seeking through it are refused.
class TGIFStream : public TStream {
public:
  explicit TGIFStream(TStream& target) : FTarget(target) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;

  TGIFWarningFn WarningHandler;
  std::function<void(int, int)> ProgressHandler;
  virtual void ReportProgress(int a, int b) {
    if (ProgressHandler) ProgressHandler(a, b);
  }

protected:
  TStream& FTarget;
  uint8_t FBlock[256] = {};
  int FBlockFill = 1;  // bytes of FBlock in use, length byte included
};

// Cuts what is written into data sub-blocks of up to 255 bytes.
class TGIFWriter : public TGIFStream {
public:
  using TGIFStream::TGIFStream;
  int64_t Write(const void* buffer, int64_t count) override;
  void WriteBlock();
  void WriteOne(uint8_t value) {
    FBlock[FBlockFill++] = value;
    if (FBlockFill >= 256) WriteBlock();
  }
  // Writes the partial block when it holds data; never an empty block.
  void Flush();
};

// The string table of the LZW encoder: open addressing over 8192 slots, each
// (key << 12) | code, all ones in the key bits when free. A key's first slot
// is the top 13 bits of key times 2654435761 (Fibonacci hashing); probing goes
// on to the next slot, wrapping, so it meets every slot. At most 4093 strings
// are stored before the table restarts, so a free slot is always met, after
// about 1.2 probes on average.
class THashTable {
public:
  static constexpr int kSlots = 8192;
  static constexpr uint32_t kFreeMask = 0xFFFFF000u;
  THashTable() : FSlots(new uint32_t[kSlots]) { Empty(); }
  void Empty();
  void Store(uint32_t key, int code) {
    uint32_t* slot;
    if (Lookup(key, slot) < 0) *slot = (key << 12) | (uint32_t(code) & 0xFFF);
  }
  // The code stored for key, or 0xFFFF.
  uint16_t Find(uint32_t key) {
    uint32_t* slot;
    const int code = Lookup(key, slot);
    return code < 0 ? 0xFFFF : uint16_t(code);
  }
  // The code stored for key; or -1, and slot is the free slot where it would go.
  int Lookup(uint32_t key, uint32_t*& slot) { return Lookup(FSlots.get(), key, slot); }
  static int Lookup(uint32_t* slots, uint32_t key, uint32_t*& slot) {
    uint32_t h = (key * 2654435761u) >> 19;
    const uint32_t wanted = key << 12;
    for (;;) {
      const uint32_t value = slots[h];
      if (__builtin_expect((value & kFreeMask) == wanted, 1)) return int(value & 0xFFF);
      if ((value & kFreeMask) == kFreeMask) {
        slot = &slots[h];
        return -1;
      }
      h = (h + 1) & (kSlots - 1);
    }
  }
  uint32_t* Slots() { return FSlots.get(); }

private:
  std::unique_ptr<uint32_t[]> FSlots;
};

uint16_t CodeMaskForBits(int bits);

// Shared part of both encoders: code packing (least significant bit first),
// the pixel walk (rows in interlace order when asked) and the frame framing.
class TGIFEncoder : public TObject {
public:
  // Writes the minimum code size, the image data sub-blocks and the block
  // terminator. Pixel values must be below colorCount (and fit pixelBits).
  void EncodeFrame(TStream& stream, int pixelBits, int width, int height, bool interlaced, const uint8_t* pixels,
                   int colorCount);

  TGIFWarningFn WarningHandler;

protected:
  virtual void PutCode(int code);
  virtual void EmitClear();
  virtual void EncodePixels() = 0;

  // Advances after a pixel was taken; false when the image is done.
  bool NextPixelPosition() { return --FRowLeft > 0 || NextRow(); }
  // The pixel at the cursor, checked against the colour count; moves on.
  int TakePixel() {
    const int p = *FCursor++;
    if (p >= FPixelLimit) PixelOutsideTable();
    return p;
  }

  TStream* FTarget = nullptr;
  TGIFWriter* FWriter = nullptr;
  int FPixelBits = 0;
  int FFrameWidth = 0, FFrameHeight = 0;
  bool FInterlaced = false;
  const uint8_t* FPixels = nullptr;
  int FColorCount = 0;
  int FInitialCodeBits = 0, FCodeBits = 0, FCodeCeiling = 0;
  int FClearSymbol = 0, FEndCode = 0, FFirstFreeCode = 0;
  uint32_t FBucket = 0;
  int FBucketBits = 0;
  const uint8_t* FCursor = nullptr;
  int64_t FRowLeft = 0;
  int FRow = 0, FPassNo = 0;
  bool FClearPending = false;
  int FPixelLimit = 0;  // pixel values must stay below it

  [[noreturn]] static void PixelOutsideTable();

private:
  bool NextRow();
};

class TLZWEncoder : public TGIFEncoder {
protected:
  void PutCode(int code) override;
  void EmitClear() override;
  void EncodePixels() override;

private:
  int FCurrentString = 0;
  int FNextFree = 0;
  THashTable* FTable = nullptr;
};

class TRLEEncoder : public TGIFEncoder {
protected:
  void EmitClear() override;
  void EncodePixels() override;

private:
  void PutPlain(int code);
  void SetMaxClear() { FClearAt = FTableRoom; }
  void RestoreClear();
  void RunsFromClear(int64_t count);
  void ClearOrRepeat(int64_t count);
  void RunsFromTable(int64_t count);
  void FlushRun(int64_t count);

  int FRunPixel = -1;
  int FRunTablePixel = -1;
  int64_t FLongestRun = 0;
  int FCodesSinceClear = 0;
  int FWidenAt = 0, FWidenAtStart = 0;
  int FClearAt = 0, FClearAtStart = 0;
  int FTableRoom = 0;
};

// Integer square root (the floor).
int64_t IntSqrt(int64_t x);
// Codes needed to emit count pixels of one value as growing runs from a
// cleared table that holds at most limit codes.
int64_t TriangleCost(int64_t count, int64_t limit);

}  // namespace om
