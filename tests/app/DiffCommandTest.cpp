// `lanqi diff` over a real catalog: which two sides it compares, its exit codes and messages.
#include "app/DiffCommand.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include "app/VersionCatalog.h"
#include "app/VersionDiff.h"
#include "tests/app/CatalogFixture.h"
#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

QString Q(const char8_t* s) {
  return QString::fromUtf8(reinterpret_cast<const char*>(s));
}

struct DiffCommandTest : testing::Test {
  test::TempDir dir;
  std::string path = dir.File("work/notes.txt");
  TVersionCatalog catalog;
  int32_t fileNo = 0;
  std::vector<std::string> versions;  // oldest first

  void SetUp() override {
    test::MakeCatalog(dir.File("catalog.dat"));
    std::filesystem::create_directories(dir.File("area"));
    std::filesystem::create_directories(dir.File("work"));
    catalog.Open(dir.File("catalog.dat"));
    catalog.AddArea("docs", dir.File("area"));
    // Three states in GB18030; the last one is the file as it stands, never captured.
    Write(u8"甲\n乙\n", 0);
    ASSERT_TRUE(catalog.AddFileToArea("docs", path, &fileNo));
    Capture();
    Write(u8"甲\n乙改\n", 10);
    Capture();
    Write(u8"甲\n乙改\n丙\n", 20);
  }
  void Write(const char8_t* text, int secs) {
    dir.Write("work/notes.txt", EncodeText(Q(text), TTextEncoding::Gb18030));
    using namespace std::chrono;
    std::filesystem::last_write_time(path,
                                     file_clock::from_sys(sys_days{year{2020} / 6 / 1} + seconds(secs)));
  }
  void Capture() {
    verinfo info;
    ASSERT_TRUE(catalog.CaptureVersion(path, "", info));
    versions.push_back(info.Version);
  }
  struct TRun {
    int code;
    std::string out, err;
  };
  TRun Run(const std::string& p, const std::vector<std::string>& v) {
    std::ostringstream out, err;
    int code = DiffCommand(catalog, p, v, out, err);
    return {code, out.str(), err.str()};
  }
};

TEST_F(DiffCommandTest, ComparesTheSidesTheArgumentsName) {
  struct Case {
    const char* name;
    std::vector<int> picked;  // indexes into versions
    std::string expected;
  };
  const Case cases[] = {
      {"newest against the file", {}, "--- %1\n+++ %f\n@@ -1,2 +1,3 @@\n 甲\n 乙改\n+丙\n"},
      {"a version against the file", {0}, "--- %0\n+++ %f\n@@ -1,2 +1,3 @@\n 甲\n-乙\n+乙改\n+丙\n"},
      {"two versions", {0, 1}, "--- %0\n+++ %1\n@@ -1,2 +1,2 @@\n 甲\n-乙\n+乙改\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args;
    for (int i : c.picked) args.push_back(versions[static_cast<size_t>(i)]);
    QString expected = QString::fromUtf8(c.expected.c_str());
    expected.replace("%0", QString::fromStdString(path + "@" + versions[0]));
    expected.replace("%1", QString::fromStdString(path + "@" + versions[1]));
    expected.replace("%f", QString::fromStdString(path));
    TRun r = Run(path, args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, expected.toStdString());
    EXPECT_EQ(r.err, "");
  }
  // The same version on both sides: nothing to show.
  TRun same = Run(path, {versions[1], versions[1]});
  EXPECT_EQ(same.code, 0);
  EXPECT_EQ(same.out, "");
}

TEST_F(DiffCommandTest, SaysWhatIsNotThere) {
  struct Case {
    const char* name;
    std::string path;
    std::vector<std::string> versions;
    int code;
    std::string err;
  };
  std::filesystem::remove(dir.File("area/notes.txt-bak/notes{" + versions[0] + "}.txt"));
  const Case cases[] = {
      {"untracked path",
       dir.File("work/other.txt"),
       {},
       1,
       "lanqi: not a tracked file: " + dir.File("work/other.txt")},
      {"unknown version",
       path,
       {"2001-01-01-00-00-00"},
       1,
       "lanqi: no version 2001-01-01-00-00-00 of " + path},
      {"unknown second version", path, {versions[1], "x"}, 1, "lanqi: no version x of " + path},
      {"backup copy gone",
       path,
       {versions[0]},
       3,
       "lanqi: the backup copy of version " + versions[0] +
           " is missing: " + dir.File("area/notes.txt-bak/notes{" + versions[0] + "}.txt")},
      {"three versions", path, {versions[0], versions[1], versions[1]}, 2, "lanqi: at most two versions"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TRun r = Run(c.path, c.versions);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err + "\n");
  }
  std::filesystem::remove(path);
  TRun gone = Run(path, {});
  EXPECT_EQ(gone.code, 1);
  EXPECT_EQ(gone.err, "lanqi: file not found: " + path + "\n");
}

}  // namespace
}  // namespace lanqi
