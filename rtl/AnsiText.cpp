#include "rtl/AnsiText.h"

#include <algorithm>
#include <atomic>

namespace lanqi {

namespace {

bool Gbk936LeadByte(uint8_t b) {
  return b >= 0x81 && b <= 0xFE;
}

std::atomic<TLeadByteTest> leadByteTest{&Gbk936LeadByte};

inline uint8_t Upper(uint8_t c) {
  return static_cast<uint8_t>(UpperAscii(static_cast<char>(c)));
}
inline uint8_t Lower(uint8_t c) {
  return static_cast<uint8_t>(LowerAscii(static_cast<char>(c)));
}

template <class F>
std::string MapAscii(std::string_view s, F f) {
  std::string r(s);
  for (size_t i = 0; i < r.size();) {
    size_t n = CharLength(r, i);
    if (n == 1) r[i] = static_cast<char>(f(static_cast<uint8_t>(r[i])));
    i += n;
  }
  return r;
}

}  // namespace

void SetTextLeadByteTest(TLeadByteTest test) {
  leadByteTest.store(test ? test : &Gbk936LeadByte);
}

bool IsTextLeadByte(uint8_t b) {
  return leadByteTest.load(std::memory_order_relaxed)(b);
}

size_t CharLength(std::string_view s, size_t i) {
  return (i + 1 < s.size() && IsTextLeadByte(static_cast<uint8_t>(s[i]))) ? 2 : 1;
}

int CompareTextAscii(std::string_view a, std::string_view b) {
  size_t i = 0;
  const size_t n = std::min(a.size(), b.size());
  // Both texts step together while they agree, so a lead byte in one is a lead byte in the other.
  bool trail = false;
  for (; i < n; ++i) {
    uint8_t x = static_cast<uint8_t>(a[i]), y = static_cast<uint8_t>(b[i]);
    if (!trail) {
      x = Upper(x);
      y = Upper(y);
    }
    if (x != y) return x < y ? -1 : 1;
    trail = !trail && IsTextLeadByte(static_cast<uint8_t>(a[i]));
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareTextAscii(a, b) == 0;
}

int CompareStrBytes(std::string_view a, std::string_view b) {
  int c = a.compare(b);  // char_traits<char>::compare orders as unsigned char
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string UpperCaseAscii(std::string_view s) {
  return MapAscii(s, Upper);
}
std::string LowerCaseAscii(std::string_view s) {
  return MapAscii(s, Lower);
}

bool IsPrintableAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) {
    auto b = static_cast<uint8_t>(c);
    return b >= 0x20 && b <= 0x7E;
  });
}

std::string TrimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlankByte(s[i])) ++i;
  return std::string(s.substr(i));
}

std::string TrimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && IsBlankByte(s[n - 1])) --n;
  return std::string(s.substr(0, n));
}

std::string Trim(std::string_view s) {
  return TrimLeft(TrimRight(s));
}

}  // namespace lanqi
