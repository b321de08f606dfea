// A property-list real: a 64-bit IEEE double.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "loomkit/plist/PListNode.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// A plain value node; see PListNode for threading.
class RealNode final : public PListNode {
 public:
  explicit RealNode(double value = 0.0) : value_(value) {}

  // Scans text as a decimal double: leading white space, optional sign, digits with an optional
  // "." fraction and exponent ("inf", "infinity" and "nan" too, so that every value the writer
  // produces reads back); anything after the number is ignored. Values beyond the double range
  // become infinite or zero. Failure: nullptr and "string does not contain a double: %@"
  // (PListErrorDomain, -1).
  static std::unique_ptr<RealNode> newWithString(std::string_view text, Error* error = nullptr);

  // The value in fixed-point notation with six decimals, like "%f" in the C locale (whatever the
  // process locale is): 0.1234567 gives "0.123457".
  static std::string textForValue(double value);

  double doubleValue() const { return value_; }

  // Equal values; two NaN values are also equal, so that a copy equals its original.
  bool isEqualToRealNode(const RealNode& other) const;

  int type() const override { return kRealType; }
  std::unique_ptr<PListNode> copy() const override { return std::make_unique<RealNode>(value_); }
  bool isEqual(const PListNode& other) const override;
  // The value truncated to an unsigned 64-bit integer (saturating; NaN counts as 0) plus 31.
  size_t hash() const override;
  // "<RealNode 0.500000>".
  std::string description() const override { return "<RealNode " + textForValue(value_) + ">"; }

 private:
  double value_;
};

}  // namespace loomkit
