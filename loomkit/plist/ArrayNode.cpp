#include "loomkit/plist/ArrayNode.h"

#include <algorithm>

#include "loomkit/plist/DictNode.h"

namespace loomkit {

ArrayNode::ArrayNode(List list) : list_(std::move(list)) {
  std::erase(list_, nullptr);
}

std::unique_ptr<ArrayNode> ArrayNode::newWithArray(const List& array) {
  auto node = std::make_unique<ArrayNode>();
  for (const auto& element : array) {
    if (element) node->list_.push_back(element->copy());
  }
  return node;
}

int ArrayNode::arrayElementsType() const { return list_.empty() ? kStringType : list_[0]->type(); }

DictNode* ArrayNode::dictNodeAtIndex(size_t index) { return nodeAt<DictNode>(index); }
const DictNode* ArrayNode::dictNodeAtIndex(size_t index) const { return nodeAt<const DictNode>(index); }

void ArrayNode::add(std::unique_ptr<PListNode> node) {
  if (node) list_.push_back(std::move(node));
}

void ArrayNode::add(std::unique_ptr<PListNode> node, size_t index) {
  if (node) list_.insert(list_.begin() + static_cast<ptrdiff_t>(std::min(index, list_.size())), std::move(node));
}

std::unique_ptr<ArrayNode> ArrayNode::copyArray() const { return newWithArray(list_); }

bool ArrayNode::isEqualToArrayNode(const ArrayNode& other) const {
  return std::equal(list_.begin(), list_.end(), other.list_.begin(), other.list_.end(),
                    [](const auto& a, const auto& b) { return a->isEqual(*b); });
}

bool ArrayNode::isEqual(const PListNode& other) const {
  if (this == &other) return true;
  const auto* node = dynamic_cast<const ArrayNode*>(&other);
  return node && isEqualToArrayNode(*node);
}

size_t ArrayNode::hash() const {
  size_t listHash = list_.size();
  for (const auto& element : list_) listHash = combineHash(listHash, element->hash());
  return listHash + 31;
}

std::string ArrayNode::description() const {
  std::string text = "<ArrayNode (";
  for (size_t i = 0; i < list_.size(); ++i) {
    if (i > 0) text += ", ";
    text += list_[i]->description();
  }
  return text + ")>";
}

}  // namespace loomkit
