#include "platform/AutoStart.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "platform/CodePage.h"
#include "rtl/Exceptions.h"
#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

class AutoStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSystemCodePage(936);
    const char* old = std::getenv("XDG_CONFIG_HOME");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    setenv("XDG_CONFIG_HOME", dir_.File("config").c_str(), 1);
  }
  void TearDown() override {
    if (hadOld_)
      setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
  }
  std::string ErrorOf(const std::string& title, const std::string& exe, bool enabled) {
    try {
      SetAutoStartEntry(title, exe, enabled);
    } catch (const Exception& e) {
      return e.what();
    }
    return "(no error)";
  }
  test::TempDir dir_;
  std::string old_;
  bool hadOld_ = false;
  const std::string title_ = Ansi(u8"文件版本控制");
};

TEST_F(AutoStartTest, EntryIsWrittenReplacedAndRemoved) {
  const std::string path = dir_.File("config") + "/autostart/文件版本控制.desktop";
  EXPECT_EQ(AutoStartEntryPath(title_), path);
  SetAutoStartEntry(title_, Ansi(u8"/opt/版本/lanqi"), true);
  EXPECT_EQ(test::TempDir::Read(path),
            "[Desktop Entry]\nType=Application\nName=文件版本控制\nExec=\"/opt/版本/lanqi\"\n"
            "Terminal=false\nX-GNOME-Autostart-enabled=true\n");
  SetAutoStartEntry(title_, "/usr/bin/other", true);
  EXPECT_NE(test::TempDir::Read(path).find("Exec=\"/usr/bin/other\"\n"), std::string::npos);
  SetAutoStartEntry(title_, "/usr/bin/other", false);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(ErrorOf(title_, "/usr/bin/other", false), "(no error)");  // already absent
  EXPECT_EQ(std::filesystem::directory_iterator(dir_.File("config") + "/autostart"),
            std::filesystem::directory_iterator());  // no temporary left behind
}

TEST_F(AutoStartTest, ExecPathIsQuotedAndEscaped) {
  struct Case {
    const char* path;
    const char* exec;
  } cases[] = {
      {"/usr/bin/lanqi", R"("/usr/bin/lanqi")"},
      {"/opt/my app/lanqi", R"("/opt/my app/lanqi")"},
      // The string escape doubles the backslash of the quoting escape.
      {"/opt/a$b`c\"d/x", R"("/opt/a\\$b\\`c\\"d/x")"},
      {"/opt/back\\slash", R"("/opt/back\\\\slash")"},
      {"/opt/100%/x", R"("/opt/100%%/x")"},
  };
  for (const auto& c : cases) EXPECT_EQ(DesktopExecValue(c.path), c.exec) << c.path;
}

TEST_F(AutoStartTest, FailuresKeepTheirTexts) {
  // The configuration folder is a regular file: the autostart folder cannot exist.
  dir_.Write("plain", "x");
  setenv("XDG_CONFIG_HOME", dir_.File("plain").c_str(), 1);
  EXPECT_EQ(ErrorOf(title_, "/usr/bin/lanqi", true),
            "Failed to create key " + dir_.File("plain") + "/autostart");
  EXPECT_EQ(ErrorOf(title_, "/usr/bin/lanqi", false), "(no error)");

  // A folder where the entry should be: it can be neither written nor removed.
  setenv("XDG_CONFIG_HOME", dir_.File("config").c_str(), 1);
  std::filesystem::create_directories(AutoStartEntryPath(title_) + "/inside");
  EXPECT_EQ(ErrorOf(title_, "/usr/bin/lanqi", true), "Failed to set data for '" + title_ + "'");
  EXPECT_EQ(ErrorOf(title_, "/usr/bin/lanqi", false), "Failed to set data for '" + title_ + "'");
  EXPECT_EQ(ErrorOf("../escape", "/usr/bin/lanqi", true), "Failed to set data for '../escape'");
}

TEST_F(AutoStartTest, FolderFollowsXdgConfigHome) {
  EXPECT_EQ(AutoStartFolder(), dir_.File("config") + "/autostart");
  setenv("XDG_CONFIG_HOME", "relative/path", 1);  // not absolute: ignored
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') {
    EXPECT_EQ(AutoStartFolder(), std::string(home) + "/.config/autostart");
  }
}

}  // namespace
}  // namespace lanqi
