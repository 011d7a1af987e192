// Reading values in their record-buffer encodings and the comparison rules shared by the filter
// evaluator and CompareValues, so both give the same answer for the same two values.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "engine/FieldTypes.h"
#include "rtl/ByteOrder.h"
#include "rtl/DateTime.h"

namespace lanqi {

// How the filter language groups the field types.
enum TTypeClass : uint8_t { tcOther, tcString, tcInteger, tcLargeint, tcFloat, tcTemporal, tcBoolean };

constexpr TTypeClass TypeClass(int t) {
  switch (t) {
    case ftString:
    case ftFixedChar:
    case ftMemo:
    case ftFmtMemo:
    case ftBlob:
    case ftGraphic:
    case ftWideString:
    case ftGuid:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
      return tcString;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return tcInteger;
    case ftLargeint:
      return tcLargeint;
    case ftFloat:
    case ftCurrency:
      return tcFloat;
    case ftDate:
    case ftTime:
    case ftDateTime:
      return tcTemporal;
    case ftBoolean:
      return tcBoolean;
    default:
      return tcOther;
  }
}

constexpr bool IsNumericClass(TTypeClass c) {
  return c == tcInteger || c == tcLargeint || c == tcFloat;
}

// Bytes a value of the type takes in a record buffer; 0 for the string class and unknown types.
constexpr int32_t ValueSizeOf(int t) {
  switch (t) {
    case ftSmallint:
    case ftWord:
    case ftBoolean:
      return 2;
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime:
      return 4;
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
    case ftLargeint:
      return 8;
    default:
      return 0;
  }
}

inline int32_t LoadI32(const void* p) {
  return static_cast<int32_t>(LoadLE32(p));
}
inline double LoadF64(const void* p) {
  uint64_t u = LoadLE64(p);
  double d;
  std::memcpy(&d, &u, sizeof d);
  return d;
}
inline void StoreF64(void* p, double d) {
  uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  StoreLE64(p, u);
}

// An integer-class or large-integer value, exactly.
inline int64_t LoadInteger(const void* p, int t) {
  switch (t) {
    case ftSmallint:
      return static_cast<int16_t>(LoadLE16(p));
    case ftWord:
      return LoadLE16(p);
    case ftLargeint:
      return static_cast<int64_t>(LoadLE64(p));
    default:
      return LoadI32(p);
  }
}

// Any numeric value as a double.
inline double LoadNumber(const void* p, int t) {
  if (TypeClass(t) == tcFloat) return LoadF64(p);
  return static_cast<double>(LoadInteger(p, t));
}

// The date-time's milliseconds rounded to the nearest whole one, kept within a range where the
// integer arithmetic below cannot overflow (far beyond any real date).
inline int64_t RoundedMilliseconds(double v) {
  constexpr double kLimit = 4.0e17;
  if (std::isnan(v)) return 0;
  if (v > kLimit) v = kLimit;
  if (v < -kLimit) v = -kLimit;
  return static_cast<int64_t>(std::llround(v));
}

// The day number of a date-time (nearest millisecond first).
inline int64_t DateTimeDay(double v) {
  return RoundedMilliseconds(v) / MSecsPerDay;
}

// Outcome of comparing two operands: operators are derived from it (opNE is not opEQ, opGE not
// opLT, opLE not opGT). cmpUnordered is a NaN: every computed operator is false and the flipped
// ones true. cmpUndefined is a pair of classes no rule compares: every operator is false.
enum TCompareResult : int8_t {
  cmpLess = -1,
  cmpEqual = 0,
  cmpGreater = 1,
  cmpUnordered = 2,
  cmpUndefined = 3
};

template <class T>
constexpr TCompareResult CompareOrdered(T a, T b) {
  if (a == b) return cmpEqual;
  if (a < b) return cmpLess;
  if (a > b) return cmpGreater;
  return cmpUnordered;
}

// Times and date-times less than one second apart are equal.
inline TCompareResult CompareWithTolerance(double d) {
  if (std::fabs(d) < 1000.0) return cmpEqual;
  if (d >= 1000.0) return cmpGreater;
  if (d <= -1000.0) return cmpLess;
  return cmpUnordered;
}

// Strings in the locale's order over at most n bytes of each (n = -1: whole strings).
int CompareFilterStrings(std::string_view l, std::string_view r, int32_t n, bool ignoreCase);
// The same rule asked only for equality: printable ASCII is decided without the collator.
bool FilterStringsEqual(std::string_view l, std::string_view r, int32_t n, bool ignoreCase);

// Compares two non-string values of the given types under the evaluator's rules.
TCompareResult CompareNonString(int lt, const void* lv, int rt, const void* rv);

}  // namespace lanqi
