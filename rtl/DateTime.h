// Date and time values: TDateTime is days since 1899-12-30 as a double, the fraction the time of
// day. The day number counts from 0001-01-01 = day 1, so 1899-12-30 is day 693594.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/FormatSettings.h"

namespace lanqi {

using TDateTime = double;

constexpr int32_t DateDelta = 693594;  // day number of 1899-12-30
constexpr int32_t MSecsPerDay = 86400000;

// A date-time split into whole days and milliseconds.
struct TTimeStamp {
  int32_t Time = 0;  // milliseconds since midnight
  int32_t Date = 0;  // day number
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& out);
// Raise EConvertError "Invalid argument to date encode" / "Invalid argument to time encode" for an
// impossible date (year 1..9999) or time (0:00:00.000 to 23:59:59.999).
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec);
void DecodeDate(TDateTime dt, int& year, int& month, int& day);
void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec);
// Day of week, 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime dt);

// Rounds to the nearest millisecond; a negative dt gives the day of its integer part and the
// absolute value of its fraction as the time (-1.25 is 1899-12-29 06:00). Raises EConvertError
// "'%s' is not a valid date and time" when dt is not finite or its day does not fit 32 bits.
TTimeStamp DateTimeToTimeStamp(TDateTime dt);
// Both raise EConvertError "'%d.%d' is not a valid timestamp" (day number, milliseconds) when the
// day number is 0 or less or the time negative (an unset date).
void ValidateTimeStamp(const TTimeStamp& ts);
TDateTime TimeStampToDateTime(const TTimeStamp& ts);
// The ftDateTime encoding: day number x 86400000 + milliseconds since midnight. MSecsToTimeStamp
// rounds to whole milliseconds and does not validate (TimeStampToDateTime does); it raises
// "'%s' is not a valid timestamp" only for a value that is not finite or too large.
double TimeStampToMSecs(const TTimeStamp& ts);
TTimeStamp MSecsToTimeStamp(double msecs);
// Day number <-> date-time at midnight.
int32_t DateTimeToDayNumber(TDateTime dt);
TDateTime DayNumberToDateTime(int32_t dayNumber);

// The local clock.
TDateTime Now();
TDateTime Date();  // today at midnight
TDateTime Time();  // the time of day only

// Formats with the pattern language (letters in either case): d dd (day), ddd dddd (day names),
// ddddd (ShortDateFormat), dddddd (LongDateFormat), m mm (month), mmm mmmm (month names), yy yyyy,
// h hh, n nn (minutes; "m" right after h/hh is minutes too), s ss, z zzz (milliseconds), t (short
// time), tt (long time), c (short date, then " " and the long time unless the time is 0:00:00),
// AM/PM and A/P (written in the pattern's case), AMPM (TimeAMString/TimePMString); an hour uses the
// 12-hour clock when a marker came before it or follows it before the next hour. "/" and ":" give
// the locale's separators, "..." and '...' are literal, any other byte (and a two-byte character)
// is copied. An empty pattern is "c". A day number of 0 or less (an unset date) formats as year,
// month and day 0 with no day names.
// The version stamp: FormatDateTime("yyyy-mm-dd-hh-mm-ss", dt) is always 19 characters.
std::string FormatDateTime(const std::string& pattern, TDateTime dt,
                           const TFormatSettings& fs = FormatSettings());
// "ddddd", "tt" and "c".
std::string DateToStr(TDateTime dt, const TFormatSettings& fs = FormatSettings());
std::string TimeToStr(TDateTime dt, const TFormatSettings& fs = FormatSettings());
std::string DateTimeToStr(TDateTime dt, const TFormatSettings& fs = FormatSettings());

// Text to date/time in the locale's short date order and separators. Failures raise EConvertError
// "'%s' is not a valid date", "'%s' is not a valid time", "'%s' is not a valid date and time".
// Date: number, separator, number[, separator, number] (the order of ShortDateFormat's first
// y/m/d; two numbers: the current year; a year of 1 or 2 digits lands in the century window),
// blanks (spaces) allowed around the parts. Time: [marker] hour[:min[:sec[<decimal sep>msec]]]
// [marker], the marker being TimeAMString/TimePMString or "AM"/"PM" in any case (hour 1..12).
// Date and time: a date, then either the end or a time (what follows the time is not examined);
// failing that a time alone. The date's numbers take digits while the value is below 1000.
bool TryStrToDate(const std::string& s, TDateTime& out, const TFormatSettings& fs = FormatSettings());
bool TryStrToTime(const std::string& s, TDateTime& out, const TFormatSettings& fs = FormatSettings());
bool TryStrToDateTime(const std::string& s, TDateTime& out, const TFormatSettings& fs = FormatSettings());
TDateTime StrToDate(const std::string& s, const TFormatSettings& fs = FormatSettings());
TDateTime StrToTime(const std::string& s, const TFormatSettings& fs = FormatSettings());
TDateTime StrToDateTime(const std::string& s, const TFormatSettings& fs = FormatSettings());

}  // namespace lanqi
