#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

#include "rtl/DateTime.h"
#include "rtl/Exceptions.h"
#include "tests/rtl/RtlTestSupport.h"

namespace lanqi {
namespace {

TDateTime DT(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return EncodeDateTime(y, mo, d, h, mi, s, ms);
}

TEST(DateTime, DayNumbersOfKnownDates) {
  struct Case {
    int y, m, d;
    int32_t dayNumber;
    int dayOfWeek;  // 1 = Sunday
  };
  const Case cases[] = {
      {1, 1, 1, 1, 2},         {1899, 12, 30, 693594, 7}, {1900, 1, 1, 693596, 2},
      {1900, 3, 1, 693655, 5}, {1970, 1, 1, 719163, 5},   {2000, 2, 29, 730179, 3},
      {2000, 3, 1, 730180, 4}, {2024, 3, 5, 738950, 3},   {9999, 12, 31, 3652059, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.y << "-" << c.m << "-" << c.d);
    TDateTime dt = EncodeDate(c.y, c.m, c.d);
    EXPECT_EQ(dt, static_cast<double>(c.dayNumber - DateDelta));
    EXPECT_EQ(DateTimeToDayNumber(dt), c.dayNumber);
    EXPECT_EQ(DayNumberToDateTime(c.dayNumber), dt);
    EXPECT_EQ(DayOfWeek(dt), c.dayOfWeek);
  }
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(DateDelta, 693594);
}

TEST(DateTime, EveryDayDecodesAndEncodesBack) {
  int py = 1, pm = 1, pd = 0;
  for (int32_t n = 1; n <= 3652059; ++n) {
    int y, m, d;
    DecodeDate(DayNumberToDateTime(n), y, m, d);
    // Consecutive: the next day, or the first of the next month or year.
    bool next = (y == py && m == pm && d == pd + 1) ||
                (y == py && m == pm + 1 && d == 1 && pd == DaysInMonth(py, pm)) ||
                (y == py + 1 && m == 1 && d == 1 && pm == 12 && pd == 31);
    if (!next) {
      ADD_FAILURE() << "day " << n << " decodes to " << y << "-" << m << "-" << d << " after " << py << "-"
                    << pm << "-" << pd;
      return;
    }
    TDateTime back;
    ASSERT_TRUE(TryEncodeDate(y, m, d, back));
    ASSERT_EQ(DateTimeToDayNumber(back), n);
    py = y, pm = m, pd = d;
  }
  EXPECT_EQ(py, 9999);
}

TEST(DateTime, LeapYearsAndInvalidDates) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_TRUE(IsLeapYear(1600));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2023));
  EXPECT_FALSE(IsLeapYear(2100));
  EXPECT_EQ(DaysInMonth(2024, 2), 29);
  EXPECT_EQ(DaysInMonth(1900, 2), 28);
  EXPECT_EQ(DaysInMonth(2023, 4), 30);
  EXPECT_EQ(DaysInMonth(2023, 13), 0);

  struct Case {
    int y, m, d;
    bool valid;
  };
  const Case cases[] = {{2000, 2, 29, true},  {2024, 2, 29, true},  {1900, 2, 29, false},
                        {2023, 2, 29, false}, {2023, 4, 31, false}, {2023, 12, 31, true},
                        {0, 1, 1, false},     {10000, 1, 1, false}, {2023, 0, 1, false},
                        {2023, 13, 1, false}, {2023, 1, 0, false},  {-5, 1, 1, false}};
  for (const Case& c : cases) {
    TDateTime out = 123;
    EXPECT_EQ(TryEncodeDate(c.y, c.m, c.d, out), c.valid) << c.y << "-" << c.m << "-" << c.d;
    if (!c.valid) {
      EXPECT_EQ(out, 123);  // untouched on failure
    }
  }
  EXPECT_EQ(MessageOf<EConvertError>([] { EncodeDate(1900, 2, 29); }), "Invalid argument to date encode");
  EXPECT_EQ(MessageOf<EConvertError>([] { EncodeTime(24, 0, 0, 0); }), "Invalid argument to time encode");
}

TEST(DateTime, TimesEncodeAndDecodeBack) {
  EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  EXPECT_EQ(EncodeTime(6, 0, 0, 0), 0.25);
  TDateTime t;
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, t));
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, t));
  EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, t));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, t));
  EXPECT_FALSE(TryEncodeTime(-1, 0, 0, 0, t));
  for (int s = 0; s < 86400; ++s) {
    for (int ms : {0, 1, 500, 999}) {
      TDateTime v = EncodeDateTime(2024, 3, 5, s / 3600, s / 60 % 60, s % 60, ms);
      int y, mo, d, h, mi, se, mse;
      DecodeDate(v, y, mo, d);
      DecodeTime(v, h, mi, se, mse);
      ASSERT_EQ((y * 100 + mo) * 100 + d, 20240305);
      ASSERT_EQ(((h * 60 + mi) * 60 + se) * 1000 + mse, s * 1000 + ms);
    }
  }
}

TEST(DateTime, NegativeValuesTakeTheDayFromTheIntegerPartAndTheTimeFromTheFraction) {
  // -1.25: the day before 1899-12-30, at 06:00.
  int y, m, d, h, mi, s, ms;
  DecodeDate(-1.25, y, m, d);
  DecodeTime(-1.25, h, mi, s, ms);
  EXPECT_EQ((y * 100 + m) * 100 + d, 18991229);
  EXPECT_EQ(h, 6);
  EXPECT_EQ(DT(1899, 12, 29, 6), -1.25);
  TTimeStamp ts = DateTimeToTimeStamp(-1.25);
  EXPECT_EQ(ts.Date, DateDelta - 1);
  EXPECT_EQ(ts.Time, 6 * 3600000);
  EXPECT_EQ(TimeStampToDateTime(ts), -1.25);
  // -0.5 and 0.5 are the same moment: 1899-12-30 12:00.
  EXPECT_EQ(DateTimeToTimeStamp(-0.5).Date, DateDelta);
  EXPECT_EQ(DateTimeToTimeStamp(-0.5).Time, 12 * 3600000);
  EXPECT_EQ(DT(1, 1, 1, 23, 59, 59, 999), -693593 - (86399999.0 / MSecsPerDay));
  EXPECT_EQ(DateTimeToTimeStamp(DT(1, 1, 1, 23, 59, 59, 999)).Time, 86399999);
}

TEST(DateTime, TimeStampsAndMilliseconds) {
  // Rounds to the nearest millisecond.
  EXPECT_EQ(DateTimeToTimeStamp(0.5 + 0.4 / MSecsPerDay).Time, 43200000);
  EXPECT_EQ(DateTimeToTimeStamp(0.5 + 0.6 / MSecsPerDay).Time, 43200001);
  TTimeStamp ts{3600000, 730120};  // 2000-01-01 01:00
  EXPECT_EQ(TimeStampToMSecs(ts), 730120.0 * 86400000 + 3600000);
  TTimeStamp back = MSecsToTimeStamp(730120.0 * 86400000 + 3600000);
  EXPECT_EQ(back.Date, 730120);
  EXPECT_EQ(back.Time, 3600000);
  EXPECT_EQ(TimeStampToDateTime(back), DT(2000, 1, 1, 1));
  // An unset date (day number 0) is no valid timestamp.
  EXPECT_EQ(MessageOf<EConvertError>([] {
              TimeStampToDateTime(TTimeStamp{0, 0});
            }),
            "'0.0' is not a valid timestamp");
  EXPECT_EQ(MessageOf<EConvertError>([] {
              TimeStampToMSecs(TTimeStamp{-1, 5});
            }),
            "'5.-1' is not a valid timestamp");
  EXPECT_EQ(MessageOf<EConvertError>([] { DateTimeToTimeStamp(NAN); }), "'NAN' is not a valid date and time");
  EXPECT_THROW(DateTimeToTimeStamp(1e300), EConvertError);
  // Day number 0 and less decode to zeros instead of failing.
  int y, m, d;
  DecodeDate(DayNumberToDateTime(0), y, m, d);
  EXPECT_EQ(y + m + d, 0);
}

class DateTimeText : public PinnedFormatSettings {};

TEST_F(DateTimeText, VersionStampPattern) {
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd-hh-mm-ss", DT(2024, 3, 5, 7, 8, 9, 999)), "2024-03-05-07-08-09");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd-hh-mm-ss", DT(2023, 12, 31, 23, 59, 58)), "2023-12-31-23-59-58");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd-hh-mm-ss", 0), "1899-12-30-00-00-00");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd-hh-mm-ss", DT(1, 1, 1)), "0001-01-01-00-00-00");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd-hh-mm-ss", DT(2024, 3, 5, 7, 8, 9)).size(), 19u);
  // The locale's separators do not touch it.
  TFormatSettings fs;
  fs.DateSeparator = '.';
  fs.TimeSeparator = '-';
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd-hh-mm-ss", DT(2024, 3, 5, 17, 8, 9), fs), "2024-03-05-17-08-09");
}

TEST_F(DateTimeText, PatternLanguage) {
  const TDateTime morning = DT(2024, 3, 5, 7, 8, 9, 45);  // a Tuesday
  const TDateTime evening = DT(2024, 3, 5, 19, 8, 9);
  struct Case {
    const char* pattern;
    TDateTime dt;
    const char* expected;
  };
  const Case cases[] = {
      {"d/m/yy", morning, "5/3/24"},
      {"dd/mm/yyyy", morning, "05/03/2024"},
      {"mmm mmmm ddd dddd", morning, "Mar March Tue Tuesday"},
      {"h:m:s", morning, "7:8:9"},  // m right after h is minutes
      {"hh:nn:ss.zzz", morning, "07:08:09.045"},
      {"h:nn am/pm", evening, "7:08 pm"},
      {"h:nn AM/PM", morning, "7:08 AM"},
      {"h:nn a/p", evening, "7:08 p"},
      {"h:nn AMPM", evening, "7:08 PM"},
      {"hh:nn", evening, "19:08"},
      {"h AMPM", DT(2024, 3, 5, 0, 30), "12 AM"},
      {"h AMPM", DT(2024, 3, 5, 12, 30), "12 PM"},
      {"AMPM h 'am/pm' h", evening, "PM 7 am/pm 7"},  // a marker before the hour counts, a quoted one not
      {"h 'ampm' h", evening, "19 ampm 19"},
      {"\"yyyy\" yyyy 'mm' mm", morning, "yyyy 2024 mm 03"},
      {"yyyy-mm-dd x", morning, "2024-03-05 x"},
      {"ddddd", morning, "3/5/2024"},
      {"t", morning, "7:08 AM"},
      {"tt", morning, "7:08:09 AM"},
      {"c", morning, "3/5/2024 7:08:09 AM"},
      {"c", DT(2024, 3, 5), "3/5/2024"},
      {"", evening, "3/5/2024 7:08:09 PM"},
      {"dddddd", morning, "March 5, 2024"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatDateTime(c.pattern, c.dt), c.expected) << c.pattern;
  EXPECT_EQ(DateToStr(morning), "3/5/2024");
  EXPECT_EQ(TimeToStr(morning), "7:08:09 AM");
  EXPECT_EQ(DateTimeToStr(morning), "3/5/2024 7:08:09 AM");
}

TEST_F(DateTimeText, LocalePatternsAndSeparators) {
  TFormatSettings fs;
  fs.ShortDateFormat = "yyyy/m/d";
  fs.DateSeparator = '-';
  fs.LongTimeFormat = "h:mm:ss";
  fs.TimeSeparator = ':';
  EXPECT_EQ(DateTimeToStr(DT(2024, 3, 5, 17, 8, 9), fs), "2024-3-5 17:08:09");
  EXPECT_EQ(DateToStr(DT(2024, 3, 5), fs), "2024-3-5");
  // Two-byte characters in a pattern stay whole, even when their second byte looks like a letter:
  // 0x81 0x6D is one character, not a month.
  const std::string gbkYear = "\xC4\xEA", odd = "\x81\x6D";
  EXPECT_EQ(FormatDateTime("yyyy" + gbkYear + odd + "m", DT(2024, 3, 5), fs), "2024" + gbkYear + odd + "3");
  // Locale designators.
  fs.TimeAMString = "\xC9\xCF\xCE\xE7";  // 上午
  fs.TimePMString = "\xCF\xC2\xCE\xE7";  // 下午
  EXPECT_EQ(FormatDateTime("AMPM h:nn", DT(2024, 3, 5, 15, 4), fs), "\xCF\xC2\xCE\xE7 3:04");
}

TEST_F(DateTimeText, TextToDateInTheLocaleOrder) {
  EXPECT_EQ(StrToDate("3/5/2024"), DT(2024, 3, 5));
  EXPECT_EQ(StrToDate(" 3 / 5 / 2024 "), DT(2024, 3, 5));
  EXPECT_EQ(StrToDate("12/31/9999"), DT(9999, 12, 31));
  EXPECT_EQ(StrToDate("1/1/0001"), DT(1, 1, 1));  // four digits: as written

  TFormatSettings dmy;
  dmy.ShortDateFormat = "dd.mm.yyyy";
  dmy.DateSeparator = '.';
  EXPECT_EQ(StrToDate("5.3.2024", dmy), DT(2024, 3, 5));
  TFormatSettings ymd;
  ymd.ShortDateFormat = "yyyy-mm-dd";
  ymd.DateSeparator = '-';
  EXPECT_EQ(StrToDate("2024-03-05", ymd), DT(2024, 3, 5));
  TDateTime out;
  EXPECT_FALSE(TryStrToDate("3/5/2024", out, ymd));  // the locale's separator only

  // Two numbers: the current year; two-digit years within 50 years before and 49 after now.
  int cy, cm, cd;
  DecodeDate(Date(), cy, cm, cd);
  EXPECT_EQ(StrToDate("3/5"), DT(cy, 3, 5));
  EXPECT_EQ(StrToDate("5.3", dmy), DT(cy, 3, 5));
  auto twoDigits = [](int y) { return std::to_string(y % 100 / 10) + std::to_string(y % 10); };
  EXPECT_EQ(StrToDate("1/2/" + twoDigits(cy + 10)), DT(cy + 10, 1, 2));
  EXPECT_EQ(StrToDate("1/2/" + twoDigits(cy - 40)), DT(cy - 40, 1, 2));
  EXPECT_EQ(StrToDate("1/2/" + twoDigits(cy + 49)), DT(cy + 49, 1, 2));
  EXPECT_EQ(StrToDate("1/2/" + twoDigits(cy + 50)), DT(cy - 50, 1, 2));

  for (const char* bad :
       {"2/30/2024", "13/1/2024", "abc", "", "3/5/2024x", "3-5-2024", "3/", "3//2024", "3/5/20245"}) {
    EXPECT_EQ(MessageOf<EConvertError>([&] { StrToDate(bad); }),
              std::string("'") + bad + "' is not a valid date");
  }
}

TEST_F(DateTimeText, TextToTime) {
  struct Case {
    const char* text;
    int h, m, s, ms;
  };
  const Case cases[] = {
      {"7:08:09", 7, 8, 9, 0},       {"7:08", 7, 8, 0, 0},       {"7", 7, 0, 0, 0},
      {" 23:59:59 ", 23, 59, 59, 0}, {"7:08 PM", 19, 8, 0, 0},   {"PM 7:08", 19, 8, 0, 0},
      {"12:00 AM", 0, 0, 0, 0},      {"12:30 pm", 12, 30, 0, 0}, {"am 1:05", 1, 5, 0, 0},
      {"7:08:09.5", 7, 8, 9, 5},  // the digits after the separator count milliseconds
      {"7:08:09.123", 7, 8, 9, 123},
  };
  for (const Case& c : cases) EXPECT_EQ(StrToTime(c.text), EncodeTime(c.h, c.m, c.s, c.ms)) << c.text;
  for (const char* bad : {"24:00", "7:60", "13:00 PM", "0:30 AM", "7:", "x", "", "7:08:09.1000", "7.08"}) {
    EXPECT_EQ(MessageOf<EConvertError>([&] { StrToTime(bad); }),
              std::string("'") + bad + "' is not a valid time");
  }
  TFormatSettings fs;
  fs.TimeSeparator = '.';
  fs.DecimalSeparator = ',';
  fs.TimeAMString = "\xC9\xCF\xCE\xE7";  // 上午
  fs.TimePMString = "\xCF\xC2\xCE\xE7";  // 下午
  EXPECT_EQ(StrToTime("\xCF\xC2\xCE\xE7 3.04", fs), EncodeTime(15, 4, 0, 0));
  EXPECT_EQ(StrToTime("3.04.05,250 PM", fs), EncodeTime(15, 4, 5, 250));
  TDateTime out;
  EXPECT_FALSE(TryStrToTime("3:04", out, fs));
}

TEST_F(DateTimeText, TextToDateAndTime) {
  EXPECT_EQ(StrToDateTime("3/5/2024 7:08:09 PM"), DT(2024, 3, 5, 19, 8, 9));
  EXPECT_EQ(StrToDateTime("3/5/2024"), DT(2024, 3, 5));
  EXPECT_EQ(StrToDateTime("7:08"), EncodeTime(7, 8, 0, 0));  // a time alone: on day 0
  EXPECT_EQ(StrToDateTime("12/29/1899 6:00"), -1.25);        // before day 0 the time is subtracted
  TDateTime v = DT(2024, 3, 5, 7, 8, 9);
  EXPECT_EQ(StrToDateTime(DateTimeToStr(v)), v);
  for (const char* bad : {"3/5/2024 25:00", "2/30/2024 1:00", "abc", "", "3/5/2024 x"}) {
    EXPECT_EQ(MessageOf<EConvertError>([&] { StrToDateTime(bad); }),
              std::string("'") + bad + "' is not a valid date and time");
  }
}

TEST(DateTime, NowDateAndTimeAgree) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    time_t before = time(nullptr);
    TDateTime n = Now(), d = Date(), t = Time();
    time_t after = time(nullptr);
    if (std::floor(n) != d) continue;  // midnight passed between the calls
    EXPECT_EQ(d, std::floor(d));
    EXPECT_GE(t, 0);
    EXPECT_LT(t, 1);
    EXPECT_NEAR(d + t, n, 2.0 / 86400);
    tm local{};
    localtime_r(&before, &local);
    TDateTime clock = DT(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                         local.tm_sec > 59 ? 59 : local.tm_sec);
    EXPECT_GE(n, clock);
    EXPECT_LE(n, clock + (static_cast<double>(after - before) + 1.0) / 86400);
    return;
  }
  FAIL() << "the date kept changing";
}

}  // namespace
}  // namespace lanqi
