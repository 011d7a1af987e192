#include "platform/Collation.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/CodePage.h"

namespace lanqi {
namespace {

class CollationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSystemCodePage(936);
    SetCollationLocale("en_US");
  }
};

int Sign(int v) {
  return (v > 0) - (v < 0);
}

TEST_F(CollationTest, IgnoreCaseIgnoresOnlyLetterCase) {
  EXPECT_EQ(CompareAnsiText("Report.DOC", "report.doc", true), 0);
  EXPECT_NE(CompareAnsiText("Report.DOC", "report.doc", false), 0);
  EXPECT_TRUE(SameTextAnsi("ABC", "abc"));
  EXPECT_FALSE(SameTextAnsi("abc", "abd"));
  // Accents still count when case is ignored.
  EXPECT_NE(CompareAnsiText("e", Utf8ToAnsi("é"), true), 0);
  EXPECT_NE(CompareUtf16Text(u"E", u"é", true), 0);
  EXPECT_EQ(CompareUtf16Text(u"É", u"é", true), 0);
  // Full-width letters are not the same letters either.
  EXPECT_NE(CompareAnsiText("A", Utf8ToAnsi("Ａ"), true), 0);
  EXPECT_EQ(CompareUtf16Text(u"Straße", u"STRASSE", true), 0);
  EXPECT_NE(CompareUtf16Text(u"Straße", u"STRASSE", false), 0);
  // Texts the collator finds equal are still different texts.
  EXPECT_NE(CompareAnsiText(std::string("a\x01", 2), "a", false), 0);
  const std::string chinese = "版本控制";
  EXPECT_EQ(CompareAnsiText(chinese, chinese, false), 0);
}

TEST_F(CollationTest, OrderIsTheLocalesNotTheBytes) {
  EXPECT_LT(CompareAnsiText("apple", "Banana", false), 0);  // bytes would put 'B' first
  EXPECT_LT(CompareAnsiText("a", "B", true), 0);
  EXPECT_LT(CompareAnsiText("abc", "abcd", false), 0);
  EXPECT_GT(CompareAnsiText("b", "", false), 0);
}

TEST_F(CollationTest, LengthLimitCountsBytesAndKeepsDoubleByteCharactersWhole) {
  EXPECT_EQ(CompareAnsiText("abcX", "abcY", false, 3), 0);
  EXPECT_NE(CompareAnsiText("abcX", "abcY", false, 4), 0);
  EXPECT_LT(CompareAnsiText("ab", "abc", false, 3), 0);  // the shorter text takes part whole
  EXPECT_EQ(CompareAnsiText("ABx", "aby", true, 2), 0);
  const std::string a = Ansi(u8"版本一"), b = Ansi(u8"版本二");
  EXPECT_EQ(CompareAnsiText(a, b, false, 4), 0);
  EXPECT_NE(CompareAnsiText(a, b, false, 6), 0);
  // Five bytes would cut the third character: only the whole characters before it count.
  EXPECT_EQ(CompareAnsiText(a, b, false, 5), 0);
  EXPECT_EQ(CompareAnsiText(a, Ansi(u8"版本"), false, 5), 0);
}

TEST_F(CollationTest, StrayBytesCompareWithoutFailingAndStayDistinct) {
  const std::string x("a\xFF", 2), y("a\xFE", 2);
  EXPECT_NE(CompareAnsiText(x, y, false), 0);
  EXPECT_EQ(CompareAnsiText(x, x, false), 0);
  EXPECT_EQ(Sign(CompareAnsiText(x, y, false)),
            Sign(CollationSortKey(x, false).compare(CollationSortKey(y, false))));
}

TEST_F(CollationTest, SortKeyOrderIsCompareOrder) {
  const std::string words[] = {"",
                               "a",
                               "A",
                               "ab",
                               "Ab",
                               "b",
                               "B",
                               "abc",
                               "a b",
                               "a-b",
                               "a_b",
                               "10",
                               "9",
                               "z",
                               "Zeta",
                               "résumé",
                               "resume",
                               "Résumé",
                               "中",
                               "ü",
                               "a\x01",
                               "版本控制",
                               "版本",
                               "版本控制.dat",
                               "文件",
                               "long text "
                               "that is longer than the small buffers of the fast path so the slow path runs "
                               "too, and then some more text to be sure it passes two hundred and fifty six "
                               "bytes in all, which it does by now I think, yes it does, surely by now."};
  // Written in UTF-8 and converted below.
  for (bool ignoreCase : {false, true}) {
    for (const auto& rawA : words) {
      for (const auto& rawB : words) {
        const std::string a = Utf8ToAnsi(rawA), b = Utf8ToAnsi(rawB);
        int byCompare = Sign(CompareAnsiText(a, b, ignoreCase));
        int byKey = Sign(CollationSortKey(a, ignoreCase).compare(CollationSortKey(b, ignoreCase)));
        EXPECT_EQ(byCompare, byKey) << a << " vs " << b << " ignoreCase " << ignoreCase;
        EXPECT_EQ(byCompare, -Sign(CompareAnsiText(b, a, ignoreCase))) << a << " vs " << b;
      }
    }
  }
}

// ASCII texts take a shorter road than the others; the sort key always takes the collator's, so
// the two orders must agree in every locale, contractions ("ch", "aa", "dz") and all.
TEST_F(CollationTest, AsciiOrderAgreesWithTheCollatorInManyLocales) {
  const char* locales[] = {"C",
                           "en_US",
                           "sv_SE",
                           "cs_CZ",
                           "da_DK",
                           "fr_CA",
                           "de@collation=phonebook",
                           "hr_HR",
                           "es@collation=traditional",
                           "tr_TR",
                           "hu_HU",
                           "cy_GB",
                           "ja_JP",
                           "zh_CN",
                           "th_TH",
                           "ln"};
  const std::string alphabet = std::string("aAbBcChHdDzZsSlLyYiI09 -_.,:;/\\'\"!~") + '\t' + '\x01' + '\x7F';
  std::minstd_rand rng(7);
  auto text = [&] {
    std::string t;
    for (size_t n = rng() % 6; t.size() < n;) t += alphabet[rng() % alphabet.size()];
    return t;
  };
  for (const char* locale : locales) {
    SetCollationLocale(locale);
    for (int round = 0; round < 1500; ++round) {
      const std::string a = text();
      std::string b = a;
      if (round % 3 == 0)
        b += text();
      else if (round % 3 == 1 && !b.empty())
        b[rng() % b.size()] = alphabet[rng() % alphabet.size()];
      else
        b = text();
      for (bool ignoreCase : {false, true}) {
        int byCompare = Sign(CompareAnsiText(a, b, ignoreCase));
        int byKey = Sign(CollationSortKey(a, ignoreCase).compare(CollationSortKey(b, ignoreCase)));
        ASSERT_EQ(byCompare, byKey) << locale << ": '" << a << "' vs '" << b << "' ignoreCase " << ignoreCase;
      }
    }
  }
}

TEST_F(CollationTest, LocaleCanBeChanged) {
  // Swedish puts ö after z, English beside o.
  SetSystemCodePage(1252);
  const std::string oe1252 = Utf8ToAnsi("ö");
  SetCollationLocale("sv_SE.UTF-8");
  EXPECT_GT(CompareAnsiText(oe1252, "z", false), 0);
  SetCollationLocale("en_US");
  EXPECT_LT(CompareAnsiText(oe1252, "z", false), 0);
  SetCollationLocale("C");
  EXPECT_LT(CompareAnsiText("a", "B", false), 0);
  SetSystemCodePage(936);
}

}  // namespace
}  // namespace lanqi
