// Reads a whole XML property list as other programs write it (text escaped once, dates and data
// present) into a node tree.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "loomkit/plist/DictNode.h"
#include "loomkit/plist/XMLDocument.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// Stateless; safe from any thread. Unlike XMLPListReader (the form this system writes for its
// own files, whose strings are escaped twice), string text is taken exactly as the XML parser
// resolves it. "date" and "data" values are accepted and dropped together with their keys, since
// the tree has no node for them; comments and processing instructions are skipped. The whole
// document is parsed before any node is made, so a failure never leaves a partial tree.
class PListDocumentReader {
 public:
  // Reads the file whole (a failed read is the stream's error), then parses it as
  // dictNodeWithData does. The file's bytes are released before the nodes are built.
  static std::unique_ptr<DictNode> dictNodeWithContentsOfFile(const std::string& path, Error* error = nullptr);

  // The root dictionary, or nullptr with a PListErrorDomain (-1) error: the XML parser's failure
  // (see XMLDocument), "expected root element 'plist'", "expected one root value in plist",
  // "expected root dictionary in plist", "unexpected element <%s>", "must have key before adding
  // value", "string does not contain a long long: %@", "string does not contain a double: %@".
  static std::unique_ptr<DictNode> dictNodeWithData(std::span<const uint8_t> data, Error* error = nullptr);

 private:
  using Node = XMLDocument::Node;

  static std::unique_ptr<DictNode> dictNodeWithDocument(const XMLDocument& document, Error* error);
  // The node for a value element; nullptr with no error for a date or data value.
  static std::unique_ptr<PListNode> valueNode(Node element, Error* error);
  static std::unique_ptr<ArrayNode> arrayNode(Node element, Error* error);
  static std::unique_ptr<DictNode> dictNode(Node element, Error* error);
};

}  // namespace loomkit
