// The catalog's slot widths: a path its slot cannot hold whole is refused, also when the file's row
// was written by another program, and a catalog made with the earlier 1024-byte slots works as it is.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/VersionCatalog.h"
#include "engine/storage/DatabaseWriter.h"
#include "engine/storage/Definitions.h"
#include "engine/storage/RadeZIFileIO.h"
#include "tests/app/CatalogFixture.h"
#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

namespace fs = std::filesystem;
using test::A;

// The catalog as `radezi catalog init` made it before its slots were sized to real paths.
void MakeWideCatalog(const std::string& file) {
  CreateDatabaseFile(file, TDatabaseCreateOptions{}, [](TRadeZIFileIO& io) {
    TRadeFieldDefs areas;
    areas.Add(A(u8"存储区序号"), ftAutoInc);
    areas.Add(A(u8"名称"), ftString, 255);
    areas.Add(A(u8"目录"), ftString, 1024);
    TRadeIndexDefs areaKeys;
    areaKeys.Add("AreaNo", {0}, {tiUnique});
    AddTable(io, A(u8"数据存储区"), areas, areaKeys);
    TRadeFieldDefs files;
    files.Add(A(u8"存储区序号"), ftInteger);
    files.Add(A(u8"文件序号"), ftAutoInc);
    files.Add(A(u8"源文件名称"), ftString, 1024);
    files.Add(A(u8"备份文件目录"), ftString, 1024);
    files.Add(A(u8"大小"), ftString, 32);
    TRadeIndexDefs fileKeys;
    fileKeys.Add("FileNo", {1}, {tiUnique});
    fileKeys.Add("FileArea", {0});
    AddTable(io, A(u8"文件索引表"), files, fileKeys);
    TRadeFieldDefs versions;
    versions.Add(A(u8"文件序号"), ftInteger);
    versions.Add(A(u8"说明"), ftString, 255);
    versions.Add(A(u8"版本"), ftString, 32);
    versions.Add(A(u8"大小"), ftString, 32);
    versions.Add(A(u8"文件扩展名"), ftString, 64);
    versions.Add(A(u8"文件名称"), ftString, 1024);
    TRadeIndexDefs versionKeys;
    versionKeys.Add("VerFile", {0});
    AddTable(io, A(u8"文件版本表"), versions, versionKeys);
  });
}

struct CatalogSlots : testing::Test {
  test::TempDir dir;
  std::string file = dir.File("catalog.dat");
  TVersionCatalog catalog;
  void SetUp() override { fs::create_directories(dir.File("area")); }
  // A file "f.txt" under folders deep enough that its path takes `bytes` bytes.
  std::string FileOf(size_t bytes) {
    std::string path = dir.Path();
    size_t left = bytes - path.size() - 6;  // what the folders below add, each "/" + its name
    while (left >= 200) {
      path += "/" + std::string(99, 'd');
      left -= 100;
    }
    path += "/" + std::string(left - 1, 'e');
    fs::create_directories(path);
    path += "/f.txt";
    dir.Write(path.substr(dir.Path().size() + 1), "x");
    return path;
  }
};

TEST_F(CatalogSlots, ANewCatalogRefusesWhatItsSlotsCannotHoldWhole) {
  test::MakeCatalog(file);
  catalog.Open(file);
  catalog.AddArea("docs", dir.File("area"));
  const std::string fits = FileOf(512);
  ASSERT_EQ(fits.size(), 512u);
  const std::string tooLong = FileOf(513);
  ASSERT_EQ(tooLong.size(), 513u);
  struct Case {
    std::string path;
    std::string message;  // empty: tracked
  };
  const Case cases[] = {
      {tooLong, A(u8"文件路径过长（最多512字节）：") + tooLong},
      // The name twice in the copy's path: 120 bytes of name outgrow the 255 of a copy.
      {dir.Write(std::string(116, 'c') + ".txt", "c"),
       A(u8"备份文件路径过长（最多255字节）：") + dir.File(std::string(116, 'c') + ".txt")},
      {dir.Write("x." + std::string(17, 'e'), "e"),
       A(u8"文件扩展名过长（最多16字节）：") + dir.File("x." + std::string(17, 'e'))},
      {dir.Write(std::string(60, 'o') + ".txt", "o"), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.size());
    if (c.message.empty()) {
      EXPECT_TRUE(catalog.AddFileToArea("docs", c.path));
      verinfo info;
      ASSERT_TRUE(catalog.CaptureVersion(c.path, "", info));
      EXPECT_TRUE(fs::exists(info.FilePath));
      continue;
    }
    try {
      catalog.AddFileToArea("docs", c.path);
      ADD_FAILURE() << "tracked";
    } catch (const std::exception& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
  EXPECT_EQ(test::CatalogTable(file, u8"文件索引表").Rows().size(), 1u);
  // The longest path the slot holds is tracked whole, in a catalog whose area folder is short.
  EXPECT_TRUE(catalog.AddFileToArea("docs", fits));
  EXPECT_EQ(catalog.FileNoOf(fits), 2);
}

TEST_F(CatalogSlots, AFileRowFromElsewhereWhoseCopyWouldBeCutIsRefusedAtCapture) {
  test::MakeCatalog(file);
  const std::string doc = dir.Write("doc.txt", "1");
  // Another program tracked the file with a backup folder that leaves no room for a copy's name.
  const std::string backup = dir.File(std::string(240, 'b'));
  fs::create_directories(backup);
  test::CatalogTable(file, u8"数据存储区").Append({{u8"名称", "docs"}, {u8"目录", dir.File("area")}});
  test::CatalogTable(file, u8"文件索引表")
      .Append({{u8"存储区序号", "1"}, {u8"源文件名称", doc}, {u8"备份文件目录", backup}});
  catalog.Open(file);
  verinfo info;
  try {
    catalog.CaptureVersion(doc, "", info);
    ADD_FAILURE() << "captured as " << info.FilePath;
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), A(u8"备份文件路径过长（最多255字节）：") + doc);
  }
  // No row names a cut path, and no copy was left without its row.
  EXPECT_TRUE(test::CatalogTable(file, u8"文件版本表").Rows().empty());
  EXPECT_TRUE(fs::is_empty(backup));
}

TEST_F(CatalogSlots, ACatalogOfTheEarlierWideSlotsWorksAsItIs) {
  MakeWideCatalog(file);
  catalog.Open(file);
  EXPECT_EQ(catalog.NoteRoom(), 255);
  catalog.AddArea("docs", dir.File("area"));
  // Longer than the new slots hold, within the old ones.
  const std::string deep = FileOf(700);
  int32_t fileNo = 0;
  ASSERT_TRUE(catalog.AddFileToArea("docs", deep, &fileNo));
  verinfo info;
  const std::string note(200, 'n');
  ASSERT_TRUE(catalog.CaptureVersion(deep, note, info));
  EXPECT_EQ(info.Note, note);
  EXPECT_TRUE(fs::exists(info.FilePath));
  std::vector<verinfo> versions = catalog.Versions(fileNo);
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(versions[0].FilePath, info.FilePath);
  std::vector<TCatalogArea> tree = catalog.ReadTree();
  ASSERT_EQ(tree.size(), 1u);
  ASSERT_EQ(tree[0].Files.size(), 1u);
  EXPECT_EQ(tree[0].Files[0].Path, deep);
  EXPECT_EQ(tree[0].Files[0].Versions, std::vector<std::string>{info.Version});
  // Its width still refuses what it cannot hold.
  const std::string tooLong = FileOf(1025);
  EXPECT_THROW(catalog.AddFileToArea("docs", tooLong), std::exception);
}

}  // namespace
}  // namespace lanqi
