#include "platform/Collation.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/ustring.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/CodePage.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

// Order: the locale's tertiary order (case counts); the case-insensitive order is that order on
// case-folded text, so only letter case is ignored while accents and widths still count. Texts
// the collator calls equal are ordered by their (folded) UTF-16 code units, so equal means
// identical and the order is total, which unique indexes need.
struct CollationState {
  std::unique_ptr<icu::Collator> collator;
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
  return state;
}

// The hot path reads a per-thread copy of the shared state; the lock is taken only when it changed.
const icu::Collator& CurrentCollator() {
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
  return *cached->collator;
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

int CompareUnits(const char16_t* a, size_t na, const char16_t* b, size_t nb) {
  size_t n = na < nb ? na : nb;
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return na == nb ? 0 : (na < nb ? -1 : 1);
}

int CollateUnits(const char16_t* a, size_t na, const char16_t* b, size_t nb) {
  UErrorCode err = U_ZERO_ERROR;
  UCollationResult r =
      CurrentCollator().compare(reinterpret_cast<const UChar*>(a), static_cast<int32_t>(na),
                                reinterpret_cast<const UChar*>(b), static_cast<int32_t>(nb), err);
  if (U_FAILURE(err)) throw EConvertError("Texts cannot be compared");
  if (r != UCOL_EQUAL) return r == UCOL_LESS ? -1 : 1;
  return CompareUnits(a, na, b, nb);
}

// ASCII text of an ASCII-compatible page is its own UTF-16, and full case folding of ASCII is
// A-Z to a-z: widen into stack buffers and skip the converter and the folding call.
constexpr size_t kAsciiBuffer = 256;

bool WidenAscii(std::string_view s, bool fold, char16_t* out) {
  for (size_t i = 0; i < s.size(); ++i) {
    auto ch = static_cast<unsigned char>(s[i]);
    if (ch >= 0x80) return false;
    if (fold && ch >= 'A' && ch <= 'Z') ch = static_cast<unsigned char>(ch + ('a' - 'A'));
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
