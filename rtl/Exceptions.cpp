#include "rtl/Exceptions.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace lanqi {

std::string FormatV(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int n = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return std::string(fmt);
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::vector<char> big(static_cast<size_t>(n) + 1);
  std::vsnprintf(big.data(), big.size(), fmt, args);
  return std::string(big.data(), static_cast<size_t>(n));
}

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string s = FormatV(fmt, args);
  va_end(args);
  return s;
}

std::string ComponentMessage(const std::string& componentName, const std::string& message) {
  if (componentName.empty()) return message;
  return componentName + ": " + message;
}

EFOpenError::EFOpenError(const std::string& path, const std::string& reason)
    : EStreamError(Format("Cannot open file \"%s\". %s", path.c_str(), reason.c_str())) {}

void DatabaseError(const std::string& message, const std::string& componentName) {
  throw EDatabaseError(ComponentMessage(componentName, message));
}

void Abort() {
  throw EAbort();
}

std::string SysErrorMessage(int e) {
  char buf[256];
  // GNU strerror_r returns the text, which may or may not live in buf.
  const char* text = strerror_r(e, buf, sizeof buf);
  return text;
}

}  // namespace lanqi
