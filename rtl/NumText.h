// Numbers to text and back.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/FormatSettings.h"

namespace lanqi {

std::string IntToStr(int64_t v);
// Decimal text (leading and trailing blanks allowed, optional sign; "$" or "0x" for hex).
// Failures raise EConvertError "'%s' is not a valid integer value"; out of range likewise. A hex
// text is a bit pattern of the width ("$FFFFFFFF" is -1 for 32 bits); a decimal one must fit.
bool TryStrToInt(const std::string& s, int32_t& out);
int32_t StrToInt(const std::string& s);
bool TryStrToInt64(const std::string& s, int64_t& out);
int64_t StrToInt64(const std::string& s);
int32_t StrToIntDef(const std::string& s, int32_t def);

// General format, 15 significant digits, no trailing zeros, the locale's decimal separator;
// exponent form when the decimal exponent is below -4 or at least 15 (1E15, 1E-5, 1.5E-7;
// 0.0001 and 100000000000000 stay plain). 2048/1024 -> "2",
// 12345/1024 -> "12.0556640625". NaN -> "NAN", infinities -> "INF" / "-INF".
std::string FloatToStr(double v, const TFormatSettings& fs = FormatSettings());
// Accepts the locale's decimal separator, an optional exponent, blanks around.
// Failures raise EConvertError "'%s' is not a valid floating point value".
bool TryStrToFloat(const std::string& s, double& out, const TFormatSettings& fs = FormatSettings());
double StrToFloat(const std::string& s, const TFormatSettings& fs = FormatSettings());

}  // namespace lanqi
