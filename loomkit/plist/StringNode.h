// A property-list string, which may be absent.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "loomkit/plist/PListNode.h"

namespace loomkit {

// A plain value node; see PListNode for threading.
class StringNode final : public PListNode {
 public:
  // Keeps its own copy of the text; std::nullopt gives a node whose value is absent (such a node
  // is left out when a tree is written).
  explicit StringNode(std::optional<std::string> value) : value_(std::move(value)) {}

  const std::optional<std::string>& stringValue() const { return value_; }

  // Equal contents; two absent values are equal.
  bool isEqualToStringNode(const StringNode& other) const { return value_ == other.value_; }

  int type() const override { return kStringType; }
  std::unique_ptr<PListNode> copy() const override { return std::make_unique<StringNode>(value_); }
  bool isEqual(const PListNode& other) const override;
  // The string's hash plus 31 (31 for an absent value).
  size_t hash() const override;
  // "<StringNode "text">", "(null)" for an absent value.
  std::string description() const override;

 private:
  std::optional<std::string> value_;
};

}  // namespace loomkit
