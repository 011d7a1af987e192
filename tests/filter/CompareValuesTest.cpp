#include "engine/values/CompareValues.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/values/FilterValues.h"
#include "platform/CodePage.h"

namespace lanqi {
namespace {

// A value in its record-buffer form.
std::vector<uint8_t> Bytes(const void* p, size_t n) {
  auto b = static_cast<const uint8_t*>(p);
  return std::vector<uint8_t>(b, b + n);
}
template <class T>
std::vector<uint8_t> Num(T v) {
  return Bytes(&v, sizeof v);
}
std::vector<uint8_t> Str(const std::string& s) {
  return Bytes(s.c_str(), s.size() + 1);
}

struct CompareCase {
  const char* what;
  TFieldType type;
  std::vector<uint8_t> key;
  std::vector<uint8_t> record;
  bool partial;
  bool caseInsensitive;
  int expected;
};

TEST(CompareValuesTest, ValuesOfEachTypeCompareAsTheEvaluatorDoes) {
  const double day = 86400000.0;
  const std::vector<CompareCase> cases = {
      {"time 500 ms apart", ftTime, Num<int32_t>(37800000), Num<int32_t>(37800500), false, false, 0},
      {"time 999 ms apart", ftTime, Num<int32_t>(37800999), Num<int32_t>(37800000), false, false, 0},
      {"time 1000 ms later", ftTime, Num<int32_t>(37801000), Num<int32_t>(37800000), false, false, 1},
      {"time 1000 ms earlier", ftTime, Num<int32_t>(37800000), Num<int32_t>(37801000), false, false, -1},
      {"time extremes do not overflow", ftTime, Num<int32_t>(INT32_MIN), Num<int32_t>(INT32_MAX), false,
       false, -1},
      {"date-time 999.5 ms apart", ftDateTime, Num<double>(day * 700000 + 999.5), Num<double>(day * 700000),
       false, false, 0},
      {"date-time 1 s earlier", ftDateTime, Num<double>(day * 700000), Num<double>(day * 700000 + 1000),
       false, false, -1},
      {"date by day number", ftDate, Num<int32_t>(731000), Num<int32_t>(731001), false, false, -1},
      {"smallint is signed", ftSmallint, Num<int16_t>(-1), Num<int16_t>(1), false, false, -1},
      {"word is unsigned", ftWord, Num<uint16_t>(65535), Num<uint16_t>(1), false, false, 1},
      {"integer", ftInteger, Num<int32_t>(-5), Num<int32_t>(-5), false, false, 0},
      {"autoinc", ftAutoInc, Num<int32_t>(7), Num<int32_t>(3), false, false, 1},
      {"largeint beyond 32 bits", ftLargeint, Num<int64_t>(int64_t{1} << 40),
       Num<int64_t>((int64_t{1} << 40) + 1), false, false, -1},
      {"float exact equality", ftFloat, Num<double>(0.1 + 0.2), Num<double>(0.3), false, false, 1},
      {"currency", ftCurrency, Num<double>(-2.5), Num<double>(2.5), false, false, -1},
      {"boolean false < true", ftBoolean, Num<uint16_t>(0), Num<uint16_t>(1), false, false, -1},
      {"boolean by first byte", ftBoolean, Num<uint16_t>(0x0101), Num<uint16_t>(0x0001), false, false, 0},
      {"partial key ab matches abd", ftString, Str("ab"), Str("abd"), true, false, 0},
      {"whole ab is less than abd", ftString, Str("ab"), Str("abd"), false, false, -1},
      {"partial key longer than record", ftString, Str("abd"), Str("ab"), true, false, 1},
      {"empty partial key matches anything", ftString, Str(""), Str("zzz"), true, false, 0},
      {"partial fixed char", ftFixedChar, Str("Ab"), Str("Abc"), true, false, 0},
      {"partial does not apply to memo", ftMemo, Str("ab"), Str("abd"), true, false, -1},
      {"case counts by default", ftString, Str("ABC"), Str("abc"), false, false, 1},
      {"case-insensitive", ftString, Str("ABC"), Str("abc"), false, true, 0},
      {"case-insensitive partial", ftString, Str("AB"), Str("abc"), true, true, 0},
      {"locale order, not byte order", ftString, Str("a"), Str("B"), false, false, -1},
      {"code page 936 text equal", ftString, Str(Ansi(u8"存储区")), Str(Ansi(u8"存储区")), false, false, 0},
      {"code page 936 partial", ftString, Str(Ansi(u8"存储")), Str(Ansi(u8"存储区")), true, false, 0},
  };
  for (const CompareCase& c : cases) {
    int got = CompareValues(c.key.data(), static_cast<int32_t>(c.key.size()), c.record.data(),
                            static_cast<int32_t>(c.record.size()), c.type, c.partial, c.caseInsensitive);
    EXPECT_EQ(got, c.expected) << c.what;
  }
}

TEST(CompareValuesTest, StringSlotWithoutZeroByteIsReadOnlyWithinItsSize) {
  char key[4] = {'a', 'b', 'c', 'd'};
  char record[8] = {'a', 'b', 'c', 'd', 'z', 'z', 'z', '\0'};
  EXPECT_EQ(CompareValues(key, 4, record, 4, ftString, false, false), 0);
  EXPECT_EQ(CompareValues(key, 4, record, 8, ftString, false, false), -1);
}

TEST(CompareValuesTest, ShortNumericSlotIsNotReadPastItsEnd) {
  int32_t a = 5;
  int32_t b = 5;
  // Only two bytes of each are given; the rest reads as zero.
  EXPECT_EQ(CompareValues(&a, 2, &b, 2, ftInteger, false, false), 0);
  EXPECT_EQ(CompareValues(&a, 4, &b, 2, ftInteger, false, false), 0);
}

// The equality shortcut must agree with the collator for every pair of printable ASCII texts of
// one and two characters, with and without case.
TEST(CompareValuesTest, EqualityShortcutAgreesWithTheCollator) {
  std::vector<std::string> texts;
  for (int c = 0x20; c <= 0x7E; ++c) texts.emplace_back(1, static_cast<char>(c));
  for (const char* s : {"ab", "AB", "aB", "a b", "a-b", "ab ", "a.b", "-ab", "a'b"}) texts.emplace_back(s);
  for (const std::string& a : texts)
    for (const std::string& b : texts)
      for (bool ci : {false, true})
        ASSERT_EQ(FilterStringsEqual(a, b, -1, ci), CompareFilterStrings(a, b, -1, ci) == 0)
            << "'" << a << "' '" << b << "' ci=" << ci;
}

}  // namespace
}  // namespace lanqi
