#include "engine/filter/DateText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtl/FormatSettings.h"

namespace lanqi {
namespace {

struct DateCase {
  std::string text;
  int currentYear;
  bool ok;
  int year, month, day;
};

TEST(FilterDateTextTest, ScanDateAndTheCenturyWindow) {
  const std::vector<DateCase> cases = {
      {"12/31/03", 1954, true, 2003, 12, 31},
      {"12/31/03", 2053, true, 2003, 12, 31},
      {"12/31/03", 2054, true, 2103, 12, 31},
      {"12/31/03", 1953, true, 1903, 12, 31},
      {"1/2/76", 2026, true, 1976, 1, 2},
      {"1/2/75", 2026, true, 2075, 1, 2},
      {"1/2/2003", 2026, true, 2003, 1, 2},
      {" 1 / 2 / 2003", 2026, true, 2003, 1, 2},
      {"1/2/099", 2026, true, 99, 1, 2},
      {"2/29/2004", 2026, true, 2004, 2, 29},
      {"1/1/1", 2026, true, 2001, 1, 1},
      {"2/29/2003", 2026, false, 0, 0, 0},
      {"13/1/2003", 2026, false, 0, 0, 0},
      {"0/1/2003", 2026, false, 0, 0, 0},
      {"1/2", 2026, false, 0, 0, 0},
      {"1-2-2003", 2026, false, 0, 0, 0},
      {"12345/1/1", 2026, false, 0, 0, 0},
      {"\t1/2/2003", 2026, false, 0, 0, 0},
      {"", 2026, false, 0, 0, 0},
  };
  for (const DateCase& c : cases) {
    size_t pos = 0;
    int32_t day = 0;
    bool ok = ScanDate(c.text, pos, day, c.currentYear);
    ASSERT_EQ(ok, c.ok) << c.text;
    if (!ok) continue;
    EXPECT_EQ(pos, c.text.size()) << c.text;
    EXPECT_EQ(day, DayNumberOf(c.year, c.month, c.day)) << c.text;
  }
}

TEST(FilterDateTextTest, DayNumbersFollowTheGregorianCalendar) {
  EXPECT_EQ(DayNumberOf(1, 1, 1), 1);
  EXPECT_EQ(DayNumberOf(1899, 12, 30), 693594);
  EXPECT_EQ(DayNumberOf(1970, 1, 1), 719163);
  EXPECT_EQ(DayNumberOf(2000, 3, 1) - DayNumberOf(2000, 2, 28), 2);
  EXPECT_EQ(DayNumberOf(1900, 3, 1) - DayNumberOf(1900, 2, 28), 1);
  for (int32_t n : {1, 59, 60, 693594, 730119, 730120, 3652059}) {
    int y, m, d;
    DecodeDayNumber(n, y, m, d);
    EXPECT_EQ(DayNumberOf(y, m, d), n);
  }
}

struct TimeCase {
  std::string text;
  bool ok;
  int32_t ms;
};

TEST(FilterDateTextTest, ScanTimeForms) {
  auto ms = [](int h, int m, int s = 0, int z = 0) { return ((h * 60 + m) * 60 + s) * 1000 + z; };
  const std::vector<TimeCase> cases = {
      {"10:30", true, ms(10, 30)},
      {"10:30:15.250", true, ms(10, 30, 15, 250)},
      {"10", true, ms(10, 0)},
      {" 10 : 30 ", true, ms(10, 30)},
      {"10:30 PM", true, ms(22, 30)},
      {"10:30 pm", true, ms(22, 30)},
      {"PM 10:30", true, ms(22, 30)},
      {"12:00 AM", true, 0},
      {"12:00 PM", true, ms(12, 0)},
      {"13:00 PM", false, 0},
      {"0:30 AM", false, 0},
      {"23:59:59.999", true, ms(23, 59, 59, 999)},
      {"24:00", false, 0},
      {"10:60", false, 0},
      {"10:30:60", false, 0},
      {"10:30:00.1000", false, 0},
      {"10:", false, 0},
      {"", false, 0},
  };
  const TFormatSettings fs;
  for (const TimeCase& c : cases) {
    size_t pos = 0;
    int32_t got = -1;
    bool ok = ScanTime(c.text, pos, got, fs);
    ASSERT_EQ(ok, c.ok) << c.text;
    if (!ok) continue;
    EXPECT_EQ(pos, c.text.size()) << c.text;
    EXPECT_EQ(got, c.ms) << c.text;
  }
  // The locale's own designators count, ignoring letter case.
  TFormatSettings local;
  local.TimeAMString = "vorm";
  local.TimePMString = "nachm";
  size_t pos = 0;
  int32_t got = 0;
  ASSERT_TRUE(ScanTime("1:15 NACHM", pos, got, local));
  EXPECT_EQ(got, ms(13, 15));
}

TEST(FilterDateTextTest, ScanDateTimeForms) {
  const TFormatSettings fs;
  const double day = DayNumberOf(2003, 1, 2) * 86400000.0;
  const std::vector<std::pair<std::string, double>> good = {
      {"1/2/2003", day},
      {"1/2/2003 10:30 PM", day + 81000000.0},
      {"1/2/2003 10:30 and more", day + 37800000.0},  // what follows the time is not read
      {"10:30", 37800000.0},
  };
  for (const auto& [text, expected] : good) {
    double got = 0;
    ASSERT_TRUE(ScanDateTime(text, got, 2026, fs)) << text;
    EXPECT_EQ(got, expected) << text;
  }
  for (const char* bad : {"1/2/2003 junk", "10:30 junk", "junk", ""}) {
    double got = 0;
    EXPECT_FALSE(ScanDateTime(bad, got, 2026, fs)) << bad;
  }
}

}  // namespace
}  // namespace lanqi
