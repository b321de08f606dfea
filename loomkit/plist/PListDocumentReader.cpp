#include "loomkit/plist/PListDocumentReader.h"

#include <sys/stat.h>

#include <algorithm>

#include "loomkit/io/FileInputStream.h"
#include "loomkit/shared/Format.h"

namespace loomkit {

namespace {

// Room added for a read beyond what the buffer already holds.
constexpr size_t kReadStep = 64 * 1024;

std::nullptr_t failure(Error* error, std::string description) {
  setError(error, kPListErrorDomain, -1, std::move(description));
  return nullptr;
}

bool isElement(XMLDocument::Node node) { return node.kind() == XMLDocument::NodeKind::kElement; }

bool isDropped(std::string_view name) { return name == "date" || name == "data"; }

// The whole file. Its size only sizes the buffer ahead; the bytes read decide what it holds.
std::optional<Bytes> readWholeFile(const std::string& path, Error* error) {
  Bytes bytes;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && st.st_size > 0) {
    // One read step more than the size, so the read that meets the end needs no larger buffer.
    bytes.reserve(static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(st.st_size), UINT32_MAX)) + kReadStep);
  }
  FileInputStream in(path);
  for (;;) {
    size_t used = bytes.size();
    size_t room = std::max(bytes.capacity() - used, kReadStep);
    bytes.resize(used + room);
    int64_t n = in.read(bytes.data() + used, room, error);
    if (n < 0) return std::nullopt;
    bytes.resize(used + static_cast<size_t>(n));
    if (n == 0) return bytes;
  }
}

}  // namespace

std::unique_ptr<DictNode> PListDocumentReader::dictNodeWithContentsOfFile(const std::string& path, Error* error) {
  std::unique_ptr<XMLDocument> document;
  {
    std::optional<Bytes> bytes = readWholeFile(path, error);
    if (!bytes) return nullptr;
    document = XMLDocument::newWithData(*bytes, XMLDocument::kDefaultMaxDepth, error);
  }
  if (!document) return nullptr;
  return dictNodeWithDocument(*document, error);
}

std::unique_ptr<DictNode> PListDocumentReader::dictNodeWithData(std::span<const uint8_t> data, Error* error) {
  std::unique_ptr<XMLDocument> document = XMLDocument::newWithData(data, XMLDocument::kDefaultMaxDepth, error);
  if (!document) return nullptr;
  return dictNodeWithDocument(*document, error);
}

std::unique_ptr<DictNode> PListDocumentReader::dictNodeWithDocument(const XMLDocument& document, Error* error) {
  Node root = document.rootElement();
  if (!root || root.name() != "plist") return failure(error, "expected root element 'plist'");
  Node value;
  for (Node child = root.firstChild(); child; child = child.nextSibling()) {
    if (!isElement(child)) continue;
    if (value) return failure(error, "expected one root value in plist");
    value = child;
  }
  if (!value) return failure(error, "expected one root value in plist");
  if (value.name() != "dict") return failure(error, "expected root dictionary in plist");
  return dictNode(value, error);
}

std::unique_ptr<PListNode> PListDocumentReader::valueNode(Node element, Error* error) {
  std::string_view name = element.name();
  if (name == "dict") return dictNode(element, error);
  if (name == "array") return arrayNode(element, error);
  if (name == "string") return std::make_unique<StringNode>(std::string(element.text()));
  if (name == "integer") return IntegerNode::newWithString(element.text(), error);
  if (name == "real") return RealNode::newWithString(element.text(), error);
  if (name == "true") return std::make_unique<BooleanNode>(true);
  if (name == "false") return std::make_unique<BooleanNode>(false);
  return failure(error, strprintf("unexpected element <%.*s>", static_cast<int>(name.size()), name.data()));
}

std::unique_ptr<ArrayNode> PListDocumentReader::arrayNode(Node element, Error* error) {
  auto array = std::make_unique<ArrayNode>();
  for (Node child = element.firstChild(); child; child = child.nextSibling()) {
    if (!isElement(child) || isDropped(child.name())) continue;
    std::unique_ptr<PListNode> node = valueNode(child, error);
    if (!node) return nullptr;
    array->add(std::move(node));
  }
  return array;
}

std::unique_ptr<DictNode> PListDocumentReader::dictNode(Node element, Error* error) {
  auto dict = std::make_unique<DictNode>();
  Node key;  // the pending key element, or no node
  for (Node child = element.firstChild(); child; child = child.nextSibling()) {
    if (!isElement(child)) continue;
    if (child.name() == "key") {
      key = child;
      continue;
    }
    if (!key) return failure(error, "must have key before adding value");
    if (!isDropped(child.name())) {
      std::unique_ptr<PListNode> node = valueNode(child, error);
      if (!node) return nullptr;
      dict->put(std::move(node), std::string(key.text()));
    }
    key = Node();
  }
  return dict;
}

}  // namespace loomkit
