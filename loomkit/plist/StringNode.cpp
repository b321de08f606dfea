#include "loomkit/plist/StringNode.h"

#include <functional>

namespace loomkit {

bool StringNode::isEqual(const PListNode& other) const {
  if (this == &other) return true;
  const auto* node = dynamic_cast<const StringNode*>(&other);
  return node && isEqualToStringNode(*node);
}

size_t StringNode::hash() const { return (value_ ? std::hash<std::string>()(*value_) : 0) + 31; }

std::string StringNode::description() const {
  return "<StringNode \"" + (value_ ? *value_ : std::string("(null)")) + "\">";
}

}  // namespace loomkit
