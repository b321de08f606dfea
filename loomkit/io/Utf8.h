// UTF-8 validation of bytes that are about to become text.
#pragma once

#include <cstddef>
#include <string_view>

namespace loomkit {

// Stateless; safe from any thread.
class Utf8 {
 public:
  // True when the bytes are well-formed UTF-8: shortest forms only, no surrogates, nothing above
  // U+10FFFF.
  static bool isValid(const void* bytes, size_t length);
  static bool isValid(std::string_view text) { return isValid(text.data(), text.size()); }
};

}  // namespace loomkit
