#include "platform/Collation.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/ucol.h>
#include <unicode/uset.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "platform/CodePage.h"
#include "rtl/AnsiText.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

// Weights of ASCII characters for a direct comparison of ASCII texts, used when every character
// of both texts maps to one collation element of its own (no contraction, expansion or ignorable
// character in this locale): then the collator's order is the primary ranks, then the secondary,
// then the tertiary ranks, position by position. Built from the collator itself and checked
// against it before use.
struct AsciiWeights {
  bool enabled = false;
  // Byte to character, folded or not; 0 for a byte without weights of its own (every byte
  // from 0x80, and NUL, which never has them).
  unsigned char plain[256] = {};
  unsigned char folded[256] = {};
  uint16_t primary[128] = {};
  uint16_t secondary[128] = {};
  uint16_t tertiary[128] = {};
};

// Order: the locale's tertiary order (case counts); the case-insensitive order is that order on
// case-folded text, so only letter case is ignored while accents and widths still count. Texts
// the collator calls equal are ordered by their (folded) UTF-16 code units, so equal means
// identical and the order is total, which unique indexes need.
struct CollationState {
  std::unique_ptr<icu::Collator> collator;
  AsciiWeights ascii;
};

std::mutex gMutex;
std::shared_ptr<const CollationState> gState;
std::atomic<unsigned> gGeneration{0};

std::string LocaleFromEnvironment() {
  for (const char* var : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && *v != '\0') return v;
  }
  return "C";
}

icu::Locale IcuLocale(std::string name) {
  size_t cut = name.find_first_of(".@");
  if (cut != std::string::npos) name.resize(cut);
  if (name.empty() || name == "C" || name == "POSIX") return icu::Locale::getRoot();
  return icu::Locale(name.c_str());
}

int CompareUnits(const char16_t* a, size_t na, const char16_t* b, size_t nb) {
  size_t n = na < nb ? na : nb;
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return na == nb ? 0 : (na < nb ? -1 : 1);
}

int Collate(const icu::Collator& c, const char16_t* a, size_t na, const char16_t* b, size_t nb) {
  UErrorCode err = U_ZERO_ERROR;
  UCollationResult r = c.compare(reinterpret_cast<const UChar*>(a), static_cast<int32_t>(na),
                                 reinterpret_cast<const UChar*>(b), static_cast<int32_t>(nb), err);
  if (U_FAILURE(err)) throw EConvertError("Texts cannot be compared");
  if (r != UCOL_EQUAL) return r == UCOL_LESS ? -1 : 1;
  return CompareUnits(a, na, b, nb);
}

inline unsigned char FoldAscii(unsigned char ch, bool fold) {
  return fold ? static_cast<unsigned char>(LowerAscii(static_cast<char>(ch))) : ch;
}

// The ASCII comparison; false when a character that matters has no weights of its own. A common
// prefix of equal characters is equal at every level, so the levels start after it; up to the
// first difference of primary weights only the characters seen so far matter.
bool FastAscii(const AsciiWeights& w, std::string_view a, std::string_view b, bool fold, int& result) {
  const unsigned char* map = fold ? w.folded : w.plain;
  const auto* pa = reinterpret_cast<const unsigned char*>(a.data());
  const auto* pb = reinterpret_cast<const unsigned char*>(b.data());
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  size_t k = 0;
  while (k < n && map[pa[k]] == map[pb[k]] && map[pa[k]] != 0) ++k;
  for (size_t i = k; i < n; ++i) {
    const unsigned char x = map[pa[i]], y = map[pb[i]];
    if (x == 0 || y == 0) return false;
    if (w.primary[x] != w.primary[y]) {
      result = w.primary[x] < w.primary[y] ? -1 : 1;
      return true;
    }
  }
  // Equal primaries so far: every character now takes part.
  for (size_t i = n; i < a.size(); ++i)
    if (map[pa[i]] == 0) return false;
  for (size_t i = n; i < b.size(); ++i)
    if (map[pb[i]] == 0) return false;
  if (a.size() != b.size()) {
    result = a.size() < b.size() ? -1 : 1;
    return true;
  }
  if (k == n) {
    result = 0;
    return true;
  }
  for (const uint16_t* level : {w.secondary, w.tertiary}) {
    for (size_t i = k; i < n; ++i) {
      const uint16_t x = level[map[pa[i]]], y = level[map[pb[i]]];
      if (x != y) {
        result = x < y ? -1 : 1;
        return true;
      }
    }
  }
  result = map[pa[k]] < map[pb[k]] ? -1 : 1;
  return true;
}

struct USetCloser {
  void operator()(USet* s) const { uset_close(s); }
};

// Ranks of a group of characters by one collator: equal characters share a rank.
void Rank(const icu::Collator& c, std::vector<char16_t>& chars, uint16_t* ranks, uint16_t& next) {
  auto cmp = [&c](char16_t x, char16_t y) {
    UErrorCode err = U_ZERO_ERROR;
    return c.compare(reinterpret_cast<const UChar*>(&x), 1, reinterpret_cast<const UChar*>(&y), 1, err) ==
           UCOL_LESS;
  };
  std::stable_sort(chars.begin(), chars.end(), cmp);
  for (size_t i = 0; i < chars.size(); ++i) {
    if (i > 0 && cmp(chars[i - 1], chars[i])) ++next;
    ranks[chars[i]] = next;
  }
  ++next;
}

// Against the collator on texts made to differ in small ways (case, one character, length).
bool AsciiWeightsAgree(const icu::Collator& c, const AsciiWeights& w, const std::vector<char16_t>& chars) {
  std::minstd_rand rng(12345);
  auto pick = [&] { return static_cast<char>(chars[rng() % chars.size()]); };
  for (int round = 0; round < 4000; ++round) {
    std::string a;
    for (size_t len = rng() % 7; a.size() < len;) a += pick();
    std::string b = a;
    switch (rng() % 4) {
      case 0:
        for (size_t len = rng() % 7, i = 0; i < len; ++i) b += pick();
        break;
      case 1:
        if (!b.empty()) b[rng() % b.size()] = pick();
        break;
      case 2:
        for (char& ch : b)
          if (rng() % 2)
            ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch >= 'A' && ch <= 'Z' ? ch + 32 : ch);
        break;
      default:
        b = std::string();
        for (size_t len = rng() % 7; b.size() < len;) b += pick();
    }
    for (bool fold : {false, true}) {
      int fast = 0;
      if (!FastAscii(w, a, b, fold, fast)) return false;
      std::u16string ua, ub;
      for (char ch : a) ua += static_cast<char16_t>(FoldAscii(static_cast<unsigned char>(ch), fold));
      for (char ch : b) ub += static_cast<char16_t>(FoldAscii(static_cast<unsigned char>(ch), fold));
      if (fast != Collate(c, ua.data(), ua.size(), ub.data(), ub.size())) return false;
    }
  }
  return true;
}

void BuildAsciiWeights(const icu::Collator& c, AsciiWeights& w) {
  UErrorCode err = U_ZERO_ERROR;
  if (c.getAttribute(UCOL_ALTERNATE_HANDLING, err) != UCOL_NON_IGNORABLE ||
      c.getAttribute(UCOL_FRENCH_COLLATION, err) != UCOL_OFF ||
      c.getAttribute(UCOL_CASE_LEVEL, err) != UCOL_OFF ||
      c.getAttribute(UCOL_NUMERIC_COLLATION, err) != UCOL_OFF || U_FAILURE(err))
    return;
  std::unique_ptr<USet, USetCloser> contractions(uset_openEmpty()), expansions(uset_openEmpty());
  ucol_getContractionsAndExpansions(c.toUCollator(), contractions.get(), expansions.get(), true, &err);
  if (U_FAILURE(err)) return;
  bool inContraction[128] = {};
  UChar item[64];
  for (int32_t i = 0, count = uset_getItemCount(contractions.get()); i < count; ++i) {
    UChar32 start = 0, end = 0;
    UErrorCode e = U_ZERO_ERROR;
    int32_t len = uset_getItem(contractions.get(), i, &start, &end, item, 64, &e);
    if (U_FAILURE(e)) return;  // a contraction too long to look at: no fast path
    if (len == 0) {
      for (UChar32 cp = start; cp <= end && cp < 128; ++cp) inContraction[cp] = true;
    } else {
      for (int32_t k = 0; k < len; ++k)
        if (item[k] < 128) inContraction[item[k]] = true;
    }
  }
  std::unique_ptr<icu::Collator> primary(c.clone()), secondary(c.clone());
  if (!primary || !secondary) return;
  primary->setStrength(icu::Collator::PRIMARY);
  secondary->setStrength(icu::Collator::SECONDARY);
  std::vector<char16_t> chars;
  for (char16_t ch = 0x09; ch < 0x7F; ++ch) {
    if (ch > 0x0D && ch < 0x20) continue;
    if (inContraction[ch] || uset_contains(expansions.get(), ch)) continue;
    UErrorCode e = U_ZERO_ERROR;
    if (primary->compare(reinterpret_cast<const UChar*>(&ch), 1, reinterpret_cast<const UChar*>(u""), 0, e) ==
        UCOL_EQUAL)
      continue;  // ignorable at the first level
    chars.push_back(ch);
  }
  if (chars.empty()) return;
  uint16_t next = 0;
  Rank(*primary, chars, w.primary, next);
  // Second and third levels only ever compare characters of equal primary weight.
  for (size_t i = 0; i < chars.size();) {
    size_t j = i;
    while (j < chars.size() && w.primary[chars[j]] == w.primary[chars[i]]) ++j;
    std::vector<char16_t> group(chars.begin() + static_cast<std::ptrdiff_t>(i),
                                chars.begin() + static_cast<std::ptrdiff_t>(j));
    uint16_t sNext = 0;
    Rank(*secondary, group, w.secondary, sNext);
    for (size_t k = 0; k < group.size();) {
      size_t m = k;
      while (m < group.size() && w.secondary[group[m]] == w.secondary[group[k]]) ++m;
      std::vector<char16_t> sub(group.begin() + static_cast<std::ptrdiff_t>(k),
                                group.begin() + static_cast<std::ptrdiff_t>(m));
      uint16_t tNext = 0;
      Rank(c, sub, w.tertiary, tNext);
      k = m;
    }
    i = j;
  }
  for (char16_t ch : chars) w.plain[ch] = w.folded[ch] = static_cast<unsigned char>(ch);
  // Folding may only map onto characters that have weights too.
  for (char16_t ch : chars) {
    unsigned char f = FoldAscii(static_cast<unsigned char>(ch), true);
    w.folded[ch] = w.plain[f] != 0 ? f : 0;
  }
  w.enabled = AsciiWeightsAgree(c, w, chars);
}

std::shared_ptr<const CollationState> BuildState(const std::string& localeName) {
  UErrorCode err = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(IcuLocale(localeName), err));
  if (U_FAILURE(err) || !c) {
    err = U_ZERO_ERROR;
    c.reset(icu::Collator::createInstance(icu::Locale::getRoot(), err));
    if (U_FAILURE(err) || !c) throw EConvertError("The string collator cannot be created");
  }
  c->setStrength(icu::Collator::TERTIARY);
  auto state = std::make_shared<CollationState>();
  state->collator = std::move(c);
  BuildAsciiWeights(*state->collator, state->ascii);
  return state;
}

// The hot path reads a per-thread copy of the shared state; the lock is taken only when it changed.
const CollationState& CurrentState() {
  thread_local std::shared_ptr<const CollationState> cached;
  thread_local unsigned cachedGeneration = 0;
  unsigned gen = gGeneration.load(std::memory_order_acquire);
  if (gen == 0 || gen != cachedGeneration || !cached) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gState) {
      gState = BuildState(LocaleFromEnvironment());
      gGeneration.fetch_add(1, std::memory_order_release);
    }
    cached = gState;
    cachedGeneration = gGeneration.load(std::memory_order_acquire);
  }
  return *cached;
}

const icu::Collator& CurrentCollator() {
  return *CurrentState().collator;
}

// The first maxBytes bytes, shortened so that no double-byte character is cut in half.
std::string_view Limit(std::string_view s, int maxBytes) {
  if (maxBytes < 0 || static_cast<size_t>(maxBytes) >= s.size()) return s;
  size_t limit = static_cast<size_t>(maxBytes);
  if (!IsDoubleByteCodePage()) return s.substr(0, limit);
  size_t i = 0;
  while (i < limit) {
    size_t step = IsLeadByte(static_cast<uint8_t>(s[i])) ? 2 : 1;
    if (i + step > limit) break;
    i += step;
  }
  return s.substr(0, i);
}

// Comparison must not fail on stray bytes in stored data: bytes that are not valid code-page text
// decode one by one to distinct lone surrogates, so different bytes stay different.
std::u16string DecodeForCompare(std::string_view ansi) {
  try {
    return AnsiToUtf16(ansi);
  } catch (const EConvertError&) {
  }
  std::u16string out;
  size_t i = 0;
  while (i < ansi.size()) {
    size_t len = (IsLeadByte(static_cast<uint8_t>(ansi[i])) && i + 1 < ansi.size()) ? 2 : 1;
    try {
      out += AnsiToUtf16(ansi.substr(i, len));
      i += len;
      continue;
    } catch (const EConvertError&) {
    }
    out += static_cast<char16_t>(0xDC00 + static_cast<uint8_t>(ansi[i]));
    ++i;
  }
  return out;
}

std::u16string FoldCase(std::u16string_view s) {
  if (s.empty()) return {};
  std::u16string out(s.size() * 3 + 1, u'\0');
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = u_strFoldCase(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                            reinterpret_cast<const UChar*>(s.data()), static_cast<int32_t>(s.size()),
                            U_FOLD_CASE_DEFAULT, &err);
  if (U_FAILURE(err)) throw EConvertError("Text cannot be case-folded");
  out.resize(static_cast<size_t>(n));
  return out;
}

int CollateUnits(const char16_t* a, size_t na, const char16_t* b, size_t nb) {
  return Collate(CurrentCollator(), a, na, b, nb);
}

// ASCII text of an ASCII-compatible page is its own UTF-16, and full case folding of ASCII is
// A-Z to a-z: widen into stack buffers and skip the converter and the folding call.
constexpr size_t kAsciiBuffer = 256;

bool WidenAscii(std::string_view s, bool fold, char16_t* out) {
  for (size_t i = 0; i < s.size(); ++i) {
    auto ch = static_cast<unsigned char>(s[i]);
    if (ch >= 0x80) return false;
    if (fold) ch = static_cast<unsigned char>(LowerAscii(static_cast<char>(ch)));
    out[i] = static_cast<char16_t>(ch);
  }
  return true;
}

bool AsciiIsItself() {
  static thread_local int cachedPage = 0;
  static thread_local bool same = false;
  int page = SystemCodePage();
  if (page != cachedPage) {
    same = true;
    try {
      std::string all;
      for (int i = 1; i < 128; ++i) all += static_cast<char>(i);
      std::u16string wide = AnsiToUtf16(all);
      same = wide.size() == all.size();
      for (size_t i = 0; same && i < all.size(); ++i) same = wide[i] == static_cast<char16_t>(all[i]);
    } catch (const EConvertError&) {
      same = false;
    }
    cachedPage = page;
  }
  return same;
}

void AppendUnitsBigEndian(std::string& key, std::u16string_view s) {
  for (char16_t c : s) {
    key += static_cast<char>(c >> 8);
    key += static_cast<char>(c & 0xFF);
  }
}

}  // namespace

void SetCollationLocale(const std::string& localeName) {
  std::shared_ptr<const CollationState> state = BuildState(localeName);
  std::lock_guard<std::mutex> lock(gMutex);
  gState = std::move(state);
  gGeneration.fetch_add(1, std::memory_order_release);
}

int CompareAnsiText(std::string_view a, std::string_view b, bool ignoreCase, int maxBytes) {
  a = Limit(a, maxBytes);
  b = Limit(b, maxBytes);
  if (a == b) return 0;
  const AsciiWeights& weights = CurrentState().ascii;
  if (weights.enabled && AsciiIsItself()) {
    int r = 0;
    if (FastAscii(weights, a, b, ignoreCase, r)) return r;
  }
  if (a.size() <= kAsciiBuffer && b.size() <= kAsciiBuffer && AsciiIsItself()) {
    char16_t wa[kAsciiBuffer];
    char16_t wb[kAsciiBuffer];
    if (WidenAscii(a, ignoreCase, wa) && WidenAscii(b, ignoreCase, wb))
      return CollateUnits(wa, a.size(), wb, b.size());
  }
  std::u16string ua = DecodeForCompare(a);
  std::u16string ub = DecodeForCompare(b);
  if (ignoreCase) {
    ua = FoldCase(ua);
    ub = FoldCase(ub);
  }
  return CollateUnits(ua.data(), ua.size(), ub.data(), ub.size());
}

int CompareUtf16Text(std::u16string_view a, std::u16string_view b, bool ignoreCase) {
  if (a == b) return 0;
  if (ignoreCase) {
    std::u16string fa = FoldCase(a);
    std::u16string fb = FoldCase(b);
    return CollateUnits(fa.data(), fa.size(), fb.data(), fb.size());
  }
  return CollateUnits(a.data(), a.size(), b.data(), b.size());
}

bool SameTextAnsi(std::string_view a, std::string_view b) {
  return CompareAnsiText(a, b, true) == 0;
}

std::string CollationSortKey(std::string_view ansi, bool ignoreCase) {
  std::u16string u = DecodeForCompare(ansi);
  if (ignoreCase) u = FoldCase(u);
  const icu::Collator& c = CurrentCollator();
  std::string key(u.size() * 4 + 16, '\0');
  for (;;) {
    int32_t n = c.getSortKey(reinterpret_cast<const UChar*>(u.data()), static_cast<int32_t>(u.size()),
                             reinterpret_cast<uint8_t*>(key.data()), static_cast<int32_t>(key.size()));
    if (n <= 0) throw EConvertError("The sort key of a text cannot be built");
    if (static_cast<size_t>(n) <= key.size()) {
      // n counts the terminating zero, which keeps a key that is a prefix of another ordered
      // before it; the code units after it break ties as CompareAnsiText does.
      key.resize(static_cast<size_t>(n));
      break;
    }
    key.resize(static_cast<size_t>(n));
  }
  AppendUnitsBigEndian(key, u);
  return key;
}

}  // namespace lanqi
