#include "engine/values/CompareValues.h"

#include <algorithm>
#include <cstring>

#include "engine/values/FilterValues.h"
#include "platform/Collation.h"
#include "rtl/AnsiText.h"

namespace lanqi {

namespace {

std::string_view Cut(std::string_view s, int32_t n) {
  if (n >= 0 && static_cast<size_t>(n) < s.size()) return s.substr(0, static_cast<size_t>(n));
  return s;
}

// A value of the string class held in a slot of size bytes: its text up to the first zero byte.
std::string_view SlotText(const void* p, int32_t size) {
  if (p == nullptr || size <= 0) return {};
  auto c = static_cast<const char*>(p);
  return std::string_view(c, strnlen(c, static_cast<size_t>(size)));
}

// A fixed-size value copied into a zeroed local, so a short slot is never read past its end.
struct Fixed {
  uint8_t bytes[8] = {};
  Fixed(const void* p, int32_t size, int32_t want) {
    if (p != nullptr && size > 0) std::memcpy(bytes, p, static_cast<size_t>(std::min(size, want)));
  }
};

}  // namespace

int CompareFilterStrings(std::string_view l, std::string_view r, int32_t n, bool ignoreCase) {
  return CompareAnsiText(l, r, ignoreCase, n < 0 ? -1 : n);
}

bool FilterStringsEqual(std::string_view l, std::string_view r, int32_t n, bool ignoreCase) {
  std::string_view a = Cut(l, n);
  std::string_view b = Cut(r, n);
  // The collator calls texts equal only when they are the same text (after case folding when
  // asked), so printable ASCII needs no collator; other bytes go through it.
  if (IsPrintableAscii(a) && IsPrintableAscii(b)) {
    if (a.size() != b.size()) return false;
    if (!ignoreCase) return a == b;
    for (size_t i = 0; i < a.size(); ++i)
      if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
  }
  return CompareFilterStrings(l, r, n, ignoreCase) == 0;
}

TCompareResult CompareNonString(int lt, const void* lv, int rt, const void* rv) {
  TTypeClass lc = TypeClass(lt);
  TTypeClass rc = TypeClass(rt);
  if (IsNumericClass(lc) && IsNumericClass(rc)) {
    if (lc == tcFloat || rc == tcFloat) return CompareOrdered(LoadNumber(lv, lt), LoadNumber(rv, rt));
    return CompareOrdered(LoadInteger(lv, lt), LoadInteger(rv, rt));
  }
  if (lc == tcBoolean && rc == tcBoolean)
    return CompareOrdered(*static_cast<const uint8_t*>(lv), *static_cast<const uint8_t*>(rv));
  if (lc == tcTemporal && rc == tcTemporal) {
    if (lt == ftDate && rt == ftDate) return CompareOrdered(LoadI32(lv), LoadI32(rv));
    if (lt == ftDate && rt == ftDateTime) {
      double r = LoadF64(rv);
      if (std::isnan(r)) return cmpUnordered;
      return CompareOrdered<int64_t>(LoadI32(lv), DateTimeDay(r));
    }
    if (lt == ftDateTime && rt == ftDate) {
      double l = LoadF64(lv);
      if (std::isnan(l)) return cmpUnordered;
      return CompareOrdered<int64_t>(DateTimeDay(l), LoadI32(rv));
    }
    if (lt == ftTime && rt == ftTime)
      return CompareWithTolerance(static_cast<double>(static_cast<int64_t>(LoadI32(lv)) - LoadI32(rv)));
    if (lt == ftDateTime && rt == ftDateTime) return CompareWithTolerance(LoadF64(lv) - LoadF64(rv));
  }
  return cmpUndefined;
}

int CompareValues(const void* key, int32_t keySize, const void* record, int32_t recordSize,
                  TFieldType fieldType, bool partial, bool caseInsensitive) {
  TTypeClass c = TypeClass(fieldType);
  if (c == tcString) {
    std::string_view k = SlotText(key, keySize);
    std::string_view r = SlotText(record, recordSize);
    // A partial key of a plain string type limits both texts to the key's length.
    int32_t n = (partial && IsStringType(fieldType)) ? static_cast<int32_t>(k.size()) : -1;
    if (FilterStringsEqual(k, r, n, caseInsensitive)) return 0;
    return CompareFilterStrings(k, r, n, caseInsensitive) < 0 ? -1 : 1;
  }
  int32_t size = ValueSizeOf(fieldType);
  if (size == 0) return 1;  // no rule compares these: neither equal nor less
  Fixed a(key, keySize, size);
  Fixed b(record, recordSize, size);
  switch (CompareNonString(fieldType, a.bytes, fieldType, b.bytes)) {
    case cmpEqual:
      return 0;
    case cmpLess:
      return -1;
    default:
      return 1;
  }
}

}  // namespace lanqi
