#include "platform/Locale.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/CodePage.h"
#include "tests/support/TempDir.h"

#if defined(__SANITIZE_ADDRESS__)
#define LANQI_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LANQI_LSAN 1
#endif
#endif
#ifdef LANQI_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace lanqi {
namespace {

// glibc's newlocale leaks its copy of LOCPATH; that leak is not ours to report.
class LocPathLeakIgnored {
 public:
#ifdef LANQI_LSAN
  LocPathLeakIgnored() {
    __lsan_disable();
  }
  ~LocPathLeakIgnored() {
    __lsan_enable();
  }
#endif
};

TEST(LocaleTest, StrftimePatternsBecomeRuntimePatterns) {
  struct Case {
    const char* strftime;
    const char* pattern;
  } cases[] = {
      {"%m/%d/%y", "mm/dd/yy"},
      {"%d.%m.%Y", "dd.mm.yyyy"},
      {"%Y-%m-%d", "yyyy-mm-dd"},
      {"%e %B %Y", "d mmmm yyyy"},
      {"%a %b %d", "ddd mmm dd"},
      {"%H:%M:%S", "hh:nn:ss"},
      {"%T", "hh:nn:ss"},
      {"%r", "hh:nn:ss AMPM"},
      {"%l:%M %p", "h:nn AMPM"},
      {"%Y年%m月%d日", "yyyy\"年\"mm\"月\"dd\"日\""},
      {"%H时%M分%S秒", "hh\"时\"nn\"分\"ss\"秒\""},
      {"%Ey/%Om/%-d", "yy/mm/d"},
      {"%d de %B", "dd \"de\" mmmm"},  // letters of the pattern language stay literal
      {"%H:%M %Z", "hh:nn "},          // no time-zone directive: dropped
      {"100%%", "\"100%\""},
  };
  for (const auto& c : cases) EXPECT_EQ(StrftimeToPattern(c.strftime), c.pattern) << c.strftime;
}

TEST(LocaleTest, CLocaleGivesDotAndAmPm) {
  TFormatSettings fs;
  ASSERT_TRUE(LocaleFormatSettings("C", fs));
  EXPECT_EQ(fs.DecimalSeparator, '.');
  EXPECT_EQ(fs.ShortDateFormat, "mm/dd/yy");
  EXPECT_EQ(fs.DateSeparator, '/');
  EXPECT_EQ(fs.LongTimeFormat, "hh:nn:ss");
  EXPECT_EQ(fs.ShortTimeFormat, "hh:nn");
  EXPECT_EQ(fs.TimeSeparator, ':');
  EXPECT_EQ(fs.TimeAMString, "AM");
  EXPECT_EQ(fs.TimePMString, "PM");
  EXPECT_FALSE(LocaleFormatSettings("xx_NOWHERE.UTF-8", fs));
  EXPECT_EQ(fs.DecimalSeparator, '.');
}

// Real locales compiled into a temporary folder (the machine may have none installed).
class BuiltLocaleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<test::TempDir>();
    for (const char* name : {"de_DE", "zh_CN"}) {
      std::string cmd =
          "localedef -i " + std::string(name) + " -f UTF-8 '" + dir_->File(name) + ".UTF-8' >/dev/null 2>&1";
      built_ = std::system(cmd.c_str()) == 0 && built_;
    }
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override {
    if (!built_) GTEST_SKIP() << "localedef cannot build the test locales";
    const char* old = std::getenv("LOCPATH");
    oldLocPath_ = old ? old : "";
    hadLocPath_ = old != nullptr;
    setenv("LOCPATH", dir_->Path().c_str(), 1);
    SetSystemCodePage(936);
  }
  void TearDown() override {
    if (hadLocPath_)
      setenv("LOCPATH", oldLocPath_.c_str(), 1);
    else
      unsetenv("LOCPATH");
  }
  static inline std::unique_ptr<test::TempDir> dir_;
  static inline bool built_ = true;
  std::string oldLocPath_;
  bool hadLocPath_ = false;
};

TEST_F(BuiltLocaleTest, GermanCommaAndDottedDate) {
  [[maybe_unused]] LocPathLeakIgnored ignore;
  TFormatSettings fs;
  ASSERT_TRUE(LocaleFormatSettings("de_DE.UTF-8", fs));
  EXPECT_EQ(fs.DecimalSeparator, ',');
  EXPECT_EQ(fs.ThousandSeparator, '.');
  EXPECT_EQ(fs.ShortDateFormat, "dd.mm.yyyy");
  EXPECT_EQ(fs.DateSeparator, '.');
  EXPECT_EQ(fs.LongTimeFormat, "hh:nn:ss");
  // The locale has no designators.
  EXPECT_EQ(fs.TimeAMString, "AM");
  EXPECT_EQ(fs.TimePMString, "PM");
}

TEST_F(BuiltLocaleTest, ChineseTextsArriveAsCodePageBytes) {
  [[maybe_unused]] LocPathLeakIgnored ignore;
  TFormatSettings fs;
  ASSERT_TRUE(LocaleFormatSettings("zh_CN.UTF-8", fs));
  EXPECT_EQ(fs.TimeAMString, Ansi(u8"上午"));
  EXPECT_EQ(fs.TimePMString, Ansi(u8"下午"));
  EXPECT_EQ(fs.ShortDateFormat, Ansi(u8"yyyy\"年\"mm\"月\"dd\"日\""));
  EXPECT_EQ(fs.ShortTimeFormat, Ansi(u8"hh\"时\"nn\"分\""));
  EXPECT_EQ(fs.DateSeparator, '/');  // none in the pattern: the default stays

  const char* old = std::getenv("LC_ALL");
  std::string saved = old ? old : "";
  setenv("LC_ALL", "zh_CN.UTF-8", 1);
  TFormatSettings before = FormatSettings();
  LoadLocaleFormatSettings();
  EXPECT_EQ(FormatSettings().TimeAMString, Ansi(u8"上午"));
  FormatSettings() = before;
  if (old)
    setenv("LC_ALL", saved.c_str(), 1);
  else
    unsetenv("LC_ALL");
}

}  // namespace
}  // namespace lanqi
