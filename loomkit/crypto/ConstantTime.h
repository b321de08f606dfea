// Comparison of secrets (password digests) that does not reveal where they differ.
#pragma once

#include <string_view>

namespace loomkit {

// Stateless; safe from any thread.
class ConstantTime {
 public:
  // True when a and b hold the same bytes. The time taken depends on the lengths only, never on
  // the contents, so a client cannot learn a digest byte by byte from the answer times.
  static bool equals(std::string_view a, std::string_view b);
};

}  // namespace loomkit
