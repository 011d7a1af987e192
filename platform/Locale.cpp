#include "platform/Locale.h"

#include <langinfo.h>
#include <locale.h>

#include <cstring>

#include "platform/CodePage.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

bool IsPlainSeparator(char c) {
  return c == ' ' || c == '/' || c == ':' || c == '-' || c == '.' || c == ',';
}

// Appends literal text, quoted where it holds letters or other characters the pattern language
// would read as a directive.
void AppendLiteral(std::string& out, const std::string& literal) {
  size_t i = 0;
  while (i < literal.size()) {
    if (IsPlainSeparator(literal[i])) {
      out += literal[i++];
      continue;
    }
    size_t j = i;
    while (j < literal.size() && !IsPlainSeparator(literal[j])) ++j;
    std::string run = literal.substr(i, j - i);
    if (run.find('"') == std::string::npos) {
      out += '"' + run + '"';
    } else if (run.find('\'') == std::string::npos) {
      out += '\'' + run + '\'';
    } else {
      for (char c : run) out += c == '"' ? std::string("'\"'") : std::string("\"") + c + '"';
    }
    i = j;
  }
}

// The pattern-language text of one strftime conversion; empty for conversions that have none
// (time zone, week numbers ...), which are dropped.
std::string Directive(char f) {
  switch (f) {
    case 'd':
      return "dd";
    case 'e':
      return "d";
    case 'm':
      return "mm";
    case 'y':
      return "yy";
    case 'Y':
    case 'G':
      return "yyyy";
    case 'b':
    case 'h':
      return "mmm";
    case 'B':
      return "mmmm";
    case 'a':
      return "ddd";
    case 'A':
      return "dddd";
    case 'H':
    case 'I':
      return "hh";
    case 'k':
    case 'l':
      return "h";
    case 'M':
      return "nn";
    case 'S':
      return "ss";
    case 'p':
    case 'P':
      return "AMPM";
    default:
      return {};
  }
}

// Replaces the composite conversions by their parts so that the rest sees only simple ones.
std::string Expand(const std::string& p) {
  std::string out;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] != '%' || i + 1 >= p.size()) {
      out += p[i];
      continue;
    }
    char f = p[i + 1];
    const char* e = nullptr;
    switch (f) {
      case 'D':
        e = "%m/%d/%y";
        break;
      case 'F':
        e = "%Y-%m-%d";
        break;
      case 'T':
        e = "%H:%M:%S";
        break;
      case 'R':
        e = "%H:%M";
        break;
      case 'r':
        e = "%I:%M:%S %p";
        break;
      default:
        break;
    }
    if (e != nullptr) {
      out += e;
    } else {
      out += p[i];
      out += f;
    }
    ++i;
  }
  return out;
}

// Skips glibc's flags, width and the E/O modifiers after '%'; returns the conversion letter's index.
size_t ConversionAt(const std::string& p, size_t i) {
  while (i < p.size() && (std::strchr("-_0^#", p[i]) != nullptr || (p[i] >= '0' && p[i] <= '9'))) ++i;
  if (i < p.size() && (p[i] == 'E' || p[i] == 'O')) ++i;
  return i;
}

// The first single-byte punctuation between two conversions: the pattern's separator.
char SeparatorOf(const std::string& p, char fallback) {
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] != '%') continue;
    i = ConversionAt(p, i + 1);
    if (i + 1 < p.size() && p[i + 1] != '%') {
      char c = p[i + 1];
      bool punct = static_cast<unsigned char>(c) < 0x80 && c != ' ' && !(c >= '0' && c <= '9') &&
                   !((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
      if (punct && (i + 2 >= p.size() || p[i + 2] == '%')) return c;
    }
  }
  return fallback;
}

// The time pattern without its seconds: a plain separator before %S goes with it, otherwise the
// unit text after it ("%H时%M分%S秒").
std::string WithoutSeconds(const std::string& p) {
  size_t prevEnd = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] != '%') continue;
    size_t start = i;
    size_t c = ConversionAt(p, i + 1);
    if (c >= p.size()) break;
    if (p[c] == 'S') {
      std::string before = p.substr(prevEnd, start - prevEnd);
      bool plain = !before.empty();
      for (char ch : before) plain = plain && IsPlainSeparator(ch) && ch != ' ';
      size_t cutFrom = plain ? prevEnd : start;
      size_t cutTo = c + 1;
      if (!plain) {
        while (cutTo < p.size() && p[cutTo] != '%' && p[cutTo] != ' ') ++cutTo;
      }
      return p.substr(0, cutFrom) + p.substr(cutTo);
    }
    prevEnd = c + 1;
    i = c;
  }
  return p;
}

struct LocaleHandle {
  locale_t loc = nullptr;
  ~LocaleHandle() {
    if (loc != nullptr) freelocale(loc);
  }
};

// The locale's text in code-page bytes; empty when it cannot be carried.
std::string ToAnsi(const char* text, bool utf8) {
  if (text == nullptr) return {};
  std::string s(text);
  try {
    if (utf8) return Utf8ToAnsi(s);
    for (unsigned char c : s)
      if (c >= 0x80) return {};
    return s;
  } catch (const EConvertError&) {
    return {};
  }
}

}  // namespace

std::string StrftimeToPattern(const std::string& strftimePattern) {
  const std::string p = Expand(strftimePattern);
  std::string out, literal;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] != '%') {
      literal += p[i];
      continue;
    }
    size_t c = ConversionAt(p, i + 1);
    if (c >= p.size()) {
      literal += '%';
      break;
    }
    // glibc's '-' flag: no padding.
    const bool unpadded = p.find('-', i + 1) < c;
    i = c;
    char f = p[c];
    if (f == '%') {
      literal += '%';
    } else if (f == 'n' || f == 't') {
      literal += ' ';
    } else {
      std::string d = Directive(f);
      if (d.empty()) continue;
      if (unpadded && d.size() == 2 && d[0] == d[1]) d.resize(1);
      AppendLiteral(out, literal);
      literal.clear();
      out += d;
    }
  }
  AppendLiteral(out, literal);
  return out;
}

bool LocaleFormatSettings(const std::string& localeName, TFormatSettings& out) {
  out = TFormatSettings();
  LocaleHandle h;
  h.loc = newlocale(LC_ALL_MASK, localeName.c_str(), static_cast<locale_t>(nullptr));
  if (h.loc == nullptr) return false;
  const char* codeset = nl_langinfo_l(CODESET, h.loc);
  const bool utf8 =
      codeset != nullptr && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);

  std::string radix = ToAnsi(nl_langinfo_l(RADIXCHAR, h.loc), utf8);
  if (radix.size() == 1) out.DecimalSeparator = radix[0];
  std::string thousands = ToAnsi(nl_langinfo_l(THOUSEP, h.loc), utf8);
  if (thousands.size() == 1 && thousands[0] != out.DecimalSeparator) out.ThousandSeparator = thousands[0];

  const std::string dateFmt = Expand(nl_langinfo_l(D_FMT, h.loc));
  const std::string timeFmt = Expand(nl_langinfo_l(T_FMT, h.loc));
  if (!dateFmt.empty()) {
    std::string pattern = ToAnsi(StrftimeToPattern(dateFmt).c_str(), true);
    if (!pattern.empty()) out.ShortDateFormat = pattern;
    out.DateSeparator = SeparatorOf(dateFmt, out.DateSeparator);
  }
  if (!timeFmt.empty()) {
    std::string longTime = ToAnsi(StrftimeToPattern(timeFmt).c_str(), true);
    std::string shortTime = ToAnsi(StrftimeToPattern(WithoutSeconds(timeFmt)).c_str(), true);
    if (!longTime.empty()) out.LongTimeFormat = longTime;
    if (!shortTime.empty()) out.ShortTimeFormat = shortTime;
    out.TimeSeparator = SeparatorOf(timeFmt, out.TimeSeparator);
  }
  std::string am = ToAnsi(nl_langinfo_l(AM_STR, h.loc), utf8);
  std::string pm = ToAnsi(nl_langinfo_l(PM_STR, h.loc), utf8);
  if (!am.empty()) out.TimeAMString = am;
  if (!pm.empty()) out.TimePMString = pm;
  return true;
}

void LoadLocaleFormatSettings() {
  TFormatSettings fs;
  if (LocaleFormatSettings("", fs)) FormatSettings() = fs;
}

}  // namespace lanqi
