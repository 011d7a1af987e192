// Exception classes of the runtime and the printf-style Format that builds their messages.
#pragma once

#include <cstdarg>
#include <exception>
#include <string>

namespace lanqi {

// printf-style formatting into a std::string (%s takes a const char*, use .c_str()).
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);

// "%s: %s" with the component's name first; the message alone when the name is empty.
std::string ComponentMessage(const std::string& componentName, const std::string& message);

// Base of every failure of the system: what() is the message (code-page bytes).
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }

 private:
  std::string message_;
};

class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// The silent abort: callers unwind without showing anything.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
  using Exception::Exception;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

// "Cannot open file \"%s\". %s": the path and the system's reason.
class EFOpenError : public EStreamError {
 public:
  EFOpenError(const std::string& path, const std::string& reason);
};

// "Stream read error" (optionally followed by the system's reason).
class EReadError : public EStreamError {
 public:
  EReadError() : EStreamError("Stream read error") {}
  using EStreamError::EStreamError;
};

// "Stream write error" (optionally followed by the system's reason).
class EWriteError : public EStreamError {
 public:
  EWriteError() : EStreamError("Stream write error") {}
  using EStreamError::EStreamError;
};

// Raises EDatabaseError with the message, prefixed with the component's name when it has one.
[[noreturn]] void DatabaseError(const std::string& message, const std::string& componentName = {});

// Raises the silent abort.
[[noreturn]] void Abort();

// The text of errno value e as the system words it.
std::string SysErrorMessage(int e);

}  // namespace lanqi
