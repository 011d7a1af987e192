// Captures on a real catalog and real files: editors' ways of saving, several saves inside one stamp
// slot, saves that bring no new bytes, copies shared between versions of equal content, read-only
// copies, and the capture in its three steps.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>

#include "app/VersionCatalog.h"
#include "engine/RadeZI.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "tests/app/CatalogFixture.h"
#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

namespace fs = std::filesystem;
using test::A;

// A fixed local moment (1 June 2020 10:00:00, an even second) plus secs and nanos as the file's
// last-write time: secs 0 and 1 lie in one 2-second stamp slot.
void StampAt(const std::string& path, int secs, long nanos = 0) {
  std::tm tm{};
  tm.tm_year = 120;
  tm.tm_mon = 5;
  tm.tm_mday = 1;
  tm.tm_hour = 10;
  tm.tm_isdst = -1;
  const struct timespec times[2] = {{0, UTIME_OMIT}, {std::mktime(&tm) + secs, nanos}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Writes bytes into a new file at path as editors do: flushed, closed.
void WriteNew(const std::string& path, const std::string& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::fsync(fd);
  ::close(fd);
}

std::string Folder(const std::string& path) {
  return path.substr(0, path.rfind('/') + 1);
}
std::string Name(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

// The system calls of each editor's save, replayed.
struct Editor {
  const char* name;
  void (*save)(const std::string& path, const std::string& bytes);
};

const Editor kEditors[] = {
    // The old file is renamed to a backup name, the new one written under the name, the backup
    // removed; a swap file lives beside it meanwhile.
    {"vim",
     [](const std::string& path, const std::string& bytes) {
       const std::string swap = Folder(path) + "." + Name(path) + ".swp";
       WriteNew(swap, "swap");
       ASSERT_EQ(::rename(path.c_str(), (path + "~").c_str()), 0);
       WriteNew(path, bytes);
       ASSERT_EQ(::unlink((path + "~").c_str()), 0);
       ASSERT_EQ(::unlink(swap.c_str()), 0);
     }},
    // A lock file for as long as the document is open, a temporary file renamed over the name.
    {"office suite",
     [](const std::string& path, const std::string& bytes) {
       WriteNew(Folder(path) + ".~lock." + Name(path) + "#", "lock");
       const std::string tmp = Folder(path) + "lu4711abc.tmp";
       WriteNew(tmp, bytes);
       ASSERT_EQ(::rename(tmp.c_str(), path.c_str()), 0);
     }},
    // A hidden output stream renamed over the name.
    {"desktop editor",
     [](const std::string& path, const std::string& bytes) {
       const std::string tmp = Folder(path) + ".goutputstream-Q3X9ZK";
       WriteNew(tmp, bytes);
       ASSERT_EQ(::rename(tmp.c_str(), path.c_str()), 0);
     }},
    // In place: the same inode, truncated and written.
    {"in place", [](const std::string& path, const std::string& bytes) { WriteNew(path, bytes); }},
};

struct CaptureTest : testing::Test {
  test::TempDir dir;
  std::string path = dir.File("work/report.txt");
  std::string backup = dir.File("area/report.txt-bak");
  TVersionCatalog catalog;
  int32_t fileNo = 0;

  void SetUp() override {
    test::MakeCatalog(dir.File("catalog.dat"));
    fs::create_directories(dir.File("area"));
    fs::create_directories(dir.File("work"));
    catalog.Open(dir.File("catalog.dat"));
    catalog.AddArea("docs", dir.File("area"));
    dir.Write("work/report.txt", "version one");
    StampAt(path, 0);
    ASSERT_TRUE(catalog.AddFileToArea("docs", path, &fileNo));
    verinfo info;
    ASSERT_TRUE(catalog.CaptureVersion(path, "", info));
  }
  bool Changed() {
    auto c = catalog.ChangedFiles();
    return std::find(c.begin(), c.end(), path) != c.end();
  }
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const verinfo& v : catalog.Versions(fileNo)) out.push_back(v.Version);
    return out;
  }
  int CopiesOnDisk() {
    int n = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(backup)) ++n;
    return n;
  }
};

// Every editor's save inside the stamp slot of the version before it is seen (its fingerprint differs
// though its stamp does not), captured under its own version text and its own copy, and the file stays
// tracked. A copy file already holding a name is passed over, never written.
TEST_F(CaptureTest, EditorsSavesInsideOneStampSlotAreEachCaptured) {
  const std::string stamp = catalog.Versions(fileNo)[0].Version;
  const std::string stray = dir.Write("area/report.txt-bak/report{" + stamp + "-2}.txt", "not ours");
  const std::string strayMarked = dir.Write("area/report.txt-bak/report{" + stamp + "2}.txt", "not ours");
  std::vector<std::string> expected{stamp};
  long nanos = 0;
  int n = 2;
  for (const Editor& e : kEditors) {
    SCOPED_TRACE(e.name);
    const std::string bytes = std::string("saved by ") + e.name;
    e.save(path, bytes);
    StampAt(path, 1, nanos += 100000000);
    ASSERT_EQ(VersionStamp(path), stamp);
    EXPECT_TRUE(Changed());
    verinfo info;
    ASSERT_TRUE(catalog.CaptureVersion(path, e.name, info));
    // The stamp and a mark of the n-th save in its slot; the second one names the stray file.
    if (n == 2) ++n;
    const std::string dashed = stamp + "-" + std::to_string(n), marked = stamp + std::to_string(n);
    ++n;
    EXPECT_TRUE(info.Version == dashed || info.Version == marked) << info.Version;
    expected.push_back(info.Version);
    EXPECT_EQ(test::TempDir::Read(info.FilePath), bytes);
    EXPECT_FALSE(Changed());
    EXPECT_EQ(catalog.FileNoOf(path), fileNo);
  }
  EXPECT_EQ(Texts(), expected);
  EXPECT_EQ(test::TempDir::Read(catalog.Versions(fileNo)[0].FilePath), "version one");
  EXPECT_EQ(test::TempDir::Read(stray), "not ours");
  EXPECT_EQ(test::TempDir::Read(strayMarked), "not ours");
}

// A save of the newest version's bytes makes no copy and no row and stores its stamp; with the
// setting off it is a version of its own that names the newest copy.
TEST_F(CaptureTest, AnUnchangedSaveKeepsOnlyItsStamp) {
  kEditors[2].save(path, "version one");
  StampAt(path, 10);
  ASSERT_TRUE(Changed());
  verinfo info;
  EXPECT_FALSE(catalog.CaptureVersion(path, "", info));
  EXPECT_EQ(Texts().size(), 1u);
  EXPECT_EQ(CopiesOnDisk(), 1);
  EXPECT_FALSE(Changed());
  verinfo file;
  ASSERT_TRUE(catalog.FindFileInfo(fileNo, file));
  EXPECT_EQ(file.Size, VersionStamp(path));

  catalog.SetSkipUnchanged(false);
  StampAt(path, 20);
  ASSERT_TRUE(catalog.CaptureVersion(path, "kept", info));
  auto versions = catalog.Versions(fileNo);
  ASSERT_EQ(versions.size(), 2u);
  EXPECT_EQ(versions[1].FilePath, versions[0].FilePath);
  EXPECT_EQ(CopiesOnDisk(), 1);
}

// Content seen before shares its copy; copies are read-only; a shared copy outlives the deletion of
// one of its versions and goes with the last; restore, save-as and export read shared read-only
// copies.
TEST_F(CaptureTest, RepeatedContentSharesOneReadOnlyCopy) {
  verinfo info;
  dir.Write("work/report.txt", "version two");
  StampAt(path, 10);
  ASSERT_TRUE(catalog.CaptureVersion(path, "", info));
  dir.Write("work/report.txt", "version one");
  StampAt(path, 20);
  ASSERT_TRUE(catalog.CaptureVersion(path, "", info));
  auto v = catalog.Versions(fileNo);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[2].FilePath, v[0].FilePath);
  EXPECT_NE(v[1].FilePath, v[0].FilePath);
  EXPECT_EQ(CopiesOnDisk(), 2);
  for (const verinfo& x : v) {
    struct stat st {};
    ASSERT_EQ(::stat(x.FilePath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u) << x.FilePath;
  }

  TRestoreResult r = catalog.RestoreVersion(fileNo, v[1].Version);
  EXPECT_EQ(test::TempDir::Read(path), "version two");
  EXPECT_FALSE(r.SavedCurrent);
  EXPECT_EQ(r.Restored.FilePath, v[1].FilePath);
  catalog.SaveVersionAs(fileNo, v[2].Version, dir.File("out.txt"));
  EXPECT_EQ(test::TempDir::Read(dir.File("out.txt")), "version one");
  EXPECT_EQ(catalog.ExportGitRepository(fileNo, dir.File("git")), 4);

  ASSERT_TRUE(catalog.DeleteVersion(fileNo, v[0].Version));
  EXPECT_EQ(test::TempDir::Read(v[2].FilePath), "version one");
  ASSERT_TRUE(catalog.DeleteVersion(fileNo, v[2].Version));
  EXPECT_FALSE(FileExists(v[0].FilePath));
}

// Versions recorded without digests (by a program that knows only the three tables) get theirs
// when a save first needs them; a digest whose copy was replaced since is not trusted.
TEST_F(CaptureTest, DigestsAreComputedWhenFirstNeededAndOnlyTrustedForTheirCopy) {
  const std::string old = dir.Write("area/report.txt-bak/report{2019-01-01-00-00-00}.txt", "older bytes");
  test::CatalogTable(dir.File("catalog.dat"), u8"文件版本表")
      .Append({{u8"文件序号", std::to_string(fileNo)},
               {u8"版本", "2019-01-01-00-00-00"},
               {u8"大小", "11"},
               {u8"文件名称", old}});
  catalog.Reload();
  dir.Write("work/report.txt", "older bytes");
  StampAt(path, 10);
  verinfo info;
  EXPECT_FALSE(catalog.CaptureVersion(path, "", info));
  auto digests = test::CatalogTable(dir.File("catalog.dat"), u8"版本内容表").Rows();
  EXPECT_EQ(digests.size(), 2u);  // the copy just compared and the one of the same size before it
  catalog.Reload();

  // The newest copy replaced behind the catalog's back: the save of its old bytes is new content.
  ::chmod(old.c_str(), 0644);
  ASSERT_EQ(::unlink(old.c_str()), 0);
  dir.Write("area/report.txt-bak/report{2019-01-01-00-00-00}.txt", "other bytes");
  StampAt(path, 20);
  ASSERT_TRUE(catalog.CaptureVersion(path, "", info));
  EXPECT_EQ(test::TempDir::Read(info.FilePath), "older bytes");
}

// The three steps: a cancelled copy leaves no file and no row and the file still counts as changed;
// the progress reaches the total; the commit writes what the plan named.
TEST_F(CaptureTest, TheStepsCancelCleanlyAndCommitWhatThePlanNamed) {
  const std::string bytes(5 << 20, 'z');
  dir.Write("work/report.txt", bytes);
  StampAt(path, 10);
  std::atomic<bool> cancel{false};
  TCapturePlan plan = catalog.PrepareCapture(path);
  ASSERT_EQ(plan.FileNo, fileNo);
  EXPECT_FALSE(catalog.CopyForCapture(
      plan, [&](int64_t, int64_t) { cancel = true; }, &cancel));
  EXPECT_TRUE(plan.Cancelled);
  verinfo info;
  EXPECT_FALSE(catalog.CommitCapture(plan, "", info));
  EXPECT_EQ(CopiesOnDisk(), 1);
  EXPECT_EQ(Texts().size(), 1u);
  EXPECT_TRUE(Changed());

  cancel = false;
  plan = catalog.PrepareCapture(path);
  int64_t last = 0, total = 0;
  ASSERT_TRUE(catalog.CopyForCapture(
      plan,
      [&](int64_t done, int64_t all) {
        last = done;
        total = all;
      },
      &cancel));
  EXPECT_EQ(last, total);
  EXPECT_EQ(total, static_cast<int64_t>(bytes.size()));
  EXPECT_NE(plan.Method, TCopyMethod::None);
  EXPECT_TRUE(Changed());  // the stamp is stored by the commit only
  ASSERT_TRUE(catalog.CommitCapture(plan, "big", info));
  EXPECT_EQ(info.Version, plan.Version);
  EXPECT_EQ(info.FilePath, plan.Copy);
  EXPECT_EQ(info.Size, std::to_string(bytes.size()));
  EXPECT_TRUE(test::TempDir::Read(plan.Copy) == bytes);
  EXPECT_FALSE(Changed());
}

}  // namespace
}  // namespace lanqi
