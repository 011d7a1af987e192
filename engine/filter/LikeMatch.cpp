#include "engine/filter/LikeMatch.h"

#include <cstdint>

#include "platform/CodePage.h"
#include "platform/Collation.h"

namespace lanqi {

namespace {}  // namespace

bool AsciiIsItself() {
  thread_local int page = 0;
  thread_local bool same = false;
  const int current = SystemCodePage();
  if (current != page) {
    std::string all;
    for (int i = 1; i < 128; ++i) all += static_cast<char>(i);
    try {
      std::u16string wide = AnsiToUtf16(all);
      same = wide.size() == all.size();
      for (size_t i = 0; same && i < all.size(); ++i) same = wide[i] == static_cast<char16_t>(all[i]);
    } catch (const std::exception&) {
      same = false;
    }
    page = current;
  }
  return same;
}

bool IsAsciiText(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

namespace {

size_t CharLength(std::u16string_view s, size_t i) {
  if (i + 1 < s.size() && s[i] >= 0xD800 && s[i] <= 0xDBFF && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
    return 2;
  return 1;
}

char16_t FoldAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

bool SameCharacter(std::u16string_view a, std::u16string_view b, bool caseSensitive) {
  if (a == b) return true;
  if (a.size() == 1 && b.size() == 1 && a[0] < 0x80 && b[0] < 0x80)
    return !caseSensitive && FoldAscii(a[0]) == FoldAscii(b[0]);
  return CompareUtf16Text(a, b, !caseSensitive) == 0;
}

}  // namespace

void ToUtf16Into(std::string_view ansi, std::u16string& out) {
  if (IsAsciiText(ansi) && AsciiIsItself()) {
    out.resize(ansi.size());
    for (size_t i = 0; i < ansi.size(); ++i) out[i] = static_cast<char16_t>(ansi[i]);
    return;
  }
  out = AnsiToUtf16(ansi);
}

void NormalizeLikePattern(std::u16string& pattern) {
  std::u16string out;
  out.reserve(pattern.size() + 1);
  size_t i = 0;
  while (i < pattern.size()) {
    if (pattern[i] != u'%') {
      out += pattern[i++];
      continue;
    }
    size_t j = i;
    while (j < pattern.size() && pattern[j] == u'%') ++j;
    if (j - i >= 2 && j == pattern.size())
      out += u"_%";
    else
      out += u'%';
    i = j;
  }
  pattern.swap(out);
}

bool LikeMatch(std::u16string_view subject, std::u16string_view pattern, bool caseSensitive) {
  // Wildcard scan that backtracks only to the last '%': the pieces between wildcards have a fixed
  // length, so taking each at its first fit loses no match.
  const char16_t* S = subject.data();
  const char16_t* P = pattern.data();
  const size_t ns = subject.size();
  const size_t np = pattern.size();
  size_t s = 0;
  size_t p = 0;
  size_t starP = SIZE_MAX;
  size_t starS = 0;
  while (s < ns) {
    if (p < np) {
      const char16_t pc = P[p];
      const char16_t sc = S[s];
      if (pc == u'%') {
        starP = p++;
        starS = s;
        continue;
      }
      if (pc == u'_') {
        s += CharLength(subject, s);
        ++p;
        continue;
      }
      // Most characters are decided here: the same unit outside surrogates, or two ASCII ones.
      const bool surrogate = (sc >= 0xD800 && sc <= 0xDFFF) || (pc >= 0xD800 && pc <= 0xDFFF);
      if (!surrogate && (sc == pc || (sc < 0x80 && pc < 0x80))) {
        if (sc == pc || (!caseSensitive && FoldAscii(sc) == FoldAscii(pc))) {
          ++s;
          ++p;
          continue;
        }
      } else {
        const size_t sl = CharLength(subject, s);
        const size_t pl = CharLength(pattern, p);
        if (SameCharacter(subject.substr(s, sl), pattern.substr(p, pl), caseSensitive)) {
          s += sl;
          p += pl;
          continue;
        }
      }
    }
    if (starP == SIZE_MAX) return false;
    starS += CharLength(subject, starS);
    s = starS;
    p = starP + 1;
  }
  while (p < np && P[p] == u'%') ++p;
  return p == np;
}

bool LikeMatchAscii(std::string_view subject, std::string_view pattern, bool caseSensitive) {
  // The scan of LikeMatch on bytes: ASCII characters are one byte each and equal only when they
  // are the same byte (or the same letter, ignoring case).
  const size_t ns = subject.size();
  const size_t np = pattern.size();
  size_t s = 0;
  size_t p = 0;
  size_t starP = SIZE_MAX;
  size_t starS = 0;
  while (s < ns) {
    if (p < np) {
      const char pc = pattern[p];
      const char sc = subject[s];
      if (pc == '%') {
        starP = p++;
        starS = s;
        continue;
      }
      if (pc == '_' || sc == pc ||
          (!caseSensitive && FoldAscii(static_cast<char16_t>(sc)) == FoldAscii(static_cast<char16_t>(pc)))) {
        ++s;
        ++p;
        continue;
      }
    }
    if (starP == SIZE_MAX) return false;
    s = ++starS;
    p = starP + 1;
  }
  while (p < np && pattern[p] == '%') ++p;
  return p == np;
}

}  // namespace lanqi
