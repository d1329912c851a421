#include "gif/gif_encoder.h"

#include <algorithm>
#include <cstring>

namespace om {

// --- TGIFStream / TGIFWriter ---------------------------------------------------

int64_t TGIFStream::Read(void*, int64_t) { throw Exception("Invalid stream operation"); }
int64_t TGIFStream::Write(const void*, int64_t) { throw Exception("Invalid stream operation"); }
int64_t TGIFStream::Seek(int64_t, TSeekOrigin) { throw Exception("Invalid stream operation"); }
void TGIFStream::SetSize(int64_t) { throw Exception("Invalid stream operation"); }

int64_t TGIFWriter::Write(const void* buffer, int64_t count) {
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  int64_t left = count;
  while (left > 0) {
    int n = int(std::min<int64_t>(left, 256 - FBlockFill));
    std::memcpy(FBlock + FBlockFill, p, size_t(n));
    FBlockFill += n;
    p += n;
    left -= n;
    if (FBlockFill >= 256) WriteBlock();
  }
  return count;
}

void TGIFWriter::WriteBlock() {
  if (FBlockFill > 0) {
    FBlock[0] = uint8_t(FBlockFill - 1);
    FTarget.WriteBuffer(FBlock, FBlockFill);
  }
  FBlockFill = 1;
}

void TGIFWriter::Flush() {
  if (FBlockFill > 1) WriteBlock();
}

// --- THashTable --------------------------------------------------------------

void THashTable::Empty() { std::memset(FSlots.get(), 0xFF, sizeof(uint32_t) * kSlots); }

uint16_t CodeMaskForBits(int bits) { return uint16_t((1u << bits) - 1); }

// --- TGIFEncoder ---------------------------------------------------------------

void TGIFEncoder::EncodeFrame(TStream& stream, int pixelBits, int width, int height, bool interlaced,
                              const uint8_t* pixels, int colorCount) {
  if (pixelBits < 2) pixelBits = 2;
  // Codes are at most 12 bits wide and pixels are bytes.
  if (pixelBits > 8) RaiseGIFError("Invalid LZW code size");
  FTarget = &stream;
  FPixelBits = pixelBits;
  FFrameWidth = width;
  FFrameHeight = height;
  FInterlaced = interlaced;
  FPixels = pixels;
  FColorCount = colorCount;
  FInitialCodeBits = pixelBits + 1;
  WriteOneByte(stream, uint8_t(pixelBits));
  FCodeBits = FInitialCodeBits;
  FCodeCeiling = CodeMaskForBits(FCodeBits);
  FClearSymbol = 1 << pixelBits;
  FEndCode = FClearSymbol + 1;
  FFirstFreeCode = FClearSymbol + 2;
  FBucket = 0;
  FBucketBits = 0;
  FRowLeft = interlaced ? int64_t(width) : int64_t(width) * int64_t(height);
  FRow = 0;
  FPassNo = 0;
  FCursor = pixels;
  FClearPending = false;
  FPixelLimit = std::min(colorCount, FClearSymbol);

  TGIFWriter writer(stream);
  writer.WarningHandler = WarningHandler;
  FWriter = &writer;
  try {
    if (pixels && width > 0 && height > 0) EncodePixels();
    PutCode(FEndCode);
  } catch (...) {
    FWriter = nullptr;
    try {
      writer.Flush();
    } catch (...) {
    }
    throw;
  }
  FWriter = nullptr;
  writer.Flush();
  WriteOneByte(stream, 0);
}

void TGIFEncoder::PutCode(int code) {
  if (FBucketBits > 0)
    FBucket = (uint32_t(code) << FBucketBits) | (FBucket & ((1u << FBucketBits) - 1));
  else
    FBucket = uint32_t(code);
  FBucketBits += FCodeBits;
  while (FBucketBits >= 8) {
    FWriter->WriteOne(uint8_t(FBucket));
    FBucket >>= 8;
    FBucketBits -= 8;
  }
  if (code == FEndCode) {
    while (FBucketBits > 0) {
      FWriter->WriteOne(uint8_t(FBucket));
      FBucket >>= 8;
      FBucketBits -= 8;
    }
    FBucketBits = 0;
  }
}

void TGIFEncoder::EmitClear() {
  FClearPending = true;
  PutCode(FClearSymbol);
}

bool TGIFEncoder::NextRow() {
  if (!FInterlaced) return false;
  static const int kStart[4] = {0, 4, 2, 1};
  static const int kStep[4] = {8, 8, 4, 2};
  FRowLeft = FFrameWidth;
  FRow += kStep[FPassNo];
  while (FRow >= FFrameHeight && FPassNo < 3) {
    ++FPassNo;
    FRow = kStart[FPassNo];
  }
  if (FRow >= FFrameHeight) return false;
  FCursor = FPixels + size_t(FRow) * size_t(FFrameWidth);
  return true;
}

void TGIFEncoder::PixelOutsideTable() { RaiseGIFError("Color not in color table"); }

// --- TLZWEncoder ---------------------------------------------------------------

void TLZWEncoder::PutCode(int code) {
  TGIFEncoder::PutCode(code);
  if (FClearPending) {
    FCodeBits = FInitialCodeBits;
    FCodeCeiling = CodeMaskForBits(FCodeBits);
    FClearPending = false;
  } else if (FNextFree > FCodeCeiling) {
    ++FCodeBits;
    FCodeCeiling = FCodeBits == 12 ? 4096 : CodeMaskForBits(FCodeBits);
  }
}

void TLZWEncoder::EmitClear() {
  TGIFEncoder::EmitClear();
  FTable->Empty();
  FNextFree = FClearSymbol + 2;
}

void TLZWEncoder::EncodePixels() {
  std::unique_ptr<THashTable> table(new THashTable);
  FTable = table.get();
  struct Reset {
    THashTable*& t;
    ~Reset() { t = nullptr; }
  } reset{FTable};
  // The latest string met after each code: (pixel << 16) | code of the
  // longer string, all ones when none. It answers most lookups of pictures
  // that repeat themselves without asking the table; it is emptied with it.
  std::unique_ptr<uint32_t[]> latest(new uint32_t[4096]);
  auto forget = [&latest] { std::memset(latest.get(), 0xFF, sizeof(uint32_t) * 4096); };
  EmitClear();
  forget();
  // The pixel walk row by row (or the whole image at once): the pixels of
  // the current run are taken here, with the current string in a local.
  int current = TakePixel();
  int64_t left = FRowLeft - 1;
  const int limit = FPixelLimit;
  uint32_t* const slots = table->Slots();
  for (;;) {
    const uint8_t* cursor = FCursor;
    for (const uint8_t* end = cursor + left; cursor < end;) {
      const int p = *cursor++;
      if (p >= limit) {
        FCursor = cursor;
        PixelOutsideTable();
      }
      const uint32_t known = latest[size_t(current)];
      if ((known >> 16) == uint32_t(p)) {
        current = int(known & 0xFFFF);
        continue;
      }
      const uint32_t key = (uint32_t(current) << 8) | uint32_t(p);
      uint32_t* slot;
      const int found = THashTable::Lookup(slots, key, slot);
      if (__builtin_expect(found >= 0, 1)) {
        latest[size_t(current)] = (uint32_t(p) << 16) | uint32_t(found);
        current = found;
        continue;
      }
      PutCode(current);
      if (FNextFree >= 4095) {
        EmitClear();
        forget();
      } else {
        *slot = (key << 12) | uint32_t(FNextFree);
        latest[size_t(current)] = (uint32_t(p) << 16) | uint32_t(FNextFree);
        ++FNextFree;
      }
      current = p;
    }
    FCursor = cursor;
    FRowLeft = 1;
    if (!NextPixelPosition()) break;
    left = FRowLeft;
  }
  FCurrentString = current;
  PutCode(FCurrentString);
}

// --- TRLEEncoder ---------------------------------------------------------------

int64_t IntSqrt(int64_t x) {
  if (x <= 1) return x;
  int64_t r = 1;
  for (int64_t v = x; v > 0; v /= 4) r *= 2;
  for (;;) {
    int64_t next = (r + x / r) / 2;
    if (next >= r) return r;
    r = next;
  }
}

int64_t TriangleCost(int64_t count, int64_t limit) {
  const int64_t per = limit * (limit + 1) / 2;
  int64_t cost = 0;
  if (per > 0) {
    cost = (count / per) * limit;
    count %= per;
  }
  if (count > 0) {
    int64_t n = IntSqrt(count);
    while (n > 0 && n * (n + 1) >= 2 * count) --n;
    while (n * (n + 1) < 2 * count) ++n;
    cost += n;
  }
  return cost;
}

void TRLEEncoder::PutPlain(int code) {
  FClearPending = false;
  PutCode(code);
  ++FCodesSinceClear;
  if (FCodesSinceClear >= FWidenAt) {
    FWidenAt += 1 << FCodeBits;
    ++FCodeBits;
  }
  if (FCodesSinceClear >= FClearAt) EmitClear();
}

void TRLEEncoder::EmitClear() {
  FWidenAt = FWidenAtStart;
  FClearAt = FClearAtStart;
  FCodesSinceClear = 0;
  FLongestRun = 0;
  TGIFEncoder::EmitClear();
  FCodeBits = FInitialCodeBits;
}

void TRLEEncoder::RestoreClear() {
  FClearAt = FClearAtStart;
  if (FCodesSinceClear >= FClearAt) EmitClear();
}

void TRLEEncoder::RunsFromClear(int64_t count) {
  SetMaxClear();
  FRunTablePixel = FRunPixel;
  int64_t n = 1;
  while (count > 0) {
    if (n == 1) {
      FLongestRun = 1;
      PutPlain(FRunPixel);
      count -= 1;
    } else if (count >= n) {
      FLongestRun = n;
      PutPlain(int(FFirstFreeCode + n - 2));
      count -= n;
    } else {
      FLongestRun += 1;
      if (count == 1)
        PutPlain(FRunPixel);
      else
        PutPlain(int(FFirstFreeCode + count - 2));
      count = 0;
    }
    n = FCodesSinceClear == 0 ? 1 : n + 1;
  }
  RestoreClear();
}

void TRLEEncoder::ClearOrRepeat(int64_t count) {
  if (TriangleCost(count, FTableRoom) + 1 < count) {
    EmitClear();
    RunsFromClear(count);
  } else {
    for (int64_t i = 0; i < count; ++i) PutPlain(FRunPixel);
  }
}

void TRLEEncoder::RunsFromTable(int64_t count) {
  int64_t reps = count / FLongestRun;
  int64_t left = count % FLongestRun;
  int64_t extra = left > 0 ? 1 : 0;
  if (FCodesSinceClear + reps + extra > FTableRoom) {
    reps = FTableRoom - FCodesSinceClear;
    left = count - reps * FLongestRun;
    extra = TriangleCost(left, FTableRoom) + 1;
  }
  if (TriangleCost(count, FTableRoom) + 1 < reps + extra) {
    EmitClear();
    RunsFromClear(count);
    return;
  }
  SetMaxClear();
  const int runCode = int(FFirstFreeCode + FLongestRun - 2);
  for (int64_t i = 0; i < reps; ++i) PutPlain(runCode);
  if (left > 0) {
    if (FClearPending)
      RunsFromClear(left);
    else if (left == 1)
      PutPlain(FRunPixel);
    else
      PutPlain(int(FFirstFreeCode + left - 2));
  }
  RestoreClear();
}

void TRLEEncoder::FlushRun(int64_t count) {
  if (count == 1)
    PutPlain(FRunPixel);
  else if (FClearPending)
    RunsFromClear(count);
  else if (FLongestRun >= 2 && FRunTablePixel == FRunPixel)
    RunsFromTable(count);
  else
    ClearOrRepeat(count);
}

void TRLEEncoder::EncodePixels() {
  FWidenAtStart = FClearSymbol - 1;
  FClearAtStart = FPixelBits > 3 ? FClearSymbol - 2 : 9;
  FTableRoom = CodeMaskForBits(12) - FFirstFreeCode;
  FRunPixel = -1;
  FRunTablePixel = -1;
  EmitClear();
  int64_t run = 0;
  do {
    const int p = TakePixel();
    if (run > 0 && p != FRunPixel) {
      FlushRun(run);
      run = 0;
    }
    if (p == FRunPixel) {
      ++run;
    } else {
      FRunPixel = p;
      run = 1;
    }
  } while (NextPixelPosition());
  FlushRun(run);
}

}  // namespace om
