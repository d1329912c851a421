// Windows: error texts from the system message table.
#include "framework/exceptions.h"
#include "platform/win32_owners.h"

namespace om {

std::string SysErrorMessage(uint32_t errorCode) { return systemMessage(errorCode); }

void RaiseLastOSError() {
  DWORD code = GetLastError();
  if (code == 0) throw EOSError("A call to an OS function failed", 0);
  RaiseOSError(code);
}

}  // namespace om
