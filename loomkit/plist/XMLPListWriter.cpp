#include "loomkit/plist/XMLPListWriter.h"

#include <charconv>
#include <optional>

#include "loomkit/plist/InvalidPListNodeTypeException.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// The code point of the UTF-8 sequence at text[i] and its length, or nullopt for a byte that does
// not start a valid (shortest-form, non-surrogate) sequence.
std::optional<std::pair<uint32_t, size_t>> decodeUTF8(std::string_view text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  uint8_t lead = byte(i);
  if (lead < 0x80) return std::make_pair(uint32_t{lead}, size_t{1});
  size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || text.size() - i < length) return std::nullopt;
  uint32_t codePoint = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return std::nullopt;
    codePoint = (codePoint << 6) | (byte(i + k) & 0x3F);
  }
  static constexpr uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (codePoint < kShortest[length] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    return std::nullopt;
  }
  return std::make_pair(codePoint, length);
}

// Whether XML 1.0 text can hold the character (carriage return aside, which parsers turn into a
// line feed).
bool isXMLCharacter(uint32_t c) {
  return c == 0x9 || c == 0xA || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) || c >= 0x10000;
}

// Escapes text for XML: each valid character goes through escapeCharacter, which returns the
// replacement or nullopt to keep the character; invalid UTF-8 becomes U+FFFD.
template <class EscapeCharacter>
std::string escaped(std::string_view text, EscapeCharacter escapeCharacter) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    auto decoded = decodeUTF8(text, i);
    if (!decoded) {
      out += kReplacementCharacter;
      ++i;
      continue;
    }
    auto [codePoint, length] = *decoded;
    if (std::optional<std::string_view> replacement = escapeCharacter(codePoint)) {
      out += *replacement;
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out;
}

std::optional<std::string_view> markupReference(uint32_t c) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    default: return std::nullopt;
  }
}

// The node as the class its type code names; a node that claims a code without being of that
// class is as invalid as an unknown code.
template <class T>
const T& nodeAs(const PListNode& node) {
  const auto* typed = dynamic_cast<const T*>(&node);
  if (!typed) throw InvalidPListNodeTypeException(node.type());
  return *typed;
}

}  // namespace

std::string XMLPListWriter::escapedText(std::string_view text) {
  return escaped(text, [](uint32_t c) -> std::optional<std::string_view> {
    if (c == '\r') return "&#13;";
    if (!isXMLCharacter(c)) return kReplacementCharacter;
    return markupReference(c);
  });
}

std::string XMLPListWriter::escapedStringValue(std::string_view value) {
  std::string reference;  // holds a numeric reference while escaped() copies it
  return escaped(value, [&reference](uint32_t c) -> std::optional<std::string_view> {
    switch (c) {
      case '\'': return "&apos;";
      case '"': return "&quot;";
      default: break;
    }
    if (c == '\r' || !isXMLCharacter(c)) {
      reference = "&#" + std::to_string(c) + ";";
      return reference;
    }
    return markupReference(c);
  });
}

void XMLPListWriter::write(const DictNode& root) {
  text_.clear();
  text_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  line(0, "<plist version=\"1.0\">");
  writeDict(root, 1);
  line(0, "</plist>");
  output_.insert(output_.end(), text_.begin(), text_.end());
  text_.clear();
}

void XMLPListWriter::line(int depth, std::string_view markup) {
  text_.append(static_cast<size_t>(depth), '\t');
  text_ += markup;
  text_ += '\n';
}

void XMLPListWriter::textElement(int depth, std::string_view name, std::string_view text) {
  text_.append(static_cast<size_t>(depth), '\t');
  text_ += '<';
  text_ += name;
  text_ += '>';
  text_ += escapedText(text);
  text_ += "</";
  text_ += name;
  text_ += ">\n";
}

void XMLPListWriter::writePListNode(const PListNode& node, int depth) {
  switch (node.type()) {
    case PListNode::kIntegerType: return writeInteger(nodeAs<IntegerNode>(node), depth);
    case PListNode::kStringType: return writeString(nodeAs<StringNode>(node), depth);
    case PListNode::kBooleanType: return writeBoolean(nodeAs<BooleanNode>(node), depth);
    case PListNode::kRealType: return writeReal(nodeAs<RealNode>(node), depth);
    case PListNode::kArrayType: return writeArray(nodeAs<ArrayNode>(node), depth);
    case PListNode::kDictType: return writeDict(nodeAs<DictNode>(node), depth);
    default: throw InvalidPListNodeTypeException(node.type());
  }
}

void XMLPListWriter::writeArray(const ArrayNode& node, int depth) {
  if (node.size() == 0) return line(depth, "<array/>");
  line(depth, "<array>");
  for (const auto& element : node.list()) {
    const auto* string = dynamic_cast<const StringNode*>(element.get());
    if (string && !string->stringValue()) {
      LOG_WARN("not writing nil string value to XML plist");
      continue;
    }
    writePListNode(*element, depth + 1);
  }
  line(depth, "</array>");
}

void XMLPListWriter::writeBoolean(const BooleanNode& node, int depth) {
  line(depth, node.booleanValue() ? "<true/>" : "<false/>");
}

void XMLPListWriter::writeDict(const DictNode& node, int depth) {
  if (node.size() == 0) return line(depth, "<dict/>");
  line(depth, "<dict>");
  for (const auto& key : node.orderedKeySet()) {
    const PListNode* value = node.nodeForKey(key);
    const auto* string = dynamic_cast<const StringNode*>(value);
    if (string && !string->stringValue()) {
      LOG_INFO("skipping nil string dict entry %s", key.c_str());
      continue;
    }
    textElement(depth + 1, "key", key);
    writePListNode(*value, depth + 1);
  }
  line(depth, "</dict>");
}

void XMLPListWriter::writeInteger(const IntegerNode& node, int depth) {
  char digits[24];
  auto result = std::to_chars(digits, digits + sizeof digits, node.longlongValue());
  textElement(depth, "integer", std::string_view(digits, static_cast<size_t>(result.ptr - digits)));
}

void XMLPListWriter::writeReal(const RealNode& node, int depth) {
  textElement(depth, "real", RealNode::textForValue(node.doubleValue()));
}

void XMLPListWriter::writeString(const StringNode& node, int depth) {
  // A node without a value never gets here: the collections leave it out.
  textElement(depth, "string", escapedStringValue(node.stringValue().value_or(std::string())));
}

}  // namespace loomkit
