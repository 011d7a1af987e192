// Date and time texts of filter constants ("m/d/y", "h:n:s.z AM") and the calendar of day numbers
// (0001-01-01 is day 1, proleptic Gregorian).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rtl/FormatSettings.h"

namespace lanqi {

// Day number of a date, or 0 when the date is not valid (years 1 to 9999).
int32_t DayNumberOf(int year, int month, int day);
void DecodeDayNumber(int64_t dayNumber, int& year, int& month, int& day);

// Each reads from pos and on success leaves pos after what it read.
// Month/day/year; a year of one or two digits goes into the 50-year window around currentYear.
bool ScanDate(std::string_view s, size_t& pos, int32_t& dayNumber, int currentYear);
// [marker] hour[:min[:sec[<decimal separator>msec]]] [marker], trailing blanks skipped.
bool ScanTime(std::string_view s, size_t& pos, int32_t& milliseconds, const TFormatSettings& fs);
// A date with an optional time, or a time alone reading the whole text; the result in
// milliseconds (day number x 86400000 + time of day).
bool ScanDateTime(std::string_view s, double& milliseconds, int currentYear, const TFormatSettings& fs);

// The local clock as day number x 86400000 + milliseconds since midnight.
double LocalNowMilliseconds();

}  // namespace lanqi
