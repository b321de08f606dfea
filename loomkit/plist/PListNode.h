// The interface of every node of a property-list tree.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace loomkit {

// Domain of every error the property-list reader reports (code -1).
inline constexpr std::string_view kPListErrorDomain = "PListErrorDomain";

// A node of a property-list tree. The six node classes (IntegerNode, StringNode, BooleanNode,
// RealNode, ArrayNode, DictNode) form a closed set; collections own their children, so a tree is
// one owner's value. Nodes have no locking: a tree is used by one thread at a time, or guarded by
// its owner.
class PListNode {
 public:
  // Type codes; one bit per node class. 0 stands for "no node" where a lookup can miss.
  enum Type : int {
    kIntegerType = 1,
    kStringType = 2,
    kBooleanType = 4,
    kRealType = 8,
    kArrayType = 16,
    kDictType = 32,
  };

  virtual ~PListNode() = default;

  // The node's type code.
  virtual int type() const = 0;
  // An independent node of the same class and value; collections copy every child.
  virtual std::unique_ptr<PListNode> copy() const = 0;
  // True for a node of the same class with an equal value (arrays element by element,
  // dictionaries in the same key order with equal values).
  virtual bool isEqual(const PListNode& other) const = 0;
  // A hash consistent with isEqual.
  virtual size_t hash() const = 0;
  // The text form for logs, e.g. <IntegerNode 42>.
  virtual std::string description() const = 0;

 protected:
  PListNode() = default;
  PListNode(const PListNode&) = default;
  PListNode& operator=(const PListNode&) = default;

  // Mixes one more hash into a running hash, order-sensitively.
  static size_t combineHash(size_t seed, size_t value) { return seed * 31 + value; }
};

inline bool operator==(const PListNode& a, const PListNode& b) { return a.isEqual(b); }

}  // namespace loomkit
