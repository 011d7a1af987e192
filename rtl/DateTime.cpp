#include "rtl/DateTime.h"

#include <cmath>
#include <ctime>
#include <limits>

#include "rtl/AnsiText.h"
#include "rtl/Exceptions.h"
#include "rtl/NumText.h"

namespace lanqi {

namespace {

constexpr int kDaysBefore[2][13] = {{0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
                                    {0, 0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335}};

// Day number (0001-01-01 = 1) of a valid proleptic Gregorian date.
int32_t DayNumberOf(int year, int month, int day) {
  int y = year - 1;
  return y * 365 + y / 4 - y / 100 + y / 400 + kDaysBefore[IsLeapYear(year) ? 1 : 0][month] + day;
}

// Year, month and day of day number t >= 1.
void DateOfDayNumber(int32_t t, int& year, int& month, int& day) {
  constexpr int D1 = 365, D4 = D1 * 4 + 1, D100 = D4 * 25 - 1, D400 = D100 * 4 + 1;
  int n = t - 1;
  int y = 1;
  y += (n / D400) * 400;
  n %= D400;
  int i = n / D100;
  n %= D100;
  if (i == 4) {  // the last day of a 400-year cycle
    i = 3;
    n += D100;
  }
  y += i * 100;
  y += (n / D4) * 4;
  n %= D4;
  i = n / D1;
  n %= D1;
  if (i == 4) {  // the last day of a leap cycle
    i = 3;
    n += D1;
  }
  y += i;
  const int* before = kDaysBefore[IsLeapYear(y) ? 1 : 0];
  int m = 12;
  while (before[m] > n) --m;
  year = y;
  month = m;
  day = n - before[m] + 1;
}

int CurrentYear() {
  int y, m, d;
  DecodeDate(Now(), y, m, d);
  return y;
}

// ---- FormatDateTime ----

class DateTimeFormatter {
 public:
  DateTimeFormatter(TDateTime dt, const TFormatSettings& fs) : fs_(fs) {
    ts_ = DateTimeToTimeStamp(dt);
    if (ts_.Date > 0) DateOfDayNumber(ts_.Date, year_, month_, day_);
    hour_ = ts_.Time / 3600000;
    min_ = ts_.Time / 60000 % 60;
    sec_ = ts_.Time / 1000 % 60;
    msec_ = ts_.Time % 1000;
  }

  std::string Run(const std::string& pattern) {
    if (pattern.empty())
      Append("c");
    else
      Append(pattern);
    return out_;
  }

 private:
  void Number(int v, int digits) {
    std::string s = std::to_string(v < 0 ? -v : v);
    if (static_cast<int>(s.size()) < digits) s.insert(0, static_cast<size_t>(digits) - s.size(), '0');
    if (v < 0) out_ += '-';
    out_ += s;
  }

  int DayOfWeekIndex() const { return ((ts_.Date % 7) + 7) % 7; }  // 0 = Sunday

  static bool StartsWithNoCase(const std::string& p, size_t i, const char* what) {
    for (size_t k = 0; what[k]; ++k) {
      if (i + k >= p.size()) return false;
      char c = p[i + k];
      c = UpperAscii(c);
      if (c != what[k]) return false;
    }
    return true;
  }

  void Append(const std::string& p) {
    if (level_ >= 2) return;  // a pattern that names itself ends here
    ++level_;
    size_t i = 0;
    const size_t n = p.size();
    while (i < n) {
      const char starter = p[i];
      if (IsTextLeadByte(static_cast<uint8_t>(starter)) && i + 1 < n) {
        out_.append(p, i, 2);
        i += 2;
        continue;
      }
      char token = starter;
      token = UpperAscii(token);
      if (token >= 'A' && token <= 'Z') {
        if (token == 'M' && lastToken_ == 'H') token = 'N';
        lastToken_ = token;
      }
      ++i;
      // Repeats of the starter (case-insensitive) after the first.
      // Repeats of the starter itself (same case) after the first.
      auto count = [&]() {
        int c = 1;
        while (i < n && p[i] == starter) {
          ++i;
          ++c;
        }
        return c;
      };
      switch (token) {
        case 'Y': {
          int c = count();
          if (c <= 2)
            Number(year_ % 100, 2);
          else
            Number(year_, 4);
          break;
        }
        case 'M': {
          int c = count();
          if (c <= 2)
            Number(month_, c);
          else if (month_ >= 1)
            out_ += (c == 3 ? fs_.ShortMonthNames : fs_.LongMonthNames)[static_cast<size_t>(month_ - 1)];
          break;
        }
        case 'D': {
          int c = count();
          if (c <= 2)
            Number(day_, c);
          else if (c == 3 || c == 4) {
            if (ts_.Date > 0)
              out_ += (c == 3 ? fs_.ShortDayNames : fs_.LongDayNames)[static_cast<size_t>(DayOfWeekIndex())];
          } else if (c == 5) {
            Append(fs_.ShortDateFormat);
          } else {
            Append(fs_.LongDateFormat);
          }
          break;
        }
        case 'H': {
          int c = count();
          int h = hour_;
          if (TwelveHourAhead(p, i)) use12_ = true;
          if (use12_) {
            if (h == 0)
              h = 12;
            else if (h > 12)
              h -= 12;
          }
          Number(h, c > 2 ? 2 : c);
          break;
        }
        case 'N': {
          int c = count();
          Number(min_, c > 2 ? 2 : c);
          break;
        }
        case 'S': {
          int c = count();
          Number(sec_, c > 2 ? 2 : c);
          break;
        }
        case 'Z': {
          int c = count();
          Number(msec_, c > 3 ? 3 : c);
          break;
        }
        case 'T': {
          int c = count();
          Append(c == 1 ? fs_.ShortTimeFormat : fs_.LongTimeFormat);
          break;
        }
        case 'C': {
          count();
          Append(fs_.ShortDateFormat);
          if (hour_ != 0 || min_ != 0 || sec_ != 0) {
            out_ += ' ';
            Append(fs_.LongTimeFormat);
          }
          break;
        }
        case 'A': {
          size_t at = i - 1;
          const bool pm = hour_ >= 12;
          if (StartsWithNoCase(p, at, "AM/PM")) {
            out_.append(p, at + (pm ? 3 : 0), 2);
            i = at + 5;
            use12_ = true;
          } else if (StartsWithNoCase(p, at, "A/P")) {
            out_ += p[at + (pm ? 2 : 0)];
            i = at + 3;
            use12_ = true;
          } else if (StartsWithNoCase(p, at, "AMPM")) {
            out_ += pm ? fs_.TimePMString : fs_.TimeAMString;
            i = at + 4;
            use12_ = true;
          } else if (StartsWithNoCase(p, at, "AAAA")) {
            if (ts_.Date > 0) out_ += fs_.LongDayNames[static_cast<size_t>(DayOfWeekIndex())];
            i = at + 4;
          } else if (StartsWithNoCase(p, at, "AAA")) {
            if (ts_.Date > 0) out_ += fs_.ShortDayNames[static_cast<size_t>(DayOfWeekIndex())];
            i = at + 3;
          } else {
            out_ += starter;
          }
          break;
        }
        case '/':
          out_ += fs_.DateSeparator;
          break;
        case ':':
          out_ += fs_.TimeSeparator;
          break;
        case '\'':
        case '"': {
          while (i < n && p[i] != starter) {
            size_t len = CharLength(p, i);
            out_.append(p, i, len);
            i += len;
          }
          if (i < n) ++i;  // the closing quote
          break;
        }
        default:
          out_ += starter;
          break;
      }
    }
    --level_;
  }

  // Whether an AM/PM marker follows before the next hour (quoted text skipped): 12-hour clock.
  static bool TwelveHourAhead(const std::string& p, size_t i) {
    bool quoted = false;
    char quote = 0;
    for (; i < p.size(); ++i) {
      char c = p[i];
      if (quoted) {
        if (c == quote) quoted = false;
        continue;
      }
      if (c == '\'' || c == '"') {
        quoted = true;
        quote = c;
      } else if (c == 'A' || c == 'a') {
        return StartsWithNoCase(p, i, "AM/PM") || StartsWithNoCase(p, i, "A/P") ||
               StartsWithNoCase(p, i, "AMPM");
      } else if (c == 'H' || c == 'h') {
        return false;
      }
    }
    return false;
  }

  const TFormatSettings& fs_;
  TTimeStamp ts_;
  int year_ = 0, month_ = 0, day_ = 0, hour_ = 0, min_ = 0, sec_ = 0, msec_ = 0;
  std::string out_;
  char lastToken_ = ' ';
  // Once a marker has been written or seen ahead of an hour, hours use the 12-hour clock.
  bool use12_ = false;
  int level_ = 0;
};

// ---- text to date and time ----

enum class DateOrder { MDY, DMY, YMD };

DateOrder GetDateOrder(const std::string& format) {
  for (char c : format) {
    switch (c & 0xDF) {
      case 'Y':
      case 'E':
        return DateOrder::YMD;
      case 'M':
        return DateOrder::MDY;
      case 'D':
        return DateOrder::DMY;
      default:
        break;
    }
  }
  return DateOrder::MDY;
}

class Scanner {
 public:
  Scanner(const std::string& s, const TFormatSettings& fs) : s_(s), fs_(fs) {}

  bool AtEnd() const { return pos_ >= s_.size(); }

  void Blanks() {
    while (pos_ < s_.size() && s_[pos_] == ' ') ++pos_;
  }

  bool Number(int& value, int& digits) {
    Blanks();
    size_t i = pos_;
    int v = 0;
    while (i < s_.size() && s_[i] >= '0' && s_[i] <= '9' && v < 1000) {
      v = v * 10 + (s_[i] - '0');
      ++i;
    }
    if (i == pos_) return false;
    digits = static_cast<int>(i - pos_);
    value = v;
    pos_ = i;
    return true;
  }

  bool Char(char c) {
    Blanks();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool String(const std::string& symbol) {
    Blanks();
    if (symbol.empty() || s_.size() - pos_ < symbol.size()) return false;
    if (!SameTextAscii(std::string_view(s_).substr(pos_, symbol.size()), symbol)) return false;
    pos_ += symbol.size();
    return true;
  }

  bool Date(TDateTime& out) {
    const DateOrder order = GetDateOrder(fs_.ShortDateFormat);
    int n1, n2, n3, l1, l2, l3;
    int y = 0, m = 0, d = 0, yearLen = 0;
    if (!(Number(n1, l1) && Char(fs_.DateSeparator) && Number(n2, l2))) return false;
    if (Char(fs_.DateSeparator)) {
      if (!Number(n3, l3)) return false;
      switch (order) {
        case DateOrder::MDY:
          y = n3, yearLen = l3, m = n1, d = n2;
          break;
        case DateOrder::DMY:
          y = n3, yearLen = l3, m = n2, d = n1;
          break;
        case DateOrder::YMD:
          y = n1, yearLen = l1, m = n2, d = n3;
          break;
      }
      if (yearLen <= 2) {
        const int window = fs_.TwoDigitYearCenturyWindow;
        const int base = CurrentYear() - window;
        y += base / 100 * 100;
        if (window > 0 && y < base) y += 100;
      }
    } else {
      y = CurrentYear();
      if (order == DateOrder::DMY) {
        d = n1, m = n2;
      } else {
        m = n1, d = n2;
      }
    }
    Char(fs_.DateSeparator);
    Blanks();
    return TryEncodeDate(y, m, d, out);
  }

  bool Time(TDateTime& out) {
    int baseHour = -1;
    if (String(fs_.TimeAMString) || String("AM"))
      baseHour = 0;
    else if (String(fs_.TimePMString) || String("PM"))
      baseHour = 12;
    if (baseHour >= 0) Blanks();
    int hour, junk, min = 0, sec = 0, msec = 0;
    if (!Number(hour, junk)) return false;
    if (Char(fs_.TimeSeparator)) {
      if (!Number(min, junk)) return false;
      if (Char(fs_.TimeSeparator)) {
        if (!Number(sec, junk)) return false;
        if (Char(fs_.DecimalSeparator) && !Number(msec, junk)) return false;
      }
    }
    if (baseHour < 0) {
      if (String(fs_.TimeAMString) || String("AM"))
        baseHour = 0;
      else if (String(fs_.TimePMString) || String("PM"))
        baseHour = 12;
    }
    if (baseHour >= 0) {
      if (hour == 0 || hour > 12) return false;
      if (hour == 12) hour = 0;
      hour += baseHour;
    }
    Blanks();
    return TryEncodeTime(hour, min, sec, msec, out);
  }

 private:
  const std::string& s_;
  const TFormatSettings& fs_;
  size_t pos_ = 0;
};

}  // namespace

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  if (month < 1 || month > 12) return 0;
  static constexpr int kDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (month == 2 && IsLeapYear(year)) ? 29 : kDays[month];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return false;
  out = static_cast<double>(DayNumberOf(year, month, day) - DateDelta);
  return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& out) {
  if (hour < 0 || hour >= 24 || min < 0 || min >= 60 || sec < 0 || sec >= 60 || msec < 0 || msec >= 1000)
    return false;
  out = (hour * 3600000.0 + min * 60000.0 + sec * 1000.0 + msec) / MSecsPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime r;
  if (!TryEncodeDate(year, month, day, r)) throw EConvertError("Invalid argument to date encode");
  return r;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime r;
  if (!TryEncodeTime(hour, min, sec, msec, r)) throw EConvertError("Invalid argument to time encode");
  return r;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec) {
  TDateTime d = EncodeDate(year, month, day);
  TDateTime t = EncodeTime(hour, min, sec, msec);
  return d >= 0 ? d + t : d - t;
}

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
  TTimeStamp ts = DateTimeToTimeStamp(dt);
  if (ts.Date <= 0) {
    year = month = day = 0;
    return;
  }
  DateOfDayNumber(ts.Date, year, month, day);
}

void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec) {
  TTimeStamp ts = DateTimeToTimeStamp(dt);
  hour = ts.Time / 3600000;
  min = ts.Time / 60000 % 60;
  sec = ts.Time / 1000 % 60;
  msec = ts.Time % 1000;
}

int DayOfWeek(TDateTime dt) {
  int32_t d = DateTimeToTimeStamp(dt).Date;
  return ((d % 7) + 7) % 7 + 1;
}

TTimeStamp DateTimeToTimeStamp(TDateTime dt) {
  // Whole days must fit the 32-bit day number.
  constexpr double kLimit = static_cast<double>(std::numeric_limits<int32_t>::max() - DateDelta);
  if (!std::isfinite(dt) || std::fabs(dt) >= kLimit)
    throw EConvertError(Format("'%s' is not a valid date and time", FloatToStr(dt).c_str()));
  const int64_t ms = static_cast<int64_t>(std::nearbyint(dt * MSecsPerDay));
  TTimeStamp ts;
  ts.Date = static_cast<int32_t>(DateDelta + ms / MSecsPerDay);  // truncates toward zero
  ts.Time = static_cast<int32_t>((ms < 0 ? -ms : ms) % MSecsPerDay);
  return ts;
}

TDateTime TimeStampToDateTime(const TTimeStamp& ts) {
  ValidateTimeStamp(ts);
  const double days = static_cast<double>(ts.Date - DateDelta);
  const double time = static_cast<double>(ts.Time) / MSecsPerDay;
  return days < 0 ? days - time : days + time;
}

void ValidateTimeStamp(const TTimeStamp& ts) {
  if (ts.Time < 0 || ts.Date <= 0)
    throw EConvertError(Format("'%d.%d' is not a valid timestamp", ts.Date, ts.Time));
}

double TimeStampToMSecs(const TTimeStamp& ts) {
  ValidateTimeStamp(ts);
  return static_cast<double>(ts.Date) * MSecsPerDay + ts.Time;
}

TTimeStamp MSecsToTimeStamp(double msecs) {
  constexpr double kLimit = static_cast<double>(std::numeric_limits<int32_t>::max()) * MSecsPerDay;
  if (!std::isfinite(msecs) || std::fabs(msecs) >= kLimit)
    throw EConvertError(Format("'%s' is not a valid timestamp", FloatToStr(msecs).c_str()));
  const int64_t ms = static_cast<int64_t>(std::nearbyint(msecs));
  TTimeStamp ts;
  ts.Date = static_cast<int32_t>(ms / MSecsPerDay);
  ts.Time = static_cast<int32_t>(ms % MSecsPerDay);
  return ts;
}

int32_t DateTimeToDayNumber(TDateTime dt) {
  return DateTimeToTimeStamp(dt).Date;
}

TDateTime DayNumberToDateTime(int32_t dayNumber) {
  return static_cast<double>(dayNumber) - DateDelta;
}

TDateTime Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  time_t secs = now.tv_sec;
  localtime_r(&secs, &local);
  TDateTime d = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  // tm_sec may be 60 during a leap second; keep the value inside the day.
  int sec = local.tm_sec > 59 ? 59 : local.tm_sec;
  TDateTime t = EncodeTime(local.tm_hour, local.tm_min, sec, static_cast<int>(now.tv_nsec / 1000000));
  return d + t;
}

TDateTime Date() {
  return std::floor(Now());
}

TDateTime Time() {
  TDateTime n = Now();
  return n - std::floor(n);
}

std::string FormatDateTime(const std::string& pattern, TDateTime dt, const TFormatSettings& fs) {
  return DateTimeFormatter(dt, fs).Run(pattern);
}

std::string DateToStr(TDateTime dt, const TFormatSettings& fs) {
  return FormatDateTime("ddddd", dt, fs);
}
std::string TimeToStr(TDateTime dt, const TFormatSettings& fs) {
  return FormatDateTime("tt", dt, fs);
}
std::string DateTimeToStr(TDateTime dt, const TFormatSettings& fs) {
  return FormatDateTime("c", dt, fs);
}

bool TryStrToDate(const std::string& s, TDateTime& out, const TFormatSettings& fs) {
  Scanner sc(s, fs);
  TDateTime v;
  if (!sc.Date(v) || !sc.AtEnd()) return false;
  out = v;
  return true;
}

bool TryStrToTime(const std::string& s, TDateTime& out, const TFormatSettings& fs) {
  Scanner sc(s, fs);
  TDateTime v;
  if (!sc.Time(v) || !sc.AtEnd()) return false;
  out = v;
  return true;
}

bool TryStrToDateTime(const std::string& s, TDateTime& out, const TFormatSettings& fs) {
  Scanner sc(s, fs);
  TDateTime date = 0, time = 0;
  if (sc.Date(date) && (sc.AtEnd() || sc.Time(time))) {
    out = date >= 0 ? date + time : date - time;
    return true;
  }
  return TryStrToTime(s, out, fs);
}

TDateTime StrToDate(const std::string& s, const TFormatSettings& fs) {
  TDateTime v;
  if (!TryStrToDate(s, v, fs)) throw EConvertError(Format("'%s' is not a valid date", s.c_str()));
  return v;
}

TDateTime StrToTime(const std::string& s, const TFormatSettings& fs) {
  TDateTime v;
  if (!TryStrToTime(s, v, fs)) throw EConvertError(Format("'%s' is not a valid time", s.c_str()));
  return v;
}

TDateTime StrToDateTime(const std::string& s, const TFormatSettings& fs) {
  TDateTime v;
  if (!TryStrToDateTime(s, v, fs))
    throw EConvertError(Format("'%s' is not a valid date and time", s.c_str()));
  return v;
}

}  // namespace lanqi
