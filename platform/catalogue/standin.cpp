// Our stand-in for the COM+ catalogue restore of catsrvut.dll: RegDBRestore with
// the path of a registration database backup. A file that exists is "restored";
// any other path fails with HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) and leaves an
// unrelated last error behind, as a library may: the caller must report the
// HRESULT, not the thread's last error.
#include "platform/win32.h"

#ifdef _WIN32
#define CATALOGUE_EXPORT extern "C" __declspec(dllexport)
#else
#define CATALOGUE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

CATALOGUE_EXPORT HRESULT WINAPI RegDBRestore(LPCWSTR path) {
  if (!path) return HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER);
  bool present = GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
  SetLastError(ERROR_ACCESS_DENIED);
  return present ? S_OK : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}
