// A property-list integer: a signed 64-bit value.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "loomkit/plist/PListNode.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// A plain value node; see PListNode for threading.
class IntegerNode final : public PListNode {
 public:
  // A 32-bit value is sign-extended.
  explicit IntegerNode(int64_t value = 0) : value_(value) {}

  // Scans text as a decimal integer: leading white space, optional sign, digits; anything after
  // the digits is ignored and values beyond the 64-bit range clamp to the nearest limit. Without
  // digits: nullptr and "string does not contain a long long: %@" (PListErrorDomain, -1).
  static std::unique_ptr<IntegerNode> newWithString(std::string_view text, Error* error = nullptr);

  // The low 32 bits of the value.
  int32_t intValue() const { return static_cast<int32_t>(static_cast<uint32_t>(value_)); }
  int64_t longlongValue() const { return value_; }

  bool isEqualToIntegerNode(const IntegerNode& other) const { return value_ == other.value_; }

  int type() const override { return kIntegerType; }
  std::unique_ptr<PListNode> copy() const override { return std::make_unique<IntegerNode>(value_); }
  bool isEqual(const PListNode& other) const override;
  // The value plus 31.
  size_t hash() const override { return static_cast<size_t>(value_) + 31; }
  // "<IntegerNode 42>".
  std::string description() const override;

 private:
  int64_t value_;
};

}  // namespace loomkit
