#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "rtl/Exceptions.h"
#include "rtl/NumText.h"
#include "tests/rtl/RtlTestSupport.h"

namespace lanqi {
namespace {

class NumText : public PinnedFormatSettings {};

TEST_F(NumText, FloatToStrGeneralFormat) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double v;
    const char* text;
  };
  const Case cases[] = {
      {2048.0 / 1024, "2"},
      {1536.0 / 1024, "1.5"},
      {12345.0 / 1024, "12.0556640625"},
      {0.0, "0"},
      {-0.0, "0"},
      {-1.5, "-1.5"},
      {100, "100"},
      {123.456, "123.456"},
      {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"},
      {0.1 + 0.2, "0.3"},  // 15 digits hide the binary noise
      {123456789012345.0, "123456789012345"},
      {100000000000000.0, "100000000000000"},
      {1e15, "1E15"},
      {1234567890123456.0, "1.23456789012346E15"},
      {-2.5e20, "-2.5E20"},
      {0.0001, "0.0001"},
      {0.00001, "1E-5"},
      {1.5e-7, "1.5E-7"},
      {-1e-10, "-1E-10"},
      {1e-300, "1E-300"},
      {5e-324, "4.94065645841247E-324"},
      {1e308, "1E308"},
      {-1.7976931348623157e308, "-1.79769313486232E308"},
      {std::nan(""), "NAN"},
      {inf, "INF"},
      {-inf, "-INF"},
  };
  for (const Case& c : cases) EXPECT_EQ(FloatToStr(c.v), c.text) << c.text;
}

TEST_F(NumText, FloatToStrUsesTheLocaleDecimalSeparator) {
  TFormatSettings fs;
  fs.DecimalSeparator = ',';
  EXPECT_EQ(FloatToStr(1536.0 / 1024, fs), "1,5");
  EXPECT_EQ(FloatToStr(1.5e-7, fs), "1,5E-7");
  EXPECT_EQ(FloatToStr(2, fs), "2");
  FormatSettings().DecimalSeparator = ',';  // the process-wide record is the default
  EXPECT_EQ(FloatToStr(12345.0 / 1024), "12,0556640625");
}

TEST_F(NumText, StrToFloat) {
  struct Case {
    const char* text;
    double v;
  };
  const Case cases[] = {{"1.5", 1.5},
                        {" -2.5e3 ", -2500},
                        {"+.5", 0.5},
                        {"5.", 5},
                        {"1E15", 1e15},
                        {"1.5E-7", 1.5e-7},
                        {"12.0556640625", 12345.0 / 1024},
                        {"0", 0},
                        {"007", 7},
                        {"1e-400", 0},
                        {"1.7976931348623157e308", 1.7976931348623157e308}};
  for (const Case& c : cases) EXPECT_EQ(StrToFloat(c.text), c.v) << c.text;
  for (const char* bad : {"", " ", "-", ".", "abc", "1e", "1e+", "1.5.2", "1e400", "-1e400", "1 2", "0x10",
                          "INF", "NAN", "1,000", "1.5x", "--1"}) {
    EXPECT_EQ(MessageOf<EConvertError>([&] { StrToFloat(bad); }),
              std::string("'") + bad + "' is not a valid floating point value");
  }
  TFormatSettings fs;
  fs.DecimalSeparator = ',';
  EXPECT_EQ(StrToFloat("1,5", fs), 1.5);
  double out = 0;
  EXPECT_FALSE(TryStrToFloat("1.5", out, fs));  // only the locale's separator
  for (double v : {12345.0 / 1024, 0.1, 1e-20, -123456.789, 1.5e300}) EXPECT_EQ(StrToFloat(FloatToStr(v)), v);
}

TEST(NumTextInt, IntToStr) {
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToStr(-5), "-5");
  EXPECT_EQ(IntToStr(std::numeric_limits<int64_t>::max()), "9223372036854775807");
  EXPECT_EQ(IntToStr(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
}

TEST(NumTextInt, StrToInt) {
  struct Case {
    const char* text;
    int32_t v;
  };
  const Case cases[] = {{"0", 0},
                        {"123", 123},
                        {"-123", -123},
                        {"+7", 7},
                        {" 42 ", 42},
                        {"$FF", 255},
                        {"0x1f", 31},
                        {"0X10", 16},
                        {"-$10", -16},
                        {"007", 7},
                        {"2147483647", INT32_MAX},
                        {"-2147483648", INT32_MIN},
                        {"$FFFFFFFF", -1},
                        {"0x80000000", INT32_MIN}};
  for (const Case& c : cases) EXPECT_EQ(StrToInt(c.text), c.v) << c.text;
  for (const char* bad : {"", " ", "-", "+", "12a", "1 2", "2147483648", "-2147483649", "99999999999",
                          "$100000000", "1.5", "0x", "$", "$G", "--1", "1e3"}) {
    EXPECT_EQ(MessageOf<EConvertError>([&] { StrToInt(bad); }),
              std::string("'") + bad + "' is not a valid integer value");
  }
  EXPECT_EQ(StrToIntDef("abc", 7), 7);
  EXPECT_EQ(StrToIntDef("8", 7), 8);
}

TEST(NumTextInt, StrToInt64) {
  EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(StrToInt64("4294967296"), 4294967296LL);
  EXPECT_EQ(StrToInt64("$FFFFFFFFFFFFFFFF"), -1);
  EXPECT_EQ(StrToInt64(" -12 "), -12);
  for (const char* bad : {"9223372036854775808", "-9223372036854775809", "$10000000000000000", "x", "1.0"}) {
    EXPECT_EQ(MessageOf<EConvertError>([&] { StrToInt64(bad); }),
              std::string("'") + bad + "' is not a valid integer value");
  }
}

}  // namespace
}  // namespace lanqi
