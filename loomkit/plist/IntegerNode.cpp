#include "loomkit/plist/IntegerNode.h"

#include <limits>
#include <optional>

#include "loomkit/shared/Format.h"

namespace loomkit {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The decimal integer at the start of text (after white space), clamped; nullopt without digits.
std::optional<int64_t> scanLongLong(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
  // Accumulate the magnitude, saturating one past the largest positive value so that the most
  // negative value stays exact.
  constexpr uint64_t kLimit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1;
  uint64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    magnitude = magnitude > (kLimit - digit) / 10 ? kLimit : magnitude * 10 + digit;
  }
  if (negative) return magnitude == kLimit ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
  return magnitude >= kLimit ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(magnitude);
}

}  // namespace

std::unique_ptr<IntegerNode> IntegerNode::newWithString(std::string_view text, Error* error) {
  std::optional<int64_t> value = scanLongLong(text);
  if (!value) {
    setError(error, kPListErrorDomain, -1, "string does not contain a long long: " + std::string(text));
    return nullptr;
  }
  return std::make_unique<IntegerNode>(*value);
}

bool IntegerNode::isEqual(const PListNode& other) const {
  if (this == &other) return true;
  const auto* node = dynamic_cast<const IntegerNode*>(&other);
  return node && isEqualToIntegerNode(*node);
}

std::string IntegerNode::description() const {
  return strprintf("<IntegerNode %lld>", static_cast<long long>(value_));
}

}  // namespace loomkit
