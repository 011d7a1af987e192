// The locale's number and date formats. One process-wide record: defaults until the platform
// layer reads the user's locale at start (platform/Locale.h); tests pin it.
#pragma once

#include <array>
#include <string>

namespace lanqi {

struct TFormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  char DateSeparator = '/';
  char TimeSeparator = ':';
  // Patterns in the runtime's date-time format language (see rtl/DateTime.h FormatDateTime).
  std::string ShortDateFormat = "m/d/yyyy";
  std::string LongDateFormat = "mmmm d, yyyy";
  std::string ShortTimeFormat = "h:nn AMPM";
  std::string LongTimeFormat = "h:nn:ss AMPM";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  // Names for mmm, mmmm (January first) and ddd, dddd (Sunday first), code-page bytes.
  std::array<std::string, 12> ShortMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> LongMonthNames = {"January",   "February", "March",    "April",
                                                "May",       "June",     "July",     "August",
                                                "September", "October",  "November", "December"};
  std::array<std::string, 7> ShortDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<std::string, 7> LongDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                             "Thursday", "Friday", "Saturday"};
  // A year of one or two digits read from text lands within this many years before the current
  // year and (100 - window) after it.
  int TwoDigitYearCenturyWindow = 50;
};

// The process-wide record (read and written on the user-interface thread).
TFormatSettings& FormatSettings();

}  // namespace lanqi
