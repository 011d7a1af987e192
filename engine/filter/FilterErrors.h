// Floating-point failures of filter arithmetic.
#pragma once

#include "rtl/Exceptions.h"

namespace lanqi {

class EMathError : public Exception {
 public:
  using Exception::Exception;
};

// "Floating point division by zero"
class EZeroDivide : public EMathError {
 public:
  EZeroDivide() : EMathError("Floating point division by zero") {}
};

// "Invalid floating point operation"
class EInvalidOp : public EMathError {
 public:
  EInvalidOp() : EMathError("Invalid floating point operation") {}
};

// "Floating point overflow"
class EOverflow : public EMathError {
 public:
  EOverflow() : EMathError("Floating point overflow") {}
};

}  // namespace lanqi
