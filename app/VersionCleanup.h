// Which versions of one tracked file a storage area's cleanup rules remove: a pure decision over the
// versions' stamps, their protected marks, the rules and the present moment, with no catalog, file or
// window behind it, so the catalog's cleanup, its preview and the command line all take the same one.
//
// The rules, each optional (0 turns it off):
// - KeepNewest N: of the file's versions ordered by time, only the newest N stay. Protected versions
//   count among the N like any other.
// - DailyAfterDays D: a version from D or more calendar days before today keeps its place only when
//   it is the newest version of its day.
// - WeeklyAfterWeeks W: a version from W or more weeks before the present week keeps its place only
//   when it is the newest version of its week.
// A version goes when any rule that is on removes it, and is kept whatever the rules say when it is
// protected, when it is the file's newest (by time, and the last one recorded), or when its text is
// no stamp. Days run from local midnight to midnight, weeks from Monday 00:00 to Sunday 24:00 (ISO
// weeks), both in the local time the version texts are written in; "the newest of a day" is the one
// with the latest stamp, the later recorded among equal stamps. Every other version of that day (week)
// is removed even when the newest of it is protected.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lanqi {

struct TCleanupRules {
  int32_t KeepNewest = 0;
  int32_t DailyAfterDays = 0;
  int32_t WeeklyAfterWeeks = 0;
  bool Any() const { return KeepNewest > 0 || DailyAfterDays > 0 || WeeklyAfterWeeks > 0; }
  bool operator==(const TCleanupRules&) const = default;
};

struct TCleanupVersion {
  std::string Version;  // the version text, "yyyy-mm-dd-hh-mm-ss" in local time
  bool Protected = false;
};

// Local calendar time as seconds counted from 1970-01-01 00:00 of the same calendar, no zone
// applied: it orders stamps and tells their day and week without any time-zone rule.
// False when text does not begin with a valid "yyyy-mm-dd-hh-mm-ss".
bool StampLocalSeconds(const std::string& text, int64_t& seconds);
// The present moment in the same count.
int64_t NowLocalSeconds();

// The indexes (into versions, given in the order they were recorded) of the versions the rules
// remove, in ascending order. Nothing is removed when no rule is on.
std::vector<size_t> PlanCleanup(const std::vector<TCleanupVersion>& versions, const TCleanupRules& rules,
                                int64_t nowLocalSeconds);

}  // namespace lanqi
