// The parser bases: scanning of the expression text, the node pool, parse and evaluation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/FieldTypes.h"
#include "engine/filter/ExprNodes.h"
#include "rtl/Variant.h"

namespace lanqi {

class TFilterDataSource;

enum TTokenKind : uint8_t {
  tkEnd = 0,
  tkSymbol = 1,
  tkBracketName = 2,
  tkNumber = 3,
  tkString = 4,
  tkLParen = 5,
  tkRParen = 6,
  tkEQ = 7,
  tkNE = 8,
  tkGE = 9,
  tkLE = 10,
  tkGT = 11,
  tkLT = 12,
  tkPlus = 13,
  tkMinus = 14,
  tkStar = 15,
  tkSlash = 16,
  tkComma = 17,
  tkLike = 19,
  tkIn = 22,
};

class TSyntaxParserBase {
 public:
  virtual ~TSyntaxParserBase() = default;

  // Skips bytes 1 to 32 and at most one comment; returns the position after them.
  virtual size_t SkipBlanks(size_t pos);
  // Reads the token starting at pos; returns the position just past it.
  virtual size_t ReadToken(size_t pos) = 0;

  void NextToken();

  const std::string& Text() const { return text_; }

 protected:
  // "nothing" at the end of the text, else the token's source text in single quotes.
  std::string TokenDescription() const;
  // The byte at pos, 0 past the end.
  char At(size_t pos) const { return pos < text_.size() ? text_[pos] : '\0'; }

  std::string text_;  // held for the whole parse so positions into it stay valid
  std::string token_;
  uint8_t tokenKind_ = tkEnd;
  uint8_t prevTokenKind_ = tkEnd;
  size_t scanPos_ = 0;
  size_t tokenStart_ = 0;
};

class TExprParserBase : public TSyntaxParserBase {
 public:
  TExprParserBase();
  ~TExprParserBase() override;

  virtual TExprNode* ParseExpression() = 0;
  virtual TFieldType FieldDataType(const std::string& name) = 0;
  // The current value of a field; the filter language itself never asks for it.
  virtual Variant FieldValue(const std::string& name) = 0;
  virtual TFieldType FunctionResultType(const std::string& name) = 0;
  virtual bool IsFunctionName(const std::string& name);
  virtual void CheckEnd();
  // Builds the tree for text or raises; the previous tree is gone either way.
  virtual void Parse(const std::string& text);
  // Whether the current record passes: the first byte of the root's value is not 0. No tree (no
  // parse yet, or the last one failed) passes nothing.
  virtual bool Evaluate(uint8_t options);
  bool Evaluate(TFilterOptions options) { return Evaluate(static_cast<uint8_t>(options.Bits())); }

  // Evaluates one node of this parser's tree against the current record.
  void EvaluateNode(TExprNode* node, uint8_t options);

  TExprNodes& Nodes() { return *nodes_; }
  const TExprNodes& Nodes() const { return *nodes_; }
  uint8_t Options() const { return options_; }

 protected:
  // Where field nodes read from during evaluation; none by default.
  virtual TFilterDataSource* DataSource() { return nullptr; }

  std::unique_ptr<TExprNodes> nodes_;
  uint8_t options_ = 0;
};

// Evaluates node and everything under it. source gives field offsets and blob texts, buffer is
// the record the field nodes read (both may be null for trees without fields).
void EvaluateExprNode(TExprNode* node, uint8_t options, TFilterDataSource* source, const uint8_t* buffer);

}  // namespace lanqi
