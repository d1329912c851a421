// Windows: error texts from the system message table.
#include <windows.h>

#include "framework/exceptions.h"

namespace om {

std::string SysErrorMessage(uint32_t errorCode) {
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, errorCode, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string s;
  if (n && text) s.assign(text, n);
  if (text) LocalFree(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

void RaiseLastOSError() {
  DWORD code = GetLastError();
  if (code == 0) throw EOSError("A call to an OS function failed", 0);
  RaiseOSError(code);
}

}  // namespace om
