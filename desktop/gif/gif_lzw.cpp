#include "gif/gif_lzw.h"

#include <algorithm>
#include <cstring>

namespace om {

namespace {

constexpr int kTableSize = 4096;
constexpr int kStackSize = 8192;
constexpr int kNoData = -1;
constexpr int kEndOfData = -2;

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

  // Moves values of the current string straight into out (at most max).
  size_t Drain(uint8_t* out, size_t max) {
    size_t n = 0;
    while (FStackTop > 0 && n < max) out[n++] = uint8_t(FStack[--FStackTop]);
    return n;
  }

private:
  void Warn(const char* message) {
    if (FWarning) FWarning(1, message);
  }

  void Push(int value) {
    if (FStackTop >= kStackSize) RaiseGIFError("Circular decoder table entry");
    FStack[FStackTop++] = value;
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
      FSuffix[i] = i < FClearSymbol ? i : 0;
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

      if (FNextCode <= kTableSize - 1) {
        FPrefix[FNextCode] = FOldCode;
        FSuffix[FNextCode] = FFirstCode;
        ++FNextCode;
        if (FNextCode >= FCodeLimit && FCodeLimit <= kTableSize - 1) {
          FCodeLimit *= 2;
          ++FCodeSize;
        }
      }
      FOldCode = incoming;
      if (FStackTop > 0) return FStack[--FStackTop];
    }
  }

  TStream& FStream;
  const TGIFWarningFn& FWarning;
  int FMinCodeSize = 0, FCodeSize = 0, FClearSymbol = 0, FEndCode = 0, FNextCode = 0, FCodeLimit = 0;
  int32_t FPrefix[kTableSize] = {};
  int32_t FSuffix[kTableSize] = {};
  int32_t FFirstCode = 0, FOldCode = 0;
  int32_t FStack[kStackSize];
  int FStackTop = 0;
  // Two bytes carried from the previous sub-block, one sub-block, and slack
  // for the three-byte read at the very end of a full block.
  uint8_t FBuffer[2 + 255 + 3];
  int FCurBit = 0, FLastBit = 0, FLastByte = 2;
  bool FDone = false, FTerminatorSeen = false, FPrimed = true, FEnded = false;
};

}  // namespace

void DecodeLZW(TStream& stream, uint8_t* pixels, int width, int height, bool interlaced,
               const TGIFWarningFn& warning) {
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
        const size_t count = size_t(width) * size_t(height);
        for (size_t i = 0; i < count;) {
          const int v = decoder.NextPixel();
          if (v < 0) break;
          pixels[i++] = uint8_t(v);
          i += decoder.Drain(pixels + i, count - i);
        }
      } else {
        int row = 0, step = 8, pass = 0;
        bool stop = false;
        for (int r = 0; r < height && !stop; ++r) {
          if (row >= height) break;
          uint8_t* line = pixels + size_t(row) * size_t(width);
          for (int x = 0; x < width;) {
            const int v = decoder.NextPixel();
            if (v < 0) {
              stop = true;
              break;
            }
            line[x++] = uint8_t(v);
            x += int(decoder.Drain(line + x, size_t(width - x)));
          }
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
    try {
      finish();
    } catch (...) {
    }
    throw;
  }
  finish();
}

void DecodeFrameData(TGIFFrameBase& frame, TStream& stream) {
  frame.AllocatePixels();
  const int width = frame.Width(), height = frame.Height();
  uint8_t fill = frame.HasTransparency() ? uint8_t(frame.TransparentColorIndex()) : 0;
  uint8_t* pixels = frame.Pixels();
  if (pixels && width > 0 && height > 0) std::memset(pixels, fill, size_t(width) * size_t(height));
  DecodeLZW(stream, pixels, width, height, frame.Interlaced(), [&frame](int severity, const std::string& message) {
    frame.Warning(severity, message);
  });
}

}  // namespace om
