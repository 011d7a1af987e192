#include "engine/filter/ExprParser.h"

#include <cstring>

#include "engine/filter/FilterDataSource.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

bool IsBlank(char c) {
  auto b = static_cast<unsigned char>(c);
  return b >= 1 && b <= 32;
}

}  // namespace

size_t TSyntaxParserBase::SkipBlanks(size_t pos) {
  while (IsBlank(At(pos))) ++pos;
  if (At(pos) == '/' && At(pos + 1) == '*') {
    pos += 2;
    while (pos < text_.size() && text_[pos] != '*') ++pos;
    if (At(pos) == '*' && At(pos + 1) == '/') {
      pos += 2;
    } else {
      throw EDatabaseError(
          Format("Invalid filter expression character: '%s'", std::string(1, At(pos)).c_str()));
    }
  }
  while (IsBlank(At(pos))) ++pos;
  return pos;
}

void TSyntaxParserBase::NextToken() {
  prevTokenKind_ = tokenKind_;
  token_.clear();
  size_t pos = SkipBlanks(scanPos_);
  tokenStart_ = pos;
  scanPos_ = ReadToken(pos);
}

std::string TSyntaxParserBase::TokenDescription() const {
  if (scanPos_ <= tokenStart_) return "nothing";
  std::string out(1, '\'');
  out.append(text_, tokenStart_, scanPos_ - tokenStart_);
  out += '\'';
  return out;
}

TExprParserBase::TExprParserBase() : nodes_(std::make_unique<TExprNodes>(this)) {}

TExprParserBase::~TExprParserBase() = default;

bool TExprParserBase::IsFunctionName(const std::string&) {
  return false;
}

void TExprParserBase::CheckEnd() {
  if (tokenKind_ != tkEnd) throw EDatabaseError("Filter expression incorrectly terminated");
}

void TExprParserBase::Parse(const std::string& text) {
  nodes_->Clear();
  // The old tree is gone: until this parse succeeds there is nothing to evaluate.
  nodes_->Root = nullptr;
  // A zero byte ends the text.
  text_.assign(text.c_str(), strnlen(text.c_str(), text.size()));
  scanPos_ = 0;
  tokenStart_ = 0;
  tokenKind_ = tkEnd;
  prevTokenKind_ = tkEnd;
  token_.clear();
  NextToken();
  TExprNode* root = ParseExpression();
  CheckEnd();
  nodes_->Root = root;
}

bool TExprParserBase::Evaluate(uint8_t options) {
  options_ = options;
  TExprNode* root = nodes_->Root;
  if (root == nullptr) return false;
  EvaluateNode(root, options);
  return root->Value != nullptr && *static_cast<const uint8_t*>(root->Value) != 0;
}

void TExprParserBase::EvaluateNode(TExprNode* node, uint8_t options) {
  TFilterDataSource* source = DataSource();
  const uint8_t* buffer = source != nullptr ? source->ActiveRecordBuffer() : nullptr;
  EvaluateExprNode(node, options, source, buffer);
}

}  // namespace lanqi
