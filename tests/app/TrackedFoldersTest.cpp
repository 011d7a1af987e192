// Tracked folders on a real catalog and real files: which names a folder admits, the files tracked
// when it is added and those that appear later, and what removing it keeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "app/TrackedFolders.h"
#include "app/VersionCatalog.h"
#include "engine/RadeZI.h"
#include "platform/Files.h"
#include "tests/app/CatalogFixture.h"
#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

namespace fs = std::filesystem;

TEST(FolderAdmits, NamesAndLevels) {
  struct Case {
    const char* path;
    bool recursive;
    const char* include;
    const char* exclude;
    bool admitted;
  };
  const Case cases[] = {
      {"/w/doc/a.txt", false, "", "", true},
      {"/w/doc/A.DOCX", false, "*.docx;*.txt", "", true},  // letter case aside
      {"/w/doc/a.log", false, "*.docx; *.txt", "", false},
      {"/w/doc/sub/a.txt", false, "", "", false},  // a sub-folder only when recursive
      {"/w/doc/sub/deeper/a.txt", true, "", "", true},
      {"/w/doc/tmp/a.txt", true, "", "tmp", false},  // an excluded name leaves its sub-folder out
      {"/w/doc/a.bak", false, "", "*.bak;*.old", false},
      {"/w/doc/sub/a.txt", true, "", "/sub/a.txt", false},  // a path below the folder, exactly
      {"/w/doc/other/sub/a.txt", true, "", "/sub/a.txt", true},
      {"/w/doc/sub/b.txt", true, "", "/sub", false},
      {"/w/docs/a.txt", false, "", "", false},  // a folder beside it with a longer name
      {"/w/doc", false, "", "", false},
      // The editors' scratch files, whatever the patterns.
      {"/w/doc/~$report.docx", false, "*.docx", "", false},
      {"/w/doc/.~lock.report.odt#", false, "", "", false},
      {"/w/doc/.report.txt.swp", false, "*.swp", "", false},
      {"/w/doc/save.tmp", false, "", "", false},
      {"/w/doc/.#report.txt", false, "", "", false},
      {"/w/doc/report.txt~", false, "", "", false},
  };
  for (const Case& c : cases) {
    TCatalogFolder f;
    f.Path = "/w/doc";
    f.Recursive = c.recursive;
    f.Include = c.include;
    f.Exclude = c.exclude;
    EXPECT_EQ(FolderAdmits(f, c.path), c.admitted) << c.path;
  }
  EXPECT_EQ(SplitMasks(" *.docx ;;*.txt;"), (std::vector<std::string>{"*.docx", "*.txt"}));
}

struct TrackedFolderTest : testing::Test {
  test::TempDir dir;
  std::string catalogPath = dir.File("catalog.dat");
  TVersionCatalog catalog;

  void SetUp() override {
    test::MakeCatalog(catalogPath);
    fs::create_directories(dir.File("area"));
    fs::create_directories(dir.File("work/sub"));
    catalog.Open(catalogPath);
    catalog.AddArea("docs", dir.File("area"));
  }
  std::vector<std::string> Tracked() {
    std::vector<std::string> paths;
    for (const TCatalogArea& a : catalog.ReadTree())
      for (const TCatalogFile& f : a.Files) paths.push_back(f.Path.substr(dir.Path().size() + 1));
    std::sort(paths.begin(), paths.end());
    return paths;
  }
  // The bytes of the file's only version's copy.
  std::string FirstCopy(const std::string& path) {
    std::vector<verinfo> v = catalog.Versions(catalog.FileNoOf(path));
    EXPECT_EQ(v.size(), 1u) << path;
    return v.empty() ? "" : test::TempDir::Read(v[0].FilePath);
  }
};

TEST_F(TrackedFolderTest, AddingTracksAdmittedFilesAndLaterOnesAtTheNextWalk) {
  dir.Write("work/a.txt", "a");
  dir.Write("work/b.docx", "b");
  dir.Write("work/c.log", "c");
  dir.Write("work/~$b.docx", "lock");
  dir.Write("work/.~lock.a.txt#", "lock");
  dir.Write("work/sub/s.txt", "s");
  TFolderTracking done;
  int32_t folderNo = 0;
  ASSERT_TRUE(
      AddTrackedFolder(catalog, "docs", dir.File("work/"), false, "*.txt;*.docx", "", &done, &folderNo));
  EXPECT_EQ(done.Paths, (std::vector<std::string>{dir.File("work/a.txt"), dir.File("work/b.docx")}));
  EXPECT_TRUE(done.Failures.empty());
  EXPECT_EQ(Tracked(), (std::vector<std::string>{"work/a.txt", "work/b.docx"}));
  EXPECT_EQ(FirstCopy(dir.File("work/a.txt")), "a");
  EXPECT_EQ(FirstCopy(dir.File("work/b.docx")), "b");

  // The folder shows under its area, as stored (no delimiter after it).
  std::vector<TCatalogArea> tree = catalog.ReadTree();
  ASSERT_EQ(tree[0].Folders.size(), 1u);
  EXPECT_EQ(tree[0].Folders[0].FolderNo, folderNo);
  EXPECT_EQ(tree[0].Folders[0].Path, dir.File("work"));
  EXPECT_FALSE(tree[0].Folders[0].Recursive);
  EXPECT_EQ(tree[0].Folders[0].Include, "*.txt;*.docx");

  // Nothing new: the walk tracks nothing and records nothing.
  EXPECT_TRUE(TrackNewFolderFiles(catalog).Paths.empty());
  dir.Write("work/new.txt", "new");
  dir.Write("work/.~lock.new.txt#", "lock");
  dir.Write("work/sub/new.txt", "below");
  TFolderTracking later = TrackNewFolderFiles(catalog);
  EXPECT_EQ(later.Paths, std::vector<std::string>{dir.File("work/new.txt")});
  EXPECT_EQ(FirstCopy(dir.File("work/new.txt")), "new");

  // A second folder, recursive, over the sub-folder: its file is tracked in the same area.
  ASSERT_TRUE(AddTrackedFolder(catalog, "docs", dir.File("work/sub"), true, "", "", &done));
  EXPECT_EQ(Tracked(), (std::vector<std::string>{"work/a.txt", "work/b.docx", "work/new.txt",
                                                 "work/sub/new.txt", "work/sub/s.txt"}));
}

TEST_F(TrackedFolderTest, RecursiveWalkNeverTakesTheCopiesOrTheCatalog) {
  // The area keeps its copies inside the tracked folder, beside the catalog.
  catalog.AddArea("inner", dir.File("work/sub"));
  dir.Write("work/a.txt", "a");
  ASSERT_TRUE(AddTrackedFolder(catalog, "inner", dir.Path(), true, "", "", nullptr));
  EXPECT_EQ(Tracked(), (std::vector<std::string>{"work/a.txt"}));
  // The first version's copy now lies in the tracked folder: it is no file to track.
  EXPECT_TRUE(TrackNewFolderFiles(catalog).Paths.empty());
  EXPECT_EQ(Tracked(), (std::vector<std::string>{"work/a.txt"}));
}

TEST_F(TrackedFolderTest, FilesOfOneNameInTwoFoldersKeepTheirOwnCopies) {
  // Unpacked or checked out together, two files of one name carry the same time.
  fs::create_directories(dir.File("work/one"));
  fs::create_directories(dir.File("work/two"));
  std::string one = dir.Write("work/one/README.md", "first");
  std::string two = dir.Write("work/two/README.md", "second");
  auto t = std::chrono::file_clock::now() - std::chrono::hours(1);
  fs::last_write_time(one, t);
  fs::last_write_time(two, t);
  ASSERT_TRUE(AddTrackedFolder(catalog, "docs", dir.File("work"), true, "", "", nullptr));
  EXPECT_EQ(FirstCopy(one), "first");
  EXPECT_EQ(FirstCopy(two), "second");
}

TEST_F(TrackedFolderTest, RemovingAFolderKeepsItsFilesAndVersionsAndTracksNothingNew) {
  dir.Write("work/a.txt", "a");
  int32_t folderNo = 0;
  ASSERT_TRUE(AddTrackedFolder(catalog, "docs", dir.File("work"), false, "", "", nullptr, &folderNo));
  ASSERT_TRUE(RemoveTrackedFolder(catalog, folderNo));
  EXPECT_FALSE(RemoveTrackedFolder(catalog, folderNo));
  EXPECT_TRUE(catalog.ReadTree()[0].Folders.empty());
  dir.Write("work/b.txt", "b");
  EXPECT_TRUE(TrackNewFolderFiles(catalog).Paths.empty());
  EXPECT_EQ(Tracked(), std::vector<std::string>{"work/a.txt"});
  EXPECT_EQ(FirstCopy(dir.File("work/a.txt")), "a");
  // The file stays tracked: its saves are still changes.
  dir.Write("work/a.txt", "a, saved again");
  fs::last_write_time(dir.File("work/a.txt"), std::chrono::file_clock::now() + std::chrono::hours(1));
  EXPECT_EQ(catalog.ChangedFiles(), std::vector<std::string>{dir.File("work/a.txt")});
}

TEST_F(TrackedFolderTest, AFileNoLongerTrackedIsNotTakenBackByItsFolder) {
  fs::create_directories(dir.File("work/other"));
  std::string stopped = dir.Write("work/sub/README.md", "s");
  std::string kept = dir.Write("work/other/README.md", "o");
  ASSERT_TRUE(AddTrackedFolder(catalog, "docs", dir.File("work"), true, "", "*.log", nullptr));
  catalog.RemoveTrackedFile(catalog.FileNoOf(stopped));
  EXPECT_TRUE(TrackNewFolderFiles(catalog).Paths.empty());
  EXPECT_EQ(Tracked(), std::vector<std::string>{"work/other/README.md"});
  EXPECT_EQ(TrackedFolders(catalog)[0].Exclude, "*.log;/sub/README.md");
  // Another file of that name elsewhere in the folder is still taken when it is new.
  catalog.RemoveTrackedFile(catalog.FileNoOf(kept));
  ASSERT_EQ(TrackedFolders(catalog)[0].Exclude, "*.log;/sub/README.md;/other/README.md");
  fs::create_directories(dir.File("work/sub/deeper"));
  std::string fresh = dir.Write("work/sub/deeper/README.md", "d");
  EXPECT_EQ(TrackNewFolderFiles(catalog).Paths, std::vector<std::string>{fresh});
}

TEST_F(TrackedFolderTest, RefusalsNameTheFolder) {
  EXPECT_FALSE(AddTrackedFolder(catalog, "nobody", dir.File("work"), false, "", "", nullptr));
  EXPECT_FALSE(AddTrackedFolder(catalog, "doc", dir.File("work"), false, "", "", nullptr));  // the whole name
  auto message = [&](const std::string& folder, const std::string& include) {
    try {
      AddTrackedFolder(catalog, "docs", folder, false, include, "", nullptr);
    } catch (const std::exception& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message(dir.File("none"), ""), test::A(u8"目录不存在：") + dir.File("none"));
  ASSERT_TRUE(AddTrackedFolder(catalog, "docs", dir.File("work"), false, "", "", nullptr));
  EXPECT_EQ(message(dir.File("work/"), ""), test::A(u8"目录已在监控中：") + dir.File("work"));
  EXPECT_EQ(message(dir.File("work/sub"), std::string(300, '*')),
            test::A(u8"文件名模式过长（最多255字节）：") + std::string(300, '*'));
  EXPECT_EQ(catalog.ReadTree()[0].Folders.size(), 1u);
}

TEST_F(TrackedFolderTest, ACatalogWithoutTheTableIsReadWithoutBeingWritten) {
  dir.Write("work/a.txt", "a");
  ASSERT_TRUE(catalog.AddFileToArea("docs", dir.File("work/a.txt")));
  const std::string before = test::TempDir::Read(catalogPath);
  EXPECT_TRUE(catalog.ReadTree()[0].Folders.empty());
  EXPECT_TRUE(TrackNewFolderFiles(catalog).Paths.empty());
  TFolderTracking done;
  EXPECT_FALSE(TrackIfAdmitted(catalog, dir.File("work/b.txt"), done));
  EXPECT_EQ(test::TempDir::Read(catalogPath), before);
}

TEST_F(TrackedFolderTest, OnePathIsTrackedWhenAFolderAdmitsIt) {
  ASSERT_TRUE(AddTrackedFolder(catalog, "docs", dir.File("work"), false, "*.txt", "", nullptr));
  std::string txt = dir.Write("work/n.txt", "n");
  std::string log = dir.Write("work/n.log", "l");
  std::string below = dir.Write("work/sub/n.txt", "s");
  TFolderTracking done;
  EXPECT_FALSE(TrackIfAdmitted(catalog, log, done));
  EXPECT_FALSE(TrackIfAdmitted(catalog, below, done));
  EXPECT_FALSE(TrackIfAdmitted(catalog, dir.File("work/gone.txt"), done));
  EXPECT_TRUE(TrackIfAdmitted(catalog, txt, done));
  EXPECT_FALSE(TrackIfAdmitted(catalog, txt, done));  // tracked already
  EXPECT_EQ(done.Paths, std::vector<std::string>{txt});
  EXPECT_EQ(FirstCopy(txt), "n");
}

}  // namespace
}  // namespace lanqi
