#include "service/paths.h"

#include "platform/win32_owners.h"

namespace ombackup {

std::string programFolder() {
  std::string path = om::moduleFileName();
  size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool directoryExists(const std::string& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace ombackup
