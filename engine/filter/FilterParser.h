// The filter language: tokens, grammar, type rules and functions, bound to one dataset.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/filter/ExprParser.h"
#include "engine/filter/FilterDataSource.h"

namespace lanqi {

class TFilterParser : public TExprParserBase {
 public:
  // dataset is not owned and must outlive the parser.
  explicit TFilterParser(TFilterDataSource* dataset);

  size_t ReadToken(size_t pos) override;
  TExprNode* ParseExpression() override;
  TFieldType FieldDataType(const std::string& name) override;
  Variant FieldValue(const std::string& name) override;
  TFieldType FunctionResultType(const std::string& name) override;
  bool IsFunctionName(const std::string& name) override;
  void Parse(const std::string& text) override;

  TFilterDataSource* Dataset() const { return dataset_; }

  // Field positions the current tree names, ascending and without repeats, so the table can read
  // only those fields of each record during a filtering pass.
  std::vector<int32_t> FieldIndexes() const;
  // Whether the current tree uses LIKE.
  bool UsesLike() const;

  // The local clock as a date-time in milliseconds (GETDATE and the century window read it);
  // tests pin it.
  void SetClock(std::function<double()> clock) { clock_ = std::move(clock); }
  double NowMilliseconds() const;

 protected:
  TFilterDataSource* DataSource() override { return dataset_; }

 private:
  TExprNode* ParseAnd();
  TExprNode* ParseNot();
  TExprNode* ParseComparison();
  TExprNode* ParseSum();
  TExprNode* ParseProduct();
  TExprNode* ParsePrimary();
  TExprNode* ParseFunction();
  TExprNode* ParseIn(TExprNode* tested);
  // Reads the items of an IN list or the arguments of a call after its "(".
  void ParseList(TExprNode* node, bool endAfterCommaRaises);

  size_t ReadNumber(size_t pos);
  size_t ReadString(size_t pos);
  size_t ReadName(size_t pos);
  size_t ReadBracketName(size_t pos);
  bool IsKeyword(const char* word) const;
  [[noreturn]] void Fail(const std::string& message) const;
  [[noreturn]] void FailExpected(const char* format) const;

  TExprNode* Checked(TExprNode* node);
  void CheckComparison(TExprNode* node);
  void CheckIn(TExprNode* node);
  void CheckArithmetic(TExprNode* node);
  void CheckFunction(TExprNode* node);
  bool IsDateText(TExprNode* node);
  void ConvertDateText(TExprNode* node);
  int CurrentYear() const;

  TFilterDataSource* dataset_;
  std::function<double()> clock_;
  int nesting_ = 0;
};

}  // namespace lanqi
