#include "app/CatalogReport.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "app/VersionCatalog.h"
#include "platform/CodePage.h"
#include "platform/Files.h"

namespace lanqi {

namespace {

using TCopyKey = std::pair<uint64_t, uint64_t>;  // device, inode

struct TCopyKeyHash {
  size_t operator()(const TCopyKey& k) const {
    return std::hash<uint64_t>()(k.first * 0x9E3779B97F4A7C15ull ^ k.second);
  }
};

struct TCopy {
  bool Present = false;
  TCopyKey Key;
  int64_t Size = 0;
};

// A set of copies whose bytes add up, each copy once.
struct TSpace {
  std::unordered_set<TCopyKey, TCopyKeyHash> Seen;
  int64_t Bytes = 0;
  void Add(const TCopy& c) {
    if (c.Present && Seen.insert(c.Key).second) Bytes += c.Size;
  }
};

int Digits(const std::string& v, size_t at, size_t n) {
  int value = 0;
  for (size_t i = at; i < at + n; ++i) value = value * 10 + (v[i] - '0');
  return value;
}

// The date of a version text "yyyy-mm-dd-hh-mm-ss" (with "-2", "-3"... or one more character for
// later saves inside the same 2-second slot); false for any other text.
bool VersionDay(const std::string& v, std::chrono::sys_days& day) {
  if (v.size() < 19) return false;
  const bool dashed =
      v.size() > 20 && v[19] == '-' && v.find_first_not_of("0123456789", 20) == std::string::npos;
  const bool marked = v.size() == 20 && ((v[19] >= '2' && v[19] <= '9') || (v[19] >= 'a' && v[19] <= 'z'));
  if (v.size() > 19 && !dashed && !marked) return false;
  for (size_t i = 0; i < 19; ++i) {
    bool dash = i == 4 || i == 7 || i == 10 || i == 13 || i == 16;
    if (dash ? v[i] != '-' : (v[i] < '0' || v[i] > '9')) return false;
  }
  std::chrono::year_month_day ymd{std::chrono::year{Digits(v, 0, 4)},
                                  std::chrono::month{static_cast<unsigned>(Digits(v, 5, 2))},
                                  std::chrono::day{static_cast<unsigned>(Digits(v, 8, 2))}};
  if (!ymd.ok()) return false;
  day = ymd;
  return true;
}

// The newest of a file's or an area's version texts: stamps sort by their text, and a stamp beats
// any other text.
struct TNewest {
  std::string Text;
  bool Stamp = false;
  void Keep(const std::string& v, bool stamp) {
    if (Text.empty() || (stamp && !Stamp) || (stamp == Stamp && v > Text)) {
      Text = v;
      Stamp = stamp;
    }
  }
};

// The system's name for a code-page path; plain ASCII, as most paths are, needs no conversion.
std::string OsName(const std::string& path) {
  for (char c : path)
    if (static_cast<unsigned char>(c) >= 0x80) return ToOsPath(path);
  return path;
}

std::string Utf8(const std::string& ansi) {
  try {
    return AnsiToUtf8(ansi);
  } catch (const std::exception&) {
    return ansi;  // bytes the code page cannot read go out as they are
  }
}

std::string Field(const std::string& utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// A name the user typed (an area, a path) that starts like a formula would be run by the
// spreadsheet that opens the report; a leading apostrophe makes it plain text there.
std::string TextField(const std::string& utf8) {
  if (!utf8.empty() && std::strchr("=+-@\t\r", utf8[0]) != nullptr) return Field("'" + utf8);
  return Field(utf8);
}

}  // namespace

std::chrono::sys_days LocalToday() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return std::chrono::year_month_day{std::chrono::year{local.tm_year + 1900},
                                     std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
                                     std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
}

std::string VersionTimeText(const std::string& version) {
  std::chrono::sys_days d;
  if (!VersionDay(version, d)) return version;
  return version.substr(0, 10) + " " + version.substr(11, 2) + ":" + version.substr(14, 2) + ":" +
         version.substr(17, 2);
}

TCatalogReport BuildCatalogReport(TVersionCatalog& catalog, std::chrono::sys_days today) {
  TCatalogReport report;
  std::vector<TCatalogArea> tree = catalog.ReadTree();
  std::unordered_map<int32_t, std::vector<verinfo>> versionsOf;
  for (verinfo& v : catalog.AllVersions()) versionsOf[v.FileNo].push_back(std::move(v));

  // Each copy's file is looked at once, however many rows name it.
  std::unordered_map<std::string, TCopy> copies;
  auto copyOf = [&](const std::string& path) -> const TCopy& {
    auto [it, added] = copies.try_emplace(path);
    if (added && !path.empty()) {
      struct stat st {};
      try {
        if (::stat(OsName(path).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
          it->second.Present = true;
          it->second.Key = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
          it->second.Size = static_cast<int64_t>(st.st_size);
        }
      } catch (const std::exception&) {
        // A name the system cannot be given is a copy that is not there.
      }
    }
    return it->second;
  };

  const std::chrono::sys_days first = today - std::chrono::days{kReportDays - 1};
  std::vector<int> perDay(kReportDays, 0);
  TSpace all;
  for (const TCatalogArea& a : tree) {
    TReportArea area;
    area.AreaNo = a.AreaNo;
    area.Name = a.Name;
    area.Folder = a.Folder;
    TSpace areaSpace;
    TNewest areaNewest;
    for (const TCatalogFile& f : a.Files) {
      TReportFile file;
      file.FileNo = f.FileNo;
      file.Path = f.Path;
      TSpace fileSpace;
      TNewest fileNewest;
      // Older catalogs hold some paths twice: each row reports the versions of its own number, as
      // the tree shows them.
      auto rows = versionsOf.find(f.FileNo);
      if (rows != versionsOf.end()) {
        for (const verinfo& v : rows->second) {
          ++file.Versions;
          std::chrono::sys_days d;
          const bool stamp = VersionDay(v.Version, d);
          fileNewest.Keep(v.Version, stamp);
          const TCopy& c = copyOf(v.FilePath);
          fileSpace.Add(c);
          areaSpace.Add(c);
          all.Add(c);
          if (stamp && d >= first && d <= today) ++perDay[(d - first).count()];
        }
      }
      file.Space = fileSpace.Bytes;
      file.LastChange = fileNewest.Text;
      area.Versions += file.Versions;
      if (!file.LastChange.empty()) areaNewest.Keep(fileNewest.Text, fileNewest.Stamp);
      area.Files.push_back(std::move(file));
    }
    area.LastChange = areaNewest.Text;
    area.Space = areaSpace.Bytes;
    report.Versions += area.Versions;
    report.Areas.push_back(std::move(area));
  }
  report.Space = all.Bytes;
  for (int i = 0; i < kReportDays; ++i) report.Days.push_back({first + std::chrono::days{i}, perDay[i]});

  for (const TReportArea& a : report.Areas)
    for (const TReportFile& f : a.Files)
      if (f.Versions > 0) report.Largest.push_back(f);
  std::stable_sort(report.Largest.begin(), report.Largest.end(),
                   [](const TReportFile& x, const TReportFile& y) {
                     return x.Space != y.Space ? x.Space > y.Space : x.Versions > y.Versions;
                   });
  if (report.Largest.size() > kReportLargest) report.Largest.resize(kReportLargest);
  return report;
}

std::string ReportCsv(const TCatalogReport& report) {
  // The byte-order mark makes spreadsheet programs read the Chinese texts as UTF-8 instead of
  // guessing the locale's code page.
  std::string csv = "\xEF\xBB\xBF";
  auto line = [&csv](const std::vector<std::string>& fields) {
    for (size_t i = 0; i < fields.size(); ++i) csv += (i ? "," : "") + (i < 2 ? TextField : Field)(fields[i]);
    csv += "\r\n";
  };
  line({"存储区", "文件", "版本数", "备份空间（字节）", "最后修改"});
  for (const TReportArea& a : report.Areas) {
    line({Utf8(a.Name), "", std::to_string(a.Versions), std::to_string(a.Space),
          VersionTimeText(Utf8(a.LastChange))});
    for (const TReportFile& f : a.Files)
      line({Utf8(a.Name), Utf8(f.Path), std::to_string(f.Versions), std::to_string(f.Space),
            VersionTimeText(Utf8(f.LastChange))});
  }
  return csv;
}

}  // namespace lanqi
