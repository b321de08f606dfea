#include "loomkit/io/SafeFileName.h"

#include "loomkit/io/Utf8.h"

namespace loomkit {

namespace {

// The length of the well-formed UTF-8 character at the start of text, 0 when it is malformed.
size_t characterLength(std::string_view text) {
  unsigned char lead = static_cast<unsigned char>(text[0]);
  size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (length == 0 || length > text.size() || !Utf8::isValid(text.data(), length)) {
    return 0;
  }
  return length;
}

// The longest prefix of text of at most limit bytes that ends on a character boundary (text is
// well-formed here).
size_t boundaryAtOrBefore(std::string_view text, size_t limit) {
  if (limit >= text.size()) {
    return text.size();
  }
  while (limit > 0 && (static_cast<unsigned char>(text[limit]) & 0xC0) == 0x80) {
    --limit;
  }
  return limit;
}

}  // namespace

std::string SafeFileName::component(std::string_view name, std::string_view fallback) {
  std::string out;
  out.reserve(name.size());
  while (!name.empty()) {
    size_t length = characterLength(name);
    unsigned char c = static_cast<unsigned char>(name[0]);
    if (length == 0 || c < 0x20 || c == 0x7F || c == '/' || c == '\\') {
      out += '_';
      name.remove_prefix(length == 0 ? 1 : length);
      continue;
    }
    out.append(name.substr(0, length));
    name.remove_prefix(length);
  }
  if (!out.empty() && out[0] == '.') {
    out[0] = '_';
  }
  if (out.size() > kMaxBytes) {
    // Keep an extension of up to 16 bytes so that the file keeps its type.
    size_t dot = out.rfind('.');
    std::string extension;
    if (dot != std::string::npos && dot > 0 && out.size() - dot <= 16) {
      extension = out.substr(dot);
    }
    std::string_view stem(out.data(), out.size() - extension.size());
    out = std::string(stem.substr(0, boundaryAtOrBefore(stem, kMaxBytes - extension.size()))) + extension;
  }
  if (out.empty()) {
    return std::string(fallback);
  }
  return out;
}

}  // namespace loomkit
