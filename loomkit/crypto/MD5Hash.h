// The MD5 digest text that carries passwords in the peer protocol's request headers.
#pragma once

#include <string>
#include <string_view>

namespace loomkit {

// Stateless; safe from any thread.
class MD5Hash {
 public:
  // The 32 lower-case hexadecimal characters of the MD5 digest of the text's bytes (UTF-8, no
  // terminator).
  static std::string hashString(std::string_view text);
};

}  // namespace loomkit
