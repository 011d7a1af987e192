// The calls the version catalog makes, on a file whose table and field names are GBK text.
#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "tests/engine/EngineFixture.h"

namespace lanqi::test {
namespace {

class CatalogPathTest : public EngineTest {};

TEST_F(CatalogPathTest, AreasFilesAndVersionsThroughOnePath) {
  const std::string areaTable = Ansi(u8"数据存储区"), fileTable = Ansi(u8"文件索引表");
  const std::string areaNo = Ansi(u8"存储区序号"), name = Ansi(u8"名称"), fileNo = Ansi(u8"文件序号"),
                    source = Ansi(u8"源文件名称");
  std::string path = dir_.File("catalog.dat");
  CreateDatabase(path,
                 {{areaTable, {{areaNo, ftAutoInc}, {name, ftString, 50}}, {}},
                  {fileTable, {{fileNo, ftAutoInc}, {areaNo, ftInteger}, {source, ftString, 200}}, {}}});
  TRadeTable* areas = NewTable(path, areaTable, "Tbarea");
  TRadeTable* files = NewTable(path, fileTable, "Tbfileid");
  areas->Open();
  files->Open();
  EXPECT_EQ(areas->Database(), files->Database());
  for (const char8_t* n : {u8"文档AB", u8"文档A"}) {
    areas->Append();
    areas->FieldByName(name)->SetAsString(Ansi(n));
    areas->Post();
  }
  for (int area : {1, 2, 1}) {
    files->Append();
    files->FieldByName(areaNo)->SetAsInteger(area);
    files->FieldByName(source)->SetAsString(Format("/home/u/Doc%d.txt", files->RecordCount()));
    files->Post();
  }
  files->SetFilter(areaNo + "=1");
  files->SetFiltered(true);
  EXPECT_EQ(files->RecordCount(), 2);
  files->First();
  EXPECT_EQ(files->FieldByName(source)->AsString(), "/home/u/Doc0.txt");
  files->SetFiltered(false);
  EXPECT_EQ(files->RecordCount(), 3);

  // The partial key matches the earlier, longer name first.
  areas->SetFiltered(false);
  ASSERT_TRUE(areas->Locate(name, Ansi(u8"文档A"), {LocatePartialKey}));
  EXPECT_EQ(areas->FieldByName(areaNo)->AsInteger(), 1);
  ASSERT_TRUE(areas->Locate(name, Ansi(u8"文档a"), {LocateCaseInsensitive}));
  EXPECT_EQ(areas->FieldByName(areaNo)->AsInteger(), 2);
  EXPECT_TRUE(files->Locate(source, "/HOME/U/DOC2.TXT", {LocateCaseInsensitive}));
  EXPECT_FALSE(files->Locate(source, "/HOME/U/DOC2", {LocatePartialKey}));
  ASSERT_TRUE(files->Locate(source, "/home/u/Doc1", {LocatePartialKey}));
  files->Edit();
  files->FieldByName(source)->SetAsString("/home/u/moved.txt");
  files->Post();
  files->Delete();
  EXPECT_EQ(files->RecordCount(), 2);
}

}  // namespace
}  // namespace lanqi::test
