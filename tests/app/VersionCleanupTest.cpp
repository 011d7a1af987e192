// The cleanup rules as a decision on version stamps: the boundaries of days, ISO weeks and counts on
// small hand-checked histories, and a year of 400 versions against a calendar worked out with the
// standard library's own dates.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <set>

#include "app/VersionCleanup.h"

namespace lanqi {
namespace {

int64_t At(const std::string& stamp) {
  int64_t s = 0;
  EXPECT_TRUE(StampLocalSeconds(stamp, s)) << stamp;
  return s;
}

TEST(VersionCleanup, StampsParseStrictly) {
  int64_t s = 0;
  ASSERT_TRUE(StampLocalSeconds("1970-01-02-00-00-01", s));
  EXPECT_EQ(s, 86401);
  ASSERT_TRUE(StampLocalSeconds("1899-12-30-00-00-00", s));  // a missing file's stamp
  EXPECT_EQ(s, -25569LL * 86400);
  for (const char* bad : {"", "2026-12-09", "2026-13-01-00-00-00", "2026-02-29-00-00-00",
                          "2026-12-09 10-00-00", "2026-12-09-24-00-00", "abcd-12-09-10-00-00"})
    EXPECT_FALSE(StampLocalSeconds(bad, s)) << bad;
  EXPECT_TRUE(StampLocalSeconds("2024-02-29-23-59-59", s));
}

TEST(VersionCleanup, RulesAtTheirBoundaries) {
  struct Case {
    const char* what;
    TCleanupRules rules;
    const char* now;
    std::vector<TCleanupVersion> versions;  // in the order recorded
    std::set<size_t> removed;
  };
  const Case cases[] = {
      {"daily after 2 days: 7 December is in, 8 December not",
       {0, 2, 0},
       "2026-12-09-10-00-00",
       {{"2026-12-07-08-00-00"},
        {"2026-12-07-23-59-59"},
        {"2026-12-08-01-00-00"},
        {"2026-12-08-02-00-00"},
        {"2026-12-09-09-00-00"}},
       {0}},
      {"a day ends at midnight",
       {0, 1, 0},
       "2026-12-09-10-00-00",
       {{"2026-12-08-00-00-00"}, {"2026-12-08-23-59-59"}, {"2026-12-09-00-00-00"}, {"2026-12-09-00-00-02"}},
       {0}},
      {"weekly after 1 week: the week before this Monday, Monday to Sunday",
       {0, 0, 1},
       "2026-12-09-10-00-00",
       {{"2026-11-29-23-00-00"},
        {"2026-11-30-00-00-00"},
        {"2026-12-06-10-00-00"},
        {"2026-12-06-23-59-58"},
        {"2026-12-07-00-00-00"},
        {"2026-12-07-00-00-02"}},
       {1, 2}},
      {"an ISO week across the new year",
       {0, 0, 1},
       "2026-01-07-12-00-00",
       {{"2025-12-28-12-00-00"},
        {"2025-12-29-09-00-00"},
        {"2026-01-01-09-00-00"},
        {"2026-01-04-20-00-00"},
        {"2026-01-07-11-00-00"}},
       {1, 2}},
      {"keep newest 2: protected and unreadable versions stay and still count",
       {2, 0, 0},
       "2026-12-09-10-00-00",
       {{"2026-12-01-10-00-00", true},
        {"2026-12-02-10-00-00"},
        {"garbage"},
        {"2026-12-03-10-00-00"},
        {"2026-12-04-10-00-00"}},
       {1}},
      {"keep newest 1 over a protected newest: everything else goes",
       {1, 0, 0},
       "2026-12-09-10-00-00",
       {{"2026-12-01-10-00-00"}, {"2026-12-02-10-00-00"}, {"2026-12-03-10-00-00", true}},
       {0, 1}},
      {"equal stamps: the later recorded is the newer",
       {1, 0, 0},
       "2026-12-09-10-00-00",
       {{"2026-12-05-10-00-00"}, {"2026-12-05-10-00-00"}},
       {0}},
      {"the newest by time and the last recorded both stay",
       {1, 0, 0},
       "2026-12-09-10-00-00",
       {{"2026-12-08-10-00-00"}, {"2026-12-01-10-00-00"}},
       {}},
      {"a future stamp is the newest; the rest go by count",
       {1, 1, 1},
       "2026-12-09-10-00-00",
       {{"2026-12-01-10-00-00"}, {"2027-05-01-10-00-00"}, {"2026-12-09-09-00-00"}},
       {0}},
      {"a protected newest of its day keeps the day but not the day's others",
       {0, 1, 0},
       "2026-12-09-10-00-00",
       {{"2026-12-01-08-00-00"}, {"2026-12-01-09-00-00", true}, {"2026-12-09-09-00-00"}},
       {0}},
      {"no rule on: nothing goes",
       {0, 0, 0},
       "2026-12-09-10-00-00",
       {{"2020-01-01-10-00-00"}, {"2020-01-01-10-00-02"}, {"2026-12-09-09-00-00"}},
       {}},
      {"a single version always stays", {1, 1, 1}, "2030-01-01-00-00-00", {{"2020-01-01-10-00-00"}}, {}},
  };
  for (const Case& c : cases) {
    std::vector<size_t> got = PlanCleanup(c.versions, c.rules, At(c.now));
    EXPECT_EQ(std::set<size_t>(got.begin(), got.end()), c.removed) << c.what;
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end())) << c.what;
  }
}

// A year of 400 versions, most of them recent, every 29th protected, recorded in time order.
std::vector<TCleanupVersion> YearOfVersions(int64_t now) {
  std::vector<int64_t> times;
  uint32_t r = 12345;
  auto next = [&r] { return r = r * 1103515245u + 12345u, (r >> 8) & 0xFFFFFF; };
  for (int i = 0; i < 400; ++i) {
    int64_t day = static_cast<int64_t>(next() % 365) * static_cast<int64_t>(next() % 365) / 365;
    times.push_back(now - day * 86400 - static_cast<int64_t>(next() % 86400));
  }
  std::sort(times.begin(), times.end());
  std::vector<TCleanupVersion> versions;
  for (size_t i = 0; i < times.size(); ++i) {
    using namespace std::chrono;
    sys_seconds t{seconds{times[i]}};
    sys_days d = floor<days>(t);
    year_month_day ymd{d};
    hh_mm_ss hms{t - d};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u-%02d-%02d-%02d", int(ymd.year()), unsigned(ymd.month()),
                  unsigned(ymd.day()), int(hms.hours().count()), int(hms.minutes().count()),
                  int(hms.seconds().count()));
    versions.push_back({text, i % 29 == 5});
  }
  return versions;
}

// Which versions the rules keep, worked out from the calendar of <chrono>: group by day and by the
// Monday that starts the ISO week, keep each group's last, count from the newest.
std::set<size_t> ExpectedSurvivors(const std::vector<TCleanupVersion>& v, const TCleanupRules& rules,
                                   int64_t now) {
  using namespace std::chrono;
  auto dayOf = [](int64_t s) { return floor<days>(sys_seconds{seconds{s}}); };
  auto mondayOf = [&](int64_t s) {
    sys_days d = dayOf(s);
    return d - days{weekday{d}.iso_encoding() - 1};
  };
  std::map<sys_days, size_t> lastOfDay, lastOfWeek;
  for (size_t i = 0; i < v.size(); ++i) {
    lastOfDay[dayOf(At(v[i].Version))] = i;
    lastOfWeek[mondayOf(At(v[i].Version))] = i;
  }
  std::set<size_t> keep;
  for (size_t i = 0; i < v.size(); ++i) {
    int64_t t = At(v[i].Version);
    bool inDaily = rules.DailyAfterDays > 0 && dayOf(t) <= dayOf(now) - days{rules.DailyAfterDays};
    bool inWeekly =
        rules.WeeklyAfterWeeks > 0 && mondayOf(t) <= mondayOf(now) - weeks{rules.WeeklyAfterWeeks};
    bool byCount = rules.KeepNewest == 0 || v.size() - i <= static_cast<size_t>(rules.KeepNewest);
    bool byDay = !inDaily || lastOfDay[dayOf(t)] == i;
    bool byWeek = !inWeekly || lastOfWeek[mondayOf(t)] == i;
    if (v[i].Protected || i + 1 == v.size() || (byCount && byDay && byWeek)) keep.insert(i);
  }
  return keep;
}

TEST(VersionCleanup, AYearOfFourHundredVersions) {
  const int64_t now = At("2026-12-09-10-00-00");
  const std::vector<TCleanupVersion> versions = YearOfVersions(now);
  ASSERT_EQ(versions.size(), 400u);
  struct Case {
    TCleanupRules rules;
    size_t survivors;  // the count the calendar gives, pinned so a change of meaning shows
  };
  const Case cases[] = {
      // 100 newest and the 11 protected among the 300 older.
      {{100, 0, 0}, 111}, {{0, 7, 0}, 225},  {{0, 0, 4}, 133},
      {{0, 7, 4}, 101},   {{300, 7, 4}, 79}, {{50, 1, 1}, 23},
  };
  for (const Case& c : cases) {
    std::vector<size_t> removed = PlanCleanup(versions, c.rules, now);
    std::set<size_t> survivors;
    for (size_t i = 0; i < versions.size(); ++i)
      if (!std::binary_search(removed.begin(), removed.end(), i)) survivors.insert(i);
    EXPECT_EQ(survivors, ExpectedSurvivors(versions, c.rules, now))
        << c.rules.KeepNewest << "/" << c.rules.DailyAfterDays << "/" << c.rules.WeeklyAfterWeeks;
    for (size_t i = 0; i < versions.size(); ++i)
      EXPECT_TRUE(!versions[i].Protected || survivors.count(i)) << versions[i].Version;
    EXPECT_TRUE(survivors.count(versions.size() - 1));
    EXPECT_EQ(survivors.size(), c.survivors);
  }
}

}  // namespace
}  // namespace lanqi
