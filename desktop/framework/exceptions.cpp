#include "framework/exceptions.h"

#include "framework/strutils.h"

namespace om {

void RaiseOSError(uint32_t errorCode) {
  std::string text = SysErrorMessage(errorCode);
  throw EOSError(Format("System Error.  Code: %u.\r\n%s", static_cast<unsigned>(errorCode),
                        text.c_str()),
                 errorCode);
}

}  // namespace om
