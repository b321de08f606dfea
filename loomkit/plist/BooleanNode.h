// A property-list boolean.
#pragma once

#include <memory>

#include "loomkit/plist/PListNode.h"

namespace loomkit {

// A plain value node; see PListNode for threading.
class BooleanNode final : public PListNode {
 public:
  explicit BooleanNode(bool value = false) : value_(value) {}

  bool booleanValue() const { return value_; }

  bool isEqualToBooleanNode(const BooleanNode& other) const { return value_ == other.value_; }

  int type() const override { return kBooleanType; }
  std::unique_ptr<PListNode> copy() const override { return std::make_unique<BooleanNode>(value_); }
  bool isEqual(const PListNode& other) const override;
  // 1262 for true, 1268 for false.
  size_t hash() const override { return value_ ? 1262 : 1268; }
  // "<BooleanNode YES>" or "<BooleanNode NO>".
  std::string description() const override { return value_ ? "<BooleanNode YES>" : "<BooleanNode NO>"; }

 private:
  bool value_;
};

}  // namespace loomkit
