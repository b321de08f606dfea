#include "loomkit/plist/XMLPListReader.h"

#include <charconv>

namespace loomkit {

namespace {

// Reports a reader failure; the null result lets callers return it directly.
std::nullptr_t failure(Error* error, const char* description) {
  setError(error, kPListErrorDomain, -1, description);
  return nullptr;
}

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
  std::unique_ptr<XMLDocument> document = XMLDocument::newWithData(data_, XMLDocument::kDefaultMaxDepth, error);
  if (!document) return nullptr;
  Node root = document->rootElement();
  if (root.name() != "plist") return failure(error, "expected root element 'plist'");
  // The root element's children are read as an array that must hold just the root dictionary.
  ArrayNode::List values;
  if (!readChildren(root, values, error)) return nullptr;
  if (values.size() != 1) return failure(error, "empty root array in PList");
  if (values[0]->type() != PListNode::kDictType) return failure(error, "expected root array in PList");
  return std::unique_ptr<DictNode>(static_cast<DictNode*>(values[0].release()));
}

bool XMLPListReader::readChildren(Node element, ArrayNode::List& values, Error* error) {
  for (Node child = element.firstChild(); child; child = child.nextSibling()) {
    std::unique_ptr<PListNode> node = makeNode(child, error);
    if (!node) return false;
    values.push_back(std::move(node));
  }
  return true;
}

std::unique_ptr<ArrayNode> XMLPListReader::readArray(Node element, Error* error) {
  ArrayNode::List values;
  if (!readChildren(element, values, error)) return nullptr;
  return std::make_unique<ArrayNode>(std::move(values));
}

std::unique_ptr<DictNode> XMLPListReader::readDict(Node element, Error* error) {
  auto dict = std::make_unique<DictNode>();
  std::optional<std::string> key;
  for (Node child = element.firstChild(); child; child = child.nextSibling()) {
    if (child.kind() == XMLDocument::NodeKind::kElement && child.name() == "key") {
      key = std::string(child.text());
      continue;
    }
    std::unique_ptr<PListNode> node = makeNode(child, error);
    if (!node) return nullptr;
    if (!key) return failure(error, "must have key before adding value");
    dict->put(std::move(node), *key);
  }
  return dict;
}

std::unique_ptr<PListNode> XMLPListReader::makeNode(Node node, Error* error) {
  if (node.kind() != XMLDocument::NodeKind::kElement) return failure(error, "invalid node type");
  std::string_view name = node.name();
  if (name == "array") return readArray(node, error);
  if (name == "dict") return readDict(node, error);
  if (name == "true") return std::make_unique<BooleanNode>(true);
  if (name == "false") return std::make_unique<BooleanNode>(false);
  if (name == "integer") return IntegerNode::newWithString(node.text(), error);
  if (name == "real") return RealNode::newWithString(node.text(), error);
  if (name == "string") return std::make_unique<StringNode>(unescapedStringValue(node.text()));
  return failure(error, "invalid node type");
}

}  // namespace loomkit
