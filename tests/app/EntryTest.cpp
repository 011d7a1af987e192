#include "app/entry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/AutoStart.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/SingleInstance.h"
#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

// GBK bytes written out by hand, so the test does not lean on the converter it exercises.
const std::string kSection = "\xC6\xF4\xB6\xAF\xC9\xE8\xD6\xC3";  // 启动设置
const std::string kKey = "\xBF\xAA\xBB\xFA\xC6\xF4\xB6\xAF";      // 开机启动

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override { SetSystemCodePage(936); }
  test::TempDir dir_;
};

TEST_F(EntryTest, CatalogAndTitleAreCodePageTexts) {
  EXPECT_EQ(CatalogPath(), ExeDirectory() + "\xB0\xE6\xB1\xBE\xBF\xD8\xD6\xC6.dat");
  EXPECT_EQ(ExeDirectory().back(), '/');
  EXPECT_EQ(AppTitle(), "\xCE\xC4\xBC\xFE\xB0\xE6\xB1\xBE\xBF\xD8\xD6\xC6");
}

TEST_F(EntryTest, LoadSettingsReadsTheFlagWithDefaultTrue) {
  EXPECT_TRUE(LoadSettings(dir_.Path()));  // no file
  struct Case {
    std::string file;
    bool expected;
  } cases[] = {
      {"[" + kSection + "]\n" + kKey + "=0\n", false},
      {"[" + kSection + "]\n" + kKey + "=1\n", true},
      {"[" + kSection + "]\n" + kKey + "=0x1\n", true},
      {"[" + kSection + "]\n" + kKey + "=0x0\n", false},
      {"[" + kSection + "]\n" + kKey + "=abc\n", true},
      {"[" + kSection + "]\n" + kKey + "=\n", true},
      {"[" + kSection + "]\nother=0\n", true},  // no key
      {"[other]\n" + kKey + "=0\n", true},      // no section
  };
  for (const auto& c : cases) {
    dir_.Write("setup.ini", c.file);
    EXPECT_EQ(LoadSettings(dir_.Path() + "/"), c.expected) << c.file;
  }
}

TEST_F(EntryTest, SaveSettingsWritesSectionAndKeyAsGbkBytes) {
  SaveSettings(dir_.Path(), false);
  EXPECT_EQ(test::TempDir::Read(dir_.File("setup.ini")), "[" + kSection + "]\n" + kKey + "=0\n");
  EXPECT_FALSE(LoadSettings(dir_.Path()));
  SaveSettings(dir_.Path(), true);
  EXPECT_EQ(test::TempDir::Read(dir_.File("setup.ini")), "[" + kSection + "]\n" + kKey + "=1\n");
  EXPECT_TRUE(LoadSettings(dir_.Path()));
}

TEST_F(EntryTest, AutoRunEntryFollowsTheCheckBox) {
  ScopedEnv config("XDG_CONFIG_HOME", dir_.File("config"));
  const std::string entry = AutoStartEntryPath(AppTitle());
  RegisterAutoRun(AppTitle(), "/opt/lanqi/lanqi", true);
  EXPECT_NE(test::TempDir::Read(entry).find("Exec=\"/opt/lanqi/lanqi\"\n"), std::string::npos);
  RegisterAutoRun(AppTitle(), "/opt/lanqi/lanqi", false);
  EXPECT_FALSE(std::filesystem::exists(entry));
  EXPECT_NO_THROW(RegisterAutoRun(AppTitle(), "/opt/lanqi/lanqi", false));
}

// The process keeps the lock it takes, so this must stay the only test of this executable that
// asks IsAnotherInstanceRunning.
TEST_F(EntryTest, SecondInstanceSeesTheFirst) {
  ScopedEnv runtime("XDG_RUNTIME_DIR", dir_.Path());
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const std::string path = SingleInstanceLockPath();
  pid_t pid = ::fork();
  if (pid == 0) {
    // The first instance: holds the lock until told to end.
    TSingleInstanceLock lock(path);
    char c = lock.Held() ? 'y' : 'n';
    if (::write(ready[1], &c, 1) != 1) ::_exit(2);
    if (::read(release[0], &c, 1) < 0) ::_exit(2);
    ::_exit(0);
  }
  char held = 0;
  ASSERT_EQ(::read(ready[0], &held, 1), 1);
  ASSERT_EQ(held, 'y');
  EXPECT_TRUE(IsAnotherInstanceRunning());
  char c = 'x';
  ASSERT_EQ(::write(release[1], &c, 1), 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  // The first has ended: this process now runs normally and keeps the lock.
  EXPECT_FALSE(IsAnotherInstanceRunning());
  TSingleInstanceLock other(path);
  EXPECT_FALSE(other.Held());
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
}

}  // namespace
}  // namespace lanqi
