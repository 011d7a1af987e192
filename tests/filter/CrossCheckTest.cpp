// The shortcuts of the evaluator against the rules they stand for: CompareValues against a tree of
// two constants, the wildcard scan of LIKE against the rule's recursion, and evaluation without
// allocation for numeric and Boolean work.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "engine/filter/ExprNodes.h"
#include "engine/filter/ExprParser.h"
#include "engine/filter/LikeMatch.h"
#include "engine/values/CompareValues.h"
#include "engine/values/FilterValues.h"
#include "tests/filter/FilterFixture.h"

#if defined(__SANITIZE_ADDRESS__)
#define LANQI_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LANQI_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef LANQI_COUNT_ALLOCATIONS
#define LANQI_COUNT_ALLOCATIONS 1
#endif

namespace {
std::atomic<bool> gCountAllocations{false};
std::atomic<long> gAllocations{0};
}  // namespace

#if LANQI_COUNT_ALLOCATIONS
// Counts heap allocations while a test asks for it (not under the address sanitizer, which has
// allocators of its own). The compiler cannot see that these replacements pair malloc with free.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
  if (gCountAllocations.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
#endif

namespace lanqi {
namespace {

// CompareValues as the rule builds it: two constant nodes over the values, an operator node
// evaluated as opEQ, then as opLT.
int CompareByNodes(const void* key, const void* record, TFieldType type, bool partial, bool caseInsensitive) {
  TExprNodes pool(nullptr);
  TExprNode* a = pool.NewNode(nkConst, type, opNone, nullptr, nullptr, 0);
  TExprNode* b = pool.NewNode(nkConst, type, opNone, nullptr, nullptr, 0);
  a->Value = const_cast<void*>(key);
  b->Value = const_cast<void*>(record);
  if (partial && IsStringType(type)) {
    a->PartialLength = static_cast<int32_t>(std::strlen(static_cast<const char*>(key)));
    b->PartialLength = a->PartialLength;
  }
  TExprNode* op = pool.NewNode(nkOperator, ftBoolean, opEQ, a, b, 1);
  uint8_t options = 0;
  if (!partial) options |= 1u << foNoPartialCompare;
  if (caseInsensitive) options |= 1u << foCaseInsensitive;
  EvaluateExprNode(op, options, nullptr, nullptr);
  if (*static_cast<uint8_t*>(op->Value) != 0) return 0;
  op->Operator = opLT;
  EvaluateExprNode(op, options, nullptr, nullptr);
  return *static_cast<uint8_t*>(op->Value) != 0 ? -1 : 1;
}

TEST(FilterCrossCheckTest, CompareValuesAgreesWithTheNodeEvaluation) {
  std::mt19937 rng(7);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* texts[] = {"",  "a", "A",   "ab",  "abd",      "AB",
                         "b", "B", "a b", "ab*", "\xB4\xE6", "\xB4\xE6\xB4\xA2"};
  const TFieldType types[] = {ftString,   ftFixedChar, ftMemo,     ftSmallint, ftInteger, ftWord, ftAutoInc,
                              ftLargeint, ftFloat,     ftCurrency, ftBoolean,  ftDate,    ftTime, ftDateTime};
  for (int round = 0; round < 4000; ++round) {
    const TFieldType type = types[pick(std::size(types))];
    const bool partial = pick(2) == 1;
    const bool ci = pick(2) == 1;
    uint8_t key[32] = {};
    uint8_t record[32] = {};
    if (TypeClass(type) == tcString) {
      std::strcpy(reinterpret_cast<char*>(key), texts[pick(std::size(texts))]);
      std::strcpy(reinterpret_cast<char*>(record), texts[pick(std::size(texts))]);
    } else if (type == ftFloat || type == ftCurrency || type == ftDateTime) {
      // Near values, so that the 1000 ms tolerance is crossed both ways.
      const double base = 63000000000000.0;
      StoreF64(key, base + pick(5000) - 2500 + pick(2) * 0.5);
      StoreF64(record, base + pick(5000) - 2500);
    } else {
      for (int i = 0; i < 8; ++i) {
        key[i] = static_cast<uint8_t>(pick(3) == 0 ? 0 : rng());
        record[i] = pick(2) == 0 ? key[i] : static_cast<uint8_t>(rng());
      }
      if (type == ftTime) {
        StoreLE32(key, static_cast<uint32_t>(40000000 + pick(4000)));
        StoreLE32(record, static_cast<uint32_t>(40000000 + pick(4000)));
      }
    }
    const int direct = CompareValues(key, sizeof key, record, sizeof record, type, partial, ci);
    const int byNodes = CompareByNodes(key, record, type, partial, ci);
    ASSERT_EQ(direct, byNodes) << "type " << int(type) << " partial " << partial << " ci " << ci;
  }
}

// The LIKE rule word for word: % at the end matches the rest, % elsewhere tries every position
// but the empty rest, _ takes one character.
bool LikeByRule(std::u16string_view s, std::u16string_view p, bool caseSensitive) {
  for (;;) {
    if (p == u"%") return true;
    if (s.empty()) return p.empty();
    if (p.empty()) return false;
    if (p[0] == u'%') {
      for (size_t i = 0; i < s.size(); ++i)
        if (LikeByRule(s.substr(i), p.substr(1), caseSensitive)) return true;
      return false;
    }
    if (p[0] != u'_') {
      char16_t a = s[0], b = p[0];
      if (!caseSensitive) {
        if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a + 32);
        if (b >= u'A' && b <= u'Z') b = static_cast<char16_t>(b + 32);
      }
      if (a != b) return false;
    }
    s.remove_prefix(1);
    p.remove_prefix(1);
  }
}

TEST(FilterCrossCheckTest, WildcardScanGivesTheAnswersOfTheLikeRule) {
  std::mt19937 rng(11);
  const char16_t subjectChars[] = u"abA";
  const char16_t patternChars[] = u"abA%_";
  for (int round = 0; round < 20000; ++round) {
    std::u16string s, p;
    for (int i = static_cast<int>(rng() % 7); i > 0; --i) s += subjectChars[rng() % 3];
    for (int i = static_cast<int>(rng() % 7); i > 0; --i) p += patternChars[rng() % 5];
    const bool caseSensitive = rng() % 2 == 0;
    std::u16string normal = p;
    NormalizeLikePattern(normal);
    const bool expected = LikeByRule(s, p, caseSensitive);
    ASSERT_EQ(LikeMatch(s, normal, caseSensitive), expected)
        << std::string(s.begin(), s.end()) << " LIKE " << std::string(p.begin(), p.end()) << " cs "
        << caseSensitive;
    ASSERT_EQ(LikeMatchAscii(std::string(s.begin(), s.end()), std::string(normal.begin(), normal.end()),
                             caseSensitive),
              expected)
        << std::string(s.begin(), s.end()) << " LIKE " << std::string(p.begin(), p.end()) << " (bytes)";
  }
}

TEST(FilterCrossCheckTest, LikeWithManyWildcardsOnALongSubjectStaysLinear) {
  // The plain recursion takes exponential time here.
  std::u16string subject(5000, u'a');
  std::u16string pattern;
  for (int i = 0; i < 60; ++i) pattern += u"%a";
  pattern += u"%b";
  NormalizeLikePattern(pattern);
  EXPECT_FALSE(LikeMatch(subject, pattern, true));
}

TEST(FilterCrossCheckTest, NumericAndBooleanEvaluationAllocatesNothing) {
  if (!LANQI_COUNT_ALLOCATIONS) GTEST_SKIP() << "allocations are not counted under the address sanitizer";
  TFilterHarness h;
  h.Parser.Parse(
      "Age > 3 AND Price < 2.5 OR NOT Active = True AND (x + 1) * 2 IN (2, 4, 6) OR Big - Small > W / 2 "
      "OR HireDate = Stamp OR YEAR(HireDate) = 2003 OR T + 5 = '10:00'");
  h.Record.Set("HireDate", Day(2003, 1, 1));
  h.Parser.Evaluate(TFilterOptions{});
  gAllocations = 0;
  gCountAllocations = true;
  for (int i = 0; i < 1000; ++i) {
    h.Record.Set("Age", i % 7);
    h.Record.Set("x", i % 3);
    h.Parser.Evaluate(TFilterOptions{});
  }
  gCountAllocations = false;
  EXPECT_EQ(gAllocations.load(), 0);
}

}  // namespace
}  // namespace lanqi
