// The catalog's figures without any window: per area and per file the number of versions, the
// space their backup copies really use and the last change; versions per day and the largest
// histories. The "报表" page, its CSV export and `lanqi list` show them.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace lanqi {

class TVersionCatalog;

struct TReportFile {
  int32_t FileNo = 0;
  std::string Path;  // code-page text, as the catalog holds it
  int Versions = 0;
  // Bytes of the file's backup copies, each copy once: rows naming the same copy, or copies that are
  // links to one file, share its bytes; a missing copy uses nothing.
  int64_t Space = 0;
  std::string LastChange;  // the newest version's text, empty without versions
};

struct TReportArea {
  int32_t AreaNo = 0;
  std::string Name;
  std::string Folder;
  int Versions = 0;
  int64_t Space = 0;  // each copy once across the area's files
  std::string LastChange;
  std::vector<TReportFile> Files;
};

struct TReportDay {
  std::chrono::sys_days Day;
  int Versions = 0;
};

constexpr int kReportDays = 90;
constexpr size_t kReportLargest = 10;

struct TCatalogReport {
  std::vector<TReportArea> Areas;  // table order, files in table order
  int Versions = 0;
  int64_t Space = 0;                 // the whole catalog, each copy once
  std::vector<TReportDay> Days;      // the kReportDays days that end today, oldest first
  std::vector<TReportFile> Largest;  // the files using the most space, largest first, at most ten
};

// One read of the catalog's three tables and one look at each distinct copy. today: the local date
// the days end on (versions are dated by their text, which is local time).
TCatalogReport BuildCatalogReport(TVersionCatalog& catalog, std::chrono::sys_days today);
std::chrono::sys_days LocalToday();

// "2026-12-10 14:45:38" for the version text "2026-12-10-14-45-38"; other texts unchanged.
std::string VersionTimeText(const std::string& version);

// The report's table as CSV: UTF-8 behind a byte-order mark, every field quoted (quotes doubled),
// lines ended by CR LF; one line per area (its file column empty) followed by one per file.
std::string ReportCsv(const TCatalogReport& report);

}  // namespace lanqi
