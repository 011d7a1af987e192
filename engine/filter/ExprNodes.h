// The tree a filter parse builds: nodes and the pool that owns them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/FieldTypes.h"

namespace lanqi {

class TExprParserBase;
class TExprNodes;

enum TExprNodeKind : uint8_t { nkField = 0, nkConst = 1, nkFunction = 2, nkOperator = 3 };

enum TExprOperator : uint8_t {
  opNone = 0,
  opEQ = 3,
  opNE = 4,
  opGT = 5,
  opLT = 6,
  opGE = 7,
  opLE = 8,
  opNOT = 9,
  opAND = 10,
  opOR = 11,
  opADD = 12,
  opSUB = 13,
  opMUL = 14,
  opDIV = 15,
  opLIKE = 17,
  opIN = 18,
};

// Function numbers of function nodes.
enum TExprFunction : uint8_t {
  fnNone = 0,
  fnUpper = 1,
  fnLower = 2,
  fnSubstring = 3,
  fnTrim = 4,
  fnTrimLeft = 5,
  fnTrimRight = 6,
  fnYear = 7,
  fnMonth = 8,
  fnDay = 9,
  fnHour = 10,
  fnMinute = 11,
  fnSecond = 12,
  fnGetDate = 13,
};

class TExprNode {
 public:
  explicit TExprNode(TExprNodes* owner) : Owner(owner) {}
  ~TExprNode() { SetValueSize(0); }
  TExprNode(const TExprNode&) = delete;
  TExprNode& operator=(const TExprNode&) = delete;

  TExprNodes* Owner;
  TExprNode* NextNode = nullptr;  // the node created just before this one
  uint8_t Kind = nkConst;
  uint8_t Operator = opNone;
  uint8_t FunctionNo = fnNone;
  std::string Name;  // field name or function name
  // The value in the encoding of DataType: the node's own buffer, or (ValueSize 0) bytes it does
  // not own, such as a field's bytes in the record buffer.
  void* Value = nullptr;
  int32_t ValueSize = 0;
  TExprNode* Left = nullptr;
  TExprNode* Right = nullptr;
  TFieldType DataType = ftUnknown;
  // Function arguments or IN items in source order; owned by the pool, not by the list.
  std::unique_ptr<std::vector<TExprNode*>> Args;
  bool IsBlob = false;
  int32_t FieldIndex = -1;
  std::string BlobText;
  int32_t PartialLength = -1;

  // Resizes the owned buffer: 0 or less frees it, a first size gives zero-filled bytes, a new size
  // keeps the content.
  void SetValueSize(int32_t n);

  // Field nodes: the bytes a string field's value may take in the record buffer (0: up to its
  // zero byte) and the field's offset there once resolved.
  int32_t FieldSize = 0;
  int32_t FieldOffset = -1;
  // Height of the subtree, to refuse trees the evaluator's recursion could not walk.
  int32_t Depth = 1;
  // LIKE nodes: the pattern in UTF-16 prepared once when it is a constant, and a reused buffer
  // for the subject.
  std::u16string LikePattern;
  bool LikePatternReady = false;
  std::string LikePatternAscii;
  bool LikePatternIsAscii = false;
  std::u16string LikeSubject;

 private:
  std::vector<uint8_t> buffer_;
};

class TExprNodes {
 public:
  explicit TExprNodes(TExprParserBase* owner) : Owner(owner) {}
  ~TExprNodes() { Clear(); }
  TExprNodes(const TExprNodes&) = delete;
  TExprNodes& operator=(const TExprNodes&) = delete;

  // Destroys every node on the chain; Root is left as it is.
  void Clear();

  TExprNode* NewNode(TExprNodeKind kind, TFieldType dataType, TExprOperator op, TExprNode* left,
                     TExprNode* right, int32_t valueSize);
  TExprNode* NewFieldNode(const std::string& name);
  TExprNode* NewFunctionNode(const std::string& name);

  TExprParserBase* Owner;
  TExprNode* Head = nullptr;  // newest node; NextNode runs to the oldest
  TExprNode* Root = nullptr;

 private:
  TExprNode* Add(std::unique_ptr<TExprNode> node);
  std::vector<std::unique_ptr<TExprNode>> nodes_;
};

}  // namespace lanqi
