#include "engine/filter/FilterParser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "engine/filter/DateText.h"
#include "engine/values/FilterValues.h"
#include "platform/CodePage.h"
#include "rtl/AnsiText.h"
#include "rtl/DateTime.h"
#include "rtl/Exceptions.h"
#include "rtl/FormatSettings.h"

namespace lanqi {

namespace {

// Deeper nesting or taller trees than these are refused: parsing and evaluation recurse, and a
// hostile text must not run them out of stack.
constexpr int kMaxNesting = 256;
constexpr int32_t kMaxDepth = 2048;

const char* const kFunctionNames[] = {"UPPER",     "LOWER",  "SUBSTRING", "TRIM", "TRIMLEFT",
                                      "TRIMRIGHT", "YEAR",   "MONTH",     "DAY",  "HOUR",
                                      "MINUTE",    "SECOND", "GETDATE"};

bool SameAscii(std::string_view a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - ('a' - 'A'));
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - ('a' - 'A'));
    if (x != y) return false;
  }
  return true;
}

int FunctionNumber(const std::string& name) {
  for (int i = 0; i < 13; ++i)
    if (SameAscii(name, kFunctionNames[i])) return i + 1;
  return 0;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsNameByte(char c) {
  return IsAsciiLetter(c) || IsDigit(c) || c == '_' || c == '.' || c == '[' || c == ']';
}

[[noreturn]] void TypeMismatch() {
  throw EDatabaseError("Type mismatch in expression");
}

// A 32-bit signed decimal integer with an optional minus sign, nothing else.
bool ReadInt32(const std::string& s, int32_t& out) {
  const char* first = s.data();
  const char* last = s.data() + s.size();
  if (first == last) return false;
  auto r = std::from_chars(first, last, out, 10);
  return r.ec == std::errc() && r.ptr == last && !(s[0] == '-' && s.size() == 1);
}

// [-]digits[sep digits][(E|e)[+|-]digits] with at least one mantissa digit, the locale separator
// in place of the point.
bool ReadFloat(const std::string& s, char separator, double& out) {
  std::string t;
  t.reserve(s.size());
  size_t i = 0;
  if (i < s.size() && s[i] == '-') t += s[i++];
  size_t mantissa = 0;
  while (i < s.size() && IsDigit(s[i])) t += s[i++], ++mantissa;
  if (i < s.size() && s[i] == separator) {
    t += '.';
    ++i;
    while (i < s.size() && IsDigit(s[i])) t += s[i++], ++mantissa;
  }
  if (mantissa == 0) return false;
  if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
    t += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) t += s[i++];
    size_t exponent = 0;
    while (i < s.size() && IsDigit(s[i])) t += s[i++], ++exponent;
    if (exponent == 0) return false;
  }
  if (i != s.size()) return false;
  double v = 0;
  auto r = std::from_chars(t.data(), t.data() + t.size(), v);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

int Rank(int t) {
  switch (t) {
    case ftSmallint:
      return 1;
    case ftWord:
      return 2;
    case ftInteger:
    case ftAutoInc:
      return 3;
    case ftLargeint:
      return 4;
    case ftFloat:
      return 5;
    case ftCurrency:
      return 6;
    default:
      return 0;
  }
}

TTypeClass ClassOf(const TExprNode* n) {
  return TypeClass(n->DataType);
}

std::string_view ConstText(const TExprNode* n) {
  const char* p = static_cast<const char*>(n->Value);
  if (p == nullptr) return {};
  return std::string_view(p,
                          n->ValueSize > 0 ? strnlen(p, static_cast<size_t>(n->ValueSize)) : std::strlen(p));
}

// A locale-format date-time as the record encodings: day number and milliseconds of the day.
void SplitLocaleDateTime(TDateTime dt, int64_t& day, int64_t& ms) {
  double whole = std::trunc(dt);
  day = static_cast<int64_t>(whole) + DateDelta;
  ms = static_cast<int64_t>(std::llround(std::fabs(dt - whole) * MSecsPerDay));
  if (ms >= MSecsPerDay) ms = MSecsPerDay - 1;
}

}  // namespace

TFilterParser::TFilterParser(TFilterDataSource* dataset) : dataset_(dataset) {}

double TFilterParser::NowMilliseconds() const {
  return clock_ ? clock_() : LocalNowMilliseconds();
}

int TFilterParser::CurrentYear() const {
  int y, m, d;
  DecodeDayNumber(DateTimeDay(NowMilliseconds()), y, m, d);
  return y;
}

void TFilterParser::Fail(const std::string& message) const {
  throw EDatabaseError(message);
}

void TFilterParser::FailExpected(const char* format) const {
  Fail(Format(format, TokenDescription().c_str()));
}

bool TFilterParser::IsKeyword(const char* word) const {
  return tokenKind_ == tkSymbol && SameAscii(token_, word);
}

// ---- tokens ----

size_t TFilterParser::ReadToken(size_t pos) {
  if (pos >= text_.size()) {
    tokenKind_ = tkEnd;
    return pos;
  }
  char c = text_[pos];
  switch (c) {
    case '\'':
      return ReadString(pos);
    case '(':
      tokenKind_ = tkLParen;
      return pos + 1;
    case ')':
      tokenKind_ = tkRParen;
      return pos + 1;
    case '*':
      tokenKind_ = tkStar;
      return pos + 1;
    case '+':
      tokenKind_ = tkPlus;
      return pos + 1;
    case ',':
      tokenKind_ = tkComma;
      return pos + 1;
    case '/':
      tokenKind_ = tkSlash;
      return pos + 1;
    case '=':
      tokenKind_ = tkEQ;
      return pos + 1;
    case '<':
      if (At(pos + 1) == '=') {
        tokenKind_ = tkLE;
        return pos + 2;
      }
      if (At(pos + 1) == '>') {
        tokenKind_ = tkNE;
        return pos + 2;
      }
      tokenKind_ = tkLT;
      return pos + 1;
    case '>':
      if (At(pos + 1) == '=') {
        tokenKind_ = tkGE;
        return pos + 2;
      }
      tokenKind_ = tkGT;
      return pos + 1;
    case '-':
      if (prevTokenKind_ == tkSymbol || prevTokenKind_ == tkBracketName || prevTokenKind_ == tkNumber ||
          prevTokenKind_ == tkString || prevTokenKind_ == tkRParen) {
        tokenKind_ = tkMinus;
        return pos + 1;
      }
      return ReadNumber(pos);
    case '[':
      return ReadBracketName(pos);
    default:
      break;
  }
  auto b = static_cast<unsigned char>(c);
  if (IsDigit(c)) return ReadNumber(pos);
  if (IsAsciiLetter(c) || c == '_' || (b >= 0x81 && b <= 0xFE)) return ReadName(pos);
  Fail(Format("Invalid filter expression character: '%s'", std::string(1, c).c_str()));
}

size_t TFilterParser::ReadNumber(size_t pos) {
  const char separator = FormatSettings().DecimalSeparator;
  size_t p = pos + 1;
  for (;;) {
    char c = At(p);
    if (c == '\0') break;
    if (IsDigit(c) || c == 'E' || c == 'e' || c == separator) {
      ++p;
    } else if ((c == '+' || c == '-') && (text_[p - 1] == 'E' || text_[p - 1] == 'e')) {
      ++p;
    } else {
      break;
    }
  }
  // "IN (1, 2)" in a locale whose separator is ',' reads as two numbers.
  if (p > pos + 1 && text_[p - 1] == ',' && separator == ',' && At(p) == ' ') --p;
  tokenKind_ = tkNumber;
  token_.assign(text_, pos, p - pos);
  return p;
}

size_t TFilterParser::ReadString(size_t pos) {
  constexpr size_t kMaxConstant = 256;
  size_t p = pos + 1;
  for (;;) {
    if (p >= text_.size()) Fail("Unterminated string constant");
    char c = text_[p];
    if (c == '\'') {
      if (At(p + 1) != '\'') {
        ++p;
        break;
      }
      ++p;  // a doubled quote stands for one
    }
    if (token_.size() < kMaxConstant) token_ += c;
    ++p;
  }
  tokenKind_ = tkString;
  return p;
}

size_t TFilterParser::ReadName(size_t pos) {
  size_t p = pos;
  if (!IsDoubleByteCodePage()) {
    ++p;
    while (IsNameByte(At(p))) ++p;
  } else {
    const bool japanese = SystemCodePage() == 932;
    while (p < text_.size()) {
      auto b = static_cast<unsigned char>(text_[p]);
      if (IsLeadByte(b)) {
        p = std::min(p + 2, text_.size());
      } else if (IsNameByte(text_[p]) || (japanese && b >= 0xA1 && b <= 0xDF) || p == pos) {
        ++p;  // the first byte always belongs to the name, so the scan moves on
      } else {
        break;
      }
    }
  }
  token_.assign(text_, pos, p - pos);
  if (SameAscii(token_, "LIKE"))
    tokenKind_ = tkLike;
  else if (SameAscii(token_, "IN"))
    tokenKind_ = tkIn;
  else
    tokenKind_ = tkSymbol;
  return p;
}

size_t TFilterParser::ReadBracketName(size_t pos) {
  const bool dbcs = IsDoubleByteCodePage();
  size_t p = pos + 1;
  while (p < text_.size() && text_[p] != ']')
    p += (dbcs && IsLeadByte(static_cast<unsigned char>(text_[p]))) ? 2 : 1;
  if (p >= text_.size()) Fail("Unterminated field name");
  token_.assign(text_, pos + 1, p - pos - 1);
  tokenKind_ = tkBracketName;
  return p + 1;
}

// ---- parse ----

void TFilterParser::Parse(const std::string& text) {
  nesting_ = 0;
  TExprParserBase::Parse(text);
}

TExprNode* TFilterParser::Checked(TExprNode* node) {
  if (node->Depth > kMaxDepth) Fail("Filter expression too complex");
  return node;
}

TExprNode* TFilterParser::ParseExpression() {
  if (++nesting_ > kMaxNesting) Fail("Filter expression too complex");
  TExprNode* left = ParseAnd();
  while (IsKeyword("OR")) {
    NextToken();
    TExprNode* right = ParseAnd();
    left = Checked(nodes_->NewNode(nkOperator, ftBoolean, opOR, left, right, 1));
    if (left->Left->DataType != ftBoolean || right->DataType != ftBoolean) TypeMismatch();
  }
  --nesting_;
  return left;
}

TExprNode* TFilterParser::ParseAnd() {
  TExprNode* left = ParseNot();
  while (IsKeyword("AND")) {
    NextToken();
    TExprNode* right = ParseNot();
    left = Checked(nodes_->NewNode(nkOperator, ftBoolean, opAND, left, right, 1));
    if (left->Left->DataType != ftBoolean || right->DataType != ftBoolean) TypeMismatch();
  }
  return left;
}

TExprNode* TFilterParser::ParseNot() {
  if (!IsKeyword("NOT")) return ParseComparison();
  NextToken();
  TExprNode* operand = ParseComparison();
  TExprNode* node = Checked(nodes_->NewNode(nkOperator, ftBoolean, opNOT, operand, nullptr, 1));
  if (operand->DataType != ftBoolean) TypeMismatch();
  return node;
}

TExprNode* TFilterParser::ParseComparison() {
  TExprNode* left = ParseSum();
  TExprOperator op = opNone;
  switch (tokenKind_) {
    case tkEQ:
      op = opEQ;
      break;
    case tkNE:
      op = opNE;
      break;
    case tkGT:
      op = opGT;
      break;
    case tkLT:
      op = opLT;
      break;
    case tkGE:
      op = opGE;
      break;
    case tkLE:
      op = opLE;
      break;
    case tkLike: {
      NextToken();
      TExprNode* right = ParseSum();
      TExprNode* node = Checked(nodes_->NewNode(nkOperator, ftBoolean, opLIKE, left, right, 1));
      if (ClassOf(left) != tcString || ClassOf(right) != tcString) TypeMismatch();
      return node;
    }
    case tkIn:
      return ParseIn(left);
    default:
      return left;
  }
  NextToken();
  TExprNode* right = ParseSum();
  TExprNode* node = Checked(nodes_->NewNode(nkOperator, ftBoolean, op, left, right, 1));
  CheckComparison(node);
  return node;
}

TExprNode* TFilterParser::ParseIn(TExprNode* tested) {
  NextToken();
  if (tokenKind_ != tkLParen) FailExpected("'(' expected but %s found");
  NextToken();
  if (tokenKind_ == tkRParen) Fail("IN predicate list may not be empty");
  TExprNode* node = nodes_->NewNode(nkOperator, ftBoolean, opIN, tested, nullptr, 1);
  node->Args = std::make_unique<std::vector<TExprNode*>>();
  ParseList(node, true);
  CheckIn(node);
  NextToken();
  return node;
}

void TFilterParser::ParseList(TExprNode* node, bool endAfterCommaRaises) {
  for (;;) {
    TExprNode* item = ParseExpression();
    node->Args->push_back(item);
    node->Depth = std::max(node->Depth, item->Depth + 1);
    Checked(node);
    if (tokenKind_ == tkRParen) return;
    if (tokenKind_ != tkComma) FailExpected("')' or ',' expected but %s found");
    NextToken();
    if (tokenKind_ == tkRParen) return;
    if (tokenKind_ == tkEnd) {
      if (endAfterCommaRaises) FailExpected("')' expected but %s found");
      return;
    }
  }
}

TExprNode* TFilterParser::ParseSum() {
  TExprNode* left = ParseProduct();
  while (tokenKind_ == tkPlus || tokenKind_ == tkMinus) {
    TExprOperator op = tokenKind_ == tkPlus ? opADD : opSUB;
    NextToken();
    TExprNode* right = ParseProduct();
    left = Checked(nodes_->NewNode(nkOperator, ftUnknown, op, left, right, 0));
    CheckArithmetic(left);
  }
  return left;
}

TExprNode* TFilterParser::ParseProduct() {
  TExprNode* left = ParsePrimary();
  while (tokenKind_ == tkStar || tokenKind_ == tkSlash) {
    TExprOperator op = tokenKind_ == tkStar ? opMUL : opDIV;
    NextToken();
    TExprNode* right = ParsePrimary();
    left = Checked(nodes_->NewNode(nkOperator, ftUnknown, op, left, right, 0));
    CheckArithmetic(left);
  }
  return left;
}

TExprNode* TFilterParser::ParsePrimary() {
  TExprNode* node = nullptr;
  switch (tokenKind_) {
    case tkSymbol: {
      size_t p = scanPos_;
      while (p < text_.size() && static_cast<unsigned char>(text_[p]) >= 1 &&
             static_cast<unsigned char>(text_[p]) <= 32)
        ++p;
      if (At(p) == '(' && IsFunctionName(token_)) {
        node = ParseFunction();
      } else if (SameAscii(token_, "True") || SameAscii(token_, "False")) {
        node = nodes_->NewNode(nkConst, ftBoolean, opNone, nullptr, nullptr, 1);
        *static_cast<uint8_t*>(node->Value) = SameAscii(token_, "True") ? 1 : 0;
      }
      break;
    }
    case tkBracketName:
      break;
    case tkNumber: {
      int32_t i = 0;
      double d = 0;
      if (ReadInt32(token_, i)) {
        node = nodes_->NewNode(nkConst, ftInteger, opNone, nullptr, nullptr, 4);
        StoreLE32(node->Value, static_cast<uint32_t>(i));
      } else if (ReadFloat(token_, FormatSettings().DecimalSeparator, d)) {
        node = nodes_->NewNode(nkConst, ftFloat, opNone, nullptr, nullptr, 8);
        StoreF64(node->Value, d);
      } else {
        throw EConvertError(Format("'%s' is not a valid floating point value", token_.c_str()));
      }
      break;
    }
    case tkString: {
      node = nodes_->NewNode(nkConst, ftString, opNone, nullptr, nullptr,
                             static_cast<int32_t>(token_.size() + 1));
      std::memcpy(node->Value, token_.data(), token_.size());
      size_t star = token_.find('*');
      node->PartialLength = star == std::string::npos ? -1 : static_cast<int32_t>(star);
      break;
    }
    case tkLParen: {
      NextToken();
      node = ParseExpression();
      if (tokenKind_ != tkRParen) FailExpected("')' expected but %s found");
      break;
    }
    default:
      FailExpected("Expression expected but %s found");
  }
  if (node == nullptr) {
    // A name: a field of the dataset.
    TFilterField field = dataset_->FilterFieldByName(token_);
    node = nodes_->NewFieldNode(token_);
    node->DataType = FieldDataType(token_);
    node->IsBlob = field.IsBlob;
    node->FieldIndex = field.FieldIndex;
    node->FieldSize = field.DataSize;
  }
  NextToken();
  return node;
}

TExprNode* TFilterParser::ParseFunction() {
  TExprNode* node = nodes_->NewFunctionNode(token_);
  node->DataType = FunctionResultType(token_);
  node->FunctionNo = static_cast<uint8_t>(FunctionNumber(token_));
  NextToken();  // the "("
  NextToken();
  if (tokenKind_ != tkRParen) {
    node->Args = std::make_unique<std::vector<TExprNode*>>();
    ParseList(node, false);
  }
  CheckFunction(node);
  return node;
}

// ---- dataset and functions ----

TFieldType TFilterParser::FieldDataType(const std::string& name) {
  return dataset_->FilterFieldByName(name).DataType;
}

Variant TFilterParser::FieldValue(const std::string& name) {
  TFilterField f = dataset_->FilterFieldByName(name);
  if (f.IsBlob) {
    std::string text;
    dataset_->BlobFieldText(f.FieldIndex, text);
    return Variant(std::string(text.c_str()));
  }
  const uint8_t* buffer = dataset_->ActiveRecordBuffer();
  if (buffer == nullptr) return Variant::Null();
  const uint8_t* p = buffer + dataset_->FieldOffset(f.FieldIndex);
  switch (TypeClass(f.DataType)) {
    case tcString: {
      const char* c = reinterpret_cast<const char*>(p);
      return Variant(
          std::string(c, f.DataSize > 0 ? strnlen(c, static_cast<size_t>(f.DataSize)) : std::strlen(c)));
    }
    case tcInteger:
      return Variant(static_cast<int32_t>(LoadInteger(p, f.DataType)));
    case tcLargeint:
      return Variant(LoadInteger(p, f.DataType));
    case tcFloat:
      return Variant(LoadF64(p));
    case tcBoolean:
      return Variant(p[0] != 0);
    case tcTemporal:
      // As the runtime's date-time: days since 1899-12-30, the time of day as the fraction.
      if (f.DataType == ftDate) return Variant::FromDateTime(static_cast<double>(LoadI32(p) - DateDelta));
      if (f.DataType == ftTime) return Variant::FromDateTime(LoadI32(p) / static_cast<double>(MSecsPerDay));
      return Variant::FromDateTime(LoadF64(p) / MSecsPerDay - DateDelta);
    default:
      return Variant::Null();
  }
}

TFieldType TFilterParser::FunctionResultType(const std::string& name) {
  int n = FunctionNumber(name);
  if (n >= fnYear && n <= fnSecond) return ftInteger;
  if (n == fnGetDate) return ftDateTime;
  return ftUnknown;
}

bool TFilterParser::IsFunctionName(const std::string& name) {
  return FunctionNumber(name) != 0;
}

std::vector<int32_t> TFilterParser::FieldIndexes() const {
  std::vector<int32_t> out;
  for (const TExprNode* n = nodes_->Head; n != nullptr; n = n->NextNode)
    if (n->Kind == nkField) out.push_back(n->FieldIndex);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

bool TFilterParser::UsesLike() const {
  for (const TExprNode* n = nodes_->Head; n != nullptr; n = n->NextNode)
    if (n->Kind == nkOperator && n->Operator == opLIKE) return true;
  return false;
}

// ---- type rules ----

bool TFilterParser::IsDateText(TExprNode* node) {
  if (node->Kind != nkConst || ClassOf(node) != tcString) return false;
  std::string text(ConstText(node));
  double ms = 0;
  if (ScanDateTime(text, ms, CurrentYear(), FormatSettings())) return true;
  try {
    TDateTime dt = 0;
    return TryStrToDateTime(text, dt);
  } catch (const Exception&) {
    return false;
  }
}

void TFilterParser::ConvertDateText(TExprNode* node) {
  std::string text = Trim(ConstText(node));
  const TFormatSettings& fs = FormatSettings();
  const int year = CurrentYear();
  TDateTime dt = 0;
  int64_t day = 0;
  int64_t ms = 0;
  if (text.find(' ') != std::string::npos) {
    double value = 0;
    if (!ScanDateTime(text, value, year, fs)) {
      if (!TryStrToDateTime(text, dt, fs))
        throw EConvertError(Format("'%s' is not a valid date and time", text.c_str()));
      SplitLocaleDateTime(dt, day, ms);
      value = static_cast<double>(day) * MSecsPerDay + static_cast<double>(ms);
    }
    node->DataType = ftDateTime;
    node->SetValueSize(8);
    StoreF64(node->Value, value);
  } else if (text.find(':') != std::string::npos) {
    size_t pos = 0;
    int32_t time = 0;
    if (!ScanTime(text, pos, time, fs) || pos != text.size()) {
      if (!TryStrToTime(text, dt, fs)) throw EConvertError(Format("'%s' is not a valid time", text.c_str()));
      SplitLocaleDateTime(dt, day, ms);
      time = static_cast<int32_t>(ms);
    }
    node->DataType = ftTime;
    node->SetValueSize(4);
    StoreLE32(node->Value, static_cast<uint32_t>(time));
  } else {
    size_t pos = 0;
    int32_t date = 0;
    if (!ScanDate(text, pos, date, year) || pos != text.size()) {
      if (!TryStrToDate(text, dt, fs)) throw EConvertError(Format("'%s' is not a valid date", text.c_str()));
      SplitLocaleDateTime(dt, day, ms);
      date = static_cast<int32_t>(day);
    }
    node->DataType = ftDate;
    node->SetValueSize(4);
    StoreLE32(node->Value, static_cast<uint32_t>(date));
  }
  node->PartialLength = -1;
}

void TFilterParser::CheckComparison(TExprNode* node) {
  TExprNode* l = node->Left;
  TExprNode* r = node->Right;
  switch (ClassOf(l)) {
    case tcInteger:
    case tcLargeint:
    case tcFloat:
      if (!IsNumericClass(ClassOf(r))) TypeMismatch();
      return;
    case tcTemporal:
      if (IsDateText(r))
        ConvertDateText(r);
      else if (ClassOf(r) != tcTemporal)
        TypeMismatch();
      return;
    case tcString:
      if (ClassOf(r) == tcTemporal) {
        if (!IsDateText(l)) TypeMismatch();
        ConvertDateText(l);
      } else if (ClassOf(r) != tcString) {
        TypeMismatch();
      }
      return;
    case tcBoolean:
      if (ClassOf(r) != tcBoolean || (node->Operator != opEQ && node->Operator != opNE)) TypeMismatch();
      return;
    default:
      TypeMismatch();
  }
}

void TFilterParser::CheckIn(TExprNode* node) {
  TTypeClass lc = ClassOf(node->Left);
  for (TExprNode* item : *node->Args) {
    switch (lc) {
      case tcInteger:
      case tcLargeint:
      case tcFloat:
        if (!IsNumericClass(ClassOf(item))) TypeMismatch();
        break;
      case tcString:
        if (ClassOf(item) != tcString) TypeMismatch();
        break;
      case tcTemporal:
        if (IsDateText(item)) ConvertDateText(item);
        if (ClassOf(item) != tcTemporal) TypeMismatch();
        break;
      case tcBoolean:
        if (ClassOf(item) != tcBoolean) TypeMismatch();
        break;
      default:
        TypeMismatch();
    }
  }
}

void TFilterParser::CheckArithmetic(TExprNode* node) {
  TExprNode* l = node->Left;
  TExprNode* r = node->Right;
  const uint8_t op = node->Operator;
  TFieldType type = ftUnknown;
  switch (ClassOf(l)) {
    case tcInteger:
    case tcLargeint:
    case tcFloat: {
      if (!IsNumericClass(ClassOf(r))) TypeMismatch();
      type = Rank(r->DataType) > Rank(l->DataType) ? r->DataType : l->DataType;
      if (type == ftSmallint || type == ftWord) type = ftInteger;
      if (op == opDIV) type = ftFloat;
      break;
    }
    case tcTemporal:
      if (op == opSUB) {
        if (IsDateText(r)) ConvertDateText(r);
        const bool numeric = IsNumericClass(ClassOf(r));
        if (l->DataType == ftDate && (r->DataType == ftDate || numeric))
          type = ftInteger;
        else if (l->DataType == ftTime && (r->DataType == ftTime || numeric))
          type = ftInteger;
        else if (ClassOf(r) == tcTemporal || numeric)
          type = ftFloat;
        else
          TypeMismatch();
      } else if (op == opADD && IsNumericClass(ClassOf(r))) {
        type = l->DataType;
      } else {
        TypeMismatch();
      }
      break;
    case tcString:
      if (op == opADD && ClassOf(r) == tcString) {
        node->DataType = ftString;  // sized at each evaluation
        return;
      }
      if (op == opSUB && ClassOf(r) == tcTemporal && IsDateText(l)) {
        ConvertDateText(l);
        type = ftFloat;
        break;
      }
      TypeMismatch();
    default:
      TypeMismatch();
  }
  node->DataType = type;
  node->SetValueSize(ValueSizeOf(type));
}

void TFilterParser::CheckFunction(TExprNode* node) {
  const std::vector<TExprNode*> none;
  const std::vector<TExprNode*>& args = node->Args ? *node->Args : none;
  auto isClass = [&](size_t i, TTypeClass c) { return ClassOf(args[i]) == c; };
  switch (node->FunctionNo) {
    case fnUpper:
    case fnLower:
    case fnTrim:
    case fnTrimLeft:
    case fnTrimRight:
      if (args.size() != 1 || !isClass(0, tcString)) TypeMismatch();
      node->DataType = ftString;
      return;
    case fnSubstring: {
      auto intConst = [&](size_t i) { return args[i]->Kind == nkConst && args[i]->DataType == ftInteger; };
      if (args.size() != 3 || !isClass(0, tcString) || !intConst(1) || !intConst(2)) TypeMismatch();
      node->DataType = ftString;
      return;
    }
    case fnYear:
    case fnMonth:
    case fnDay:
      if (args.size() != 1 || (args[0]->DataType != ftDate && args[0]->DataType != ftDateTime))
        TypeMismatch();
      node->DataType = ftInteger;
      node->SetValueSize(4);
      return;
    case fnHour:
    case fnMinute:
    case fnSecond:
      if (args.size() != 1 || (args[0]->DataType != ftTime && args[0]->DataType != ftDateTime))
        TypeMismatch();
      node->DataType = ftInteger;
      node->SetValueSize(4);
      return;
    case fnGetDate:
      if (!args.empty()) TypeMismatch();
      // Fixed now: the value changes only when the text is parsed again.
      node->Kind = nkConst;
      node->DataType = ftDateTime;
      node->SetValueSize(8);
      StoreF64(node->Value, NowMilliseconds());
      return;
    default:
      TypeMismatch();
  }
}

}  // namespace lanqi
