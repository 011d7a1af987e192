// Cleanup over a catalog of 10 areas, 1 000 tracked files and 100 000 versions (a year of them, most
// recent, each with its backup copy), built in the same run, every area with the rules "keep the
// newest 20, one a day after 7 days, one a week after 4 weeks".
// - The plan as the pure decision over the stamps, against its peer: sorting each file's stamps
//   (the least any plan must do).
// - The plan on the catalog (reading the tables, the marks and the rules), against a bare read of the
//   version table's fields it needs.
// - The plan of one file, as each capture runs it, against the pass over the whole catalog.
// - The removal of a share of the plan on the real catalog (durable, as the program keeps it), against
//   the same number of removals one by one through TVersionCatalog::DeleteVersion.
// Usage: bench_cleanup [--share N] (N removals measured each way, default 1000).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/CatalogCleanup.h"
#include "app/VersionCatalog.h"
#include "app/VersionCleanup.h"
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

constexpr int kAreas = 10, kFiles = 1000, kVersions = 100000;

std::string Stamp(int64_t local) {
  int64_t days = local / 86400, rest = local % 86400;
  // Civil date from days since 1970-01-01.
  days += 719468;
  int64_t era = days / 146097;
  int64_t doe = days - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400, doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153, d = doy - (153 * mp + 2) / 5 + 1, m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d-%02d-%02d-%02d", int(y), int(m), int(d), int(rest / 3600),
                int(rest / 60 % 60), int(rest % 60));
  return text;
}

// Version k (0 oldest) of file f: spread over a year, denser towards now.
std::string VersionStampOf(int64_t now, int f, int k, int perFile) {
  double age = double(perFile - 1 - k) / (perFile - 1);
  int64_t secs = static_cast<int64_t>(age * age * 365 * 86400) + f * 7;
  return Stamp(now - secs - secs % 2);
}

void Build(const std::string& catalog, const std::string& folder, int64_t now) {
  using namespace lanqi;
  test::MakeCatalog(catalog);
  bench::CatalogTables t(catalog);
  bench::AddAreasAndFiles(t, folder, kAreas, kFiles,
                          [](int, const std::string& path) { fs::create_directories(path + "-bak"); });
  // Versions over the files in turn, as years of saves leave them.
  const int perFile = kVersions / kFiles;
  for (int v = 0; v < kVersions; ++v) {
    int f = v % kFiles, k = v / kFiles;
    std::string stamp = VersionStampOf(now, f, k, perFile);
    std::string copy =
        folder + "/file" + std::to_string(f) + ".txt-bak/file" + std::to_string(f) + "{" + stamp + "}.txt";
    std::ofstream(copy) << v;
    bench::AppendVersion(t, f + 1, stamp, std::to_string(std::to_string(v).size()), copy);
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace lanqi;
  int share = 1000;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--share") == 0) share = std::max(1, std::atoi(argv[i + 1]));
  fs::path root = fs::temp_directory_path() / ("lanqi-bench-cleanup-" + std::to_string(getpid()));
  fs::create_directories(root / "area");
  const std::string catalogPath = (root / "catalog.dat").string();
  const int64_t now = NowLocalSeconds();
  auto t0 = Clock::now();
  Build(catalogPath, (root / "area").string(), now);
  std::printf("catalog of %d areas, %d files, %d versions with their copies built in %.0f ms\n", kAreas,
              kFiles, kVersions, Ms(Clock::now() - t0));
  const TCleanupRules rules{20, 7, 4};
  {
    TVersionCatalog catalog;
    catalog.Open(catalogPath);
    TCatalogCleanup cleanup(catalog);
    for (int a = 1; a <= kAreas; ++a) cleanup.SetRules(a, rules);

    // The pure decision over every file's stamps.
    std::vector<std::vector<TCleanupVersion>> byFile(kFiles);
    const int perFile = kVersions / kFiles;
    for (int v = 0; v < kVersions; ++v)
      byFile[v % kFiles].push_back({VersionStampOf(now, v % kFiles, v / kFiles, perFile), false});
    size_t planned = 0;
    double pure = MedianMs(5, [&] {
      planned = 0;
      for (const auto& versions : byFile) planned += PlanCleanup(versions, rules, now).size();
    });
    double sorting = MedianMs(5, [&] {
      for (const auto& versions : byFile) {
        std::vector<std::string> stamps;
        stamps.reserve(versions.size());
        for (const TCleanupVersion& v : versions) stamps.push_back(v.Version);
        std::stable_sort(stamps.begin(), stamps.end());
      }
    });
    std::printf(
        "plan (pure) over %d versions: %.1f ms median of 5, %zu to remove; sorting the stamps %.1f ms; "
        "ratio %.2fx\n",
        kVersions, pure, planned, sorting, pure / sorting);

    // The plan on the catalog.
    std::vector<TCleanupItem> plan;
    double onCatalog = MedianMs(3, [&] { plan = cleanup.Plan(0, 0, now); });
    double bare = MedianMs(3, [&] {
      TRadeTable* t = catalog.Tbfilever;
      TField* no = t->FieldByName(A(u8"文件序号"));
      TField* version = t->FieldByName(A(u8"版本"));
      TField* copy = t->FieldByName(A(u8"文件名称"));
      size_t bytes = 0;
      for (t->First(); !t->Eof(); t->Next())
        bytes += no->AsInteger() + version->AsString().size() + copy->AsString().size();
      if (bytes == 0) std::printf("-");
    });
    std::printf(
        "plan on the catalog: %.1f ms median of 3 (%zu versions to remove); bare read of the version "
        "table %.1f ms; ratio %.2fx\n",
        onCatalog, plan.size(), bare, onCatalog / bare);
    if (plan.size() != planned) std::printf("MISMATCH: the catalog plan differs from the pure plan\n");

    // What each capture adds: the plan of the captured file alone, read through the index.
    int next = 0;
    size_t oneFile = 0;
    double perCapture =
        MedianMs(11, [&] { oneFile = cleanup.Plan(0, 1 + (next++ * 97) % kFiles, now).size(); });
    std::printf(
        "plan of one file (%d versions, %zu to remove), as after a capture: %.2f ms median of 11; "
        "the pass over the catalog / this %.0fx\n",
        kVersions / kFiles, oneFile, perCapture, onCatalog / perCapture);

    // The removal: a share of area 1's plan through Remove, the same number of area 2's one by one.
    std::vector<TCleanupItem> first, second;
    for (const TCleanupItem& item : plan) {
      if (item.AreaNo == 1 && static_cast<int>(first.size()) < share) first.push_back(item);
      if (item.AreaNo == 2 && static_cast<int>(second.size()) < share) second.push_back(item);
    }
    auto r0 = Clock::now();
    size_t removed = cleanup.Remove(first).size();
    double removal = Ms(Clock::now() - r0);
    auto d0 = Clock::now();
    size_t deleted = 0;
    for (const TCleanupItem& item : second) deleted += catalog.DeleteVersion(item.FileNo, item.Version);
    double oneByOne = Ms(Clock::now() - d0);
    std::printf(
        "removal of %zu versions (rows and copies, durable): %.0f ms, %.2f ms each, about %.1f s for the "
        "whole plan; DeleteVersion one by one for %zu: %.0f ms, %.2f ms each; ratio %.2fx\n",
        removed, removal, removal / std::max<size_t>(removed, 1),
        removal / std::max<size_t>(removed, 1) * plan.size() / 1000, deleted, oneByOne,
        oneByOne / std::max<size_t>(deleted, 1), removal / std::max(oneByOne, 1e-9));
    size_t left = 0;
    for (const TCleanupItem& item : first) left += fs::exists(item.Copy);
    if (left) std::printf("MISMATCH: %zu copies of removed versions are still there\n", left);
  }
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return 0;
}
