#include "gif/gif_lzw.h"

#include <algorithm>
#include <cstring>

namespace om {

namespace {

constexpr int kTableSize = 4096;
constexpr int kStackSize = 8192;
constexpr int kNoData = -1;
constexpr int kEndOfData = -2;
// Strings at least this long are copied from their earlier place in the output.
constexpr int kCopyLength = 8;

// The whole decoder state of one frame; lives on the caller's stack.
class TLZWDecoder {
public:
  TLZWDecoder(TStream& stream, const TGIFWarningFn& warning) : FStream(stream), FWarning(warning) {
    std::memset(FBuffer, 0, sizeof FBuffer);
  }

  // False when the stream holds no code size byte.
  bool Start() {
    uint8_t size = 0;
    if (FStream.Read(&size, 1) != 1) return false;
    // Pixel values are bytes; larger code sizes cannot come from a GIF
    // encoder and would overflow the code table.
    if (size > 8) RaiseGIFError("Invalid LZW code size");
    FMinCodeSize = size;
    FClearSymbol = 1 << size;
    FEndCode = FClearSymbol + 1;
    FCodeSize = FMinCodeSize + 1;
    FCodeLimit = 2 * FClearSymbol;
    FNextCode = FClearSymbol + 2;
    return true;
  }

  int NextPixel() {
    if (FStackTop > 0) return FStack[--FStackTop];
    return NextLZW();
  }

  // Decodes up to max pixels into out and returns how many it wrote; fewer
  // when the data ends (the end code, or no more data). The same as max calls
  // of NextPixel, with the common case (a table code within the buffered
  // bits) decoded here with the state in locals. When it raises, Filled()
  // tells how many pixels it wrote. With whole (one call for the whole
  // frame), long strings are copied from where they were written before.
  size_t Fill(uint8_t* out, size_t max, bool whole = false) {
    return whole ? FillRun<true>(out, max) : FillRun<false>(out, max);
  }

  template <bool whole>
  size_t FillRun(uint8_t* out, size_t max) {
    size_t n = 0;
    int top = FStackTop;
    int64_t prevStart = -1;  // where the previous code's string went, when known
    int prevLength = 0;
    try {
      for (;;) {
        while (top > 0 && n < max) out[n++] = FStack[--top];
        if (n >= max) break;
        const int width = FCodeSize;
        const int curBit = FCurBit;
        int code = FClearSymbol;
        if (curBit + width < FLastBit) {
          const int at = curBit >> 3;
          const uint32_t bits =
              uint32_t(FBuffer[at]) | (uint32_t(FBuffer[at + 1]) << 8) | (uint32_t(FBuffer[at + 2]) << 16);
          code = int((bits >> (curBit & 7)) & ((1u << width) - 1));
        }
        if (code == FClearSymbol || code == FEndCode || FEnded) {
          // Clear and end codes, block boundaries, the start and the end.
          FStackTop = top;
          const int v = NextLZW();
          top = FStackTop;
          prevStart = -1;
          if (v < 0) break;
          out[n++] = uint8_t(v);
          continue;
        }
        FCurBit = curBit + width;
        const int incoming = code;
        const int nextCode = FNextCode;
        const int clear = FClearSymbol;
        // A string whose chain only leads to earlier entries (its length
        // known) goes straight into out when it fits there.
        const int kwkwk = code >= nextCode;
        const int length = kwkwk ? (FOldCode >= 0 && FLength[FOldCode] ? FLength[FOldCode] + 1 : 0) : FLength[code];
        if (length > 0 && size_t(length) <= max - n) {
          const int source = kwkwk ? FOldCode : code;  // the entry whose string is written
          int32_t from = -1;
          if constexpr (whole) {
            if (length >= kCopyLength) from = FPos[source];
          }
          uint8_t first;
          if (from >= 0) {
            // Its string is already in out, complete, before n.
            first = out[from];
            if (kwkwk) {
              std::memcpy(out + n, out + from, size_t(length - 1));
              out[n + size_t(length) - 1] = uint8_t(FFirstCode);
            } else {
              std::memcpy(out + n, out + from, size_t(length));
            }
          } else {
            uint8_t* p = out + n + length - 1;
            if (kwkwk) {
              *p-- = uint8_t(FFirstCode);
              code = FOldCode;
            }
            while (code >= clear) {
              *p-- = FSuffix[code];
              code = FPrefix[code];
            }
            first = FSuffix[code];
            *p = first;
          }
          AddEntry(nextCode, first);
          if constexpr (whole) {
            // The new entry is the previous string and this one's first value:
            // in out when the two were written one after the other.
            if (prevLength + 1 >= kCopyLength && prevStart >= 0 && prevStart + prevLength == int64_t(n) &&
                nextCode <= kTableSize - 1)
              FPos[nextCode] = int32_t(prevStart);
            prevStart = int64_t(n);
            prevLength = length;
          }
          n += size_t(length);
          FOldCode = incoming;
          continue;
        }
        prevStart = -1;
        if (kwkwk) {
          if (FOldCode < 0) break;
          FStack[top++] = uint8_t(FFirstCode);
          code = FOldCode;
        }
        while (code >= clear) {
          if (top >= kStackSize) Circular(top);
          FStack[top++] = FSuffix[code];
          if (FPrefix[code] == code) Circular(top);
          code = FPrefix[code];
        }
        const uint8_t first = FSuffix[code];
        if (top >= kStackSize) Circular(top);
        FStack[top++] = first;
        AddEntry(nextCode, first);
        FOldCode = incoming;
      }
    } catch (...) {
      FFilled = n;
      throw;
    }
    FStackTop = top;
    FFilled = n;
    return n;
  }

  // How many pixels the last Fill wrote, also when it raised.
  size_t Filled() const { return FFilled; }

  // Leaves the stream after the frame's data sub-blocks.
  void SkipToTerminator() {
    if (FDone) return;
    for (;;) {
      uint8_t n = 0;
      if (FStream.Read(&n, 1) != 1 || n == 0) break;
      FStream.Seek(n, soCurrent);
    }
    FDone = FTerminatorSeen = true;
  }

  bool Ended() const { return FEnded; }

private:
  void Warn(const char* message) {
    if (FWarning) FWarning(1, message);
  }

  // The string of the previous code and first as the next table entry, and
  // first as the first value of the string just decoded.
  void AddEntry(int nextCode, uint8_t first) {
    FFirstCode = first;
    if (nextCode > kTableSize - 1) return;
    FPrefix[nextCode] = int16_t(FOldCode);
    FSuffix[nextCode] = first;
    FPos[nextCode] = -1;
    // Known length only for a chain through entries that can no more change.
    FLength[nextCode] = FOldCode >= 0 && FOldCode < nextCode && FLength[FOldCode] ? uint16_t(FLength[FOldCode] + 1) : 0;
    FNextCode = nextCode + 1;
    if (nextCode + 1 >= FCodeLimit && FCodeLimit <= kTableSize - 1) {
      FCodeLimit *= 2;
      ++FCodeSize;
    }
  }

  [[noreturn]] void Circular(int top) {
    FStackTop = top;
    RaiseGIFError("Circular decoder table entry");
  }

  // Values are stored as the pixels they become (the low byte).
  void Push(int value) {
    if (FStackTop >= kStackSize) RaiseGIFError("Circular decoder table entry");
    FStack[FStackTop++] = uint8_t(value);
  }

  // Reads the next sub-block behind the last two bytes of the previous one.
  bool LoadBlock() {
    FBuffer[0] = FBuffer[FLastByte - 2];
    FBuffer[1] = FBuffer[FLastByte - 1];
    uint8_t length = 0;
    if (FStream.Read(&length, 1) != 1) return false;
    int n = length;
    if (n > 0) {
      const int64_t remaining = FStream.Size() - FStream.Position();
      if (remaining < n) {
        Warn("Premature end of data");
        n = int(std::max<int64_t>(0, remaining));
      }
      if (n > 0) ReadExact(FStream, FBuffer + 2, n);
    } else {
      FDone = FTerminatorSeen = true;
    }
    FLastByte = n + 2;
    FCurBit = FCurBit - FLastBit + 16;
    FLastBit = (n + 2) * 8;
    return true;
  }

  int ReadCode(int width) {
    if (FPrimed) {
      FPrimed = false;
      return FClearSymbol;
    }
    if (FCurBit + width >= FLastBit) {
      if (FDone) {
        if (FCurBit >= FLastBit) Warn("Decoder bit buffer under-run");
        return kNoData;
      }
      // Short sub-blocks: a code may span more than two of them.
      do {
        if (!LoadBlock()) return kNoData;
      } while (!FDone && FCurBit + width > FLastBit);
      if (FCurBit + width > FLastBit) {
        // The data ends inside this code: padding is no pixel.
        Warn("Decoder bit buffer under-run");
        return kNoData;
      }
    }
    const int at = FCurBit / 8;
    const uint32_t bits = uint32_t(FBuffer[at]) | (uint32_t(FBuffer[at + 1]) << 8) | (uint32_t(FBuffer[at + 2]) << 16);
    const int code = int((bits >> (FCurBit % 8)) & ((1u << width) - 1));
    FCurBit += width;
    return code;
  }

  void ResetTable() {
    for (int i = 0; i < kTableSize; ++i) {
      FPrefix[i] = 0;
      FSuffix[i] = uint8_t(i < FClearSymbol ? i : 0);
      FLength[i] = i < FClearSymbol ? 1 : 0;
    }
    FCodeSize = FMinCodeSize + 1;
    FCodeLimit = 2 * FClearSymbol;
    FNextCode = FClearSymbol + 2;
    FStackTop = 0;
  }

  int EndOfData() {
    if (!FTerminatorSeen) SkipToTerminator();
    FEnded = true;
    return kEndOfData;
  }

  int NextLZW() {
    if (FEnded) return kEndOfData;
    for (;;) {
      int code = ReadCode(FCodeSize);
      if (code < 0) return code;
      if (code == FClearSymbol) {
        ResetTable();
        do {
          code = ReadCode(FCodeSize);
        } while (code == FClearSymbol);
        // An end code straight after a clear ends the data (an empty frame).
        if (code == FEndCode) return EndOfData();
        FFirstCode = FOldCode = code;
        return code;
      }
      if (code == FEndCode) return EndOfData();

      const int incoming = code;
      if (code >= FNextCode) {
        if (FOldCode < 0) return kNoData;
        Push(FFirstCode);
        code = FOldCode;
      }
      while (code >= FClearSymbol) {
        Push(FSuffix[code]);
        if (FPrefix[code] == code) RaiseGIFError("Circular decoder table entry");
        code = FPrefix[code];
      }
      FFirstCode = FSuffix[code];
      Push(FFirstCode);

      AddEntry(FNextCode, uint8_t(FFirstCode));
      FOldCode = incoming;
      if (FStackTop > 0) return FStack[--FStackTop];
    }
  }

  TStream& FStream;
  const TGIFWarningFn& FWarning;
  int FMinCodeSize = 0, FCodeSize = 0, FClearSymbol = 0, FEndCode = 0, FNextCode = 0, FCodeLimit = 0;
  // Codes below 4096 and values below 256 (a suffix is always a value below
  // the clear code); kept small so that the tables stay in the first-level cache.
  int16_t FPrefix[kTableSize] = {};
  uint8_t FSuffix[kTableSize] = {};
  // Length of an entry's string when its chain leads only to earlier
  // entries, which no more change until the next clear code; 0 otherwise.
  uint16_t FLength[kTableSize] = {};
  // Where in the output of a whole-frame Fill an entry's string was written
  // (when it was, in one piece); -1 otherwise.
  int32_t FPos[kTableSize];
  int32_t FFirstCode = 0, FOldCode = 0;
  uint8_t FStack[kStackSize];
  int FStackTop = 0;
  // Two bytes carried from the previous sub-block, one sub-block, and slack
  // for the three-byte read at the very end of a full block.
  uint8_t FBuffer[2 + 255 + 3];
  int FCurBit = 0, FLastBit = 0, FLastByte = 2;
  bool FDone = false, FTerminatorSeen = false, FPrimed = true, FEnded = false;
  size_t FFilled = 0;
};

}  // namespace

namespace {

// Decodes into pixels in the walk order (rows top to bottom, or the four
// interlace passes); decoded counts the pixels written, also when it raises.
void DecodeWalk(TStream& stream, uint8_t* pixels, int width, int height, bool interlaced,
                const TGIFWarningFn& warning, size_t& decoded) {
  decoded = 0;
  TLZWDecoder decoder(stream, warning);
  if (!decoder.Start()) {
    // Cut right after the image descriptor (or its colour table).
    if (warning) warning(1, "Premature end of data");
    return;
  }
  // After the pixels: one more code, which is normally the end code; data
  // beyond the last pixel is skipped up to the terminator.
  auto finish = [&decoder] {
    if (!decoder.Ended()) decoder.NextPixel();
    decoder.SkipToTerminator();
  };
  try {
    if (width > 0 && height > 0) {
      if (!interlaced) {
        decoded = decoder.Fill(pixels, size_t(width) * size_t(height), true);
      } else {
        int row = 0, step = 8, pass = 0;
        for (int r = 0; r < height; ++r) {
          if (row >= height) break;
          const size_t n = decoder.Fill(pixels + size_t(row) * size_t(width), size_t(width));
          decoded += n;
          if (n < size_t(width)) break;
          row += step;
          while (row >= height && pass < 4) {
            if (pass > 0) step /= 2;
            ++pass;
            row = step / 2;
          }
        }
      }
    }
  } catch (...) {
    // The rows done and what the failing call wrote.
    decoded = interlaced ? decoded + decoder.Filled() : decoder.Filled();
    try {
      finish();
    } catch (...) {
    }
    throw;
  }
  finish();
}

// The pixels after the first decoded ones in the walk order get value.
void FillRest(uint8_t* pixels, int width, int height, bool interlaced, size_t decoded, uint8_t value) {
  const size_t total = size_t(width) * size_t(height);
  if (!interlaced) {
    if (decoded < total) std::memset(pixels + decoded, value, total - decoded);
    return;
  }
  size_t walked = 0;
  for (int pass = 0; pass < 4; ++pass) {
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    for (int row = kStart[pass]; row < height; row += kStep[pass]) {
      const size_t done = decoded > walked ? std::min(decoded - walked, size_t(width)) : 0;
      if (done < size_t(width))
        std::memset(pixels + size_t(row) * size_t(width) + done, value, size_t(width) - done);
      walked += size_t(width);
    }
  }
}

}  // namespace

void DecodeLZW(TStream& stream, uint8_t* pixels, int width, int height, bool interlaced,
               const TGIFWarningFn& warning) {
  size_t decoded = 0;
  DecodeWalk(stream, pixels, width, height, interlaced, warning, decoded);
}

void DecodeFrameData(TGIFFrameBase& frame, TStream& stream) {
  frame.AllocatePixelsForDecoding();
  const int width = frame.Width(), height = frame.Height();
  const uint8_t fill = frame.HasTransparency() ? uint8_t(frame.TransparentColorIndex()) : 0;
  uint8_t* pixels = frame.Pixels();
  const bool interlaced = frame.Interlaced();
  const TGIFWarningFn warning = [&frame](int severity, const std::string& message) {
    frame.Warning(severity, message);
  };
  // Pixels the data does not reach keep the fill index.
  size_t decoded = 0;
  try {
    DecodeWalk(stream, pixels, width, height, interlaced, warning, decoded);
  } catch (...) {
    if (pixels && width > 0 && height > 0) FillRest(pixels, width, height, interlaced, decoded, fill);
    throw;
  }
  if (pixels && width > 0 && height > 0) FillRest(pixels, width, height, interlaced, decoded, fill);
}

}  // namespace om
