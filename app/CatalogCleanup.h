// The cleanup rules of each storage area, the protected marks of versions, and the cleanup itself on
// a catalog: what the rules remove now (the preview and the dry run) and its removal (rows first,
// then the copies no remaining row names). Both live in tables of their own beside the catalog's
// three, made on first use:
//   "清理规则": 存储区序号, 保留版本数, 按天保留天数, 按周保留周数 (0: that rule is off)
//   "版本标记": 文件序号, 版本, 保护 (a row for each protected version)
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/VersionCatalog.h"
#include "app/VersionCleanup.h"

namespace lanqi {

class TRadeTable;

// A version the cleanup removes.
struct TCleanupItem {
  int32_t AreaNo = 0;
  int32_t FileNo = 0;
  std::string Path;        // the tracked file
  std::string Version;     // the version text
  std::string Copy;        // its backup copy
  std::string Size;        // bytes, as stored
  int32_t Occurrence = 0;  // among the file's rows of the same version text, which one (0 the first)
};

class TCatalogCleanup {
 public:
  explicit TCatalogCleanup(TVersionCatalog& catalog) : catalog_(catalog) {}

  // An area's rules (all off when none are stored).
  TCleanupRules Rules(int32_t areaNo);
  void SetRules(int32_t areaNo, const TCleanupRules& rules);

  bool IsProtected(int32_t fileNo, const std::string& version);
  void SetProtected(int32_t fileNo, const std::string& version, bool on);
  // Every protected version, by file number and version text.
  std::set<std::pair<int32_t, std::string>> ProtectedVersions();

  // What the rules remove at now (NowLocalSeconds()'s count): of one area (areaNo 0: of every area),
  // of one file when fileNo is not 0. In catalog order: by file as the files are listed, then the
  // order the versions were recorded in.
  std::vector<TCleanupItem> Plan(int32_t areaNo, int32_t fileNo, int64_t now);
  // What rules (not yet stored) would remove from the area at now: the preview of rules being set.
  std::vector<TCleanupItem> PlanWith(int32_t areaNo, const TCleanupRules& rules, int64_t now);
  // Removes the items' rows, then each copy no remaining row names; the others' rows and copies
  // stay. Returns the items removed (a row already gone is skipped).
  std::vector<TCleanupItem> Remove(const std::vector<TCleanupItem>& items);
  // Plan and Remove in one step.
  std::vector<TCleanupItem> Run(int32_t areaNo, int32_t fileNo, int64_t now) {
    return Remove(Plan(areaNo, fileNo, now));
  }

 private:
  std::vector<TCleanupItem> PlanFor(std::unordered_map<int32_t, TCleanupRules> rulesOf, int32_t fileNo,
                                    int64_t now);
  TRadeTable* RulesTable();
  TRadeTable* MarksTable();
  TVersionCatalog& catalog_;
};

// Fills each file's Protected flags (by version position) from the protected marks; a file without
// any keeps them empty. A catalog without marks is only asked whether it has their table.
void AttachProtectedMarks(TVersionCatalog& catalog, std::vector<TCatalogArea>& areas);

// Runs the rules of the file's area over that file's versions, as each capture does. A catalog without
// rules costs one read of the small rules table.
std::vector<TCleanupItem> CleanupAfterCapture(TVersionCatalog& catalog, int32_t fileNo);

}  // namespace lanqi
