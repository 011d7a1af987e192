#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/CodePage.h"
#include "rtl/Exceptions.h"
#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override { SetSystemCodePage(936); }
  test::TempDir dir_;
};

TEST_F(IniFileTest, ReadIntegerTakesDecimalAndHexElseTheDefault) {
  struct Case {
    const char* text;
    int expected;
  } cases[] = {
      {"1", 1},           {"0", 0},
      {"0x1", 1},         {"0X1f", 31},
      {"-12", -12},       {"  7  ", 7},
      {"abc", 99},        {"", 99},
      {"1a", 99},         {"0x", 99},
      {"0xg", 99},        {"2147483647", 2147483647},
      {"2147483648", 99}, {"-2147483648", -2147483647 - 1},
      {"0xFFFFFFFF", -1}, {"0x100000000", 99},
      {"+", 99},
  };
  for (const auto& c : cases) {
    dir_.Write("a.ini", std::string("[s]\nk=") + c.text + "\n");
    EXPECT_EQ(TIniFile(dir_.File("a.ini")).ReadInteger("s", "k", 99), c.expected) << c.text;
  }
  EXPECT_EQ(TIniFile(dir_.File("missing.ini")).ReadInteger("s", "k", 5), 5);
  EXPECT_EQ(TIniFile(dir_.File("a.ini")).ReadInteger("s", "other", 5), 5);
  EXPECT_EQ(TIniFile(dir_.File("a.ini")).ReadInteger("t", "k", 5), 5);
}

TEST_F(IniFileTest, SectionsAndKeysIgnoreCaseAndValuesAreTrimmed) {
  dir_.Write("a.ini",
             "; comment\r\nk=outside\r\n[First]\r\n  Name = \"quoted value\"  \r\n"
             "plain = a=b \r\n[second]\r\nname=2\r\n[first]\r\nname=ignored\r\n");
  TIniFile ini(dir_.File("a.ini"));
  EXPECT_EQ(ini.ReadString("FIRST", "NAME", "-"), "quoted value");
  EXPECT_EQ(ini.ReadString("first", "plain", "-"), "a=b");
  EXPECT_EQ(ini.ReadString("Second", "Name", "-"), "2");
  EXPECT_EQ(ini.ReadString("", "k", "-"), "-");  // keys before any section belong to none
  EXPECT_TRUE(ini.ReadBool("second", "name", false));
}

TEST_F(IniFileTest, WriteCreatesFileAndSectionAndKeepsOtherLines) {
  TIniFile ini(dir_.File("new.ini"));
  ini.WriteString("a", "x", "1");
  EXPECT_EQ(test::TempDir::Read(dir_.File("new.ini")), "[a]\nx=1\n");
  ini.WriteString("b", "y", "2");
  ini.WriteString("A", "z", "3");
  ini.WriteString("a", "X", "4");
  EXPECT_EQ(test::TempDir::Read(dir_.File("new.ini")), "[a]\nx=4\nz=3\n\n[b]\ny=2\n");

  dir_.Write("crlf.ini", "; keep me\r\n[s]\r\nk = old\r\nother=1\r\n\r\n[t]\r\nu=1\r\n");
  TIniFile crlf(dir_.File("crlf.ini"));
  crlf.WriteString("s", "k", "new");
  crlf.WriteString("s", "n", "added");
  EXPECT_EQ(test::TempDir::Read(dir_.File("crlf.ini")),
            "; keep me\r\n[s]\r\nk=new\r\nother=1\r\nn=added\r\n\r\n[t]\r\nu=1\r\n");
}

TEST_F(IniFileTest, ChineseSectionAndKeyAreCodePageBytes) {
  const std::string section = Ansi(u8"启动设置"), key = Ansi(u8"开机启动");
  TIniFile ini(dir_.File("setup.ini"));
  ini.WriteBool(section, key, false);
  EXPECT_EQ(test::TempDir::Read(dir_.File("setup.ini")), "[" + section + "]\n" + key + "=0\n");
  EXPECT_FALSE(ini.ReadBool(section, key, true));
}

TEST_F(IniFileTest, WriteFailuresAndLineBreaksRaise) {
  dir_.Write("file", "x");
  TIniFile bad(dir_.File("file") + "/under.ini");
  try {
    bad.WriteString("s", "k", "v");
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + bad.FileName());
  }
  TIniFile ini(dir_.File("a.ini"));
  EXPECT_THROW(ini.WriteString("s", "k", "v\n[other]\nk=1"), Exception);
  EXPECT_EQ(test::TempDir::Read(dir_.File("a.ini")), "");

  // A folder in the file's place cannot be read: reading gives the default, writing fails and
  // leaves it be.
  std::filesystem::create_directory(dir_.File("dir.ini"));
  TIniFile folder(dir_.File("dir.ini"));
  EXPECT_EQ(folder.ReadInteger("s", "k", 3), 3);
  EXPECT_THROW(folder.WriteString("s", "k", "v"), Exception);
  EXPECT_TRUE(std::filesystem::is_directory(dir_.File("dir.ini")));
}

TEST_F(IniFileTest, WriteThroughALinkKeepsTheLink) {
  dir_.Write("real.ini", "[s]\nk=1\n");
  std::filesystem::create_symlink(dir_.File("real.ini"), dir_.File("link.ini"));
  TIniFile(dir_.File("link.ini")).WriteString("s", "k", "2");
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.File("link.ini")));
  EXPECT_EQ(test::TempDir::Read(dir_.File("real.ini")), "[s]\nk=2\n");
}

}  // namespace
}  // namespace lanqi
