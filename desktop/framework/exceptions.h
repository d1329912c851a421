// Exception classes of the desktop framework.
#pragma once

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

}  // namespace om
