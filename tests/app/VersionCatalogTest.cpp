// The catalog's version operations on a real catalog and real files: restore, delete, save a copy,
// export as a git repository (read back through libgit2).
#include <git2.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <sstream>

#include "app/LanqiCli.h"
#include "app/VersionCatalog.h"
#include "engine/RadeZI.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "tests/app/CatalogFixture.h"
#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

using test::A;

// A fixed local moment (1 June 2020 10:00) plus secs as the file's last-write time.
void StampAt(const std::string& path, int secs) {
  std::tm tm{};
  tm.tm_year = 120;
  tm.tm_mon = 5;
  tm.tm_mday = 1;
  tm.tm_hour = 10;
  tm.tm_isdst = -1;
  auto t = std::chrono::system_clock::from_time_t(std::mktime(&tm)) + std::chrono::seconds(secs);
  std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(t));
}

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

struct VersionCatalogTest : testing::Test {
  test::TempDir dir;
  std::string path = dir.File("work/report.txt");
  TVersionCatalog catalog;
  int32_t fileNo = 0;

  void SetUp() override {
    test::MakeCatalog(dir.File("catalog.dat"));
    std::filesystem::create_directories(dir.File("area"));
    std::filesystem::create_directories(dir.File("work"));
    catalog.Open(dir.File("catalog.dat"));
    catalog.AddArea("docs", dir.File("area"));
    Write("one", 0);
    ASSERT_TRUE(catalog.AddFileToArea("docs", path, &fileNo));
    Capture("");
  }
  void Write(const std::string& bytes, int secs) {
    dir.Write("work/report.txt", bytes);
    StampAt(path, secs);
  }
  verinfo Capture(const std::string& note) {
    verinfo info;
    EXPECT_TRUE(catalog.CaptureVersion(path, note, info));
    return info;
  }
  std::vector<std::string> Notes() {
    std::vector<std::string> notes;
    for (const verinfo& v : catalog.Versions(fileNo)) notes.push_back(AnsiToUtf8(v.Note));
    return notes;
  }
  std::string StoredStamp() {
    verinfo f;
    catalog.FindFileInfo(fileNo, f);
    return f.Size;
  }
};

TEST_F(VersionCatalogTest, RestoreKeepsTheCurrentStateThenPutsTheVersionBackWithItsPermissions) {
  const std::string first = catalog.Versions(fileNo)[0].Version;
  Write("two", 10);
  Capture("second");
  Write("three, never captured", 20);
  ::chmod(path.c_str(), 0640);

  TRestoreResult r = catalog.RestoreVersion(fileNo, first);

  EXPECT_EQ(test::TempDir::Read(path), "one");
  EXPECT_EQ(ModeOf(path), 0640u);
  ASSERT_TRUE(r.SavedCurrent);
  EXPECT_EQ(test::TempDir::Read(r.Saved.FilePath), "three, never captured");
  EXPECT_EQ(test::TempDir::Read(r.Restored.FilePath), "one");
  EXPECT_EQ(Notes(), (std::vector<std::string>{"", "second", "恢复前自动保存", "恢复自 " + first}));
  // The restored state's stamp is the stored one: the watcher's report of the write adds nothing.
  EXPECT_EQ(StoredStamp(), VersionStamp(path));
  EXPECT_EQ(r.Restored.Version, VersionStamp(path));
  EXPECT_TRUE(catalog.ChangedFiles().empty());
}

TEST_F(VersionCatalogTest, RestoreOfAnUnchangedFileAddsOnlyTheRestoreRow) {
  const std::string first = catalog.Versions(fileNo)[0].Version;
  Write("two", 10);
  Capture("");
  TRestoreResult r = catalog.RestoreVersion(fileNo, first);
  EXPECT_FALSE(r.SavedCurrent);
  EXPECT_EQ(Notes(), (std::vector<std::string>{"", "", "恢复自 " + first}));
  EXPECT_EQ(test::TempDir::Read(path), "one");
  // Restoring the state the file is in still records the restore, and loses nothing.
  catalog.RestoreVersion(fileNo, r.Restored.Version);
  EXPECT_EQ(Notes().size(), 4u);
  EXPECT_EQ(test::TempDir::Read(path), "one");
}

// A change saved within the 2 seconds of the newest version's stamp has that same stamp: its
// capture must not write over the newest version's copy, nor the restored state over either.
TEST_F(VersionCatalogTest, RestoreNeverOverwritesACopyOfTheSameStamp) {
  const std::string first = catalog.Versions(fileNo)[0].Version;
  Write("two", 10);
  verinfo second = Capture("");
  Write("two, edited at once", 10);

  TRestoreResult r = catalog.RestoreVersion(fileNo, first);

  ASSERT_TRUE(r.SavedCurrent);
  EXPECT_NE(r.Saved.FilePath, second.FilePath);
  EXPECT_EQ(test::TempDir::Read(second.FilePath), "two");
  EXPECT_EQ(test::TempDir::Read(r.Saved.FilePath), "two, edited at once");
  std::vector<std::string> versions;
  for (const verinfo& v : catalog.Versions(fileNo)) versions.push_back(v.Version);
  std::sort(versions.begin(), versions.end());
  EXPECT_EQ(std::adjacent_find(versions.begin(), versions.end()), versions.end()) << "two rows of one stamp";
}

TEST_F(VersionCatalogTest, RestoreRefusesAndChangesNothing) {
  const std::string first = catalog.Versions(fileNo)[0].Version;
  const std::string copy = catalog.Versions(fileNo)[0].FilePath;
  Write("current", 10);
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::string message;
    std::function<void()> undo;
  };
  const Case cases[] = {
      {"read-only target", [&] { ::chmod(path.c_str(), 0444); }, "文件无法写入：" + path,
       [&] { ::chmod(path.c_str(), 0644); }},
      {"missing copy", [&] { std::filesystem::rename(copy, copy + ".away"); }, "版本文件不存在：" + copy,
       [&] { std::filesystem::rename(copy + ".away", copy); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange();
    try {
      catalog.RestoreVersion(fileNo, first);
      ADD_FAILURE() << "restored";
    } catch (const std::exception& e) {
      EXPECT_EQ(AnsiToUtf8(e.what()), c.message);
    }
    c.undo();
    EXPECT_EQ(test::TempDir::Read(path), "current");
    EXPECT_EQ(Notes().size(), 1u);
  }
  EXPECT_THROW(catalog.RestoreVersion(fileNo, "2001-01-01-00-00-00"), std::exception);
}

TEST_F(VersionCatalogTest, DeleteRemovesTheRowAndItsCopyButLeavesTheStoredStamp) {
  Write("two", 10);
  verinfo second = Capture("second");
  const std::string stamp = StoredStamp();
  verinfo first = catalog.Versions(fileNo)[0];

  EXPECT_TRUE(catalog.DeleteVersion(fileNo, second.Version));
  EXPECT_FALSE(FileExists(second.FilePath));
  EXPECT_TRUE(FileExists(first.FilePath));
  EXPECT_EQ(Notes(), std::vector<std::string>{""});
  EXPECT_EQ(StoredStamp(), stamp);
  EXPECT_TRUE(catalog.ChangedFiles().empty());
  EXPECT_FALSE(catalog.DeleteVersion(fileNo, second.Version));
}

TEST_F(VersionCatalogTest, DeleteKeepsACopyAnotherRowStillNames) {
  verinfo first = catalog.Versions(fileNo)[0];
  // An older catalog may hold two captures of one stamp sharing one copy.
  test::CatalogTable versions(dir.File("catalog.dat"), u8"文件版本表");
  versions.Append({{u8"文件序号", std::to_string(fileNo)},
                   {u8"版本", first.Version},
                   {u8"说明", A(u8"重复")},
                   {u8"文件名称", first.FilePath}});
  catalog.Tbfilever->Close();
  catalog.Open(dir.File("catalog.dat"));
  EXPECT_TRUE(catalog.DeleteVersion(fileNo, first.Version));
  EXPECT_TRUE(FileExists(first.FilePath));
  EXPECT_EQ(Notes(), std::vector<std::string>{"重复"});
}

TEST_F(VersionCatalogTest, SaveAsWritesTheVersionBytes) {
  const std::string first = catalog.Versions(fileNo)[0].Version;
  Write("two", 10);
  catalog.SaveVersionAs(fileNo, first, dir.File("copy.txt"));
  EXPECT_EQ(test::TempDir::Read(dir.File("copy.txt")), "one");
  EXPECT_EQ(test::TempDir::Read(path), "two");
  EXPECT_THROW(catalog.SaveVersionAs(fileNo, "2001-01-01-00-00-00", dir.File("x")), std::exception);
}

TEST_F(VersionCatalogTest, GitExportHasOneCommitPerVersionInTimeOrder) {
  Write("two\n", 10);
  Capture(A(u8"第二版"));
  Write("three\n", 40);
  Capture("");
  std::vector<verinfo> versions = catalog.Versions(fileNo);
  ASSERT_EQ(versions.size(), 3u);

  EXPECT_EQ(catalog.ExportGitRepository(fileNo, dir.File("repo")), 3);
  EXPECT_EQ(test::TempDir::Read(dir.File("repo/report.txt")), "three\n");

  git_libgit2_init();
  git_repository* repo = nullptr;
  ASSERT_EQ(git_repository_open(&repo, dir.File("repo").c_str()), 0);
  git_oid id;
  ASSERT_EQ(git_reference_name_to_id(&id, repo, "HEAD"), 0);
  struct Seen {
    std::string message, bytes;
    git_time_t time;
  };
  std::vector<Seen> seen;
  for (git_commit* c = nullptr; git_commit_lookup(&c, repo, &id) == 0;) {
    git_tree* tree = nullptr;
    git_commit_tree(&tree, c);
    const git_tree_entry* entry = git_tree_entry_byname(tree, "report.txt");
    git_blob* blob = nullptr;
    git_blob_lookup(&blob, repo, git_tree_entry_id(entry));
    seen.push_back({git_commit_message(c),
                    std::string(static_cast<const char*>(git_blob_rawcontent(blob)), git_blob_rawsize(blob)),
                    git_commit_author(c)->when.time});
    EXPECT_EQ(git_tree_entrycount(tree), 1u);
    git_blob_free(blob);
    git_tree_free(tree);
    bool more = git_commit_parentcount(c) == 1;
    if (more) id = *git_commit_parent_id(c, 0);
    git_commit_free(c);
    if (!more) break;
  }
  git_repository_free(repo);
  git_libgit2_shutdown();

  ASSERT_EQ(seen.size(), 3u);  // newest first
  EXPECT_EQ(seen[2].message, "版本 " + versions[0].Version + "\n");
  EXPECT_EQ(seen[1].message, "第二版\n");
  EXPECT_EQ(seen[0].message, "版本 " + versions[2].Version + "\n");
  EXPECT_EQ(seen[2].bytes, "one");
  EXPECT_EQ(seen[1].bytes, "two\n");
  EXPECT_EQ(seen[0].bytes, "three\n");
  // The stamps are the file times in 2-second steps: 10:00:00, 10:00:10, 10:00:40 local time.
  EXPECT_EQ(seen[1].time - seen[2].time, 10);
  EXPECT_EQ(seen[0].time - seen[2].time, 40);
  auto firstTime = std::chrono::file_clock::to_sys(std::filesystem::last_write_time(versions[0].FilePath));
  EXPECT_EQ(seen[2].time,
            std::chrono::duration_cast<std::chrono::seconds>(firstTime.time_since_epoch()).count());

  // A folder with something in it is never taken over.
  try {
    catalog.ExportGitRepository(fileNo, dir.File("repo"));
    ADD_FAILURE() << "exported into a full folder";
  } catch (const std::exception& e) {
    EXPECT_EQ(AnsiToUtf8(e.what()), "目录不为空：" + dir.File("repo"));
  }
}

// The command line in another process restores while this catalog stays open, as the window's does:
// the restore's stored stamp is seen at once, so the window's next pass captures nothing, and its
// rows after a reload.
TEST_F(VersionCatalogTest, AnotherProcesssRestoreIsSeenThroughTheSharedCatalog) {
  const std::string first = catalog.Versions(fileNo)[0].Version;
  Write("two", 10);
  ASSERT_EQ(catalog.ChangedFiles(), std::vector<std::string>{path});
  std::string catalogFile = dir.File("catalog.dat");
  pid_t child = fork();
  if (child == 0) {
    const char* argv[] = {"lanqi", "--catalog", catalogFile.c_str(), "restore", path.c_str(), first.c_str()};
    std::ostringstream out, err;
    _exit(RunCli(6, const_cast<char**>(argv), out, err));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(test::TempDir::Read(path), "one");
  EXPECT_TRUE(catalog.ChangedFiles().empty());
  catalog.Reload();
  EXPECT_EQ(Notes(), (std::vector<std::string>{"", "恢复前自动保存", "恢复自 " + first}));
}

// A path another program tracked after this catalog read its file table is refused, not tracked a
// second time (the window's folder pass after a command line's add-folder did that).
TEST_F(VersionCatalogTest, APathAnotherProgramTrackedIsNotTrackedAgain) {
  const std::string other = dir.File("work/other.txt");
  dir.Write("work/other.txt", "x");
  ASSERT_EQ(catalog.FileNoOf(other), 0);
  pid_t child = fork();
  if (child == 0) {
    int code = 1;
    try {
      TVersionCatalog second;
      second.Open(dir.File("catalog.dat"));
      code = second.AddFileToArea("docs", other) ? 0 : 2;
    } catch (...) {
    }
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  try {
    catalog.AddFileToArea("docs", other);
    ADD_FAILURE() << "tracked twice";
  } catch (const std::exception& e) {
    EXPECT_EQ(AnsiToUtf8(e.what()), "文件已在监控中：" + other);
  }
  catalog.Reload();
  int rows = 0;
  for (catalog.Tbfileid->First(); !catalog.Tbfileid->Eof(); catalog.Tbfileid->Next())
    rows += catalog.Tbfileid->FieldByName(A(u8"源文件名称"))->AsString() == other;
  EXPECT_EQ(rows, 1);
}

// A table beside the three, asked for first by another program while this catalog is open: both end
// with one table holding both rows, and the three tables' bytes (everything the file held before,
// apart from the directory's count and new slot) stay as they were.
TEST_F(VersionCatalogTest, ExtraTableIsMadeOnceAndLeavesTheThreeTablesAsTheyWere) {
  const std::string file = dir.File("catalog.dat");
  catalog.Tbfilever->Database()->FileIO()->FlushFile();
  const std::string before = test::TempDir::Read(file);
  // The capture of the fixture may have made tables of its own already.
  std::vector<std::string> namesBefore;
  catalog.Tbarea->Database()->GetTableNames(namesBefore);
  const size_t slot = namesBefore.size();
  auto define = [](TRadeFieldDefs& f, TRadeIndexDefs& x) {
    f.Add(A(u8"文件序号"), ftInteger);
    f.Add(A(u8"标记"), ftString, 16);
    x.Add("MarkFile", {0});
  };
  auto addRow = [&](TVersionCatalog& c, int32_t no, const char* mark) {
    TRadeFieldDefs f;
    TRadeIndexDefs x;
    define(f, x);
    TRadeTable* t = c.ExtraTable(A(u8"版本标记"), f, x);
    t->Append();
    t->FieldByName(A(u8"文件序号"))->SetAsInteger(no);
    t->FieldByName(A(u8"标记"))->SetAsString(mark);
    t->Post();
  };
  pid_t child = fork();
  if (child == 0) {
    int code = 0;
    try {
      TVersionCatalog other;
      other.Open(file);
      addRow(other, 7, "child");
    } catch (...) {
      code = 1;
    }
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  addRow(catalog, 8, "parent");

  TRadeFieldDefs f;
  TRadeIndexDefs x;
  define(f, x);
  TRadeTable* t = catalog.ExtraTable(A(u8"版本标记"), f, x);
  t->Close();
  t->Open();
  std::vector<std::string> marks;
  for (t->First(); !t->Eof(); t->Next()) marks.push_back(t->FieldByName(A(u8"标记"))->AsString());
  EXPECT_EQ(marks, (std::vector<std::string>{"child", "parent"}));
  std::vector<std::string> names;
  catalog.Tbarea->Database()->GetTableNames(names);
  EXPECT_EQ(names.size(), slot + 1);

  catalog.Tbfilever->Database()->FileIO()->FlushFile();
  std::string after = test::TempDir::Read(file);
  ASSERT_GT(after.size(), before.size());
  after.resize(before.size());
  // The directory: its count (4 bytes) and the new table's offset slot.
  for (size_t i = 0; i < before.size(); ++i) {
    bool directory = i < 2789 + 4 || (i >= 2789 + 8 + 4 * slot && i < 2789 + 8 + 4 * (slot + 1));
    if (directory && i >= 2789) continue;
    ASSERT_EQ(before[i], after[i]) << "byte " << i;
  }

  // The same name with a field of another type is refused, not misread.
  TRadeFieldDefs wrong;
  TRadeIndexDefs none;
  wrong.Add(A(u8"标记"), ftInteger);
  TVersionCatalog third;
  third.Open(file);
  EXPECT_THROW(third.ExtraTable(A(u8"版本标记"), wrong, none), EDatabaseError);
}

}  // namespace
}  // namespace lanqi
