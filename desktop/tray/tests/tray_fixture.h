// A program folder for the tray monitor's form tests: message resources from
// tests/fixtures, icons drawn here, the agent's port in ombackup.properties.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/testing/temp_folder.h"

namespace om::testing {

// A 16 x 16 icon file of one colour (32 bits per pixel, empty mask).
inline std::string IconFileBytes(uint32_t bgra) {
  std::string s;
  auto u16 = [&](uint16_t v) { s += static_cast<char>(v & 255), s += static_cast<char>(v >> 8); };
  auto u32 = [&](uint32_t v) { u16(static_cast<uint16_t>(v)), u16(static_cast<uint16_t>(v >> 16)); };
  const uint32_t image = 40 + 16 * 16 * 4 + 16 * 4;
  u16(0), u16(1), u16(1);                                  // icon directory, one image
  s += static_cast<char>(16), s += static_cast<char>(16);  // width, height
  s += '\0', s += '\0';                                    // colours, reserved
  u16(1), u16(32), u32(image), u32(22);
  u32(40), u32(16), u32(32), u16(1), u16(32), u32(0), u32(16 * 16 * 4), u32(0), u32(0), u32(0), u32(0);
  for (int i = 0; i < 16 * 16; ++i) u32(bgra);
  s.append(16 * 4, '\0');
  return s;
}

inline std::string FixturePath(const std::string& relative) {
#ifdef _WIN32
  return std::string("Z:") + OM_TRAY_FIXTURES + "/" + relative;
#else
  return std::string(OM_TRAY_FIXTURES) + "/" + relative;
#endif
}

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Fills folder with what the tray program finds beside itself.
inline void MakeTrayFolder(const TempFolder& folder, int agentPort) {
  folder.write("resource.properties", ReadFileBytes(FixturePath("resource.properties")));
  folder.write("brand/brand.properties", ReadFileBytes(FixturePath("brand/brand.properties")));
  const uint32_t colours[] = {0xFF2080FFu, 0xFF808080u, 0xFF20C020u, 0xFF20D040u, 0xFF20E060u, 0xFF20F080u};
  for (int n = 1; n <= 6; ++n)
    folder.write("brand/images/Runner" + std::to_string(n) + ".ico", IconFileBytes(colours[n - 1]));
  folder.write("ombackup.properties", "service.port=" + std::to_string(agentPort) + "\r\n");
  folder.write("connection.properties", "host=localhost\r\n");
}

#ifdef OM_CONSOLE_HOST_EXE
// The Java console of an installation: the stand-in host program as javaw of
// its runtime, which logs its command line and, with a "stop" file beside it,
// ends at once.
inline const char* kConsoleBin = "OmJre\\jre1.8\\bin";

inline void InstallConsole(const TempFolder& folder) {
  folder.makeFolder(kConsoleBin);
  std::filesystem::copy_file(std::string("Z:") + OM_CONSOLE_HOST_EXE,
                             folder.file(std::string(kConsoleBin) + "\\javaw.exe"),
                             std::filesystem::copy_options::overwrite_existing);
  folder.write(std::string(kConsoleBin) + "\\stop", "");
  folder.write("lib\\omgui.jar", "jar");
}

// The command lines the console was started with, in order.
inline std::vector<std::string> ConsoleLaunches(const TempFolder& folder) {
  std::vector<std::string> out;
  std::string log = ReadFileBytes(folder.file(std::string(kConsoleBin) + "\\events.log"));
  size_t pos = 0;
  while (pos < log.size()) {
    size_t end = log.find("\r\n", pos);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(pos, end - pos);
    if (line.rfind("console[", 0) == 0 && line.size() > 9) out.push_back(line.substr(8, line.size() - 9));
    pos = end + 2;
  }
  return out;
}
#endif

}  // namespace om::testing
