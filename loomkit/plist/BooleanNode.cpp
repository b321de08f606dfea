#include "loomkit/plist/BooleanNode.h"

namespace loomkit {

bool BooleanNode::isEqual(const PListNode& other) const {
  if (this == &other) return true;
  const auto* node = dynamic_cast<const BooleanNode*>(&other);
  return node && isEqualToBooleanNode(*node);
}

}  // namespace loomkit
