// FormatMessage with the system texts of the codes the project reports, and the
// local heap that FORMAT_MESSAGE_ALLOCATE_BUFFER allocates from.
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "../win32.h"
#include "internal.h"

namespace {

const std::unordered_map<DWORD, const char*>& systemTexts() {
  static const auto* texts = new std::unordered_map<DWORD, const char*>{
      {0, "The operation completed successfully."},
      {1, "Incorrect function."},
      {2, "The system cannot find the file specified."},
      {3, "The system cannot find the path specified."},
      {4, "The system cannot open the file."},
      {5, "Access is denied."},
      {6, "The handle is invalid."},
      {8, "Not enough memory resources are available to process this command."},
      {13, "The data is invalid."},
      {14, "Not enough memory resources are available to complete this operation."},
      {18, "There are no more files."},
      {17, "The system cannot move the file to a different disk drive."},
      {32, "The process cannot access the file because it is being used by another process."},
      {38, "Reached the end of the file."},
      {50, "The request is not supported."},
      {80, "The file exists."},
      {87, "The parameter is incorrect."},
      {109, "The pipe has been ended."},
      {112, "There is not enough space on the disk."},
      {120, "This function is not supported on this system."},
      {122, "The data area passed to a system call is too small."},
      {123, "The filename, directory name, or volume label syntax is incorrect."},
      {126, "The specified module could not be found."},
      {127, "The specified procedure could not be found."},
      {145, "The directory is not empty."},
      {183, "Cannot create a file when that file already exists."},
      {193, "%1 is not a valid Win32 application."},
      {203, "The system could not find the environment option that was entered."},
      {234, "More data is available."},
      {258, "The wait operation timed out."},
      {259, "No more data is available."},
      {267, "The directory name is invalid."},
      {995, "The I/O operation has been aborted because of either a thread exit or an application request."},
      {997, "Overlapped I/O operation is in progress."},
      {998, "Invalid access to memory location."},
      {1008, "An attempt was made to reference a token that does not exist."},
      {1052, "The requested control is not valid for this service."},
      {1053, "The service did not respond to the start or control request in a timely fashion."},
      {1056, "An instance of the service is already running."},
      {1058, "The service cannot be started, either because it is disabled or because it has no enabled devices "
             "associated with it."},
      {1060, "The specified service does not exist as an installed service."},
      {1061, "The service cannot accept control messages at this time."},
      {1062, "The service has not been started."},
      {1063, "The service process could not connect to the service controller."},
      {1064, "An exception occurred in the service when handling the control request."},
      {1066, "The service has returned a service-specific error code."},
      {1067, "The process terminated unexpectedly."},
      {1072, "The specified service has been marked for deletion."},
      {1073, "The specified service already exists."},
      {1009, "The configuration registry database is corrupt."},
      {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
      {1179, "The volume change journal is not active."},
      {1300, "Not all privileges or groups referenced are assigned to the caller."},
      {1313, "A specified privilege does not exist."},
      {1338, "The security descriptor structure is invalid."},
      {1113, "No mapping for the Unicode character exists in the target multi-byte code page."},
      {1314, "A required privilege is not held by the client."},
      {1460, "This operation returned because the timeout period expired."},
  };
  return *texts;
}

constexpr DWORD kMessageNotFound = 317;  // ERROR_MR_MID_NOT_FOUND

// The message for the request, or false with the last error set.
bool messageText(DWORD flags, LPCVOID source, DWORD id, std::string& text) {
  if (flags & FORMAT_MESSAGE_FROM_STRING) {
    if (!source) return om::standin::fail(ERROR_INVALID_PARAMETER);
    text = static_cast<const char*>(source);
  } else if (flags & FORMAT_MESSAGE_FROM_SYSTEM) {
    auto it = systemTexts().find(id);
    if (it == systemTexts().end()) return om::standin::fail(kMessageNotFound);
    text = std::string(it->second) + "\r\n";
  } else {
    return om::standin::fail(ERROR_INVALID_PARAMETER);
  }
  if (!(flags & FORMAT_MESSAGE_IGNORE_INSERTS) && text.find('%') != std::string::npos)
    return om::standin::fail(ERROR_INVALID_PARAMETER);  // inserts are not supported; callers ignore them
  return true;
}

template <class Char>
DWORD deliver(DWORD flags, const std::basic_string<Char>& text, Char* buffer, DWORD size) {
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    size_t count = text.size() + 1 > size ? text.size() + 1 : size;
    auto* memory = static_cast<Char*>(LocalAlloc(LPTR, count * sizeof(Char)));
    if (!memory) return om::standin::fail(ERROR_NOT_ENOUGH_MEMORY);
    std::memcpy(memory, text.c_str(), (text.size() + 1) * sizeof(Char));
    *reinterpret_cast<Char**>(buffer) = memory;
  } else {
    if (!buffer || size < text.size() + 1) return om::standin::fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(Char));
  }
  om::standin::setLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(text.size());
}

}  // namespace

DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD id, DWORD, LPSTR buffer, DWORD size, void*) {
  std::string text;
  if (!messageText(flags, source, id, text)) return 0;
  return deliver(flags, text, buffer, size);
}

DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID source, DWORD id, DWORD, LPWSTR buffer, DWORD size, void*) {
  std::string text;
  if (flags & FORMAT_MESSAGE_FROM_STRING) {
    if (!source) return om::standin::fail(ERROR_INVALID_PARAMETER);
    std::string narrowSource = om::standin::narrow(static_cast<const WCHAR*>(source));
    if (!messageText(flags, narrowSource.c_str(), id, text)) return 0;
  } else if (!messageText(flags, source, id, text)) {
    return 0;
  }
  return deliver(flags, om::standin::widen(text), buffer, size);
}

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
  void* memory = (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
  if (!memory) om::standin::fail(ERROR_NOT_ENOUGH_MEMORY);
  return memory;
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
  std::free(memory);
  return nullptr;
}
