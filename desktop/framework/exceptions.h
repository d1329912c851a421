// Exception classes of the desktop framework.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace om {

// Base of every exception raised by framework and library code; carries the
// message text shown to the user.
class Exception : public std::exception {
public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const std::string& Message() const { return FMessage; }
  const char* what() const noexcept override { return FMessage.c_str(); }

private:
  std::string FMessage;
};

// A value that cannot be converted to or from its text.
class EConvertError : public Exception {
public:
  using Exception::Exception;
};

// Stream failures.
class EStreamError : public Exception {
public:
  using Exception::Exception;
};
class EFCreateError : public EStreamError {
public:
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
public:
  using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
  using EStreamError::EStreamError;
};

// A failed system call: the system's error code and its text.
class EOSError : public Exception {
public:
  EOSError(std::string message, uint32_t errorCode)
      : Exception(std::move(message)), FErrorCode(errorCode) {}
  uint32_t ErrorCode() const { return FErrorCode; }

private:
  uint32_t FErrorCode;
};

// An operation of a desktop component that cannot proceed in the current state.
class EDkException : public Exception {
public:
  using Exception::Exception;
};

// An operation not allowed in the object's current state.
class EInvalidOperation : public Exception {
public:
  using Exception::Exception;
};

// Registry access failures.
class ERegistryException : public Exception {
public:
  using Exception::Exception;
};

// A system resource (timer, handle) could not be had.
class EOutOfResources : public Exception {
public:
  using Exception::Exception;
};

// Thread failures (creation, waiting).
class EThread : public Exception {
public:
  using Exception::Exception;
};

// Text of an error code as the system words it; on Windows the system's own
// message table, elsewhere a generic text.
std::string SysErrorMessage(uint32_t errorCode);

// Raises EOSError for errorCode with the text
// "System Error.  Code: <n>.\r\n<system text>".
[[noreturn]] void RaiseOSError(uint32_t errorCode);

// Raises EOSError for the calling thread's last system error.
[[noreturn]] void RaiseLastOSError();

}  // namespace om
