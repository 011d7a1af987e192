#include "engine/filter/DateText.h"

#include <ctime>
#include <string>

#include "rtl/DateTime.h"

namespace lanqi {

namespace {

constexpr int64_t kUnixEpochDay = 719163;  // day number of 1970-01-01

int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool LeapYear(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int MonthDays(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (m == 2 && LeapYear(y)) ? 29 : kDays[m - 1];
}

char Fold(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}

// The scanners' blanks are spaces only.
void SkipSpaces(std::string_view s, size_t& pos) {
  while (pos < s.size() && s[pos] == ' ') ++pos;
}

// Digits while the value so far is below 1000; at least one.
bool ScanNumber(std::string_view s, size_t& pos, int& value, int& digits) {
  size_t p = pos;
  SkipSpaces(s, p);
  int v = 0;
  int n = 0;
  while (p < s.size() && s[p] >= '0' && s[p] <= '9' && v < 1000) {
    v = v * 10 + (s[p] - '0');
    ++n;
    ++p;
  }
  if (n == 0) return false;
  value = v;
  digits = n;
  pos = p;
  return true;
}

bool ScanNumber(std::string_view s, size_t& pos, int& value) {
  int digits;
  return ScanNumber(s, pos, value, digits);
}

bool ScanChar(std::string_view s, size_t& pos, char expected) {
  size_t p = pos;
  SkipSpaces(s, p);
  if (p < s.size() && s[p] == expected) {
    pos = p + 1;
    return true;
  }
  return false;
}

bool ScanText(std::string_view s, size_t& pos, std::string_view word) {
  if (word.empty() || s.size() - pos < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (Fold(s[pos + i]) != Fold(word[i])) return false;
  pos += word.size();
  return true;
}

// The morning or afternoon designator: 0 or 12.
bool ScanMarker(std::string_view s, size_t& pos, int& marker, const TFormatSettings& fs) {
  size_t p = pos;
  SkipSpaces(s, p);
  if (ScanText(s, p, fs.TimeAMString) || ScanText(s, p, "AM")) {
    marker = 0;
  } else if (ScanText(s, p, fs.TimePMString) || ScanText(s, p, "PM")) {
    marker = 12;
  } else {
    return false;
  }
  pos = p;
  return true;
}

}  // namespace

int32_t DayNumberOf(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > MonthDays(year, month)) return 0;
  return static_cast<int32_t>(DaysFromCivil(year, month, day) + kUnixEpochDay);
}

void DecodeDayNumber(int64_t dayNumber, int& year, int& month, int& day) {
  int64_t z = dayNumber - kUnixEpochDay + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

bool ScanDate(std::string_view s, size_t& pos, int32_t& dayNumber, int currentYear) {
  size_t p = pos;
  int month, day, year, yearDigits;
  if (!ScanNumber(s, p, month) || !ScanChar(s, p, '/') || !ScanNumber(s, p, day) || !ScanChar(s, p, '/') ||
      !ScanNumber(s, p, year, yearDigits))
    return false;
  if (yearDigits <= 2) {
    int pivot = currentYear - 50;
    year += (pivot / 100) * 100;
    if (pivot > year) year += 100;
  }
  int32_t n = DayNumberOf(year, month, day);
  if (n == 0) return false;
  dayNumber = n;
  pos = p;
  return true;
}

bool ScanTime(std::string_view s, size_t& pos, int32_t& milliseconds, const TFormatSettings& fs) {
  size_t p = pos;
  int marker = -1;
  if (ScanMarker(s, p, marker, fs)) SkipSpaces(s, p);
  int hour = 0, min = 0, sec = 0, msec = 0;
  if (!ScanNumber(s, p, hour)) return false;
  if (ScanChar(s, p, ':')) {
    if (!ScanNumber(s, p, min)) return false;
    if (ScanChar(s, p, ':')) {
      if (!ScanNumber(s, p, sec)) return false;
      if (ScanChar(s, p, fs.DecimalSeparator) && !ScanNumber(s, p, msec)) return false;
    }
  }
  if (marker < 0) ScanMarker(s, p, marker, fs);
  if (marker >= 0) {
    if (hour < 1 || hour > 12) return false;
    if (hour == 12) hour = 0;
    hour += marker;
  }
  SkipSpaces(s, p);
  if (hour >= 24 || min >= 60 || sec >= 60 || msec >= 1000) return false;
  milliseconds = ((hour * 60 + min) * 60 + sec) * 1000 + msec;
  pos = p;
  return true;
}

bool ScanDateTime(std::string_view s, double& milliseconds, int currentYear, const TFormatSettings& fs) {
  size_t p = 0;
  int32_t day = 0;
  if (ScanDate(s, p, day, currentYear)) {
    int32_t time = 0;
    if (p >= s.size() || ScanTime(s, p, time, fs)) {
      milliseconds = static_cast<double>(day) * MSecsPerDay + time;
      return true;
    }
  }
  p = 0;
  int32_t time = 0;
  if (ScanTime(s, p, time, fs) && p >= s.size()) {
    milliseconds = time;
    return true;
  }
  return false;
}

double LocalNowMilliseconds() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  time_t secs = ts.tv_sec;
  tm local{};
  localtime_r(&secs, &local);
  int64_t day = DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) + kUnixEpochDay;
  int64_t ms = ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 + ts.tv_nsec / 1000000;
  return static_cast<double>(day) * MSecsPerDay + static_cast<double>(ms);
}

}  // namespace lanqi
