#include "engine/filter/ExprNodes.h"

#include <algorithm>

namespace lanqi {

void TExprNode::SetValueSize(int32_t n) {
  if (n == ValueSize) return;
  if (n <= 0) {
    buffer_.clear();
    buffer_.shrink_to_fit();
    if (ValueSize > 0) Value = nullptr;
    ValueSize = 0;
    return;
  }
  if (ValueSize == 0)
    buffer_.assign(static_cast<size_t>(n), 0);
  else
    buffer_.resize(static_cast<size_t>(n), 0);
  Value = buffer_.data();
  ValueSize = n;
}

void TExprNodes::Clear() {
  // Newest first, as the chain runs.
  while (!nodes_.empty()) nodes_.pop_back();
  Head = nullptr;
}

TExprNode* TExprNodes::Add(std::unique_ptr<TExprNode> node) {
  node->NextNode = Head;
  Head = node.get();
  nodes_.push_back(std::move(node));
  return Head;
}

TExprNode* TExprNodes::NewNode(TExprNodeKind kind, TFieldType dataType, TExprOperator op, TExprNode* left,
                               TExprNode* right, int32_t valueSize) {
  auto node = std::make_unique<TExprNode>(this);
  node->Kind = kind;
  node->DataType = dataType;
  node->Operator = op;
  node->Left = left;
  node->Right = right;
  node->Depth = 1 + std::max(left ? left->Depth : 0, right ? right->Depth : 0);
  node->SetValueSize(valueSize);
  return Add(std::move(node));
}

TExprNode* TExprNodes::NewFieldNode(const std::string& name) {
  auto node = std::make_unique<TExprNode>(this);
  node->Kind = nkField;
  node->Name = name;
  return Add(std::move(node));
}

TExprNode* TExprNodes::NewFunctionNode(const std::string& name) {
  auto node = std::make_unique<TExprNode>(this);
  node->Kind = nkFunction;
  node->Name = name;
  return Add(std::move(node));
}

}  // namespace lanqi
