// The report's figures on a real catalog whose rows share copies, its CSV form, and the space that
// `lanqi list` prints from it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/CatalogReport.h"
#include "app/LanqiCli.h"
#include "app/VersionCatalog.h"
#include "tests/app/CatalogFixture.h"
#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

using namespace std::chrono;
using test::A;

struct CatalogReportTest : testing::Test {
  test::TempDir dir;
  std::string catalogFile = dir.File("catalog.dat");
  void SetUp() override { test::MakeCatalog(catalogFile); }

  int32_t Area(const std::string& name) {
    test::CatalogTable t(catalogFile, u8"数据存储区");
    return t.Append({{u8"名称", name}, {u8"目录", dir.Path()}}, u8"存储区序号");
  }
  int32_t File(int32_t area, const std::string& path) {
    test::CatalogTable t(catalogFile, u8"文件索引表");
    return t.Append(
        {{u8"存储区序号", std::to_string(area)}, {u8"源文件名称", path}, {u8"备份文件目录", dir.Path()}},
        u8"文件序号");
  }
  void Version(int32_t file, const std::string& version, const std::string& copy) {
    test::CatalogTable t(catalogFile, u8"文件版本表");
    t.Append(
        {{u8"文件序号", std::to_string(file)}, {u8"版本", version}, {u8"大小", "0"}, {u8"文件名称", copy}});
  }
};

TEST_F(CatalogReportTest, EachCopyCountsOnceHoweverManyRowsOrLinksNameIt) {
  const std::string c1 = dir.Write("c1", std::string(100, 'a'));
  const std::string c2 = dir.Write("c2", std::string(30, 'b'));
  const std::string c3 = dir.Write("c3", std::string(7, 'c'));
  const std::string c4 = dir.Write("c4", std::string(50, 'd'));
  const std::string link = dir.File("link-to-c1");
  ASSERT_EQ(::link(c1.c_str(), link.c_str()), 0);

  int32_t docs = Area(A(u8"文档"));
  int32_t f1 = File(docs, "/w/one.txt");
  Version(f1, "2026-12-01-10-00-00", c1);
  Version(f1, "2026-12-02-10-00-00", c1);    // the same copy named again
  Version(f1, "2026-12-03-10-00-00", link);  // a link to it
  Version(f1, "2026-12-04-10-00-00", c2);
  Version(f1, "2026-12-05-09-00-00", dir.File("gone"));  // its copy is missing
  int32_t f2 = File(docs, "/w/two.txt");
  Version(f2, "2026-06-01-10-00-00", c3);  // before the 90 days
  Version(f2, "2026-12-05-18-30-00", link);
  int32_t empty = File(docs, "/w/none.txt");
  int32_t other = Area("other");
  int32_t f3 = File(other, "/w/three.txt");
  Version(f3, "2026-12-10-23-59-58", c4);
  Version(f3, "2026-12-11-00-00-00", c4);  // tomorrow: a clock that ran ahead
  Version(f3, "copied by hand", c4);

  TVersionCatalog catalog;
  catalog.Open(catalogFile);
  const sys_days today = 2026y / December / 10;
  TCatalogReport r = BuildCatalogReport(catalog, today);

  ASSERT_EQ(r.Areas.size(), 2u);
  const TReportArea& a = r.Areas[0];
  EXPECT_EQ(a.Name, A(u8"文档"));
  ASSERT_EQ(a.Files.size(), 3u);
  struct Want {
    int32_t fileNo;
    int versions;
    int64_t space;
    const char* last;
  };
  const Want files[] = {
      {f1, 5, 130, "2026-12-05-09-00-00"}, {f2, 2, 107, "2026-12-05-18-30-00"}, {empty, 0, 0, ""}};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(a.Files[i].FileNo, files[i].fileNo);
    EXPECT_EQ(a.Files[i].Versions, files[i].versions);
    EXPECT_EQ(a.Files[i].Space, files[i].space);
    EXPECT_EQ(a.Files[i].LastChange, files[i].last);
  }
  // c1 (shared by both files), c2 and c3.
  EXPECT_EQ(a.Versions, 7);
  EXPECT_EQ(a.Space, 137);
  EXPECT_EQ(a.LastChange, "2026-12-05-18-30-00");
  const TReportArea& b = r.Areas[1];
  ASSERT_EQ(b.Files.size(), 1u);
  EXPECT_EQ(b.Files[0].FileNo, f3);
  EXPECT_EQ(b.Versions, 3);
  EXPECT_EQ(b.Space, 50);
  EXPECT_EQ(b.LastChange, "2026-12-11-00-00-00");
  EXPECT_EQ(r.Versions, 10);
  EXPECT_EQ(r.Space, 187);

  ASSERT_EQ(r.Days.size(), 90u);
  EXPECT_EQ(r.Days.front().Day, today - days{89});
  EXPECT_EQ(r.Days.back().Day, today);
  std::map<int, int> perDay;  // day of December 2026 -> versions
  int total = 0;
  for (const TReportDay& d : r.Days) {
    total += d.Versions;
    if (d.Versions) perDay[static_cast<int>((d.Day - sys_days{2026y / December / 0}).count())] = d.Versions;
  }
  EXPECT_EQ(perDay, (std::map<int, int>{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 2}, {10, 1}}));
  EXPECT_EQ(total, 7);

  ASSERT_EQ(r.Largest.size(), 3u);  // the file without versions has no history to show
  EXPECT_EQ(r.Largest[0].FileNo, f1);
  EXPECT_EQ(r.Largest[1].FileNo, f2);
  EXPECT_EQ(r.Largest[2].FileNo, f3);

  // The command line prints the same space, extending its lines and objects at their ends.
  std::vector<std::string> args = {"lanqi", "--catalog", catalogFile, "list", "--json"};
  std::vector<char*> argv;
  for (std::string& s : args) argv.push_back(s.data());
  std::ostringstream out, err;
  ASSERT_EQ(RunCli(static_cast<int>(argv.size()), argv.data(), out, err), kCliOk) << err.str();
  auto j = nlohmann::ordered_json::parse(out.str());
  EXPECT_EQ(j[0]["space"], 137);
  EXPECT_EQ(j[0]["files"][0].dump(), R"({"path":"/w/one.txt","versions":5,"space":130})");
  EXPECT_EQ(j[1]["space"], 50);
  args.pop_back();
  argv.pop_back();
  out.str("");
  ASSERT_EQ(RunCli(static_cast<int>(argv.size()), argv.data(), out, err), kCliOk) << err.str();
  EXPECT_EQ(out.str(), "文档\t" + dir.Path() + "\t137 bytes\n" +
                           "\t/w/one.txt\t5 versions\t130 bytes\n"
                           "\t/w/two.txt\t2 versions\t107 bytes\n"
                           "\t/w/none.txt\t0 versions\t0 bytes\n"
                           "other\t" +
                           dir.Path() +
                           "\t50 bytes\n"
                           "\t/w/three.txt\t3 versions\t50 bytes\n");
}

TEST_F(CatalogReportTest, CsvQuotesEveryFieldAndKeepsChineseAsUtf8) {
  const std::string copy = dir.Write("c", "12345");
  int32_t area = Area(A(u8"项目,\"甲\""));
  int32_t file = File(area, A(u8"/w/报告, 第\"2\"版.txt"));
  Version(file, "2026-12-01-08-30-00", copy);
  TVersionCatalog catalog;
  catalog.Open(catalogFile);
  std::string csv = ReportCsv(BuildCatalogReport(catalog, 2026y / December / 10));
  EXPECT_EQ(csv,
            "\xEF\xBB\xBF"
            "\"存储区\",\"文件\",\"版本数\",\"备份空间（字节）\",\"最后修改\"\r\n"
            "\"项目,\"\"甲\"\"\",\"\",\"1\",\"5\",\"2026-12-01 08:30:00\"\r\n"
            "\"项目,\"\"甲\"\"\",\"/w/报告, 第\"\"2\"\"版.txt\",\"1\",\"5\",\"2026-12-01 08:30:00\"\r\n");
}

// An area or a path that begins like a formula must reach the spreadsheet as text, not be run.
TEST_F(CatalogReportTest, CsvKeepsNamesThatLookLikeFormulasAsText) {
  const std::string copy = dir.Write("c", "1");
  int32_t area = Area(A(u8"=HYPERLINK(\"http://x\")"));
  Version(File(area, "+1+1"), "2026-12-01-08-30-00", copy);
  Version(File(area, "@SUM(A1)"), "2026-12-01-08-30-00", copy);
  Version(File(area, "-2"), "2026-12-01-08-30-00", copy);
  TVersionCatalog catalog;
  catalog.Open(catalogFile);
  std::string csv = ReportCsv(BuildCatalogReport(catalog, 2026y / December / 10));
  EXPECT_NE(csv.find("\"'=HYPERLINK(\"\"http://x\"\")\",\"\",\"3\""), std::string::npos) << csv;
  for (const char* name : {"\"'+1+1\"", "\"'@SUM(A1)\"", "\"'-2\""})
    EXPECT_NE(csv.find(name), std::string::npos) << name << "\n" << csv;
  EXPECT_EQ(csv.find(",\"="), std::string::npos) << csv;
}

}  // namespace
}  // namespace lanqi
