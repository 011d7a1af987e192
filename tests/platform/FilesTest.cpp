#include "platform/Files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "platform/CodePage.h"
#include "platform/FileStream.h"
#include "rtl/Exceptions.h"
#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

// Pins an environment variable (TZ, HOME) for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
    tzset();
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
    tzset();
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

constexpr int64_t kTicks = 10000000;
constexpr int64_t kUnixEpochTicks = 11644473600LL * kTicks;

// Sets a file's access and modification times to whole Unix seconds (plus nanoseconds).
void SetTimes(const std::string& path, time_t atime, time_t mtime, long mtimeNs = 0) {
  const struct timespec t[2] = {{atime, 0}, {mtime, mtimeNs}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
}

std::string Stamp(TDateTime dt) {
  return FormatDateTime("yyyy-mm-dd-hh-mm-ss", dt);
}

TEST(Files, PathPartsByteSafeInTheCodePage) {
  struct Case {
    std::string path, name, dir, ext;
  };
  const std::string gbkDir = Ansi(u8"/文档/"), gbkName = Ansi(u8"报告.final.doc");
  const Case cases[] = {
      {"/a/b/report.final.doc", "report.final.doc", "/a/b/", ".doc"},
      {"/a/b.d/c", "c", "/a/b.d/", ""},
      {"/a/.profile", ".profile", "/a/", ".profile"},
      {"plain", "plain", "", ""},
      {"/a/b/", "", "/a/b/", ""},
      {gbkDir + gbkName, gbkName, gbkDir, ".doc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ExtractFileName(c.path), c.name);
    EXPECT_EQ(ExtractFilePath(c.path), c.dir);
    EXPECT_EQ(ExtractFileExt(c.path), c.ext);
  }
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a/"), "/a/");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/a//"), "/a");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
  EXPECT_EQ(ExpandFileName("/a/./b/../c"), "/a/c");
  EXPECT_EQ(ExpandFileName("/a/b/../../.."), "/");
  EXPECT_EQ(ExpandFileName("/a//b/"), "/a/b/");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(ExpandFileName("x/y.txt"), std::string(cwd) + "/x/y.txt");
}

TEST(Files, ExecutablePathAndFolder) {
  const std::string exe = ExeFileName();
  EXPECT_EQ(ExtractFileName(exe), "platform_tests");
  EXPECT_EQ(exe[0], '/');
  EXPECT_EQ(ExeDirectory().back(), PathDelim);
  EXPECT_EQ(ExeDirectory() + "platform_tests", exe);
}

TEST(Files, ExistenceAndNestedFolderCreationInCodePageNames) {
  test::TempDir dir;
  const std::string nested = dir.Path() + Ansi(u8"/甲/乙/丙");
  EXPECT_FALSE(DirectoryExists(nested));
  std::string reason;
  ASSERT_TRUE(ForceDirectories(nested, &reason)) << reason;
  EXPECT_TRUE(DirectoryExists(nested));
  EXPECT_TRUE(std::filesystem::is_directory(AnsiToUtf8(nested)));
  EXPECT_TRUE(ForceDirectories(nested + "/"));  // an existing folder is fine
  EXPECT_FALSE(FileExists(nested));

  const std::string file = dir.Write("plain.txt", "x");
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(DirectoryExists(file));
  EXPECT_FALSE(FileExists(dir.File("none")));
  EXPECT_FALSE(ForceDirectories(file + "/sub", &reason));  // a file stands in the way
  EXPECT_EQ(reason, file + ": " + SysErrorMessage(ENOTDIR));
  EXPECT_FALSE(ForceDirectories(""));
}

TEST(Files, CopyReplacesTheTargetAndKeepsTheLastWriteTime) {
  test::TempDir dir;
  const std::string src = dir.Write("src.doc", std::string(200000, 'n'));
  SetTimes(src, 1000000000, 1210757442, 123456700);
  ASSERT_TRUE(ForceDirectories(dir.File("bak")));
  const std::string dst = dir.Write("bak/copy.doc", "old and longer than nothing");
  std::string reason = "unset";
  ASSERT_TRUE(CopyFileReplace(src, dst, &reason)) << reason;
  EXPECT_EQ(reason, "");
  EXPECT_EQ(test::TempDir::Read(dst), std::string(200000, 'n'));
  struct stat a, b;
  ASSERT_EQ(stat(src.c_str(), &a), 0);
  ASSERT_EQ(stat(dst.c_str(), &b), 0);
  EXPECT_EQ(b.st_mtim.tv_sec, a.st_mtim.tv_sec);
  EXPECT_EQ(b.st_mtim.tv_nsec, a.st_mtim.tv_nsec);
  // Nothing but the copy is left in the folder.
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.File("bak"))) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(Files, ReplaceFileContentsWorksForANameAtTheLengthLimit) {
  // The temporary file must not take its name from the file: a name of 250 bytes plus a suffix
  // would pass the file system's limit and the replacement would fail.
  test::TempDir dir;
  ASSERT_TRUE(ForceDirectories(dir.File("f")));
  for (const std::string& name : {std::string("short.txt"), std::string(250, 'n')}) {
    const std::string path = dir.Write("f/" + name, "old");
    ASSERT_TRUE(ReplaceFileContents(path, "new bytes", 0640)) << name.size();
    EXPECT_EQ(test::TempDir::Read(path), "new bytes");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    ASSERT_EQ(::unlink(path.c_str()), 0);
  }
  // Nothing is left behind.
  EXPECT_TRUE(std::filesystem::is_empty(dir.File("f")));
}

TEST(Files, CopyFailuresReturnFalseWithTheReason) {
  test::TempDir dir;
  const std::string src = dir.Write("src.doc", "data");
  std::string reason;
  EXPECT_FALSE(CopyFileReplace(src, dir.File("gone/copy.doc"), &reason));
  EXPECT_EQ(reason, dir.File("gone/copy.doc") + ": " + SysErrorMessage(ENOENT));
  EXPECT_FALSE(CopyFileReplace(dir.File("missing"), dir.File("copy.doc"), &reason));
  EXPECT_EQ(reason, "Cannot open file \"" + dir.File("missing") + "\". " + SysErrorMessage(ENOENT));
  {
    TFileStream holder(src, fmOpenReadWrite | fmShareExclusive);
    EXPECT_FALSE(CopyFileReplace(src, dir.File("copy.doc"), &reason));
    EXPECT_NE(reason.find("being used by another process"), std::string::npos);
  }
  EXPECT_FALSE(FileExists(dir.File("copy.doc")));
  EXPECT_TRUE(CopyFileReplace(src, dir.File("copy.doc")));
}

TEST(Files, FileSizeOpensForReadingWithSharing) {
  test::TempDir dir;
  const std::string path = dir.Write("f.bin", std::string(1234, 'x'));
  TFileStream writer(path, fmOpenReadWrite | fmShareDenyNone);
  EXPECT_EQ(FileSizeOf(path), 1234);
  EXPECT_THROW(FileSizeOf(dir.File("missing")), EFOpenError);
}

// Tests run as the superuser, for whom access(W_OK) holds on any file, so the mode bits decide
// there; for other users access() is the test. A read-only mount or an immutable file would fail
// access() for both; neither can be set up here.
TEST(Files, ReadOnlyFollowsWritePermission) {
  test::TempDir dir;
  const std::string path = dir.Write("ro.dat", "x");
  EXPECT_FALSE(IsFileReadOnly(path));
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_TRUE(IsFileReadOnly(path));
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  EXPECT_FALSE(IsFileReadOnly(path));
  EXPECT_FALSE(IsFileReadOnly(dir.File("missing")));
}

TEST(Files, FindFileTimesReadsTheFileSystemTimes) {
  test::TempDir dir;
  const std::string path = dir.Write("t.txt", "x");
  const time_t before = time(nullptr);
  SetTimes(path, 1300000000, 1210757443, 500);
  TFileTime creation = 0, write = 0, access = 0;
  ASSERT_TRUE(FindFileTimes(path, creation, write, access));
  EXPECT_EQ(write, kUnixEpochTicks + 1210757443LL * kTicks + 5);
  EXPECT_EQ(access, kUnixEpochTicks + 1300000000LL * kTicks);
  // Birth time (or change time where none is kept): the file was made just now.
  EXPECT_GE(creation, kUnixEpochTicks + (before - 5) * kTicks);
  EXPECT_FALSE(FindFileTimes(dir.File("missing"), creation, write, access));
}

TEST(Files, LocalFileTimeFollowsTheZoneRulesOfThatInstant) {
  ScopedEnv tz("TZ", "EST5EDT,M3.2.0,M11.1.0");
  for (time_t t : {time_t{1200000000} /* January */, time_t{1215000000} /* July */, time_t{-1000}}) {
    struct tm tm;
    ASSERT_NE(localtime_r(&t, &tm), nullptr);
    const TFileTime utc = kUnixEpochTicks + int64_t{t} * kTicks + 1234;
    EXPECT_EQ(FileTimeToLocalFileTime(utc) - utc, int64_t{tm.tm_gmtoff} * kTicks) << t;
  }
  EXPECT_EQ(FileTimeToLocalFileTime(kUnixEpochTicks + 1200000000LL * kTicks) -
                (kUnixEpochTicks + 1200000000LL * kTicks),
            -5 * 3600 * kTicks);
  EXPECT_EQ(FileTimeToLocalFileTime(kUnixEpochTicks + 1215000000LL * kTicks) -
                (kUnixEpochTicks + 1215000000LL * kTicks),
            -4 * 3600 * kTicks);
}

// Local ticks of a civil date-time (as if UTC).
TFileTime LocalTicks(int y, int mo, int d, int h, int mi, int s) {
  struct tm tm = {};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return kUnixEpochTicks + int64_t{timegm(&tm)} * kTicks;
}

TEST(Files, DosDateTimeRoundTripInTwoSecondSteps) {
  struct Case {
    TFileTime ft;
    bool inRange;
    uint16_t date, time;
    TDateTime back;
  };
  const Case cases[] = {
      {LocalTicks(2008, 5, 14, 9, 30, 42), true, (28 << 9) | (5 << 5) | 14, (9 << 11) | (30 << 5) | 21,
       EncodeDateTime(2008, 5, 14, 9, 30, 42, 0)},
      // An odd second, and a fraction of a second, give the even second below.
      {LocalTicks(2008, 5, 14, 9, 30, 43) + 9999999, true, (28 << 9) | (5 << 5) | 14,
       (9 << 11) | (30 << 5) | 21, EncodeDateTime(2008, 5, 14, 9, 30, 42, 0)},
      {LocalTicks(1980, 1, 1, 0, 0, 0), true, (1 << 5) | 1, 0, EncodeDateTime(1980, 1, 1, 0, 0, 0, 0)},
      {LocalTicks(2107, 12, 31, 23, 59, 59), true, (127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29,
       EncodeDateTime(2107, 12, 31, 23, 59, 58, 0)},
      {LocalTicks(1979, 12, 31, 23, 59, 59), false, 0, 0, 0},
      {LocalTicks(2108, 1, 1, 0, 0, 0), false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ft);
    uint16_t date = 0, time = 0;
    ASSERT_EQ(FileTimeToDosDateTime(c.ft, date, time), c.inRange);
    if (!c.inRange) continue;
    EXPECT_EQ(date, c.date);
    EXPECT_EQ(time, c.time);
    EXPECT_EQ(DosDateTimeToDateTime((uint32_t{date} << 16) | time), c.back);
  }
  EXPECT_THROW(DosDateTimeToDateTime(uint32_t{(28 << 9) | (13 << 5) | 1} << 16), EConvertError);  // month 13
  EXPECT_THROW(DosDateTimeToDateTime(uint32_t{(28 << 9) | (2 << 5) | 30} << 16),
               EConvertError);  // 30 February
  EXPECT_THROW(DosDateTimeToDateTime((uint32_t{(28 << 9) | (2 << 5) | 1} << 16) | (24 << 11)), EConvertError);
}

TEST(Files, FileTimeOfGivesLocalTimeInTwoSecondSteps) {
  ScopedEnv tz("TZ", "CST-8");
  test::TempDir dir;
  const std::string osPath = dir.Write(reinterpret_cast<const char*>(u8"报告.doc"), "x");
  const std::string path = Utf8ToAnsi(osPath);  // code-page text, as callers hold it
  // 2008-05-14 01:30:43 UTC is 09:30:43 in UTC+8; the access time a day later at 10:00:01 local.
  SetTimes(osPath, 1210728643 + 86400 + 1758, 1210728643);
  EXPECT_EQ(FileTimeOf(path, TFileTimeKind::LastWrite), EncodeDateTime(2008, 5, 14, 9, 30, 42, 0));
  EXPECT_EQ(Stamp(FileTimeOf(path, TFileTimeKind::LastWrite)), "2008-05-14-09-30-42");
  EXPECT_EQ(Stamp(FileTimeOf(path, TFileTimeKind::LastAccess)), "2008-05-15-10-00-00");
  EXPECT_GT(FileTimeOf(path, TFileTimeKind::Creation), EncodeDate(2020, 1, 1));  // made now
  EXPECT_EQ(FileTimeOf(dir.File("missing"), TFileTimeKind::LastWrite), 0.0);
  EXPECT_EQ(Stamp(FileTimeOf(dir.File("missing"), TFileTimeKind::Creation)), "1899-12-30-00-00-00");

  // Before the DOS years the same rule holds: 1970-01-01 00:00:03 UTC is 08:00:02 local.
  SetTimes(osPath, 3, 3);
  EXPECT_EQ(Stamp(FileTimeOf(path, TFileTimeKind::LastWrite)), "1970-01-01-08-00-02");
}

TEST(Files, DriveRootsAndKinds) {
  test::TempDir dir;
  {
    ScopedEnv home("HOME", dir.Path());
    EXPECT_EQ(FixedDriveRoots(), std::vector<std::string>{dir.Path() + "/"});
    EXPECT_EQ(DriveKindOf(dir.Path()), dkFixed);
    ASSERT_TRUE(ForceDirectories(dir.File("sub")));
    EXPECT_EQ(DriveKindOf(dir.File("sub")), dkFixed);
  }
  EXPECT_EQ(DriveKindOf(dir.File("missing")), dkNoRootDir);
  EXPECT_EQ(DriveKindOf("/proc/self"), dkUnknown);
  struct stat st;
  if (stat("/dev/shm", &st) == 0) {
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    bool tmpfs = false;
    while (std::getline(mounts, line))
      if (line.find(" /dev/shm ") != std::string::npos && line.find(" - tmpfs ") != std::string::npos)
        tmpfs = true;
    if (tmpfs) {
      EXPECT_EQ(DriveKindOf("/dev/shm"), dkRamDisk);
    }
  }
}

}  // namespace
}  // namespace lanqi

namespace lanqi {
namespace {

// Whether the file system of folder clones files (FICLONE); the reason when it does not.
bool ClonesFiles(const std::string& folder, std::string& why) {
  const std::string a = folder + "/probe-a", b = folder + "/probe-b";
  std::ofstream(a) << "probe";
  int in = ::open(a.c_str(), O_RDONLY), out = ::open(b.c_str(), O_WRONLY | O_CREAT, 0600);
  bool ok = ::ioctl(out, FICLONE, in) == 0;
  if (!ok)
    why =
        "the file system of " + folder + " makes no reflink clones (FICLONE: " + SysErrorMessage(errno) + ")";
  ::close(in);
  ::close(out);
  ::unlink(a.c_str());
  ::unlink(b.c_str());
  return ok;
}

// Each method on its own: the same bytes, the source's last-write time, a read-only copy when
// asked, the progress reaching the size, nothing else left in the folder.
TEST(CopyFileFast, EveryMethodCopiesWholeAndSaysWhichItUsed) {
  test::TempDir dir;
  std::string bytes(3 * (1 << 20) + 12345, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 4096);
  const std::string src = dir.Write("src.bin", bytes);
  ::chmod(src.c_str(), 0664);
  std::string noClone;
  const bool clones = ClonesFiles(dir.Path(), noClone);
  struct Case {
    unsigned methods;
    TCopyMethod expected;
  };
  const Case cases[] = {
      {kCopyReflink | kCopyRange, clones ? TCopyMethod::Reflink : TCopyMethod::CopyRange},
      {kCopyAnyMethod, clones ? TCopyMethod::Reflink : TCopyMethod::CopyRange},
      {kCopyRange, TCopyMethod::CopyRange},
      {kCopyReadWrite, TCopyMethod::ReadWrite},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.methods);
    ASSERT_TRUE(ForceDirectories(dir.File("bak")));
    const std::string dst = dir.File("bak/copy" + std::to_string(n++) + ".bin");
    TCopyOptions options;
    options.Methods = c.methods;
    options.ReadOnly = true;
    options.NoReplace = true;
    int64_t last = -1, total = -1;
    options.Progress = [&](int64_t done, int64_t all) {
      EXPECT_GT(done, last);
      last = done;
      total = all;
    };
    TCopyMethod used = TCopyMethod::None;
    std::string reason;
    ASSERT_TRUE(CopyFileFast(src, dst, options, &used, &reason)) << reason;
    EXPECT_EQ(used, c.expected) << CopyMethodName(used);
    EXPECT_EQ(last, static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(total, static_cast<int64_t>(bytes.size()));
    EXPECT_TRUE(test::TempDir::Read(dst) == bytes);
    struct stat a, b;
    ASSERT_EQ(stat(src.c_str(), &a), 0);
    ASSERT_EQ(stat(dst.c_str(), &b), 0);
    EXPECT_EQ(b.st_mtim.tv_sec, a.st_mtim.tv_sec);
    EXPECT_EQ(b.st_mtim.tv_nsec, a.st_mtim.tv_nsec);
    EXPECT_EQ(b.st_mode & 0777, 0444u);
  }
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.File("bak"))) ++entries;
  EXPECT_EQ(entries, n);
}

// Where the temporary folder or the one the tests run in can clone, a clone is what a copy is, and
// it is the source's bytes.
TEST(CopyFileFast, ClonesWhereTheFileSystemCan) {
  test::TempDir tmp;
  const std::string here = std::filesystem::current_path().string() + "/clone-probe";
  std::filesystem::create_directories(here);
  std::string folder, why, reasons;
  for (const std::string& f : {tmp.Path(), here}) {
    if (ClonesFiles(f, why)) {
      folder = f;
      break;
    }
    reasons += (reasons.empty() ? "" : "; ") + why;
  }
  if (folder.empty()) {
    std::filesystem::remove_all(here);
    GTEST_SKIP() << reasons;
  }
  const std::string src = folder + "/src.bin", dst = folder + "/clone.bin";
  std::ofstream(src) << std::string(1 << 20, 'r');
  TCopyOptions options;
  options.Methods = kCopyReflink;
  TCopyMethod used = TCopyMethod::None;
  std::string reason;
  EXPECT_TRUE(CopyFileFast(src, dst, options, &used, &reason)) << reason;
  EXPECT_EQ(used, TCopyMethod::Reflink);
  EXPECT_EQ(test::TempDir::Read(dst), std::string(1 << 20, 'r'));
  std::filesystem::remove_all(here);
  std::filesystem::remove(src);
  std::filesystem::remove(dst);
}

TEST(CopyFileFast, NeverWritesOverAnExistingCopyAndACancelLeavesNothing) {
  test::TempDir dir;
  const std::string src = dir.Write("src.bin", std::string(20 << 20, 'c'));
  ASSERT_TRUE(ForceDirectories(dir.File("bak")));
  const std::string kept = dir.Write("bak/kept.bin", "history");
  TCopyOptions options;
  options.NoReplace = true;
  std::string reason;
  EXPECT_FALSE(CopyFileFast(src, kept, options, nullptr, &reason));
  EXPECT_EQ(reason, kept + ": " + SysErrorMessage(EEXIST));
  EXPECT_EQ(test::TempDir::Read(kept), "history");
  // A cancel during the copy (asked from the progress of the first piece) of either loop.
  for (unsigned methods : {kCopyRange, kCopyReadWrite}) {
    std::atomic<bool> cancel{false};
    options.Methods = methods;
    options.Cancel = &cancel;
    options.Progress = [&](int64_t, int64_t) { cancel = true; };
    bool cancelled = false;
    EXPECT_FALSE(CopyFileFast(src, dir.File("bak/new.bin"), options, nullptr, &reason, &cancelled));
    EXPECT_TRUE(cancelled);
  }
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.File("bak"))) ++entries;
  EXPECT_EQ(entries, 1);
}

}  // namespace
}  // namespace lanqi
