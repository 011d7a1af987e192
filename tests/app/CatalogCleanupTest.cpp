// Cleanup on a real catalog with real backup copies: a year of 400 versions, protected marks, a copy
// two rows share, an area without rules; the dry run against the run; cleanup after each capture;
// and the command line's form of both.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>

#include "app/CatalogCleanup.h"
#include "app/LanqiCli.h"
#include "app/VersionCatalog.h"
#include "engine/RadeZI.h"
#include "tests/app/CatalogFixture.h"
#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

using test::A;

std::string StampOf(int64_t localSeconds) {
  using namespace std::chrono;
  sys_seconds t{seconds{localSeconds}};
  sys_days d = floor<days>(t);
  year_month_day ymd{d};
  hh_mm_ss hms{t - d};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u-%02d-%02d-%02d", int(ymd.year()), unsigned(ymd.month()),
                unsigned(ymd.day()), int(hms.hours().count()), int(hms.minutes().count()),
                int(hms.seconds().count()));
  return text;
}

int64_t At(const std::string& stamp) {
  int64_t s = 0;
  EXPECT_TRUE(StampLocalSeconds(stamp, s)) << stamp;
  return s;
}

// Rows and copies written straight into a fresh catalog, as years of captures would have left them.
struct CatalogCleanupTest : testing::Test {
  test::TempDir dir;
  std::string file = dir.File("catalog.dat");
  int64_t now = At("2026-12-09-10-00-00");

  void SetUp() override {
    test::MakeCatalog(file);
    test::CatalogTable areas(file, u8"数据存储区");
    areas.Append({{u8"名称", "docs"}, {u8"目录", dir.File("area")}});
    areas.Append({{u8"名称", "other"}, {u8"目录", dir.File("area2")}});
  }
  int32_t Track(int32_t areaNo, const std::string& name) {
    test::CatalogTable files(file, u8"文件索引表");
    std::filesystem::create_directories(dir.File("area/" + name + "-bak"));
    return files.Append({{u8"存储区序号", std::to_string(areaNo)},
                         {u8"源文件名称", dir.File("work/" + name)},
                         {u8"备份文件目录", dir.File("area/" + name + "-bak")}},
                        u8"文件序号");
  }
  // One version row per stamp, each with its copy (the same stamp twice: one copy for both rows).
  void AddVersions(int32_t fileNo, const std::string& name, const std::vector<std::string>& stamps) {
    test::CatalogTable versions(file, u8"文件版本表");
    for (const std::string& s : stamps) {
      std::string copy = CopyOf(name, s);
      dir.Write("area/" + name + "-bak/" + std::filesystem::path(copy).filename().string(), s);
      versions.Append({{u8"文件序号", std::to_string(fileNo)},
                       {u8"版本", s},
                       {u8"大小", "19"},
                       {u8"文件扩展名", ".txt"},
                       {u8"文件名称", copy}});
    }
  }
  std::string CopyOf(const std::string& name, const std::string& stamp) {
    std::string base = name.substr(0, name.size() - 4);
    return dir.File("area/" + name + "-bak/" + base + "{" + stamp + "}.txt");
  }
  static std::vector<std::string> Texts(TVersionCatalog& c, int32_t fileNo) {
    std::vector<std::string> out;
    for (const verinfo& v : c.Versions(fileNo)) out.push_back(v.Version);
    return out;
  }
};

// A year of 400 stamps, most of them recent, oldest first.
std::vector<std::string> YearOfStamps(int64_t now) {
  std::vector<int64_t> times;
  uint32_t r = 777;
  auto next = [&r] { return r = r * 1103515245u + 12345u, (r >> 8) & 0xFFFFFF; };
  for (int i = 0; i < 400; ++i) {
    int64_t day = static_cast<int64_t>(next() % 365) * static_cast<int64_t>(next() % 365) / 365;
    times.push_back(now - day * 86400 - static_cast<int64_t>(next() % 43200) * 2);
  }
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  std::vector<std::string> stamps;
  for (int64_t t : times) stamps.push_back(StampOf(t));
  return stamps;
}

TEST_F(CatalogCleanupTest, TheDryRunIsTheRunAndEveryCopyFollowsItsRow) {
  const std::vector<std::string> year = YearOfStamps(now);
  const int32_t a = Track(1, "a.txt");
  AddVersions(a, "a.txt", year);
  // Ten days ago: the same stamp recorded twice shares one copy; the later of the two is that day's
  // newest and stays, so the copy stays though the earlier row goes.
  const std::string d10 = StampOf(now - 10 * 86400 - 3600), d10b = StampOf(now - 10 * 86400 - 7200);
  const int32_t b = Track(1, "b.txt");
  AddVersions(b, "b.txt", {d10b, d10, d10, StampOf(now - 60)});
  const int32_t c = Track(2, "c.txt");
  std::vector<std::string> cStamps(year.begin(), year.begin() + 50);
  AddVersions(c, "c.txt", cStamps);

  TVersionCatalog catalog;
  catalog.Open(file);
  TCatalogCleanup cleanup(catalog);
  const TCleanupRules rules{300, 7, 4};
  cleanup.SetRules(1, rules);
  std::vector<TCleanupVersion> aVersions;
  for (size_t i = 0; i < year.size(); ++i) {
    aVersions.push_back({year[i], i % 29 == 5});
    if (i % 29 == 5) cleanup.SetProtected(a, year[i], true);
  }
  // A mark set and taken back protects nothing.
  cleanup.SetProtected(a, year[6], true);
  cleanup.SetProtected(a, year[6], false);
  EXPECT_EQ(cleanup.Rules(1), rules);
  EXPECT_EQ(cleanup.Rules(2), TCleanupRules{});

  // The dry run changes no byte of the catalog and no copy.
  catalog.Tbarea->Database()->FileIO()->FlushFile();
  const std::string before = test::TempDir::Read(file);
  const std::vector<TCleanupItem> plan = cleanup.Plan(0, 0, now);
  catalog.Tbarea->Database()->FileIO()->FlushFile();
  EXPECT_EQ(test::TempDir::Read(file), before);

  // What it lists is what the rules decide for each file, the area without rules untouched.
  std::vector<std::string> expected;
  for (size_t k : PlanCleanup(aVersions, rules, now)) expected.push_back("a " + year[k]);
  expected.push_back("b " + d10b);
  expected.push_back("b " + d10);
  std::vector<std::string> planned;
  for (const TCleanupItem& item : plan) planned.push_back((item.FileNo == a ? "a " : "b ") + item.Version);
  EXPECT_EQ(planned, expected);
  ASSERT_GT(plan.size(), 250u);

  const std::vector<TCleanupItem> removed = cleanup.Run(0, 0, now);
  ASSERT_EQ(removed.size(), plan.size());
  for (size_t i = 0; i < plan.size(); ++i)
    EXPECT_TRUE(removed[i].FileNo == plan[i].FileNo && removed[i].Version == plan[i].Version &&
                removed[i].Occurrence == plan[i].Occurrence)
        << i;

  // Read back from the file by another catalog: rows and copies agree.
  TVersionCatalog reread;
  reread.Open(file);
  std::set<std::string> gone;
  for (const TCleanupItem& item : plan)
    if (item.FileNo == a) gone.insert(item.Version);
  std::vector<std::string> left;
  for (const std::string& s : year)
    if (!gone.count(s)) left.push_back(s);
  EXPECT_EQ(Texts(reread, a), left);
  for (const std::string& s : year)
    EXPECT_EQ(std::filesystem::exists(CopyOf("a.txt", s)), !gone.count(s)) << s;
  for (size_t i = 5; i < year.size(); i += 29) EXPECT_FALSE(gone.count(year[i])) << "protected " << year[i];
  EXPECT_EQ(Texts(reread, b), (std::vector<std::string>{d10, StampOf(now - 60)}));
  EXPECT_FALSE(std::filesystem::exists(CopyOf("b.txt", d10b)));
  EXPECT_TRUE(std::filesystem::exists(CopyOf("b.txt", d10)));
  EXPECT_EQ(Texts(reread, c), cStamps);
  // Nothing is left to remove.
  EXPECT_TRUE(TCatalogCleanup(reread).Plan(0, 0, now).empty());
}

// A capture's cleanup reads its one file through the index on the file number: what it plans for the
// file is what the pass over every version plans for it, rows removed and added in between included.
TEST_F(CatalogCleanupTest, OneFilesPlanIsThePassOverTheWholeCatalogForThatFile) {
  const int32_t a = Track(1, "a.txt"), b = Track(1, "b.txt");
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 6; ++i) {
      std::string s = StampOf(now - (round * 6 + i) * 40000);
      AddVersions(a, "a.txt", {s});
      AddVersions(b, "b.txt", {s, s});  // two rows of one stamp
    }
  }
  TVersionCatalog catalog;
  catalog.Open(file);
  std::vector<std::string> aTexts = Texts(catalog, a);
  ASSERT_TRUE(catalog.DeleteVersion(a, aTexts[4]));
  ASSERT_TRUE(catalog.DeleteVersion(b, Texts(catalog, b)[0]));
  catalog.Tbfilever->Close();
  catalog.Tbfilever->Open();
  AddVersions(a, "a.txt", {StampOf(now - 5 * 86400), StampOf(now - 30 * 86400)});
  catalog.Reload();
  TCatalogCleanup cleanup(catalog);
  for (TCleanupRules rules : {TCleanupRules{2, 0, 0}, TCleanupRules{0, 1, 0}, TCleanupRules{5, 1, 1}}) {
    cleanup.SetRules(1, rules);
    std::vector<TCleanupItem> all = cleanup.Plan(0, 0, now);
    for (int32_t f : {a, b}) {
      std::vector<std::string> whole, one;
      for (const TCleanupItem& i : all)
        if (i.FileNo == f) whole.push_back(i.Version + "#" + std::to_string(i.Occurrence) + " " + i.Copy);
      for (const TCleanupItem& i : cleanup.Plan(0, f, now))
        one.push_back(i.Version + "#" + std::to_string(i.Occurrence) + " " + i.Copy);
      EXPECT_EQ(one, whole) << f << " " << rules.KeepNewest << "/" << rules.DailyAfterDays;
      EXPECT_FALSE(one.empty());
    }
    // The table's view is left as the rest of the catalog reads it.
    EXPECT_TRUE(catalog.Tbfilever->IndexName().empty());
  }
}

TEST_F(CatalogCleanupTest, EachCaptureRunsItsAreasRulesOverThatFile) {
  std::filesystem::create_directories(dir.File("work"));
  const int32_t a = Track(1, "a.txt");
  const std::string path = dir.File("work/a.txt");
  TVersionCatalog catalog;
  catalog.Open(file);
  auto capture = [&](const std::string& bytes, int step) {
    dir.Write("work/a.txt", bytes);
    auto t = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1) +
             std::chrono::seconds(2 * step);
    std::filesystem::last_write_time(path, t);
    verinfo info;
    EXPECT_TRUE(catalog.CaptureVersion(path, "", info));
    return info;
  };
  // No rules: captures neither remove anything nor add the cleanup's tables to the catalog.
  verinfo v1 = capture("one", 0);
  verinfo v2 = capture("two", 1);
  std::vector<std::string> names;
  catalog.Tbarea->Database()->GetTableNames(names);
  for (const std::u8string_view cleanupTable : {u8"清理规则", u8"版本标记"})
    EXPECT_EQ(std::count(names.begin(), names.end(), A(cleanupTable)), 0);
  EXPECT_TRUE(catalog.ReadTree()[0].Files[0].Protected.empty());

  TCatalogCleanup cleanup(catalog);
  cleanup.SetRules(1, {2, 0, 0});
  cleanup.SetProtected(a, v1.Version, true);
  verinfo v3 = capture("three", 2);
  EXPECT_EQ(Texts(catalog, a), (std::vector<std::string>{v1.Version, v2.Version, v3.Version}));
  verinfo v4 = capture("four", 3);
  EXPECT_EQ(Texts(catalog, a), (std::vector<std::string>{v1.Version, v3.Version, v4.Version}));
  EXPECT_FALSE(std::filesystem::exists(v2.FilePath));
  EXPECT_TRUE(std::filesystem::exists(v1.FilePath));
  // The tree as read carries the marks by version position.
  EXPECT_EQ(catalog.ReadTree()[0].Files[0].Protected, (std::vector<bool>{true, false, false}));

  // A version deleted by hand takes its mark with it.
  ASSERT_TRUE(catalog.DeleteVersion(a, v1.Version));
  EXPECT_TRUE(cleanup.ProtectedVersions().empty());
}

TEST_F(CatalogCleanupTest, CommandLineStoresRulesAndItsDryRunListsWhatTheRunRemoves) {
  const int32_t a = Track(1, "a.txt");
  std::vector<std::string> stamps;
  for (int i = 0; i < 10; ++i) stamps.push_back(StampOf(now - (10 - i) * 86400));
  AddVersions(a, "a.txt", stamps);
  {
    TVersionCatalog catalog;
    catalog.Open(file);
    TCatalogCleanup(catalog).SetProtected(a, stamps[1], true);
  }
  auto lanqi = [&](std::vector<std::string> args, std::string& out) {
    args.insert(args.begin(), {"lanqi", "--catalog", file});
    std::vector<char*> argv;
    for (std::string& s : args) argv.push_back(s.data());
    std::ostringstream o, e;
    int rc = RunCli(static_cast<int>(argv.size()), argv.data(), o, e);
    out = o.str() + e.str();
    return rc;
  };
  std::string out, dry, run;
  EXPECT_EQ(lanqi({"cleanup", "--keep", "4"}, out), kCliUsage) << out;
  EXPECT_EQ(lanqi({"cleanup", "--area", "docs", "--keep", "-1"}, out), kCliUsage) << out;
  EXPECT_EQ(lanqi({"cleanup", "--area", "docs", "--keep", "x"}, out), kCliUsage) << out;
  EXPECT_EQ(lanqi({"cleanup", "--area", "nobody"}, out), kCliNotFound) << out;
  // Only a count: the result does not depend on the day the test runs.
  ASSERT_EQ(lanqi({"cleanup", "--area", "docs", "--keep", "4", "--dry-run"}, dry), kCliOk) << dry;
  for (const std::string& s : stamps) EXPECT_TRUE(std::filesystem::exists(CopyOf("a.txt", s)));
  // Tried, not stored: a run without rules removes nothing.
  ASSERT_EQ(lanqi({"cleanup"}, run), kCliOk) << run;
  EXPECT_EQ(run, "removed 0 versions, 0 bytes\n");
  ASSERT_EQ(lanqi({"cleanup", "--area", "docs", "--keep", "4"}, run), kCliOk) << run;
  std::string listed;
  for (int i : {0, 2, 3, 4, 5}) listed += dir.File("work/a.txt") + "\t" + stamps[i] + "\n";
  EXPECT_EQ(dry, "rules of docs (not stored): keep 4, daily after 0 days, weekly after 0 weeks (0: off)\n" +
                     listed + "would remove 5 versions, 95 bytes\n");
  EXPECT_EQ(run, "rules of docs: keep 4, daily after 0 days, weekly after 0 weeks (0: off)\n" + listed +
                     "removed 5 versions, 95 bytes\n");
  for (size_t i = 0; i < stamps.size(); ++i)
    EXPECT_EQ(std::filesystem::exists(CopyOf("a.txt", stamps[i])), i == 1 || i >= 6) << i;
  ASSERT_EQ(lanqi({"cleanup", "--dry-run"}, out), kCliOk);
  EXPECT_EQ(out, "would remove 0 versions, 0 bytes\n");
}

}  // namespace
}  // namespace lanqi
