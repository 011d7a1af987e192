#include <gtest/gtest.h>

#include "rtl/AnsiText.h"
#include "rtl/StringList.h"
#include "tests/rtl/RtlTestSupport.h"

namespace lanqi {
namespace {

using Strings = std::vector<std::string>;

TStringList ListOf(const Strings& items) {
  TStringList l;
  for (const std::string& s : items) l.Add(s);
  return l;
}

TEST(AnsiText, CaseFoldingLeavesTwoByteCharactersAlone) {
  EXPECT_EQ(CompareTextAscii("Name", "NAME"), 0);
  EXPECT_LT(CompareTextAscii("abc", "ABD"), 0);
  EXPECT_GT(CompareTextAscii("abcd", "ABC"), 0);
  EXPECT_LT(CompareTextAscii("a", "\xB0\xA1"), 0);  // bytes above 0x7F after ASCII
  // 0xB0 0x41 and 0xB0 0x61 are two different characters although their second bytes are A and a.
  EXPECT_NE(CompareTextAscii("\xB0\x41", "\xB0\x61"), 0);
  EXPECT_FALSE(SameTextAscii("x\xB0\x41", "X\xB0\x61"));
  EXPECT_TRUE(SameTextAscii("x\xB0\x41y", "X\xB0\x41Y"));
  EXPECT_EQ(UpperCaseAscii("ab\xB0\x61z"), "AB\xB0\x61Z");
  EXPECT_EQ(LowerCaseAscii("AB\xB0\x41Z"), "ab\xB0\x41z");
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a "), "  a");
  EXPECT_LT(CompareStrBytes("a", "\xB0"), 0);  // unsigned byte order
  // A single-byte code page: no lead bytes, so every ASCII letter folds.
  SetTextLeadByteTest([](uint8_t) { return false; });
  EXPECT_TRUE(
      SameTextAscii("\xE9"
                    "A",
                    "\xE9"
                    "a"));
  SetTextLeadByteTest(nullptr);
  EXPECT_FALSE(
      SameTextAscii("\xE9"
                    "A",
                    "\xE9"
                    "a"));
}

TEST(StringList, AddInsertDeleteAndIndexes) {
  TStringList l;
  EXPECT_EQ(l.Add("b"), 0);
  EXPECT_EQ(l.Add("d"), 1);
  l.Insert(0, "a");
  l.Insert(2, "c");
  l.Insert(4, "e");  // at Count: appends
  EXPECT_EQ(l.ToVector(), (Strings{"a", "b", "c", "d", "e"}));
  l.Delete(1);
  l.SetStrings(0, "A");
  EXPECT_EQ(l.ToVector(), (Strings{"A", "c", "d", "e"}));
  EXPECT_EQ(l.Count(), 4);
  l.Exchange(0, 3);
  EXPECT_EQ(l.Strings(0), "e");
  EXPECT_EQ(MessageOf<EStringListError>([&] { l.Strings(4); }), "List index out of bounds (4)");
  EXPECT_EQ(MessageOf<EStringListError>([&] { l.Delete(-1); }), "List index out of bounds (-1)");
  EXPECT_THROW(l.Insert(5, "x"), EStringListError);
  l.Clear();
  EXPECT_EQ(l.Count(), 0);
}

TEST(StringList, IndexOfIgnoresCaseUnlessToldOtherwise) {
  TStringList l = ListOf({"Name", "Size", "\xB0\x41"});
  EXPECT_EQ(l.IndexOf("NAME"), 0);
  EXPECT_EQ(l.IndexOf("size"), 1);
  EXPECT_EQ(l.IndexOf("\xB0\x41"), 2);
  EXPECT_EQ(l.IndexOf("\xB0\x61"), -1);
  EXPECT_EQ(l.IndexOf("Nam"), -1);
  EXPECT_TRUE(l.Contains("nAmE"));
  l.SetCaseSensitive(true);
  EXPECT_EQ(l.IndexOf("NAME"), -1);
  EXPECT_EQ(l.IndexOf("Name"), 0);
  // A comparer replaces both rules: here equal lengths are equal.
  l.SetComparer([](const std::string& a, const std::string& b) {
    return static_cast<int>(a.size()) - static_cast<int>(b.size());
  });
  EXPECT_EQ(l.IndexOf("abcd"), 0);
  EXPECT_EQ(l.IndexOf("xy"), 2);
}

TEST(StringList, ObjectsTravelWithTheirStrings) {
  int a = 1, b = 2;
  TStringList l;
  l.AddObject("x", &a);
  l.Add("y");
  l.InsertObject(0, "w", &b);
  EXPECT_EQ(l.Objects(0), &b);
  EXPECT_EQ(l.Objects(1), &a);
  EXPECT_EQ(l.Objects(2), nullptr);
  l.SetObjects(2, &a);
  l.SetStrings(1, "x2");
  EXPECT_EQ(l.Objects(1), &a);
  l.SetSorted(true);
  l.SetCaseSensitive(true);
  EXPECT_EQ(l.ToVector(), (Strings{"w", "x2", "y"}));
  EXPECT_EQ(l.Objects(0), &b);
  EXPECT_EQ(l.Objects(2), &a);
}

TEST(StringList, SortedListsAndDuplicates) {
  TStringList l = ListOf({"pear", "Apple", "fig"});
  l.SetSorted(true);
  EXPECT_EQ(l.ToVector(), (Strings{"Apple", "fig", "pear"}));
  EXPECT_EQ(l.Add("banana"), 1);
  int index = -1;
  EXPECT_TRUE(l.Find("FIG", index));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(l.Find("grape", index));
  EXPECT_EQ(index, 3);  // where it would go
  EXPECT_EQ(l.IndexOf("PEAR"), 3);

  // dupIgnore (default): the item already there stays.
  EXPECT_EQ(l.Add("APPLE"), 0);
  EXPECT_EQ(l.Count(), 4);
  EXPECT_EQ(l.Strings(0), "Apple");
  l.SetDuplicates(TDuplicates::dupError);
  EXPECT_EQ(MessageOf<EStringListError>([&] { l.Add("apple"); }), "String list does not allow duplicates");
  l.SetDuplicates(TDuplicates::dupAccept);
  EXPECT_EQ(l.Add("apple"), 1);  // after the equal one
  EXPECT_EQ(l.Add("APPLE"), 2);
  EXPECT_EQ(l.ToVector(), (Strings{"Apple", "apple", "APPLE", "banana", "fig", "pear"}));
  EXPECT_TRUE(l.Find("apple", index));
  EXPECT_EQ(index, 0);  // the first equal item

  EXPECT_EQ(MessageOf<EStringListError>([&] { l.Insert(0, "x"); }),
            "Operation not allowed on sorted string list");
  EXPECT_THROW(l.SetStrings(0, "x"), EStringListError);
  l.SetSorted(false);
  l.Insert(0, "zzz");
  EXPECT_EQ(l.Strings(0), "zzz");
}

TEST(StringList, TextSplitsAtAnyLineBreak) {
  TStringList l = ListOf({"a", "b"});
  EXPECT_EQ(l.Text(), "a\nb\n");
  l.SetText("a\r\nb\rc\n\nd");
  EXPECT_EQ(l.ToVector(), (Strings{"a", "b", "c", "", "d"}));
  l.SetText("x\n");
  EXPECT_EQ(l.ToVector(), (Strings{"x"}));
  l.SetText("");
  EXPECT_EQ(l.Count(), 0);
}

TEST(StringList, CommaTextQuotesWhatNeedsIt) {
  TStringList l = ListOf({"a", "b c", "d\"e", "f,g", ""});
  EXPECT_EQ(l.CommaText(), "a,\"b c\",\"d\"\"e\",\"f,g\",");
  TStringList back;
  back.SetCommaText(l.CommaText());
  EXPECT_EQ(back.ToVector(), l.ToVector());

  EXPECT_EQ(ListOf({""}).CommaText(), "\"\"");
  back.SetCommaText("\"\"");
  EXPECT_EQ(back.ToVector(), (Strings{""}));
  EXPECT_EQ(TStringList().CommaText(), "");
  back.SetCommaText("");
  EXPECT_EQ(back.Count(), 0);
  back.SetCommaText("  a , b c,,\"x y\"  ,");
  EXPECT_EQ(back.ToVector(), (Strings{"a", "b", "c", "", "x y", ""}));
  back.SetCommaText("\"unterminated");
  EXPECT_EQ(back.ToVector(), (Strings{"unterminated"}));
}

TEST(StringList, DelimitedTextSplitsFieldLists) {
  TStringList l;
  l.SetDelimiter(';');
  l.SetDelimitedText("F1;F2");
  EXPECT_EQ(l.ToVector(), (Strings{"F1", "F2"}));
  l.SetDelimitedText(" F1 ; F2 ");
  EXPECT_EQ(l.ToVector(), (Strings{"F1", "F2"}));
  EXPECT_EQ(l.DelimitedText(), "F1;F2");
  // Without StrictDelimiter blanks split too; with it only the delimiter does.
  l.SetDelimitedText("First Name;F2");
  EXPECT_EQ(l.ToVector(), (Strings{"First", "Name", "F2"}));
  l.SetStrictDelimiter(true);
  l.SetDelimitedText("First Name; F2;");
  EXPECT_EQ(l.ToVector(), (Strings{"First Name", " F2", ""}));
  EXPECT_EQ(l.DelimitedText(), "First Name; F2;");
  // A delimiter byte inside a two-byte character does not split it.
  l.SetDelimiter('|');
  l.SetDelimitedText("\x81|x|b");
  EXPECT_EQ(l.ToVector(), (Strings{"\x81|x", "b"}));
  EXPECT_EQ(l.DelimitedText(), "\x81|x|b");
  l.SetQuoteChar('\'');
  l.SetDelimitedText("'a|b'|c");
  EXPECT_EQ(l.ToVector(), (Strings{"a|b", "c"}));
  EXPECT_EQ(l.DelimitedText(), "'a|b'|c");
}

TEST(StringList, NamesValuesAssignAndAddStrings) {
  TStringList l = ListOf({"Path=/tmp", "Mode=fast", "loose"});
  EXPECT_EQ(l.IndexOfName("MODE"), 1);
  EXPECT_EQ(l.Values("path"), "/tmp");
  EXPECT_EQ(l.Values("loose"), "");
  TStringList other;
  other.Assign(l);
  other.AddStrings(other);
  EXPECT_EQ(other.Count(), 6);
  EXPECT_EQ(other.Strings(3), "Path=/tmp");
  TStringList sorted;
  sorted.SetSorted(true);
  sorted.Assign(l);  // a sorted list keeps its order
  EXPECT_EQ(sorted.ToVector(), (Strings{"loose", "Mode=fast", "Path=/tmp"}));
}

}  // namespace
}  // namespace lanqi
