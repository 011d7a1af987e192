#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include "rtl/Exceptions.h"

namespace lanqi {
namespace {

class CodePageTest : public ::testing::Test {
 protected:
  void SetUp() override { SetSystemCodePage(936); }
  void TearDown() override { SetSystemCodePage(936); }
};

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s += static_cast<char>(c);
  return s;
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EConvertError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST_F(CodePageTest, Gbk936IsTheDefaultAndRoundTripsChineseAndAscii) {
  EXPECT_EQ(SystemCodePage(), 936);
  const std::string gbk = Bytes({'a', '1', 0xD6, 0xD0, 0xCE, 0xC4, ' ', 0xB0, 0xE6, 0xB1, 0xBE, '.', 'd'});
  const std::string utf8 = "a1中文 版本.d";
  EXPECT_EQ(AnsiToUtf8(gbk), utf8);
  EXPECT_EQ(Utf8ToAnsi(utf8), gbk);
  EXPECT_EQ(AnsiToUtf16(gbk), u"a1中文 版本.d");
  EXPECT_EQ(Utf16ToAnsi(u"a1中文 版本.d"), gbk);
  EXPECT_EQ(Ansi(u8"中文"), Bytes({0xD6, 0xD0, 0xCE, 0xC4}));
  EXPECT_EQ(Utf16ToUtf8(u"版本控制.dat"), "版本控制.dat");
  EXPECT_EQ(Utf8ToUtf16("版本控制.dat"), u"版本控制.dat");
  EXPECT_EQ(AnsiToUtf8(""), "");
  // Latin letters that GBK does carry survive as well.
  EXPECT_EQ(AnsiToUtf8(Utf8ToAnsi("é")), "é");
}

TEST_F(CodePageTest, CharacterWithoutCodePageFormIsAnErrorNamingIt) {
  EXPECT_EQ(ErrorOf([] { Utf8ToAnsi("ab😀"); }),
            "No mapping for the Unicode character U+1F600 in code page 936");
  EXPECT_EQ(ErrorOf([] { Utf16ToAnsi(u"x\u20A9"); }),
            "No mapping for the Unicode character U+20A9 in code page 936");
  SetSystemCodePage(1252);
  EXPECT_EQ(ErrorOf([] { Utf8ToAnsi("中"); }),
            "No mapping for the Unicode character U+4E2D in code page 1252");
}

TEST_F(CodePageTest, InvalidBytesAreAnErrorNotAQuestionMark) {
  // 0x81 0x20: a lead byte without a trail byte; a lead byte at the very end.
  EXPECT_EQ(ErrorOf([] {
              AnsiToUtf16(Bytes({'a', 0x81, 0x20, 'b'}));
            }),
            "Invalid byte sequence 0x81 in code page 936");
  EXPECT_EQ(ErrorOf([] {
              AnsiToUtf8(Bytes({'a', 0xD6}));
            }),
            "Incomplete byte sequence at the end of text in code page 936");
  EXPECT_NE(ErrorOf([] { Utf8ToAnsi(Bytes({'a', 0xC3})); }), "(no error)");
  EXPECT_NE(ErrorOf([] { Utf16ToAnsi(std::u16string(1, char16_t(0xD800))); }), "(no error)");
  EXPECT_EQ(ErrorOf([] { SetSystemCodePage(12345); }), "Code page 12345 is not supported");
  EXPECT_EQ(SystemCodePage(), 936);
}

TEST_F(CodePageTest, LeadBytesFollowTheCodePage) {
  EXPECT_TRUE(IsDoubleByteCodePage());
  EXPECT_TRUE(IsLeadByte(0x81));
  EXPECT_TRUE(IsLeadByte(0xD6));
  EXPECT_TRUE(IsLeadByte(0xFE));
  EXPECT_FALSE(IsLeadByte('A'));
  EXPECT_FALSE(IsLeadByte(0x80));  // the single-byte euro sign of 936
  EXPECT_FALSE(IsLeadByte(0xFF));
  SetSystemCodePage(1252);
  EXPECT_FALSE(IsDoubleByteCodePage());
  EXPECT_FALSE(IsLeadByte(0xD6));
  EXPECT_EQ(AnsiToUtf8(Bytes({0xE9})), "é");
  SetSystemCodePage(932);
  EXPECT_TRUE(IsLeadByte(0x82));
  EXPECT_EQ(AnsiToUtf8(Bytes({0x82, 0xA0})), "あ");
  SetSystemCodePage(65001);
  EXPECT_FALSE(IsDoubleByteCodePage());
  EXPECT_EQ(Utf8ToAnsi("中"), "中");
}

}  // namespace
}  // namespace lanqi
