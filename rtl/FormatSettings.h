// The locale's number and date formats. One process-wide record: defaults until the platform
// layer reads the user's locale at start (platform/Locale.h); tests pin it.
#pragma once

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
};

// The process-wide record (read and written on the user-interface thread).
TFormatSettings& FormatSettings();

}  // namespace lanqi
