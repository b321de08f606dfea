// Turns a name that came from elsewhere (a peer's file or roll name) into one path component
// that stays where it is put.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace loomkit {

// Stateless; safe from any thread.
class SafeFileName {
 public:
  // The most bytes of a component made here, leaving room for a "_NN" uniquing suffix below the
  // usual 255-byte file-name limit.
  static constexpr size_t kMaxBytes = 200;

  // A single path component for name: "/" and "\" become "_", control characters and malformed
  // UTF-8 bytes become "_", a leading dot becomes "_" (no ".", "..", or hidden files), and a
  // name longer than kMaxBytes is cut on a character boundary, keeping a short extension. An
  // empty result becomes fallback (which must itself be safe).
  static std::string component(std::string_view name, std::string_view fallback);
};

}  // namespace loomkit
