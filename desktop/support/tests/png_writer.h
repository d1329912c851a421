// Screenshots for test artefacts: the screen as a PNG file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace om {
namespace testing {

// Writes width x height pixels (0x00RRGGBB, rows top first) as an RGB PNG.
bool WritePng(const std::string& path, int width, int height, const std::vector<uint32_t>& pixels);

// Captures the whole screen and writes it to path.
bool SaveScreenshot(const std::string& path);

// A file name beside the running test program.
std::string BesideProgram(const std::string& name);

}  // namespace testing
}  // namespace om
