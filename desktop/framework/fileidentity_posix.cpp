#include <sys/stat.h>

#include "framework/fileidentity.h"

namespace om {

bool GetFileIdentity(const std::string& fileName, TFileIdentity& identity) {
  struct stat st;
  if (fileName.empty() || ::stat(fileName.c_str(), &st) != 0) return false;
  identity.Volume = static_cast<uint64_t>(st.st_dev);
  identity.Index = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool IsSameFile(const std::string& a, const std::string& b) {
  TFileIdentity ia, ib;
  return GetFileIdentity(a, ia) && GetFileIdentity(b, ib) && ia == ib;
}

}  // namespace om
