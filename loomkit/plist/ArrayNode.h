// A property-list array: an ordered list of nodes that it owns.
#pragma once

#include <memory>
#include <vector>

#include "loomkit/plist/BooleanNode.h"
#include "loomkit/plist/IntegerNode.h"
#include "loomkit/plist/PListNode.h"
#include "loomkit/plist/RealNode.h"
#include "loomkit/plist/StringNode.h"

namespace loomkit {

class DictNode;

// A collection node; see PListNode for threading. Elements are never null.
class ArrayNode final : public PListNode {
 public:
  using List = std::vector<std::unique_ptr<PListNode>>;

  ArrayNode() = default;
  // Adopts the list as its storage (null entries are dropped).
  explicit ArrayNode(List list);
  // A new array holding copies of the given elements.
  static std::unique_ptr<ArrayNode> newWithArray(const List& array);

  const List& list() const { return list_; }
  size_t size() const { return list_.size(); }
  // The type code of element 0; kStringType for an empty array.
  int arrayElementsType() const;

  // The element at the index; nullptr when the index is out of range. The typed forms also
  // return nullptr when the element is of another class.
  PListNode* objectAtIndex(size_t index) { return index < list_.size() ? list_[index].get() : nullptr; }
  const PListNode* objectAtIndex(size_t index) const { return index < list_.size() ? list_[index].get() : nullptr; }
  ArrayNode* arrayNodeAtIndex(size_t index) { return nodeAt<ArrayNode>(index); }
  const ArrayNode* arrayNodeAtIndex(size_t index) const { return nodeAt<const ArrayNode>(index); }
  BooleanNode* booleanNodeAtIndex(size_t index) { return nodeAt<BooleanNode>(index); }
  const BooleanNode* booleanNodeAtIndex(size_t index) const { return nodeAt<const BooleanNode>(index); }
  DictNode* dictNodeAtIndex(size_t index);
  const DictNode* dictNodeAtIndex(size_t index) const;
  IntegerNode* integerNodeAtIndex(size_t index) { return nodeAt<IntegerNode>(index); }
  const IntegerNode* integerNodeAtIndex(size_t index) const { return nodeAt<const IntegerNode>(index); }
  RealNode* realNodeAtIndex(size_t index) { return nodeAt<RealNode>(index); }
  const RealNode* realNodeAtIndex(size_t index) const { return nodeAt<const RealNode>(index); }
  StringNode* stringNodeAtIndex(size_t index) { return nodeAt<StringNode>(index); }
  const StringNode* stringNodeAtIndex(size_t index) const { return nodeAt<const StringNode>(index); }

  // Appends the node (a null node is ignored).
  void add(std::unique_ptr<PListNode> node);
  // Inserts the node before the index; an index at or past the end appends.
  void add(std::unique_ptr<PListNode> node, size_t index);

  // Gives back the room kept for more elements: for a tree that is built once and then read.
  void shrinkToFit() { list_.shrink_to_fit(); }

  // A deep copy with the array's own type.
  std::unique_ptr<ArrayNode> copyArray() const;

  // Same length and equal elements in order.
  bool isEqualToArrayNode(const ArrayNode& other) const;

  int type() const override { return kArrayType; }
  std::unique_ptr<PListNode> copy() const override { return copyArray(); }
  bool isEqual(const PListNode& other) const override;
  // 31 plus the hash of the element list.
  size_t hash() const override;
  // "<ArrayNode (<IntegerNode 1>, <StringNode "a">)>".
  std::string description() const override;

 private:
  template <class T>
  T* nodeAt(size_t index) const {
    return index < list_.size() ? dynamic_cast<T*>(list_[index].get()) : nullptr;
  }

  List list_;
};

}  // namespace loomkit
