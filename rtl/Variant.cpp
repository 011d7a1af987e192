#include "rtl/Variant.h"

#include <cmath>

#include "rtl/AnsiText.h"
#include "rtl/NumText.h"

namespace lanqi {

namespace {

bool IsIntegral(TVarType t) {
  return t == varBoolean || t == varInteger || t == varInt64;
}

bool StringToBoolean(const std::string& s, bool& out) {
  if (SameTextAscii(s, "True")) {
    out = true;
    return true;
  }
  if (SameTextAscii(s, "False")) {
    out = false;
    return true;
  }
  double d = 0;
  if (!TryStrToFloat(s, d)) return false;
  out = d != 0;
  return true;
}

}  // namespace

std::string VarTypeName(TVarType t) {
  if (t & varArray) return "Array Variant";
  switch (t & varTypeMask) {
    case varEmpty:
      return "Empty";
    case varNull:
      return "Null";
    case varInteger:
      return "Integer";
    case varInt64:
      return "Int64";
    case varDouble:
      return "Double";
    case varDate:
      return "Date";
    case varBoolean:
      return "Boolean";
    case varVariant:
      return "Variant";
  }
  if (t == varString) return "String";
  return "Unknown";
}

void Variant::CannotConvert(const char* to) const {
  throw EVariantError(
      Format("Could not convert variant of type (%s) into type (%s)", VarTypeName(type_).c_str(), to));
}

bool Variant::IsNumeric() const {
  return type_ == varBoolean || type_ == varInteger || type_ == varInt64 || type_ == varDouble ||
         type_ == varDate;
}

std::string Variant::AsString() const {
  switch (type_) {
    case varEmpty:
    case varNull:
      return {};
    case varBoolean:
      return b_ ? "True" : "False";
    case varInteger:
      return IntToStr(i32_);
    case varInt64:
      return IntToStr(i64_);
    case varDouble:
      return FloatToStr(d_);
    case varDate:
      return DateTimeToStr(d_);
    case varString:
      return s_;
    default:
      CannotConvert("String");
  }
}

int64_t Variant::AsInt64() const {
  switch (type_) {
    case varEmpty:
    case varNull:
      return 0;
    case varBoolean:
      return b_ ? 1 : 0;
    case varInteger:
      return i32_;
    case varInt64:
      return i64_;
    case varDouble:
    case varDate: {
      double r = std::nearbyint(d_);
      // 2^63 is the first double beyond int64.
      if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) CannotConvert("Int64");
      return static_cast<int64_t>(r);
    }
    case varString:
      return StrToInt64(s_);
    default:
      CannotConvert("Int64");
  }
}

int32_t Variant::AsInteger() const {
  switch (type_) {
    case varInteger:
      return i32_;
    case varString:
      return StrToInt(s_);
    case varInt64:
      if (i64_ < INT32_MIN || i64_ > INT32_MAX) CannotConvert("Integer");
      return static_cast<int32_t>(i64_);
    case varDouble:
    case varDate: {
      double r = std::nearbyint(d_);
      if (!(r >= -2147483648.0 && r <= 2147483647.0)) CannotConvert("Integer");
      return static_cast<int32_t>(r);
    }
    default:
      if (IsArray()) CannotConvert("Integer");
      return static_cast<int32_t>(AsInt64());
  }
}

double Variant::AsFloat() const {
  switch (type_) {
    case varEmpty:
    case varNull:
      return 0;
    case varBoolean:
      return b_ ? 1 : 0;
    case varInteger:
      return i32_;
    case varInt64:
      return static_cast<double>(i64_);
    case varDouble:
    case varDate:
      return d_;
    case varString:
      return StrToFloat(s_);
    default:
      CannotConvert("Double");
  }
}

bool Variant::AsBoolean() const {
  switch (type_) {
    case varEmpty:
    case varNull:
      return false;
    case varBoolean:
      return b_;
    case varInteger:
      return i32_ != 0;
    case varInt64:
      return i64_ != 0;
    case varDouble:
    case varDate:
      return d_ != 0;
    case varString: {
      bool b = false;
      if (!StringToBoolean(s_, b))
        throw EConvertError(Format("'%s' is not a valid boolean value", s_.c_str()));
      return b;
    }
    default:
      CannotConvert("Boolean");
  }
}

TDateTime Variant::AsDateTime() const {
  switch (type_) {
    case varEmpty:
    case varNull:
      return 0;
    case varInteger:
      return i32_;
    case varInt64:
      return static_cast<double>(i64_);
    case varDouble:
    case varDate:
      return d_;
    case varString:
      return StrToDateTime(s_);
    default:
      CannotConvert("Date");
  }
}

int Variant::ArrayLength() const {
  if (!IsArray()) throw EVariantError("Variant is not an array");
  return static_cast<int>(a_.size());
}

const Variant& Variant::operator[](int i) const {
  if (!IsArray()) throw EVariantError("Variant is not an array");
  if (i < 0 || static_cast<size_t>(i) >= a_.size()) throw EVariantError("Variant array index out of bounds");
  return a_[static_cast<size_t>(i)];
}

Variant& Variant::operator[](int i) {
  return const_cast<Variant&>(static_cast<const Variant&>(*this)[i]);
}

bool Variant::operator==(const Variant& o) const {
  if (IsClear() || o.IsClear()) return type_ == o.type_;
  if (IsArray() || o.IsArray()) {
    if (!IsArray() || !o.IsArray() || a_.size() != o.a_.size()) return false;
    for (size_t i = 0; i < a_.size(); ++i)
      if (!(a_[i] == o.a_[i])) return false;
    return true;
  }
  if (type_ == varString && o.type_ == varString) return s_ == o.s_;
  if (IsNumeric() && o.IsNumeric()) {
    if (IsIntegral(type_) && IsIntegral(o.type_)) return AsInt64() == o.AsInt64();
    return AsFloat() == o.AsFloat();
  }
  // One string, one number: the string read as the number's kind.
  const Variant& str = type_ == varString ? *this : o;
  const Variant& num = type_ == varString ? o : *this;
  if (!num.IsNumeric()) return false;
  switch (num.type_) {
    case varBoolean: {
      bool b = false;
      return StringToBoolean(str.s_, b) && b == num.b_;
    }
    case varDate: {
      TDateTime d = 0;
      return TryStrToDateTime(str.s_, d) && d == num.d_;
    }
    case varInteger:
    case varInt64: {
      int64_t i = 0;
      if (TryStrToInt64(str.s_, i)) return i == num.AsInt64();
      double d = 0;
      return TryStrToFloat(str.s_, d) && d == num.AsFloat();
    }
    default: {
      double d = 0;
      return TryStrToFloat(str.s_, d) && d == num.d_;
    }
  }
}

}  // namespace lanqi
