// Evaluation of a filter tree against one record: a post-order walk with short-circuit AND and
// OR, every node writing its result into its own buffer.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/filter/DateText.h"
#include "engine/filter/ExprParser.h"
#include "engine/filter/FilterDataSource.h"
#include "engine/filter/FilterErrors.h"
#include "engine/filter/LikeMatch.h"
#include "engine/values/FilterValues.h"
#include "platform/CodePage.h"
#include "platform/Collation.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

constexpr uint8_t kCaseInsensitive = 1u << foCaseInsensitive;
constexpr uint8_t kNoPartialCompare = 1u << foNoPartialCompare;

// What field nodes read when the dataset has no record buffer: empty values.
alignas(8) const uint8_t kNoRecord[16] = {};

struct TEvalContext {
  uint8_t options;
  TFilterDataSource* source;
  const uint8_t* buffer;
};

uint8_t FirstByte(const TExprNode* n) {
  return n->Value != nullptr ? *static_cast<const uint8_t*>(n->Value) : 0;
}

void SetBool(TExprNode* n, bool v) {
  if (n->ValueSize < 1) n->SetValueSize(1);
  *static_cast<uint8_t*>(n->Value) = v ? 1 : 0;
}

std::string_view StringOf(const TExprNode* n) {
  const char* p = static_cast<const char*>(n->Value);
  if (p == nullptr) return {};
  if (n->Kind == nkField) {
    if (n->IsBlob)
      return std::string_view(n->BlobText.data(), strnlen(n->BlobText.data(), n->BlobText.size()));
    if (n->FieldSize > 0) return std::string_view(p, strnlen(p, static_cast<size_t>(n->FieldSize)));
    return std::string_view(p);
  }
  if (n->ValueSize > 0) return std::string_view(p, strnlen(p, static_cast<size_t>(n->ValueSize)));
  return std::string_view(p);
}

// Puts text into the node's own buffer with its zero byte, sized text + 1.
void SetStringResult(TExprNode* n, std::string_view text) {
  n->SetValueSize(static_cast<int32_t>(text.size() + 1));
  char* out = static_cast<char*>(n->Value);
  if (!text.empty()) std::memmove(out, text.data(), text.size());
  out[text.size()] = '\0';
}

TCompareResult CompareNodes(const TExprNode* l, const TExprNode* r, uint8_t options, bool equalityOnly) {
  if (TypeClass(l->DataType) == tcString && TypeClass(r->DataType) == tcString) {
    const int32_t n = (options & kNoPartialCompare) ? -1 : r->PartialLength;
    const bool ci = (options & kCaseInsensitive) != 0;
    std::string_view a = StringOf(l);
    std::string_view b = StringOf(r);
    if (FilterStringsEqual(a, b, n, ci)) return cmpEqual;
    if (equalityOnly) return cmpLess;  // only "not equal" matters to the caller
    return CompareFilterStrings(a, b, n, ci) < 0 ? cmpLess : cmpGreater;
  }
  if (l->Value == nullptr || r->Value == nullptr) return cmpUndefined;
  return CompareNonString(l->DataType, l->Value, r->DataType, r->Value);
}

// opNE, opGE and opLE are the flipped opEQ, opLT and opGT; a pair no rule compares is false for
// every operator.
bool Holds(TCompareResult c, uint8_t op) {
  if (c == cmpUndefined) return false;
  switch (op) {
    case opEQ:
      return c == cmpEqual;
    case opNE:
      return c != cmpEqual;
    case opGT:
      return c == cmpGreater;
    case opLE:
      return c != cmpGreater;
    case opLT:
      return c == cmpLess;
    case opGE:
      return c != cmpLess;
    default:
      return false;
  }
}

// The numeric operand of temporal arithmetic: a large integer gives its low 32 bits, a float is
// truncated toward zero (held within 32 bits).
int32_t DayOrMsCount(const TExprNode* r) {
  switch (TypeClass(r->DataType)) {
    case tcLargeint:
      return static_cast<int32_t>(static_cast<uint32_t>(LoadInteger(r->Value, r->DataType)));
    case tcFloat: {
      double d = std::trunc(LoadF64(r->Value));
      if (std::isnan(d)) return 0;
      return static_cast<int32_t>(std::clamp(d, -2147483648.0, 2147483647.0));
    }
    default:
      return static_cast<int32_t>(LoadInteger(r->Value, r->DataType));
  }
}

double FloatOperation(uint8_t op, double a, double b) {
  double v;
  switch (op) {
    case opADD:
      v = a + b;
      break;
    case opSUB:
      v = a - b;
      break;
    case opMUL:
      v = a * b;
      break;
    default:
      if (b == 0) {
        if (a == 0) throw EInvalidOp();
        if (!std::isnan(a)) throw EZeroDivide();
      }
      v = a / b;
      break;
  }
  if (std::isinf(v) && std::isfinite(a) && std::isfinite(b)) throw EOverflow();
  if (std::isnan(v) && !std::isnan(a) && !std::isnan(b)) throw EInvalidOp();
  return v;
}

void StoreTemporalResult(TExprNode* n, int64_t whole, double real, bool isReal) {
  if (n->DataType == ftInteger || n->DataType == ftDate || n->DataType == ftTime) {
    StoreLE32(n->Value, static_cast<uint32_t>(isReal ? static_cast<int64_t>(real) : whole));
  } else {
    StoreF64(n->Value, isReal ? real : static_cast<double>(whole));
  }
}

void TemporalArithmetic(TExprNode* n) {
  const TExprNode* l = n->Left;
  const TExprNode* r = n->Right;
  const int lt = l->DataType;
  const int rt = r->DataType;
  if (IsNumericClass(TypeClass(rt))) {
    const int64_t k = DayOrMsCount(r);
    const int64_t sign = n->Operator == opADD ? 1 : -1;
    if (lt == ftDateTime) {
      StoreTemporalResult(n, 0, LoadF64(l->Value) + static_cast<double>(sign * k) * MSecsPerDay, true);
    } else {
      // Day numbers and milliseconds wrap as the 32-bit integers they are.
      StoreTemporalResult(
          n, static_cast<int32_t>(static_cast<uint32_t>(LoadI32(l->Value)) + static_cast<uint32_t>(sign * k)),
          0, false);
    }
    return;
  }
  // Temporal minus temporal. Date-time minus date or time takes the right's stored number; the
  // other mixed pairs have no meaning and give 0.
  if (lt == ftDateTime && rt == ftDateTime) {
    StoreTemporalResult(n, 0, LoadF64(l->Value) - LoadF64(r->Value), true);
  } else if (lt == ftDateTime) {
    StoreTemporalResult(n, 0, LoadF64(l->Value) - static_cast<double>(LoadI32(r->Value)), true);
  } else if (lt == rt) {
    const int64_t d = static_cast<int64_t>(LoadI32(l->Value)) - LoadI32(r->Value);
    if (n->DataType == ftInteger)
      StoreTemporalResult(n, static_cast<int32_t>(static_cast<uint32_t>(d)), 0, false);
    else
      StoreTemporalResult(n, d, 0, false);
  } else {
    StoreTemporalResult(n, 0, 0, false);
  }
}

void Arithmetic(TExprNode* n) {
  const TExprNode* l = n->Left;
  const TExprNode* r = n->Right;
  if (TypeClass(n->DataType) == tcString) {
    std::string_view a = StringOf(l);
    std::string_view b = StringOf(r);
    n->SetValueSize(static_cast<int32_t>(a.size() + b.size() + 1));
    char* out = static_cast<char*>(n->Value);
    std::memcpy(out, a.data(), a.size());
    std::memcpy(out + a.size(), b.data(), b.size());
    out[a.size() + b.size()] = '\0';
    return;
  }
  if (!IsNumericClass(TypeClass(l->DataType)) || !IsNumericClass(TypeClass(r->DataType))) {
    TemporalArithmetic(n);
    return;
  }
  const uint8_t op = n->Operator;
  switch (n->DataType) {
    case ftInteger:
    case ftAutoInc: {
      // Wrap-around arithmetic in 32 bits.
      const auto a = static_cast<uint32_t>(LoadInteger(l->Value, l->DataType));
      const auto b = static_cast<uint32_t>(LoadInteger(r->Value, r->DataType));
      StoreLE32(n->Value, op == opADD ? a + b : op == opSUB ? a - b : a * b);
      return;
    }
    case ftLargeint: {
      const auto a = static_cast<uint64_t>(LoadInteger(l->Value, l->DataType));
      const auto b = static_cast<uint64_t>(LoadInteger(r->Value, r->DataType));
      StoreLE64(n->Value, op == opADD ? a + b : op == opSUB ? a - b : a * b);
      return;
    }
    default:
      StoreF64(n->Value,
               FloatOperation(op, LoadNumber(l->Value, l->DataType), LoadNumber(r->Value, r->DataType)));
      return;
  }
}

bool IsTrimmed(char c) {
  auto b = static_cast<unsigned char>(c);
  return b >= 1 && b <= 32;
}

// Day number and time of day of a date or date-time argument; an unset date (day 0 or less) is
// refused as the runtime's timestamp check does.
void SplitTemporal(const TExprNode* a, int64_t& day, int64_t& ms) {
  if (a->DataType == ftDate) {
    day = LoadI32(a->Value);
    ms = 0;
  } else if (a->DataType == ftTime) {
    day = 1;
    ms = LoadI32(a->Value) % MSecsPerDay;
    if (ms < 0) ms += MSecsPerDay;
    return;
  } else {
    const int64_t total = RoundedMilliseconds(LoadF64(a->Value));
    day = total / MSecsPerDay;
    ms = total % MSecsPerDay;
  }
  if (day <= 0)
    throw EConvertError(Format("'%lld.%lld' is not a valid timestamp", static_cast<long long>(day),
                               static_cast<long long>(ms)));
}

void EvaluateFunction(TExprNode* n) {
  static const std::vector<TExprNode*> kNone;
  const std::vector<TExprNode*>& args = n->Args ? *n->Args : kNone;
  if (args.empty()) return;  // GETDATE was folded into a constant
  const TExprNode* a = args[0];
  switch (n->FunctionNo) {
    case fnUpper:
    case fnLower: {
      std::string_view s = StringOf(a);
      n->SetValueSize(static_cast<int32_t>(s.size() + 1));
      char* out = static_cast<char*>(n->Value);
      const bool upper = n->FunctionNo == fnUpper;
      const bool dbcs = IsDoubleByteCodePage();
      for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        // A double-byte character is copied whole: its second byte may lie in a-z.
        if (dbcs && i + 1 < s.size() && IsLeadByte(static_cast<uint8_t>(c))) {
          out[i] = c;
          out[i + 1] = s[i + 1];
          ++i;
          continue;
        }
        if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
        if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
        out[i] = c;
      }
      out[s.size()] = '\0';
      return;
    }
    case fnSubstring: {
      std::string_view s = StringOf(a);
      const int64_t start = std::max<int64_t>(LoadI32(args[1]->Value), 1);
      const int64_t length = std::max<int64_t>(LoadI32(args[2]->Value), 0);
      const auto from = static_cast<size_t>(start - 1);
      size_t take = from >= s.size() ? 0 : std::min(static_cast<size_t>(length), s.size() - from);
      SetStringResult(n, take == 0 ? std::string_view() : s.substr(from, take));
      return;
    }
    case fnTrim:
    case fnTrimLeft:
    case fnTrimRight: {
      std::string_view s = StringOf(a);
      size_t b = 0;
      size_t e = s.size();
      if (n->FunctionNo != fnTrimRight)
        while (b < e && IsTrimmed(s[b])) ++b;
      if (n->FunctionNo != fnTrimLeft)
        while (e > b && IsTrimmed(s[e - 1])) --e;
      n->SetValueSize(static_cast<int32_t>(s.size() + 1));
      char* out = static_cast<char*>(n->Value);
      std::memmove(out, s.data() + b, e - b);
      out[e - b] = '\0';
      return;
    }
    case fnYear:
    case fnMonth:
    case fnDay:
    case fnHour:
    case fnMinute:
    case fnSecond: {
      int64_t day = 0;
      int64_t ms = 0;
      SplitTemporal(a, day, ms);
      int32_t v = 0;
      if (n->FunctionNo <= fnDay) {
        int y, m, d;
        DecodeDayNumber(day, y, m, d);
        v = n->FunctionNo == fnYear ? y : n->FunctionNo == fnMonth ? m : d;
      } else if (n->FunctionNo == fnHour) {
        v = static_cast<int32_t>(ms / 3600000);
      } else if (n->FunctionNo == fnMinute) {
        v = static_cast<int32_t>(ms / 60000 % 60);
      } else {
        v = static_cast<int32_t>(ms / 1000 % 60);
      }
      StoreLE32(n->Value, static_cast<uint32_t>(v));
      return;
    }
    default:
      return;
  }
}

void EvaluateLike(TExprNode* n, uint8_t options) {
  const bool caseSensitive = (options & kCaseInsensitive) == 0;
  std::string_view subject = StringOf(n->Left);
  if (!n->LikePatternReady) {
    std::string_view pattern = StringOf(n->Right);
    ToUtf16Into(pattern, n->LikePattern);
    NormalizeLikePattern(n->LikePattern);
    // An ASCII pattern also keeps a byte form, for subjects that are ASCII too.
    n->LikePatternAscii.clear();
    n->LikePatternIsAscii = IsAsciiText(pattern) && AsciiIsItself();
    if (n->LikePatternIsAscii) n->LikePatternAscii.assign(n->LikePattern.begin(), n->LikePattern.end());
    // A constant pattern is prepared once per parse.
    n->LikePatternReady = n->Right->Kind == nkConst;
  }
  if (n->LikePatternIsAscii && IsAsciiText(subject)) {
    SetBool(n, LikeMatchAscii(subject, n->LikePatternAscii, caseSensitive));
    return;
  }
  ToUtf16Into(subject, n->LikeSubject);
  SetBool(n, LikeMatch(n->LikeSubject, n->LikePattern, caseSensitive));
}

void EvaluateField(TExprNode* n, const TEvalContext& c) {
  if (n->IsBlob) {
    if (c.source != nullptr)
      c.source->BlobFieldText(n->FieldIndex, n->BlobText);
    else
      n->BlobText.clear();
    n->Value = n->BlobText.data();
    return;
  }
  if (c.source == nullptr || c.buffer == nullptr) {
    n->Value = const_cast<uint8_t*>(kNoRecord);
    return;
  }
  if (n->FieldOffset < 0) n->FieldOffset = c.source->FieldOffset(n->FieldIndex);
  // The buffer is asked for at every evaluation, so a record buffer the dataset replaced is never
  // read through a stale address.
  n->Value = const_cast<uint8_t*>(c.buffer + n->FieldOffset);
}

void Evaluate(TExprNode* n, const TEvalContext& c) {
  switch (n->Kind) {
    case nkConst:
      return;
    case nkField:
      EvaluateField(n, c);
      return;
    case nkFunction:
      if (n->Args)
        for (TExprNode* a : *n->Args) Evaluate(a, c);
      EvaluateFunction(n);
      return;
    default:
      break;
  }
  TExprNode* l = n->Left;
  TExprNode* r = n->Right;
  switch (n->Operator) {
    case opAND:
      Evaluate(l, c);
      if (FirstByte(l) != 0) {
        Evaluate(r, c);
        SetBool(n, FirstByte(r) != 0);
      } else {
        SetBool(n, false);
      }
      return;
    case opOR:
      Evaluate(l, c);
      if (FirstByte(l) != 0) {
        SetBool(n, true);
      } else {
        Evaluate(r, c);
        SetBool(n, FirstByte(r) != 0);
      }
      return;
    case opNOT:
      Evaluate(l, c);
      SetBool(n, FirstByte(l) == 0);
      return;
    case opIN: {
      Evaluate(l, c);
      for (TExprNode* item : *n->Args) Evaluate(item, c);
      bool found = false;
      for (TExprNode* item : *n->Args)
        if (Holds(CompareNodes(l, item, c.options, true), opEQ)) {
          found = true;
          break;
        }
      SetBool(n, found);
      return;
    }
    case opLIKE:
      Evaluate(l, c);
      Evaluate(r, c);
      EvaluateLike(n, c.options);
      return;
    case opEQ:
    case opNE:
    case opGT:
    case opLT:
    case opGE:
    case opLE:
      Evaluate(l, c);
      Evaluate(r, c);
      SetBool(n,
              Holds(CompareNodes(l, r, c.options, n->Operator == opEQ || n->Operator == opNE), n->Operator));
      return;
    case opADD:
    case opSUB:
    case opMUL:
    case opDIV:
      Evaluate(l, c);
      Evaluate(r, c);
      Arithmetic(n);
      return;
    default:
      return;
  }
}

}  // namespace

void EvaluateExprNode(TExprNode* node, uint8_t options, TFilterDataSource* source, const uint8_t* buffer) {
  if (node == nullptr) return;
  Evaluate(node, TEvalContext{options, source, buffer});
}

}  // namespace lanqi
