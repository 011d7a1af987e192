// Variant: a value of one of a few kinds, used for field values and for the keys of Locate and
// Lookup (one value or an array of values).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "rtl/DateTime.h"
#include "rtl/Exceptions.h"

namespace lanqi {

// Kinds, numbered as the platform's variant type codes.
using TVarType = uint16_t;
constexpr TVarType varEmpty = 0x0000;  // unassigned
constexpr TVarType varNull = 0x0001;
constexpr TVarType varInteger = 0x0003;  // 32-bit
constexpr TVarType varDouble = 0x0005;
constexpr TVarType varDate = 0x0007;
constexpr TVarType varBoolean = 0x000B;
constexpr TVarType varVariant = 0x000C;
constexpr TVarType varInt64 = 0x0014;
constexpr TVarType varString = 0x0100;  // code-page bytes
constexpr TVarType varArray = 0x2000;   // an array of variants is varArray | varVariant
constexpr TVarType varTypeMask = 0x0FFF;

// A variant that cannot take the asked form (an array as a number, a number out of range ...):
// "Could not convert variant of type (%s) into type (%s)"; bad array indexes: "Variant array
// index out of bounds". A string that is no number or date raises the EConvertError of the text
// conversion instead ("'%s' is not a valid integer value" ...).
class EVariantError : public EConvertError {
 public:
  using EConvertError::EConvertError;
};

class Variant {
 public:
  Variant() = default;  // unassigned
  Variant(bool v) : type_(varBoolean) { b_ = v; }
  // Integers of up to 32 bits (signed) are varInteger; wider ones and unsigned 32-bit ones are
  // varInt64 (an unsigned 64-bit value beyond the int64 range becomes a varDouble).
  template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
  Variant(T v) {
    if constexpr (sizeof(T) < 4 || (sizeof(T) == 4 && std::is_signed_v<T>)) {
      type_ = varInteger;
      i32_ = static_cast<int32_t>(v);
    } else if constexpr (std::is_unsigned_v<T> && sizeof(T) >= 8) {
      if (v > static_cast<T>(INT64_MAX)) {
        type_ = varDouble;
        d_ = static_cast<double>(v);
      } else {
        type_ = varInt64;
        i64_ = static_cast<int64_t>(v);
      }
    } else {
      type_ = varInt64;
      i64_ = static_cast<int64_t>(v);
    }
  }
  Variant(double v) : type_(varDouble) { d_ = v; }
  Variant(float v) : type_(varDouble) { d_ = v; }
  Variant(const char* v) : type_(varString), s_(v ? v : "") {}
  Variant(char* v) : Variant(static_cast<const char*>(v)) {}
  Variant(std::string v) : type_(varString), s_(std::move(v)) {}
  Variant(std::string_view v) : type_(varString), s_(v) {}
  // No other pointer turns silently into a Boolean.
  template <class T>
  Variant(T*) = delete;
  // An array of variants (index 0 first).
  Variant(std::vector<Variant> items) : type_(varArray | varVariant), a_(std::move(items)) {}

  static Variant Null() {
    Variant v;
    v.type_ = varNull;
    return v;
  }
  static Variant FromDateTime(TDateTime v) {
    Variant r;
    r.type_ = varDate;
    r.d_ = v;
    return r;
  }
  // An array of count unassigned variants.
  static Variant Array(int count) {
    return Variant(std::vector<Variant>(count > 0 ? static_cast<size_t>(count) : 0));
  }

  TVarType Type() const { return type_; }
  bool IsEmpty() const { return type_ == varEmpty; }
  bool IsNull() const { return type_ == varNull; }
  bool IsArray() const { return (type_ & varArray) != 0; }
  // Null or unassigned.
  bool IsClear() const { return type_ == varEmpty || type_ == varNull; }

  // Conversions. Null and unassigned give "", 0, 0.0, false and 0 (1899-12-30).
  // AsString: Boolean "True"/"False", numbers as IntToStr/FloatToStr, a date-time as
  // DateTimeToStr, strings as they are. AsInteger/AsInt64: Booleans 1/0, doubles and dates rounded
  // to the nearest (half to even), strings by StrToInt/StrToInt64. AsFloat: strings by StrToFloat.
  // AsBoolean: numbers are true when not 0; strings "True"/"False" in any case or a number.
  // AsDateTime: numbers as days, strings by StrToDateTime. Arrays convert to nothing.
  std::string AsString() const;
  int32_t AsInteger() const;
  int64_t AsInt64() const;
  double AsFloat() const;
  bool AsBoolean() const;
  TDateTime AsDateTime() const;

  // Arrays: the number of items and access by 0-based index (EVariantError when out of bounds or
  // not an array).
  int ArrayLength() const;
  const Variant& operator[](int i) const;
  Variant& operator[](int i);

  // Equal kinds and values. Numbers (Boolean, integers, double, date-time) compare by value across
  // kinds; strings byte for byte; a string and a number compare as the string converted to a number
  // (unequal when it is none); arrays item by item; null equals only null, unassigned only
  // unassigned. Never raises.
  bool operator==(const Variant& other) const;
  bool operator!=(const Variant& other) const { return !(*this == other); }

 private:
  [[noreturn]] void CannotConvert(const char* to) const;
  bool IsNumeric() const;

  TVarType type_ = varEmpty;
  union {
    bool b_;
    int32_t i32_;
    int64_t i64_ = 0;
    double d_;
  };
  std::string s_;
  std::vector<Variant> a_;
};

inline Variant Null() {
  return Variant::Null();
}
inline Variant Unassigned() {
  return Variant();
}

inline TVarType VarType(const Variant& v) {
  return v.Type();
}
inline bool VarIsNull(const Variant& v) {
  return v.IsNull();
}
inline bool VarIsEmpty(const Variant& v) {
  return v.IsEmpty();
}
inline bool VarIsClear(const Variant& v) {
  return v.IsClear();
}
inline bool VarIsArray(const Variant& v) {
  return v.IsArray();
}
inline Variant VarFromDateTime(TDateTime v) {
  return Variant::FromDateTime(v);
}
inline Variant VarArrayOf(std::vector<Variant> items) {
  return Variant(std::move(items));
}
// -1 for an empty array; EVariantError for a variant that is not an array.
inline int VarArrayHighBound(const Variant& v) {
  return v.ArrayLength() - 1;
}
// AsString, but null and unassigned give "" (the same) and arrays raise.
inline std::string VarToStr(const Variant& v) {
  return v.AsString();
}
// The name of a kind as the conversion messages give it: "Empty", "Null", "Integer", "Int64",
// "Double", "Date", "Boolean", "String", "Array Variant".
std::string VarTypeName(TVarType t);

}  // namespace lanqi
