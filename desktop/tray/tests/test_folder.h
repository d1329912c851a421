// A fresh temporary folder per test, removed afterwards; paths in the form the
// code under test uses (Windows paths under Wine).
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace om::testing {

class TTempFolder {
public:
  TTempFolder() {
    std::random_device rd;
    FPath = std::filesystem::temp_directory_path() / ("om-tray-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(FPath);
  }
  ~TTempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  // The folder without a trailing separator.
  std::string Path() const { return FPath.string(); }
  std::string File(const std::string& relative) const { return (FPath / relative).string(); }
  void Write(const std::string& relative, const std::string& bytes) const {
    std::filesystem::path p = FPath / relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f << bytes;
  }
  void MakeFolder(const std::string& relative) const { std::filesystem::create_directories(FPath / relative); }

private:
  std::filesystem::path FPath;
};

}  // namespace om::testing
