#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/filter/FilterParser.h"
#include "engine/values/FilterValues.h"
#include "platform/CodePage.h"
#include "rtl/Exceptions.h"
#include "rtl/FormatSettings.h"
#include "tests/filter/FilterFixture.h"

namespace lanqi {
namespace {

// Reads the tokens of a text without parsing it.
class TTokenReader : public TFilterParser {
 public:
  using TFilterParser::TFilterParser;
  std::vector<std::pair<int, std::string>> Tokens(const std::string& text) {
    text_ = text;
    scanPos_ = 0;
    tokenKind_ = tkEnd;
    std::vector<std::pair<int, std::string>> out;
    for (;;) {
      NextToken();
      if (tokenKind_ == tkEnd) return out;
      out.emplace_back(tokenKind_, token_);
    }
  }
};

using Tokens = std::vector<std::pair<int, std::string>>;

struct TokenCase {
  std::string text;
  Tokens expected;
};

TEST(FilterTokenTest, TokensAndTheMinusSignRule) {
  const std::vector<TokenCase> cases = {
      {"-1", {{tkNumber, "-1"}}},
      {"x-1", {{tkSymbol, "x"}, {tkMinus, ""}, {tkNumber, "1"}}},
      {"x - -1", {{tkSymbol, "x"}, {tkMinus, ""}, {tkNumber, "-1"}}},
      {"[x]-1", {{tkBracketName, "x"}, {tkMinus, ""}, {tkNumber, "1"}}},
      {"1-1", {{tkNumber, "1"}, {tkMinus, ""}, {tkNumber, "1"}}},
      {"'a'-1", {{tkString, "a"}, {tkMinus, ""}, {tkNumber, "1"}}},
      {"(1)-1", {{tkLParen, ""}, {tkNumber, "1"}, {tkRParen, ""}, {tkMinus, ""}, {tkNumber, "1"}}},
      {"(-1", {{tkLParen, ""}, {tkNumber, "-1"}}},
      {"= -1", {{tkEQ, ""}, {tkNumber, "-1"}}},
      {", -1", {{tkComma, ""}, {tkNumber, "-1"}}},
      {"* -1", {{tkStar, ""}, {tkNumber, "-1"}}},
      {"AND -1", {{tkSymbol, "AND"}, {tkMinus, ""}, {tkNumber, "1"}}},
      {"1E-5 2e+3 1.5", {{tkNumber, "1E-5"}, {tkNumber, "2e+3"}, {tkNumber, "1.5"}}},
      {"<= <> >= < > = + / *",
       {{tkLE, ""},
        {tkNE, ""},
        {tkGE, ""},
        {tkLT, ""},
        {tkGT, ""},
        {tkEQ, ""},
        {tkPlus, ""},
        {tkSlash, ""},
        {tkStar, ""}}},
      {"LIKE like In iN", {{tkLike, "LIKE"}, {tkLike, "like"}, {tkIn, "In"}, {tkIn, "iN"}}},
      {"a.b_c[1] _x", {{tkSymbol, "a.b_c[1]"}, {tkSymbol, "_x"}}},
      {"[a b]", {{tkBracketName, "a b"}}},
      {"'O''Brien'", {{tkString, "O'Brien"}}},
      {"''", {{tkString, ""}}},
      {"/* note */ x /* c */", {{tkSymbol, "x"}}},
      {"\x01\t\n x", {{tkSymbol, "x"}}},
  };
  TMemoryRecord record = TMemoryRecord::Standard();
  TTokenReader reader(&record);
  for (const TokenCase& c : cases) EXPECT_EQ(reader.Tokens(c.text), c.expected) << c.text;
}

TEST(FilterTokenTest, DoubleByteNamesAreTakenWhole) {
  TMemoryRecord record = TMemoryRecord::Standard();
  TTokenReader reader(&record);
  const std::string name = Ansi(u8"存储区序号");
  EXPECT_EQ(reader.Tokens(name + "=3"), (Tokens{{tkSymbol, name}, {tkEQ, ""}, {tkNumber, "3"}}));
  // The second byte of 0xB1 0x61 is 'a' and of 0x81 0x5D is ']': neither ends the name early.
  EXPECT_EQ(reader.Tokens("\xB1\x61x=1"), (Tokens{{tkSymbol, "\xB1\x61x"}, {tkEQ, ""}, {tkNumber, "1"}}));
  EXPECT_EQ(reader.Tokens("[\x81\x5D]"), (Tokens{{tkBracketName, "\x81\x5D"}}));
  SetSystemCodePage(1252);
  // In a single-byte code page only ASCII name bytes follow the first.
  EXPECT_EQ(reader.Tokens("\xE4\xE4"), (Tokens{{tkSymbol, "\xE4"}, {tkSymbol, "\xE4"}}));
  SetSystemCodePage(936);
}

TEST(FilterTokenTest, CommaDecimalSeparatorGivesBackACommaBeforeASpace) {
  TMemoryRecord record = TMemoryRecord::Standard();
  TTokenReader reader(&record);
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(reader.Tokens("1,5"), (Tokens{{tkNumber, "1,5"}}));
  EXPECT_EQ(reader.Tokens("(1, 2)"),
            (Tokens{{tkLParen, ""}, {tkNumber, "1"}, {tkComma, ""}, {tkNumber, "2"}, {tkRParen, ""}}));
  FormatSettings() = TFormatSettings();
}

TEST(FilterTokenTest, StringConstantKeepsOnly256Bytes) {
  TFilterHarness h;
  h.Parser.Parse("Name = '" + std::string(300, 'x') + "'");
  const TExprNode* constant = h.Parser.Nodes().Root->Right;
  EXPECT_EQ(std::string(static_cast<const char*>(constant->Value)), std::string(256, 'x'));
  EXPECT_EQ(constant->ValueSize, 257);
}

enum class Raises { Database, Convert };

struct ErrorCase {
  std::string text;
  Raises kind;
  std::string message;
};

TEST(FilterParseTest, EveryParseErrorHasItsText) {
  const std::string mismatch = "Type mismatch in expression";
  const std::vector<ErrorCase> cases = {
      {"", Raises::Database, "Expression expected but nothing found"},
      {"a = 1 AND -1 = b", Raises::Database, "Expression expected but '-' found"},
      {"Age = 1 OR", Raises::Database, "Expression expected but nothing found"},
      {"x = - 1", Raises::Convert, "'-' is not a valid floating point value"},
      {"x = 1e", Raises::Convert, "'1e' is not a valid floating point value"},
      {"x = 1.2.3", Raises::Convert, "'1.2.3' is not a valid floating point value"},
      {"x IN ()", Raises::Database, "IN predicate list may not be empty"},
      {"x IN 1", Raises::Database, "'(' expected but '1' found"},
      {"x IN", Raises::Database, "'(' expected but nothing found"},
      {"x IN (1", Raises::Database, "')' or ',' expected but nothing found"},
      {"x IN (1 2)", Raises::Database, "')' or ',' expected but '2' found"},
      {"x IN (1,", Raises::Database, "')' expected but nothing found"},
      {"(a = 1", Raises::Database, "')' expected but nothing found"},
      {"(a = 1 'z'", Raises::Database, "')' expected but ''z'' found"},
      {"a = 1 b = 2", Raises::Database, "Filter expression incorrectly terminated"},
      {"a = 1)", Raises::Database, "Filter expression incorrectly terminated"},
      {"/* a*b */ a = 1", Raises::Database, "Invalid filter expression character: '*'"},
      {"/* open", Raises::Database, "Invalid filter expression character: ''"},
      {"/* x */ /* y */ a = 1", Raises::Database, "Expression expected but '/' found"},
      {"a = 1 # 2", Raises::Database, "Invalid filter expression character: '#'"},
      {"Name = 'abc", Raises::Database, "Unterminated string constant"},
      {"Name = 'abc''", Raises::Database, "Unterminated string constant"},
      {"[Name = 'a'", Raises::Database, "Unterminated field name"},
      {"NOT NOT a = 1", Raises::Database, "Field 'NOT' not found"},
      {"Nope = 1", Raises::Database, "Field 'Nope' not found"},
      {"COUNT(*)", Raises::Database, "Field 'COUNT' not found"},
      {"UPPER(Name", Raises::Database, "')' or ',' expected but nothing found"},
      {"T = '10'", Raises::Convert, "'10' is not a valid date"},
      {std::string(300, '(') + "x = 1" + std::string(300, ')'), Raises::Database,
       "Filter expression too complex"},
      // Type rules, one mismatch each.
      {"Active > False", Raises::Database, mismatch},
      {"Active = 1", Raises::Database, mismatch},
      {"x = 'abc'", Raises::Database, mismatch},
      {"Name = 1", Raises::Database, mismatch},
      {"HireDate = 'abc'", Raises::Database, mismatch},
      {"HireDate = 1", Raises::Database, mismatch},
      {"'abc' = HireDate", Raises::Database, mismatch},
      {"Name LIKE 1", Raises::Database, mismatch},
      {"Age LIKE 'a'", Raises::Database, mismatch},
      {"Age AND Active", Raises::Database, mismatch},
      {"Active OR Age", Raises::Database, mismatch},
      {"NOT Age", Raises::Database, mismatch},
      {"Age IN ('a')", Raises::Database, mismatch},
      {"Name IN (1)", Raises::Database, mismatch},
      {"Name IN (HireDate)", Raises::Database, mismatch},
      {"HireDate IN (1)", Raises::Database, mismatch},
      {"Active IN (1)", Raises::Database, mismatch},
      {"Active + 1 = 2", Raises::Database, mismatch},
      {"1 + Name = 1", Raises::Database, mismatch},
      {"Name + 1 = 'a'", Raises::Database, mismatch},
      {"Name - 'a' = ''", Raises::Database, mismatch},
      {"HireDate * 2 = 1", Raises::Database, mismatch},
      {"HireDate + HireDate = 1", Raises::Database, mismatch},
      {"HireDate - 'abc' = 1", Raises::Database, mismatch},
      {"'1/2/2003' + HireDate = 1", Raises::Database, mismatch},
      {"UPPER(Age) = 'A'", Raises::Database, mismatch},
      {"UPPER(Name, Name) = 'A'", Raises::Database, mismatch},
      {"UPPER() = 'A'", Raises::Database, mismatch},
      {"SUBSTRING(Name, 1+0, 3) = ''", Raises::Database, mismatch},
      {"SUBSTRING(Name, 1, Age) = ''", Raises::Database, mismatch},
      {"SUBSTRING(Name, 1) = ''", Raises::Database, mismatch},
      {"YEAR(T) = 1", Raises::Database, mismatch},
      {"YEAR('1/2/2003') = 1", Raises::Database, mismatch},
      {"HOUR(HireDate) = 1", Raises::Database, mismatch},
      {"GETDATE(1) > Stamp", Raises::Database, mismatch},
  };
  TFilterHarness h;
  for (const ErrorCase& c : cases) {
    try {
      h.Parser.Parse(c.text);
      ADD_FAILURE() << c.text << ": parsed";
    } catch (const EConvertError& e) {
      EXPECT_EQ(c.kind, Raises::Convert) << c.text;
      EXPECT_EQ(e.Message(), c.message) << c.text;
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(c.kind, Raises::Database) << c.text;
      EXPECT_EQ(e.Message(), c.message) << c.text;
    }
  }
}

TEST(FilterParseTest, AcceptedTexts) {
  TFilterHarness h;
  for (const char* text :
       {"a = 1 AND (-1 = b)", "x - -1 = 0", "NOT (NOT a = 1)", "Active = True", "Active <> False",
        "/* note */ a = 1", "x IN (1, 2,)", "SUBSTRING(Name, 1, 3) = 'a'", "UPPER(Name,", "upper(Name) = 'A'",
        "[Name] = 'a'", "Stamp < GETDATE()", "Age"}) {
    EXPECT_NO_THROW(h.Parser.Parse(text)) << text;
  }
}

TEST(FilterParseTest, TreeOfACatalogFilter) {
  TFilterHarness h;
  const std::string name = Ansi(u8"存储区序号");
  h.Parser.Parse(name + "=3");
  const TExprNodes& nodes = h.Parser.Nodes();
  const TExprNode* root = nodes.Root;
  ASSERT_EQ(root->Kind, nkOperator);
  EXPECT_EQ(root->Operator, opEQ);
  EXPECT_EQ(root->DataType, ftBoolean);
  EXPECT_EQ(root->Left->Kind, nkField);
  EXPECT_EQ(root->Left->Name, name);
  EXPECT_EQ(root->Left->DataType, ftInteger);
  EXPECT_EQ(root->Left->FieldIndex, 17);
  EXPECT_EQ(root->Right->Kind, nkConst);
  EXPECT_EQ(root->Right->DataType, ftInteger);
  EXPECT_EQ(LoadI32(root->Right->Value), 3);
  // The chain runs newest first: the operator, the constant, the field.
  ASSERT_EQ(nodes.Head, root);
  EXPECT_EQ(root->NextNode, root->Right);
  EXPECT_EQ(root->Right->NextNode, root->Left);
  EXPECT_EQ(root->Left->NextNode, nullptr);
  EXPECT_EQ(h.Parser.FieldIndexes(), std::vector<int32_t>{17});
  EXPECT_FALSE(h.Parser.UsesLike());
}

TEST(FilterParseTest, NumberConstantsAndFieldsNamed) {
  TFilterHarness h;
  const std::vector<std::pair<std::string, TFieldType>> numbers = {
      {"2147483647", ftInteger}, {"-2147483648", ftInteger}, {"3000000000", ftFloat},
      {"2147483648", ftFloat},   {"1.5", ftFloat},           {"1E3", ftFloat}};
  for (const auto& [text, type] : numbers) {
    h.Parser.Parse("x = " + text);
    EXPECT_EQ(h.Parser.Nodes().Root->Right->DataType, type) << text;
  }
  h.Parser.Parse("Age = 1 AND Name LIKE 'a%' OR Age > 2 AND Notes = ''");
  EXPECT_EQ(h.Parser.FieldIndexes(), (std::vector<int32_t>{0, 2, 13}));
  EXPECT_TRUE(h.Parser.UsesLike());
}

TEST(FilterParseTest, DateTextConstantsAreRewrittenInPlace) {
  TFilterHarness h;
  struct Case {
    std::string filter;
    TFieldType type;
    double value;
  };
  const std::vector<Case> cases = {
      {"HireDate > '12/31/03'", ftDate, double(Day(2003, 12, 31))},
      {"HireDate > ' 1/2/2003 '", ftDate, double(Day(2003, 1, 2))},
      {"Stamp < '1/2/2003 10:30 PM'", ftDateTime, Stamp(2003, 1, 2, 22, 30)},
      {"T = '10:30'", ftTime, Ms(10, 30)},
      {"T = '10:30:15.250'", ftTime, Ms(10, 30, 15, 250)},
  };
  for (const Case& c : cases) {
    h.Parser.Parse(c.filter);
    const TExprNode* constant = h.Parser.Nodes().Root->Right;
    EXPECT_EQ(constant->Kind, nkConst) << c.filter;
    ASSERT_EQ(constant->DataType, c.type) << c.filter;
    double got = c.type == ftDateTime ? LoadF64(constant->Value) : LoadI32(constant->Value);
    EXPECT_EQ(got, c.value) << c.filter;
    EXPECT_EQ(constant->ValueSize, ValueSizeOf(c.type)) << c.filter;
  }
  // A string on the left is converted when the right is temporal.
  h.Parser.Parse("'1/2/2003' = HireDate");
  EXPECT_EQ(h.Parser.Nodes().Root->Left->DataType, ftDate);
}

TEST(FilterParseTest, GetDateIsFoldedAtParseTime) {
  TFilterHarness h;
  h.Parser.Parse("Stamp < GETDATE()");
  const TExprNode* now = h.Parser.Nodes().Root->Right;
  EXPECT_EQ(now->Kind, nkConst);
  EXPECT_EQ(now->DataType, ftDateTime);
  EXPECT_EQ(now->ValueSize, 8);
  EXPECT_EQ(LoadF64(now->Value), Stamp(2026, 12, 10, 10, 0));
}

TEST(FilterParseTest, FailedParseLeavesNothingToEvaluate) {
  TFilterHarness h;
  h.Record.Set("Age", 1);
  EXPECT_FALSE(h.Parser.Evaluate(TFilterOptions{}));  // never parsed
  EXPECT_TRUE(h.Passes("Age = 1"));
  EXPECT_THROW(h.Parser.Parse("Age = "), EDatabaseError);
  EXPECT_EQ(h.Parser.Nodes().Root, nullptr);
  EXPECT_FALSE(h.Parser.Evaluate(TFilterOptions{}));
}

}  // namespace
}  // namespace lanqi
