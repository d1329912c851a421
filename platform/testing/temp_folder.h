// A fresh temporary folder per test, removed with everything in it afterwards.
// Paths are the host's: Windows paths for a test program under Wine.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace om::testing {

// A host path as the Win32 calls take it: unchanged under Wine, with drive C:
// for the host root and backslashes on the stand-in.
inline std::string windowsPath(const std::string& hostPath) {
#ifdef _WIN32
  return hostPath;
#else
  std::string path = "C:" + hostPath;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
#endif
}

class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "om-test-") {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / (prefix + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  // The folder, without a trailing separator.
  std::string path() const { return path_.string(); }
  const std::filesystem::path& fsPath() const { return path_; }
  std::string file(const std::string& relative) const { return (path_ / relative).string(); }

  // Writes `bytes` to a file (making its folders), replacing what was there.
  void write(const std::string& relative, const std::string& bytes) const {
    std::filesystem::path file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  std::string read(const std::string& relative) const {
    std::ifstream in(path_ / relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void makeFolder(const std::string& relative) const { std::filesystem::create_directories(path_ / relative); }

 private:
  std::filesystem::path path_;
};

}  // namespace om::testing
