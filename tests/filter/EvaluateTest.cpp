#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "engine/filter/FilterErrors.h"
#include "engine/filter/FilterParser.h"
#include "platform/CodePage.h"
#include "rtl/Exceptions.h"
#include "rtl/FormatSettings.h"
#include "tests/filter/FilterFixture.h"

namespace lanqi {
namespace {

const TFilterOptions kPartial{};
const TFilterOptions kNoPartial{foNoPartialCompare};
const TFilterOptions kCase{foCaseInsensitive};

struct EvalCase {
  std::string filter;
  std::function<void(TMemoryRecord&)> record;
  bool expected;
  TFilterOptions options = {};
};

void RunCases(const std::vector<EvalCase>& cases) {
  for (const EvalCase& c : cases) {
    TFilterHarness h;
    if (c.record) c.record(h.Record);
    try {
      EXPECT_EQ(h.Passes(c.filter, c.options), c.expected) << c.filter;
    } catch (const std::exception& e) {
      ADD_FAILURE() << c.filter << ": " << e.what();
    }
  }
}

auto Name(const std::string& v) {
  return [v](TMemoryRecord& r) { r.SetText("Name", v); };
}
auto Int(const std::string& field, int64_t v) {
  return [field, v](TMemoryRecord& r) { r.Set(field, v); };
}
auto Real(const std::string& field, double v) {
  return [field, v](TMemoryRecord& r) { r.SetFloat(field, v); };
}

TEST(FilterEvaluateTest, StringComparisonsWithPartialKeysAndCase) {
  RunCases({
      {"Name = 'Ab*'", Name("Abc"), true, kPartial},
      {"Name = 'Ab*'", Name("Ab"), true, kPartial},
      {"Name = 'Ab*'", Name("Ac"), false, kPartial},
      {"Name = 'Ab*'", Name("Abc"), false, kNoPartial},
      {"Name = 'Ab*'", Name("Ab*"), true, kNoPartial},
      {"Name = 'Ab*x'", Name("Abc"), true, kPartial},
      {"'Ab*' = Name", Name("Abc"), false, kPartial},
      {"Name = '*'", Name("anything"), true, kPartial},
      {"Name = '*'", Name(""), true, kPartial},
      {"Name <> 'Ab*'", Name("Abc"), false, kPartial},
      {"Name = 'abc'", Name("ABC"), true, kCase},
      {"Name = 'abc'", Name("ABC"), false},
      {"Name = 'ab*'", Name("ABC"), true, kCase},
      {"Name > 'abc'", Name("abd"), true},
      {"Name < 'B'", Name("a"), true},  // the locale's order, not the bytes'
      {"Name >= 'abc'", Name("abc"), true},
      {"Name <= 'abb'", Name("abc"), false},
      {"Name = 'O''Brien'", Name("O'Brien"), true},
      {"Code = 'XY'", [](TMemoryRecord& r) { r.SetText("Code", "XY"); }, true},
      {"Notes = 'hello'", [](TMemoryRecord& r) { r.SetText("Notes", "hello"); }, true},
      {Ansi(u8"文件名 = '存储*'"), [](TMemoryRecord& r) { r.SetText(Ansi(u8"文件名"), Ansi(u8"存储区")); },
       true},
      {"Notes = '" + std::string(300, 'x') + "'",
       [](TMemoryRecord& r) { r.SetText("Notes", std::string(256, 'x')); }, true},
      {"Notes = '" + std::string(300, 'x') + "'",
       [](TMemoryRecord& r) { r.SetText("Notes", std::string(300, 'x')); }, false},
      {"Name + '-' + Code = 'ab-cd'",
       [](TMemoryRecord& r) {
         r.SetText("Name", "ab");
         r.SetText("Code", "cd");
       },
       true},
  });
}

TEST(FilterEvaluateTest, Like) {
  RunCases({
      {"Name LIKE 'a%'", Name("abc"), true},
      {"Name LIKE 'a%'", Name("a"), true},
      {"Name LIKE 'a%'", Name("ba"), false},
      {"Name LIKE '%c'", Name("abc"), true},
      {"Name LIKE '%b%'", Name("abc"), true},
      {"Name LIKE 'a_c'", Name("abc"), true},
      {"Name LIKE 'a_c'", Name("ac"), false},
      {"Name LIKE 'abc%%'", Name("abc"), false},
      {"Name LIKE 'abc%%'", Name("abcd"), true},
      {"Name LIKE '%'", Name(""), true},
      {"Name LIKE ''", Name(""), true},
      {"Name LIKE '_'", Name(""), false},
      {"Name LIKE '%_'", Name(""), false},
      {"Name LIKE 'ABC'", Name("abc"), false},
      {"Name LIKE 'ABC'", Name("abc"), true, kCase},
      {"Name LIKE 'a*c'", Name("abc"), false},  // '*' is an ordinary character here
      {"Name LIKE 'a*c'", Name("a*c"), true},
      {"Name LIKE 'a%'", Name("a"), true, kNoPartial},
      {Ansi(u8"Name LIKE '存_区'"), Name(Ansi(u8"存储区")), true},
      {Ansi(u8"Name LIKE '%区'"), Name(Ansi(u8"存储区")), true},
      {"Name LIKE Code",
       [](TMemoryRecord& r) {
         r.SetText("Name", "abc");
         r.SetText("Code", "a%");
       },
       true},
  });
}

TEST(FilterEvaluateTest, NumbersBooleansAndIn) {
  RunCases({
      {"Age > 3", Int("Age", 4), true},
      {"Small = -1", Int("Small", -1), true},
      {"W = 65535", Int("W", 65535), true},
      {"Big = 3000000000", Int("Big", 3000000000LL), true},
      {"Big > 2147483647", Int("Big", 2147483648LL), true},
      {"Id = 7", Int("Id", 7), true},
      {"Price = 0.5", Real("Price", 0.5), true},
      {"Price < 1", Real("Price", 0.5), true},
      {"Cost > Price",
       [](TMemoryRecord& r) {
         r.SetFloat("Cost", 2.0);
         r.SetFloat("Price", 1.5);
       },
       true},
      {"Active = True", Int("Active", 1), true},
      {"Active <> False", Int("Active", 1), true},
      {"Active = False", Int("Active", 0), true},
      {"NOT Active = True", Int("Active", 0), true},
      {"x IN (1, 2, 3)", Int("x", 2), true},
      {"x IN (1, 2, 3)", Int("x", 4), false},
      {"x IN (1, 2,)", Int("x", 2), true},
      {"x IN (1.5, x + 1, 2)", Int("x", 2), true},
      {"Name IN ('a', 'b*')", Name("bcd"), true},
      {"Name IN ('a', 'b*')", Name("bcd"), false, kNoPartial},
      {"Active IN (False)", Int("Active", 0), true},
      {"HireDate IN ('1/1/2003', '1/2/2003')", Int("HireDate", Day(2003, 1, 2)), true},
      {"Age", Int("Age", 1), true},  // the root's first byte
      {"Age", Int("Age", 256), false},
      {Ansi(u8"存储区序号=3"), Int(Ansi(u8"存储区序号"), 3), true},
      {Ansi(u8"存储区序号=3"), Int(Ansi(u8"存储区序号"), 4), false},
  });
}

TEST(FilterEvaluateTest, PrecedenceAndAssociativity) {
  RunCases({
      {"Age = 1 OR Age = 2 AND Age = 3", Int("Age", 1), true},
      {"(Age = 1 OR Age = 2) AND Age = 3", Int("Age", 1), false},
      {"NOT Age = 1 AND Age = 2", Int("Age", 2), true},
      {"NOT (Age = 2 OR Age = 3)", Int("Age", 2), false},
      {"x - 1 - 1 = 0", Int("x", 2), true},
      {"x - 2 * 3 = -4", Int("x", 2), true},
      {"(x - 2) * 3 = 0", Int("x", 2), true},
      {"x / 4 * 2 = 1", Int("x", 2), true},
      {"x / 4 = 0.5", Int("x", 2), true},
      {"x - -1 = 3", Int("x", 2), true},
      {"12 / x / 2 = 3", Int("x", 2), true},
      {"a = 1 AND (-1 = b)",
       [](TMemoryRecord& r) {
         r.Set("A", 1);
         r.Set("B", -1);
       },
       true},
  });
}

TEST(FilterEvaluateTest, ArithmeticWrapsAndPromotes) {
  RunCases({
      {"A + B = -2147483648",
       [](TMemoryRecord& r) {
         r.Set("A", 2147483647);
         r.Set("B", 1);
       },
       true},
      {"A * B = 1410065408",
       [](TMemoryRecord& r) {
         r.Set("A", 100000);
         r.Set("B", 100000);
       },
       true},
      {"Small + W = 65534",
       [](TMemoryRecord& r) {
         r.Set("Small", 32767);
         r.Set("W", 32767);
       },
       true},
      {"Big + 1 < 0", Int("Big", std::numeric_limits<int64_t>::max()), true},
      {"Age + Price = 2.5",
       [](TMemoryRecord& r) {
         r.Set("Age", 2);
         r.SetFloat("Price", 0.5);
       },
       true},
      {"Age + Big = 4294967296",
       [](TMemoryRecord& r) {
         r.Set("Age", 1);
         r.Set("Big", 4294967295LL);
       },
       true},
  });
}

TEST(FilterEvaluateTest, TemporalValues) {
  auto stamp = [](double v) { return Real("Stamp", v); };
  RunCases({
      {"T = '10:30:00'", Int("T", Ms(10, 30, 0, 900)), true},
      {"T = '10:30:00'", Int("T", Ms(10, 30, 1, 0)), false},
      {"T > '10:30:00'", Int("T", Ms(10, 30, 1, 0)), true},
      {"T >= '10:30:00'", Int("T", Ms(10, 29, 59, 500)), true},
      {"T < '10:30:00'", Int("T", Ms(10, 29, 59, 500)), false},
      {"Stamp > '1/2/2003'", stamp(Stamp(2003, 1, 2, 23, 0)), false},
      {"Stamp > '1/2/2003'", stamp(Stamp(2003, 1, 3)), true},
      {"Stamp = '1/2/2003'", stamp(Stamp(2003, 1, 2, 23, 0)), true},
      {"Stamp < '1/2/2003 10:30 PM'", stamp(Stamp(2003, 1, 2, 22, 29)), true},
      {"Stamp < '1/2/2003 10:30 PM'", stamp(Stamp(2003, 1, 2, 22, 30, 0, 500)), false},
      {"Stamp = '1/2/2003 10:30 PM'", stamp(Stamp(2003, 1, 2, 22, 30, 0, 999)), true},
      {"HireDate > '12/31/03'", Int("HireDate", Day(2004, 1, 1)), true},
      {"HireDate = Stamp",
       [](TMemoryRecord& r) {
         r.Set("HireDate", Day(2003, 1, 2));
         r.SetFloat("Stamp", Stamp(2003, 1, 2, 12, 0));
       },
       true},
      {"Stamp < GETDATE()", stamp(Stamp(2026, 12, 10, 9, 0)), true},
      {"Stamp < GETDATE()", stamp(Stamp(2026, 12, 10, 11, 0)), false},
      // Pairs no rule compares are false for every operator.
      {"HireDate = T", nullptr, false},
      {"HireDate <> T", nullptr, false},
      {"HireDate >= T", nullptr, false},
      {"HireDate <= T", nullptr, false},
      {"T <> Stamp", nullptr, false},
      {"Stamp <> T", nullptr, false},
      {"NOT T <> Stamp", nullptr, true},
  });
}

TEST(FilterEvaluateTest, TemporalArithmetic) {
  auto hire = Int("HireDate", Day(2003, 1, 2));
  RunCases({
      {"HireDate - '1/1/2003' = 1", hire, true},
      {"'1/3/2003' - HireDate = 1", hire, true},
      {"HireDate + 1 = '1/3/2003'", hire, true},
      {"HireDate + 1.9 = '1/3/2003'", hire, true},  // a float moves by whole days
      {"HireDate - 1 = " + std::to_string(Day(2003, 1, 1)), hire, true},
      {"T - '10:00' = 1800000", Int("T", Ms(10, 30)), true},
      {"T + 5000 = '10:30:05'", Int("T", Ms(10, 30)), true},
      {"Stamp + 1 = '1/3/2003'", Real("Stamp", Stamp(2003, 1, 2, 12, 0)), true},
      {"Stamp + 1 > '1/3/2003'", Real("Stamp", Stamp(2003, 1, 2, 12, 0)), false},
      {"Stamp - 1 = " + std::to_string(static_cast<int64_t>(Stamp(2003, 1, 1, 12, 0))),
       Real("Stamp", Stamp(2003, 1, 2, 12, 0)), true},
      {"Stamp - '1/2/2003 10:00' = 7200000", Real("Stamp", Stamp(2003, 1, 2, 12, 0)), true},
      {"Stamp + Big = '1/3/2003'",
       [](TMemoryRecord& r) {
         r.SetFloat("Stamp", Stamp(2003, 1, 2));
         r.Set("Big", (int64_t{1} << 32) + 1);  // only the low 32 bits count
       },
       true},
  });
}

TEST(FilterEvaluateTest, Functions) {
  auto stamp = Real("Stamp", Stamp(2003, 12, 31, 22, 30, 15, 400));
  RunCases({
      {"UPPER(Name) = 'ABC' AND Name = 'abc'", Name("abc"), true},
      {"LOWER(Name) = 'abc'", Name("ABC"), true},
      {"UPPER(Name) = 'AB1_'", Name("ab1_"), true},
      // The second byte of 0xB1 0x61 is 'a': the character stays as it is.
      {"UPPER(Name) = '\xB1\x61"
       "A'",
       Name("\xB1\x61"
            "a"),
       true},
      {"SUBSTRING(Name, 5, 3) = ''", Name("abc"), true},
      {"SUBSTRING(Name, 2, 2) = 'bc'", Name("abcd"), true},
      {"SUBSTRING(Name, 3, 100) = 'cd'", Name("abcd"), true},
      {"SUBSTRING(Name, 0, 2) = 'ab'", Name("abcd"), true},
      {"SUBSTRING(Name, -5, 2) = 'ab'", Name("abcd"), true},
      {"SUBSTRING(Name, 2, -1) = ''", Name("abcd"), true},
      {"SUBSTRING(Name, 1, 2000000000) = 'abcd'", Name("abcd"), true},
      {"TRIM(Name) = 'a'", Name(" \ta \t"), true},
      {"TRIMLEFT(Name) = 'a \t'", Name(" \ta \t"), true},
      {"TRIMRIGHT(Name) = ' \ta'", Name(" \ta \t"), true},
      {"YEAR(HireDate) = 2003 AND MONTH(HireDate) = 12 AND DAY(HireDate) = 31",
       Int("HireDate", Day(2003, 12, 31)), true},
      {"YEAR(HireDate) = 1 AND MONTH(HireDate) = 1 AND DAY(HireDate) = 1", Int("HireDate", 1), true},
      {"YEAR(Stamp) = 2003 AND MONTH(Stamp) = 12 AND DAY(Stamp) = 31", stamp, true},
      {"HOUR(Stamp) = 22 AND MINUTE(Stamp) = 30 AND SECOND(Stamp) = 15", stamp, true},
      {"HOUR(T) = 10 AND MINUTE(T) = 5 AND SECOND(T) = 59", Int("T", Ms(10, 5, 59, 999)), true},
      {"HOUR(T) = 0", Int("T", 0), true},  // a time has no unset date
      {"YEAR(GETDATE()) = 2026", nullptr, true},
  });
}

struct FailCase {
  std::string filter;
  std::function<void(TMemoryRecord&)> record;
  std::string message;
  bool conversion;
};

TEST(FilterEvaluateTest, EvaluationErrors) {
  const std::vector<FailCase> cases = {
      {"A / B > 1", [](TMemoryRecord& r) { r.Set("A", 5); }, "Floating point division by zero", false},
      {"A / B > 1", nullptr, "Invalid floating point operation", false},
      {"Price / 0 > 1", Real("Price", -1), "Floating point division by zero", false},
      {"Price * Price > 0", Real("Price", 1e200), "Floating point overflow", false},
      {"YEAR(HireDate) = 2003", nullptr, "'0.0' is not a valid timestamp", true},
      {"DAY(HireDate) = 1", Int("HireDate", -3), "'-3.0' is not a valid timestamp", true},
      {"HOUR(Stamp) = 1", Real("Stamp", 5000.0), "'0.5000' is not a valid timestamp", true},
  };
  for (const FailCase& c : cases) {
    TFilterHarness h;
    if (c.record) c.record(h.Record);
    h.Parser.Parse(c.filter);
    try {
      h.Parser.Evaluate(TFilterOptions{});
      ADD_FAILURE() << c.filter << ": no error";
    } catch (const EConvertError& e) {
      EXPECT_TRUE(c.conversion) << c.filter;
      EXPECT_EQ(e.Message(), c.message) << c.filter;
    } catch (const EMathError& e) {
      EXPECT_FALSE(c.conversion) << c.filter;
      EXPECT_EQ(e.Message(), c.message) << c.filter;
    }
  }
}

TEST(FilterEvaluateTest, EachEvaluationReadsTheCurrentRecord) {
  TFilterHarness h;
  h.Parser.Parse("Age = 3 AND Notes = 'n'");
  h.Record.SetText("Notes", "n");
  h.Record.Set("Age", 3);
  EXPECT_TRUE(h.Parser.Evaluate(TFilterOptions{}));
  h.Record.Set("Age", 4);
  EXPECT_FALSE(h.Parser.Evaluate(TFilterOptions{}));
  h.Record.Set("Age", 3);
  h.Record.SetText("Notes", "m");
  EXPECT_FALSE(h.Parser.Evaluate(TFilterOptions{}));
  EXPECT_EQ(h.Record.BlobReads(), 2);  // skipped by AND the first time Age failed
  // A dataset that moved its record buffer is read at the new address.
  std::vector<uint8_t> moved = h.Record.Buffer();
  h.Record.Buffer().swap(moved);
  h.Record.SetText("Notes", "n");
  EXPECT_TRUE(h.Parser.Evaluate(TFilterOptions{}));
  // Without a record buffer every field reads as empty.
  h.Record.SetHasBuffer(false);
  EXPECT_FALSE(h.Parser.Evaluate(TFilterOptions{}));
  h.Parser.Parse("Age = 0 AND Name = ''");
  EXPECT_TRUE(h.Parser.Evaluate(TFilterOptions{}));
}

TEST(FilterEvaluateTest, FieldValueReadsTheCurrentRecord) {
  TFilterHarness h;
  h.Record.SetText("Name", "abc");
  h.Record.Set("Big", int64_t{1} << 40);
  h.Record.Set("Active", 1);
  h.Record.Set("HireDate", Day(1900, 1, 1));
  h.Record.SetText("Notes", "memo");
  EXPECT_EQ(h.Parser.FieldValue("Name").AsString(), "abc");
  EXPECT_EQ(h.Parser.FieldValue("Big").AsInt64(), int64_t{1} << 40);
  EXPECT_TRUE(h.Parser.FieldValue("Active").AsBoolean());
  EXPECT_EQ(h.Parser.FieldValue("HireDate").AsDateTime(), 2.0);
  EXPECT_EQ(h.Parser.FieldValue("Notes").AsString(), "memo");
  EXPECT_THROW(h.Parser.FieldValue("Nope"), EDatabaseError);
}

TEST(FilterEvaluateTest, DateTextsTheScannersRejectFallBackToTheLocaleFormat) {
  FormatSettings().DateSeparator = '-';
  FormatSettings().ShortDateFormat = "yyyy-mm-dd";
  RunCases({
      {"HireDate = '2003-01-02'", Int("HireDate", Day(2003, 1, 2)), true},
      {"HireDate = '2003-01-02'", Int("HireDate", Day(2003, 1, 3)), false},
      {"Stamp = '2003-01-02 10:30'", Real("Stamp", Stamp(2003, 1, 2, 10, 30)), true},
  });
  FormatSettings() = TFormatSettings();
}

TEST(FilterEvaluateTest, CommaDecimalSeparator) {
  FormatSettings().DecimalSeparator = ',';
  RunCases({
      {"Price = 1,5", Real("Price", 1.5), true},
      {"x IN (1, 2)", Int("x", 2), true},
      {"T = '10:30:15,250'", Int("T", Ms(10, 30, 15, 250)), true},
  });
  FormatSettings() = TFormatSettings();
}

}  // namespace
}  // namespace lanqi
