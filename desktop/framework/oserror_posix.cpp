// Elsewhere: errno and its C library text.
#include <cerrno>
#include <cstring>

#include "framework/exceptions.h"

namespace om {

std::string SysErrorMessage(uint32_t errorCode) {
  return std::strerror(static_cast<int>(errorCode));
}

void RaiseLastOSError() {
  int code = errno;
  if (code == 0) throw EOSError("A call to an OS function failed", 0);
  RaiseOSError(static_cast<uint32_t>(code));
}

}  // namespace om
