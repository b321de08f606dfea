// A property-list dictionary: string keys, each mapped to a node it owns, in insertion order.
#pragma once

#include <cstdint>
#include <functional>
#include <cstdint>
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
// which the dictionary is written. Values are never null. The entries are one vector in order;
// lookups scan a small dictionary and use an open-addressing index of positions in a large one,
// so that a tree of many small dictionaries (a photo library's index) stays compact.
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

  size_t size() const { return size_; }
  bool containsKey(std::string_view key) const { return find(key) != kNotFound; }
  // All keys, in no particular order.
  std::unordered_set<std::string> keySet() const;
  // The keys in order.
  std::vector<std::string> orderedKeySet() const;
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

  // Gives back the room kept for more keys: for a tree that is built once and then read.
  void shrinkToFit();

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
  // One key with its value, in order. A replaced or removed key leaves a hole (no node) that
  // later compaction drops.
  struct Entry {
    std::string key;
    std::unique_ptr<PListNode> node;
  };
  static constexpr size_t kNotFound = SIZE_MAX;
  // Up to this many entries a lookup scans them; larger dictionaries keep index_.
  static constexpr size_t kScanLimit = 16;

  size_t find(std::string_view key) const;
  void append(std::string key, std::unique_ptr<PListNode> node);
  // Makes the entry a hole and drops holes once they outnumber the keys.
  void vacate(size_t position);
  void compact();
  // Rebuilds index_ for the entries (or drops it for a small dictionary).
  void rebuildIndex();
  void indexEntry(size_t position);

  template <class T>
  T* nodeFor(std::string_view key) const {
    size_t position = find(key);
    return position == kNotFound ? nullptr : dynamic_cast<T*>(entries_[position].node.get());
  }

  std::vector<Entry> entries_;   // the keys in order, with holes
  size_t size_ = 0;              // keys, holes not counted
  std::vector<uint32_t> index_;  // open addressing: entry position + 1, 0 for a free slot; empty when small
};

}  // namespace loomkit
