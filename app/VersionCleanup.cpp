#include "app/VersionCleanup.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <numeric>

namespace lanqi {

namespace {

// Days from 1970-01-01 to y-m-d in the proleptic Gregorian calendar (negative before it).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

int64_t DayOf(int64_t seconds) {
  return FloorDiv(seconds, 86400);
}

// 1970-01-01 was a Thursday: counting from the Monday three days before it, each week is seven
// whole days, Monday first.
int64_t WeekOf(int64_t seconds) {
  return FloorDiv(DayOf(seconds) + 3, 7);
}

bool Digits(const std::string& text, size_t from, size_t count, int& value) {
  value = 0;
  for (size_t i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

bool StampLocalSeconds(const std::string& text, int64_t& seconds) {
  if (text.size() < 19) return false;
  for (size_t dash : {4, 7, 10, 13, 16})
    if (text[dash] != '-') return false;
  int y, mo, d, h, mi, s;
  if (!Digits(text, 0, 4, y) || !Digits(text, 5, 2, mo) || !Digits(text, 8, 2, d) ||
      !Digits(text, 11, 2, h) || !Digits(text, 14, 2, mi) || !Digits(text, 17, 2, s))
    return false;
  static const int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (mo < 1 || mo > 12 || d < 1 || d > monthDays[mo - 1] || h > 23 || mi > 59 || s > 59) return false;
  // 29 February only in a leap year.
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (mo == 2 && d == 29 && !leap) return false;
  seconds =
      DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 + mi * 60 + s;
  return true;
}

int64_t NowLocalSeconds() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return DaysFromCivil(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                       static_cast<unsigned>(tm.tm_mday)) *
             86400 +
         tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
}

std::vector<size_t> PlanCleanup(const std::vector<TCleanupVersion>& versions, const TCleanupRules& rules,
                                int64_t nowLocalSeconds) {
  if (!rules.Any() || versions.size() < 2) return {};
  // The versions with a stamp, oldest first; equal stamps keep the order they were recorded in.
  std::vector<size_t> order;
  std::vector<int64_t> at(versions.size(), 0);
  order.reserve(versions.size());
  for (size_t i = 0; i < versions.size(); ++i)
    if (StampLocalSeconds(versions[i].Version, at[i])) order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return at[a] < at[b]; });

  const int64_t today = DayOf(nowLocalSeconds);
  const int64_t thisWeek = WeekOf(nowLocalSeconds);
  std::vector<char> remove(versions.size(), 0);
  const size_t n = order.size();
  for (size_t k = 0; k < n; ++k) {
    const size_t i = order[k];
    const size_t newerCount = n - 1 - k;  // versions with a later place in time
    bool goes = false;
    if (rules.KeepNewest > 0 && newerCount >= static_cast<size_t>(rules.KeepNewest)) goes = true;
    const bool lastOfDay = k + 1 == n || DayOf(at[order[k + 1]]) != DayOf(at[i]);
    const bool lastOfWeek = k + 1 == n || WeekOf(at[order[k + 1]]) != WeekOf(at[i]);
    if (rules.DailyAfterDays > 0 && DayOf(at[i]) <= today - rules.DailyAfterDays && !lastOfDay) goes = true;
    if (rules.WeeklyAfterWeeks > 0 && WeekOf(at[i]) <= thisWeek - rules.WeeklyAfterWeeks && !lastOfWeek)
      goes = true;
    if (goes && !versions[i].Protected) remove[i] = 1;
  }
  // The newest stays whichever way it is counted: by time, and the last one recorded.
  if (n > 0) remove[order.back()] = 0;
  remove.back() = 0;
  std::vector<size_t> out;
  for (size_t i = 0; i < versions.size(); ++i)
    if (remove[i]) out.push_back(i);
  return out;
}

}  // namespace lanqi
