// Thrown when a tree holds a node whose type code is not one of the six node classes.
#pragma once

#include <stdexcept>
#include <string>

namespace loomkit {

// A programming error, never caused by input: only code can put such a node into a tree.
class InvalidPListNodeTypeException : public std::logic_error {
 public:
  // The reason reads "invalid type %d".
  explicit InvalidPListNodeTypeException(int type)
      : std::logic_error("invalid type " + std::to_string(type)), type_(type) {}

  // "InvalidPListNodeTypeException".
  static const char* name() { return "InvalidPListNodeTypeException"; }
  int type() const { return type_; }

 private:
  int type_;
};

}  // namespace loomkit
