#include "platform/SingleInstance.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

// Whether a freshly forked process gets the lock on path (exit code 0) or is refused (1).
bool OtherProcessGetsLock(const std::string& path) {
  pid_t pid = ::fork();
  if (pid == 0) {
    TSingleInstanceLock lock(path);
    ::_exit(lock.Held() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  return WEXITSTATUS(status) == 0;
}

TEST(SingleInstanceTest, LockIsHeldByOneProcessAndRefusedToAnother) {
  test::TempDir dir;
  const std::string path = dir.File("hkOneCopy.lock");
  {
    TSingleInstanceLock first(path);
    ASSERT_TRUE(first.Held());
    EXPECT_FALSE(OtherProcessGetsLock(path));
    TSingleInstanceLock second(path);  // another open in this process is refused as well
    EXPECT_FALSE(second.Held());
  }
  // Released with its holder: the next start runs normally.
  EXPECT_TRUE(OtherProcessGetsLock(path));
}

// The process takes its lock once and keeps it, so this must stay the only test of this
// executable that calls AcquireSingleInstance.
TEST(SingleInstanceTest, ProcessLockLivesInTheRuntimeFolder) {
  test::TempDir dir;
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = old ? old : "";
  setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
  EXPECT_EQ(SingleInstanceLockPath(), dir.File("hkOneCopy.lock"));
  EXPECT_TRUE(AcquireSingleInstance());
  EXPECT_TRUE(AcquireSingleInstance());  // still ours
  EXPECT_FALSE(OtherProcessGetsLock(dir.File("hkOneCopy.lock")));

  setenv("XDG_RUNTIME_DIR", "not/absolute", 1);
  EXPECT_EQ(SingleInstanceLockPath(), "/tmp/hkOneCopy-" + std::to_string(::getuid()) + ".lock");
  if (old)
    setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace lanqi
