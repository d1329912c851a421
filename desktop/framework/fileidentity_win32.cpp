// Windows: st_ino of the C runtime is always 0, so the identity comes from the
// volume serial number and file index of an open handle.
#include "framework/fileidentity.h"
#include "platform/win32_owners.h"

namespace om {

bool GetFileIdentity(const std::string& fileName, TFileIdentity& identity) {
  if (fileName.empty()) return false;
  UniqueFile file(CreateFileA(fileName.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !GetFileInformationByHandle(file.get(), &info)) return false;
  identity.Volume = info.dwVolumeSerialNumber;
  identity.Index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

bool IsSameFile(const std::string& a, const std::string& b) {
  TFileIdentity ia, ib;
  return GetFileIdentity(a, ia) && GetFileIdentity(b, ib) && ia == ib;
}

}  // namespace om
