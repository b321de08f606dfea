// The byte buffer every stream, encoder and file helper passes around.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace loomkit {

using Bytes = std::vector<uint8_t>;

inline Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }
inline std::string_view textOf(const Bytes& bytes) {
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace loomkit
