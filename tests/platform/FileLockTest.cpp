#include "platform/FileLock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <string>

#include "tests/platform/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

class FileLockTest : public ::testing::Test {
 protected:
  void SetUp() override { path = dir.Write("db.dat", "0123456789"); }
  int Open(int flags = O_RDWR) {
    int fd = open(path.c_str(), flags | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    return fd;
  }
  // Tries the lock from a fresh thread, as a second thread of the program would.
  static bool TryFromOtherThread(int fd, int64_t offset = 1, int64_t length = 1) {
    return std::async(std::launch::async, [=] { return TryLockFileRange(fd, offset, length); }).get();
  }
  test::TempDir dir;
  std::string path;
};

TEST_F(FileLockTest, ExcludesOtherThreadsOnTheSameOpenAndOtherOpens) {
  int a = Open(), b = Open();
  ASSERT_TRUE(TryLockFileRange(a, 1, 1));
  EXPECT_FALSE(TryFromOtherThread(a));       // same descriptor, other thread
  EXPECT_FALSE(TryLockFileRange(a, 1, 1));   // not re-entrant
  EXPECT_FALSE(TryLockFileRange(b, 1, 1));   // other open of the same file
  EXPECT_FALSE(TryLockFileRange(b, 0, 10));  // overlapping range
  EXPECT_TRUE(TryLockFileRange(b, 2, 1));    // a range of its own
  UnlockFileRange(b, 2, 1);

  UnlockFileRange(a, 1, 1);
  ASSERT_TRUE(TryFromOtherThread(b));  // released: taken again
  EXPECT_FALSE(TryLockFileRange(a, 1, 1));
  UnlockFileRange(b, 1, 1);
  EXPECT_TRUE(TryLockFileRange(a, 1, 1));
  UnlockFileRange(a, 1, 1);
  close(a);
  close(b);
}

TEST_F(FileLockTest, ExcludesAnotherProcessUntilItLetsGo) {
  test::ChildProcess child([&] {
    int fd = open(path.c_str(), O_RDWR);
    return fd >= 0 && TryLockFileRange(fd, 1, 1);
  });
  ASSERT_TRUE(child.Succeeded());
  int fd = Open();
  EXPECT_FALSE(TryLockFileRange(fd, 1, 1));
  EXPECT_TRUE(TryLockFileRange(fd, 5, 1));  // only the range is held
  UnlockFileRange(fd, 5, 1);
  child.Release();
  EXPECT_TRUE(TryLockFileRange(fd, 1, 1));
  UnlockFileRange(fd, 1, 1);
  close(fd);
}

TEST_F(FileLockTest, ReadOnlyOpenLocksAndKeepsWritersOut) {
  int ro = Open(O_RDONLY), rw = Open();
  ASSERT_TRUE(TryLockFileRange(ro, 1, 1));
  EXPECT_FALSE(TryLockFileRange(rw, 1, 1));
  // The child inherits this process's lock table, so it asks the system directly, as another
  // program with a table of its own would.
  test::ChildProcess writer([&] {
    int fd = open(path.c_str(), O_RDWR);
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 1;
    fl.l_len = 1;
    return fd >= 0 && fcntl(fd, F_OFD_SETLK, &fl) == 0;
  });
  EXPECT_FALSE(writer.Succeeded());
  UnlockFileRange(ro, 1, 1);
  EXPECT_TRUE(TryLockFileRange(rw, 1, 1));
  UnlockFileRange(rw, 1, 1);
  close(ro);
  close(rw);
}

TEST_F(FileLockTest, ClosingAnOpenThatHeldTheLockFreesIt) {
  int a = Open();
  ASSERT_TRUE(TryLockFileRange(a, 1, 1));
  close(a);  // no unlock: the system drops the lock with the open, so must this process
  int b = Open();
  EXPECT_TRUE(TryLockFileRange(b, 1, 1));
  UnlockFileRange(b, 1, 1);
  close(b);
}

}  // namespace
}  // namespace lanqi
