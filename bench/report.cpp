// The catalog report over 10 areas, 1 000 tracked files and 100 000 versions, built in the same run:
// each file's copies on disk, one copy in four named again by the next version (as shared copies
// are), versions spread over the last 180 days.
// - The report (BuildCatalogReport: the three tables read, each distinct copy looked at once, the
//   sums, days and largest histories), against its peer: a bare read of the version table's copy
//   field and one stat of each distinct copy, the least any such report must do.
// - The CSV of that report.
// Usage: bench_report [--versions N] (default 100000).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_set>
#include <vector>

#include "app/CatalogReport.h"
#include "app/VersionCatalog.h"
#include "bench/BenchCatalog.h"
#include "bench/BenchTiming.h"
#include "engine/RadeZI.h"
#include "tests/app/CatalogFixture.h"

namespace {

using bench::Clock;
using bench::MedianMs;
using bench::Ms;
namespace fs = std::filesystem;
using lanqi::test::A;

constexpr int kAreas = 10, kFiles = 1000;

std::string DayStamp(std::chrono::sys_days today, int daysAgo, int secs) {
  std::chrono::year_month_day d{today - std::chrono::days{daysAgo}};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u-%02d-%02d-%02d", static_cast<int>(d.year()),
                static_cast<unsigned>(d.month()), static_cast<unsigned>(d.day()), secs / 3600 % 24,
                secs / 60 % 60, secs % 60 / 2 * 2);
  return text;
}

void Build(const std::string& catalog, const std::string& folder, int versionCount,
           std::chrono::sys_days today) {
  using namespace lanqi;
  test::MakeCatalog(catalog);
  bench::CatalogTables t(catalog);
  bench::AddAreasAndFiles(t, folder, kAreas, kFiles,
                          [](int, const std::string& path) { fs::create_directories(path + "-bak"); });
  std::vector<std::string> lastCopy(kFiles);
  for (int v = 0; v < versionCount; ++v) {
    int f = v % kFiles, k = v / kFiles;
    std::string stamp =
        DayStamp(today, (versionCount / kFiles - k) * 180 / std::max(versionCount / kFiles, 1), f * 7);
    std::string copy = lastCopy[f];
    if (k % 4 != 1 || copy.empty()) {
      copy = folder + "/file" + std::to_string(f) + ".txt-bak/file" + std::to_string(f) + "{" +
             std::to_string(k) + "}.txt";
      std::ofstream(copy) << std::string(100 + static_cast<size_t>(v % 900), 'x');
    }
    lastCopy[f] = copy;
    bench::AppendVersion(t, f + 1, stamp, "0", copy);
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace lanqi;
  int versionCount = 100000;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--versions") == 0) versionCount = std::max(kFiles, std::atoi(argv[i + 1]));
  fs::path root = fs::temp_directory_path() / ("lanqi-bench-report-" + std::to_string(getpid()));
  fs::create_directories(root / "area");
  const std::string catalogPath = (root / "catalog.dat").string();
  const std::chrono::sys_days today = LocalToday();
  auto t0 = Clock::now();
  Build(catalogPath, (root / "area").string(), versionCount, today);
  std::printf("catalog of %d areas, %d files, %d versions with their copies built in %.0f ms\n", kAreas,
              kFiles, versionCount, Ms(Clock::now() - t0));
  {
    TVersionCatalog catalog;
    catalog.Open(catalogPath);
    TCatalogReport report;
    double ours = MedianMs(5, [&] { report = BuildCatalogReport(catalog, today); });
    int64_t peerBytes = 0;
    double peer = MedianMs(5, [&] {
      TRadeTable* t = catalog.Tbfilever;
      t->SetFiltered(false);
      TField* copy = t->FieldByName(A(u8"文件名称"));
      std::unordered_set<std::string> seen;
      std::unordered_set<ino_t> inodes;
      peerBytes = 0;
      for (t->First(); !t->Eof(); t->Next()) {
        std::string c = copy->AsString();
        if (!seen.insert(c).second) continue;
        struct stat st {};
        if (::stat(c.c_str(), &st) == 0 && inodes.insert(st.st_ino).second) peerBytes += st.st_size;
      }
    });
    std::printf(
        "report over %d versions: %.1f ms median of 5 (%d versions, %lld bytes); bare read of the copy "
        "field and a stat of each copy: %.1f ms (%lld bytes); ratio %.2fx\n",
        versionCount, ours, report.Versions, static_cast<long long>(report.Space), peer,
        static_cast<long long>(peerBytes), ours / peer);
    if (report.Space != peerBytes) std::printf("MISMATCH: the report's space differs from the peer's\n");
    std::string csv;
    double csvMs = MedianMs(5, [&] { csv = ReportCsv(report); });
    std::printf("CSV of the report: %.2f ms, %zu bytes\n", csvMs, csv.size());
  }
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return 0;
}
