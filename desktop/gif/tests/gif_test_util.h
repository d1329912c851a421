// Helpers of the GIF codec tests: whole GIF files built from the codec's
// header and encoders, and read back with its header and decoder.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "gif/gif_support.h"

namespace om::giftest {

// A whole file's bytes (empty when it cannot be read), and writing them back.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

struct Frame {
  int Width = 0, Height = 0;
  bool Interlaced = false;
  std::vector<uint8_t> Pixels;
  std::vector<uint8_t> LocalTable;  // r, g, b per entry; empty without one
};

struct Parsed {
  int ScreenWidth = 0, ScreenHeight = 0;
  int GlobalColors = 0;
  std::vector<uint8_t> GlobalTable;
  std::vector<Frame> Frames;
  std::vector<std::string> Warnings;
};

// Reads every block of a GIF file; frames larger than maxPixels are refused
// (GIFException) so that fuzzed sizes stay cheap.
Parsed ParseGIF(const std::string& bytes, int64_t maxPixels = 1 << 24);

// Encoded image data of one frame (code size byte, sub-blocks, terminator).
std::string EncodeData(int colors, int width, int height, bool interlaced, const std::vector<uint8_t>& pixels,
                       bool rle);

// A one-frame GIF87a file with a global table of `colors` distinct colours.
std::string MakeGIF(int colors, int width, int height, bool interlaced, const std::vector<uint8_t>& pixels,
                    bool rle);

// Colour of pixel i of a frame (local table first, then the global one).
uint32_t PixelColor(const Parsed& p, const Frame& f, size_t i);

// Distinct colour i of a test palette.
TGIFColor TestColor(int i);

// Pixels of several kinds (random, runs, gradients, one colour).
std::vector<uint8_t> MakePixels(std::mt19937& rng, int kind, int width, int height, int colors);

}  // namespace om::giftest
