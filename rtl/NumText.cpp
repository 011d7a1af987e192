#include "rtl/NumText.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

inline bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads [blanks][sign](digits | $hex | 0xhex | xhex)[blanks] as a magnitude and a sign. Decimal
// magnitudes must stay within maxDecimal (for the sign given); hex ones within the bit width
// (hexMax) and are taken as that many bits. Returns false for anything else.
bool ScanInteger(const std::string& s, uint64_t maxPositive, uint64_t hexMax, bool& negative,
                 uint64_t& magnitude, bool& hex) {
  size_t i = 0, n = s.size();
  while (i < n && IsBlank(s[i])) ++i;
  negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  hex = false;
  if (i < n && s[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < n && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    hex = true;
    i += 2;
  } else if (i < n && (s[i] == 'x' || s[i] == 'X')) {
    hex = true;
    ++i;
  }
  const uint64_t limit = hex ? hexMax : maxPositive + (negative ? 1 : 0);
  const unsigned base = hex ? 16 : 10;
  uint64_t v = 0;
  size_t digits = 0;
  for (; i < n; ++i, ++digits) {
    int d = hex ? HexDigit(s[i]) : ((s[i] >= '0' && s[i] <= '9') ? s[i] - '0' : -1);
    if (d < 0) break;
    if (v > (limit - static_cast<uint64_t>(d)) / base) return false;  // out of range
    v = v * base + static_cast<uint64_t>(d);
  }
  if (digits == 0) return false;
  while (i < n && IsBlank(s[i])) ++i;
  if (i != n) return false;
  magnitude = v;
  return true;
}

[[noreturn]] void InvalidInteger(const std::string& s) {
  throw EConvertError(Format("'%s' is not a valid integer value", s.c_str()));
}

}  // namespace

std::string IntToStr(int64_t v) {
  return std::to_string(v);
}

bool TryStrToInt64(const std::string& s, int64_t& out) {
  bool negative = false, hex = false;
  uint64_t m = 0;
  if (!ScanInteger(s, static_cast<uint64_t>(std::numeric_limits<int64_t>::max()),
                   std::numeric_limits<uint64_t>::max(), negative, m, hex))
    return false;
  // Hex texts are bit patterns ($FFFFFFFFFFFFFFFF is -1); decimal ones were range-checked.
  uint64_t bits = negative ? (~m + 1) : m;
  out = static_cast<int64_t>(bits);
  return true;
}

bool TryStrToInt(const std::string& s, int32_t& out) {
  bool negative = false, hex = false;
  uint64_t m = 0;
  if (!ScanInteger(s, static_cast<uint64_t>(std::numeric_limits<int32_t>::max()), 0xFFFFFFFFull, negative, m,
                   hex))
    return false;
  uint32_t bits = static_cast<uint32_t>(m);
  if (negative) bits = ~bits + 1;
  out = static_cast<int32_t>(bits);
  return true;
}

int32_t StrToInt(const std::string& s) {
  int32_t v = 0;
  if (!TryStrToInt(s, v)) InvalidInteger(s);
  return v;
}

int64_t StrToInt64(const std::string& s) {
  int64_t v = 0;
  if (!TryStrToInt64(s, v)) InvalidInteger(s);
  return v;
}

int32_t StrToIntDef(const std::string& s, int32_t def) {
  int32_t v = 0;
  return TryStrToInt(s, v) ? v : def;
}

std::string FloatToStr(double v, const TFormatSettings& fs) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  if (v == 0) return "0";  // -0 too
  // Shortest general form at 15 significant digits, locale independent ("%.15g" in the C locale).
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
  std::string t(buf, r.ptr);
  std::string out;
  out.reserve(t.size());
  size_t e = t.find('e');
  std::string mantissa = t.substr(0, e);
  for (char c : mantissa) out += (c == '.') ? fs.DecimalSeparator : c;
  if (e != std::string::npos) {
    // "e+15" -> "E15", "e-07" -> "E-7".
    out += 'E';
    size_t i = e + 1;
    if (t[i] == '-') out += '-';
    if (t[i] == '+' || t[i] == '-') ++i;
    while (i + 1 < t.size() && t[i] == '0') ++i;
    out.append(t, i, std::string::npos);
  }
  return out;
}

bool TryStrToFloat(const std::string& s, double& out, const TFormatSettings& fs) {
  size_t i = 0, n = s.size();
  while (i < n && IsBlank(s[i])) ++i;
  bool negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  // The number in C form for from_chars: digits, '.', digits, 'e', sign, digits.
  std::string c;
  size_t mantissaDigits = 0;
  int leadingPosition = 0;  // decimal exponent of the first non-zero digit, for overflow/underflow
  bool seenNonZero = false, seenPoint = false;
  int intDigits = 0, fractionZeros = 0;
  for (; i < n; ++i) {
    char ch = s[i];
    if (ch >= '0' && ch <= '9') {
      ++mantissaDigits;
      if (!seenPoint) {
        if (seenNonZero || ch != '0') ++intDigits;
      } else if (!seenNonZero && ch == '0') {
        ++fractionZeros;
      }
      if (ch != '0') seenNonZero = true;
      c += ch;
    } else if (ch == fs.DecimalSeparator && !seenPoint) {
      seenPoint = true;
      c += '.';
    } else {
      break;
    }
  }
  if (mantissaDigits == 0) return false;
  leadingPosition = intDigits > 0 ? intDigits - 1 : -(fractionZeros + 1);
  long long exponent = 0;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    c += 'e';
    ++i;
    bool expNegative = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) expNegative = s[i++] == '-';
    size_t expDigits = 0;
    for (; i < n && s[i] >= '0' && s[i] <= '9'; ++i, ++expDigits)
      if (exponent < 100000) exponent = exponent * 10 + (s[i] - '0');
    if (expDigits == 0) return false;
    if (expNegative) exponent = -exponent;
    c += std::to_string(exponent);
  }
  while (i < n && IsBlank(s[i])) ++i;
  if (i != n) return false;
  double v = 0;
  auto r = std::from_chars(c.data(), c.data() + c.size(), v, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    if (!seenNonZero || leadingPosition + exponent < 0) {
      v = 0;  // underflow: the value is too small for a double
    } else {
      return false;  // overflow
    }
  } else if (r.ec != std::errc() || r.ptr != c.data() + c.size()) {
    return false;
  }
  if (std::isinf(v)) return false;
  out = negative ? -v : v;
  return true;
}

double StrToFloat(const std::string& s, const TFormatSettings& fs) {
  double v = 0;
  if (!TryStrToFloat(s, v, fs))
    throw EConvertError(Format("'%s' is not a valid floating point value", s.c_str()));
  return v;
}

}  // namespace lanqi
