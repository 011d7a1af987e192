// Field type codes shared by the file format, record buffers, filters and index keys, and the
// option sets that travel between the layers.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace lanqi {

enum TFieldType : uint8_t {
  ftUnknown = 0,
  ftString = 1,
  ftSmallint = 2,
  ftInteger = 3,
  ftWord = 4,
  ftBoolean = 5,
  ftFloat = 6,
  ftCurrency = 7,
  ftBCD = 8,
  ftDate = 9,
  ftTime = 10,
  ftDateTime = 11,
  ftBytes = 12,
  ftVarBytes = 13,
  ftAutoInc = 14,
  ftBlob = 15,
  ftMemo = 16,
  ftGraphic = 17,
  ftFmtMemo = 18,
  ftParadoxOle = 19,
  ftDBaseOle = 20,
  ftTypedBinary = 21,
  ftCursor = 22,
  ftFixedChar = 23,
  ftWideString = 24,
  ftLargeint = 25,
  ftADT = 26,
  ftArray = 27,
  ftReference = 28,
  ftDataSet = 29,
  ftOraBlob = 30,
  ftOraClob = 31,
  ftVariant = 32,
  ftInterface = 33,
  ftIDispatch = 34,
  ftGuid = 35,
};

constexpr bool IsBlobType(int t) {
  return (t >= ftBlob && t <= ftTypedBinary) || t == ftOraBlob || t == ftOraClob;
}
constexpr bool IsStringType(int t) {
  return t == ftString || t == ftFixedChar || t == ftWideString || t == ftGuid;
}
// The code-page text types, whose slot holds the text's bytes up to a zero byte.
constexpr bool IsAnsiStringType(int t) {
  return t == ftString || t == ftFixedChar;
}

// Small bit-set over an enumeration whose values are bit numbers.
template <class E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> items) {
    for (E e : items) bits_ |= Bit(e);
  }
  static constexpr TSet FromBits(uint32_t bits) {
    TSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
  constexpr TSet& Include(E e) {
    bits_ |= Bit(e);
    return *this;
  }
  constexpr TSet& Exclude(E e) {
    bits_ &= ~Bit(e);
    return *this;
  }
  constexpr uint32_t Bits() const { return bits_; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool operator==(const TSet&) const = default;

 private:
  static constexpr uint32_t Bit(E e) { return 1u << static_cast<uint32_t>(e); }
  uint32_t bits_ = 0;
};

enum TRDIndexOption : uint8_t { tiPrimary = 0, tiUnique = 1, tiDescending = 2, tiCaseInsensitive = 3 };
using TRDIndexOptions = TSet<TRDIndexOption>;

enum TFilterOption : uint8_t { foCaseInsensitive = 0, foNoPartialCompare = 1 };
using TFilterOptions = TSet<TFilterOption>;

enum TLocateOption : uint8_t { LocateCaseInsensitive = 0, LocatePartialKey = 1 };
using TLocateOptions = TSet<TLocateOption>;

enum TRadeZIMediumType : uint8_t { mtDisk = 0, mtMemory = 1 };

}  // namespace lanqi
