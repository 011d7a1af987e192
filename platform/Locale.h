// The user's locale formats (decimal separator, short date, time, AM/PM designators) as the one
// process-wide FormatSettings record of the runtime.
#pragma once

#include <string>

#include "rtl/FormatSettings.h"

namespace lanqi {

// Fills FormatSettings() from the user's locale (LC_ALL, LC_NUMERIC / LC_TIME, LANG); called once
// at start. A locale that cannot be loaded leaves the defaults.
void LoadLocaleFormatSettings();

// The record for a named locale ("" is the user's, from the environment), starting from the
// defaults: decimal separator "." and "AM"/"PM" where the locale gives none. Texts are code-page
// bytes. Returns false (and the defaults) when the locale is not installed.
bool LocaleFormatSettings(const std::string& localeName, TFormatSettings& out);

// A strftime pattern (as nl_langinfo gives D_FMT and T_FMT) in the runtime's pattern language of
// FormatDateTime; literal text is quoted, %E/%O modifiers are dropped. The result is UTF-8 as the
// input is; callers convert.
std::string StrftimeToPattern(const std::string& strftimePattern);

}  // namespace lanqi
