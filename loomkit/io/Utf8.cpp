#include "loomkit/io/Utf8.h"

#include <cstdint>
#include <cstring>

namespace loomkit {

bool Utf8::isValid(const void* bytes, size_t length) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  const uint8_t* end = p + length;
  while (p < end) {
    // Most text is ASCII: skip it eight bytes at a time.
    if (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if ((word & 0x8080808080808080ull) == 0) {
        p += 8;
        continue;
      }
    }
    uint8_t c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    size_t need;
    uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      need = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      need = 2;
      if (c == 0xE0) lo = 0xA0;        // no overlong forms
      else if (c == 0xED) hi = 0x9F;   // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      need = 3;
      if (c == 0xF0) lo = 0x90;        // no overlong forms
      else if (c == 0xF4) hi = 0x8F;   // nothing above U+10FFFF
    } else {
      return false;
    }
    if (static_cast<size_t>(end - p) <= need) return false;
    if (p[1] < lo || p[1] > hi) return false;
    for (size_t i = 2; i <= need; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
    }
    p += need + 1;
  }
  return true;
}

}  // namespace loomkit
