#include "loomkit/plist/XMLPListReader.h"

#include <charconv>

#include "loomkit/plist/PListTreeBuilder.h"

namespace loomkit {

namespace {

void appendUTF8(std::string& out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

// The code point of a numeric character reference body ("#65" or "#x41"), when it is one of a
// valid Unicode scalar value.
std::optional<uint32_t> numericReference(std::string_view body) {
  if (body.size() < 2 || body[0] != '#') return std::nullopt;
  bool hex = body[1] == 'x';
  std::string_view digits = body.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  uint32_t value = 0;
  auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
  if (result.ec != std::errc() || result.ptr != digits.data() + digits.size()) return std::nullopt;
  if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
  return value;
}

// The character a reference body (the text between "&" and ";") stands for, as UTF-8.
std::optional<std::string> referencedText(std::string_view body) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"apos", '\''}, {"quot", '"'}};
  for (const auto& [name, character] : kNamed) {
    if (body == name) return std::string(1, character);
  }
  std::optional<uint32_t> codePoint = numericReference(body);
  if (!codePoint) return std::nullopt;
  std::string text;
  appendUTF8(text, *codePoint);
  return text;
}

}  // namespace

std::string XMLPListReader::unescapedStringValue(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    size_t amp = text.find('&', i);
    if (amp == std::string_view::npos) break;
    out.append(text.substr(i, amp - i));
    // A reference body is short; looking only a few characters ahead keeps this linear.
    size_t semicolon = text.substr(amp + 1, 12).find(';');
    std::optional<std::string> replacement;
    if (semicolon != std::string_view::npos) replacement = referencedText(text.substr(amp + 1, semicolon));
    if (replacement) {
      out += *replacement;
      i = amp + semicolon + 2;
    } else {
      out += '&';
      i = amp + 1;
    }
  }
  if (i < text.size()) out.append(text.substr(i));
  return out;
}

std::unique_ptr<DictNode> XMLPListReader::read(Error* error) {
  return PListTreeBuilder::dictNodeWithData(PListTreeBuilder::Dialect::kOwnFiles, data_, error);
}

}  // namespace loomkit
