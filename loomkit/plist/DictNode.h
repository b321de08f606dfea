// A property-list dictionary: string keys, each mapped to a node it owns, in insertion order.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "loomkit/io/Bytes.h"
#include "loomkit/plist/ArrayNode.h"
#include "loomkit/plist/BooleanNode.h"
#include "loomkit/plist/IntegerNode.h"
#include "loomkit/plist/PListNode.h"
#include "loomkit/plist/RealNode.h"
#include "loomkit/plist/StringNode.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// A collection node; see PListNode for threading. Every key is in the order exactly once; putting
// under a present key replaces the value and moves the key to the end, which is also the order in
// which the dictionary is written. Values are never null.
class DictNode final : public PListNode {
 public:
  using Map = std::unordered_map<std::string, std::unique_ptr<PListNode>>;

  DictNode() = default;
  // Adopts the values of dict in the order of orderedKeys; keys of orderedKeys without a value are
  // dropped, repeated ones count once, and keys of dict missing from orderedKeys follow in
  // sorted order. Null values are dropped.
  DictNode(Map dict, const std::vector<std::string>& orderedKeys);

  // Reads the file and parses it as an XML property list whose root is a dictionary. An
  // unreadable file fails with the system's error (UnixErrorDomain), a malformed one as
  // dictNodeWithXMLData does.
  static std::unique_ptr<DictNode> dictNodeWithContentsOfXMLFile(const std::string& path, Error* error = nullptr);
  // Parses XML property-list bytes; nullptr with a PListErrorDomain error when they are malformed
  // or their root is not a dictionary. Never returns a partial tree.
  static std::unique_ptr<DictNode> dictNodeWithXMLData(std::span<const uint8_t> data, Error* error = nullptr);

  // Writes the XML form to path atomically (a temporary file renamed over it), so a failure
  // leaves the previous file in place; the error is the file system's.
  bool writeXMLToFile(const std::string& path, Error* error = nullptr) const;
  // The XML form of this dictionary as the root of a property list.
  Bytes XMLData() const;

  size_t size() const { return dict_.size(); }
  bool containsKey(std::string_view key) const { return dict_.find(key) != dict_.end(); }
  // All keys, in no particular order.
  std::unordered_set<std::string> keySet() const;
  // The keys in order.
  std::vector<std::string> orderedKeySet() const { return {orderedKeys_.begin(), orderedKeys_.end()}; }
  // All values, in no particular order.
  std::vector<const PListNode*> values() const;

  // The node under the key; nullptr when the key is absent. The typed forms also return nullptr
  // when the node is of another class.
  PListNode* nodeForKey(std::string_view key) { return nodeFor<PListNode>(key); }
  const PListNode* nodeForKey(std::string_view key) const { return nodeFor<const PListNode>(key); }
  ArrayNode* arrayNodeForKey(std::string_view key) { return nodeFor<ArrayNode>(key); }
  const ArrayNode* arrayNodeForKey(std::string_view key) const { return nodeFor<const ArrayNode>(key); }
  BooleanNode* booleanNodeForKey(std::string_view key) { return nodeFor<BooleanNode>(key); }
  const BooleanNode* booleanNodeForKey(std::string_view key) const { return nodeFor<const BooleanNode>(key); }
  DictNode* dictNodeForKey(std::string_view key) { return nodeFor<DictNode>(key); }
  const DictNode* dictNodeForKey(std::string_view key) const { return nodeFor<const DictNode>(key); }
  IntegerNode* integerNodeForKey(std::string_view key) { return nodeFor<IntegerNode>(key); }
  const IntegerNode* integerNodeForKey(std::string_view key) const { return nodeFor<const IntegerNode>(key); }
  RealNode* realNodeForKey(std::string_view key) { return nodeFor<RealNode>(key); }
  const RealNode* realNodeForKey(std::string_view key) const { return nodeFor<const RealNode>(key); }
  StringNode* stringNodeForKey(std::string_view key) { return nodeFor<StringNode>(key); }
  const StringNode* stringNodeForKey(std::string_view key) const { return nodeFor<const StringNode>(key); }
  // The type code of the node under the key; 0 when the key is absent.
  int nodeTypeForKey(std::string_view key) const;

  // Stores the node under the key, replacing a present value and moving the key to the end of the
  // order. A null node is ignored.
  void put(std::unique_ptr<PListNode> node, std::string key);
  // Wrap the value in a new node and put it. An absent string gives a StringNode without a value.
  void putString(std::optional<std::string> value, std::string key);
  void putInt(int32_t value, std::string key);
  void putLongLong(int64_t value, std::string key);
  void putBoolean(bool value, std::string key);
  void putDouble(double value, std::string key);

  // Removes the key and its value; no effect for an absent key.
  void removeKey(std::string_view key);
  void removeAllObjects();

  // A deep copy with the dictionary's own type, key order included.
  std::unique_ptr<DictNode> copyDict() const;

  // The same keys in the same order with equal values.
  bool isEqualToDictNode(const DictNode& other) const;

  int type() const override { return kDictType; }
  std::unique_ptr<PListNode> copy() const override { return copyDict(); }
  bool isEqual(const PListNode& other) const override;
  // 31 * (31 + hash of the map) + hash of the key list.
  size_t hash() const override;
  // "<DictNode {a = <IntegerNode 1>; b = <StringNode "x">}>", keys in order.
  std::string description() const override;

 private:
  struct KeyHash {
    using is_transparent = void;
    size_t operator()(std::string_view key) const { return std::hash<std::string_view>()(key); }
  };
  struct Entry {
    std::unique_ptr<PListNode> node;
    std::list<std::string>::iterator position;  // the key's place in orderedKeys_
  };

  template <class T>
  T* nodeFor(std::string_view key) const {
    auto found = dict_.find(key);
    return found == dict_.end() ? nullptr : dynamic_cast<T*>(found->second.node.get());
  }

  std::unordered_map<std::string, Entry, KeyHash, std::equal_to<>> dict_;
  std::list<std::string> orderedKeys_;
};

}  // namespace loomkit
