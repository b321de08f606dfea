// Reads a whole XML property list as other programs write it (text escaped once, dates and data
// present) into a node tree.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "loomkit/plist/DictNode.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// Stateless; safe from any thread. Unlike XMLPListReader (the form this system writes for its
// own files, whose strings are escaped twice), string text is taken exactly as the XML parser
// resolves it. "date" and "data" values are accepted and dropped together with their keys, since
// the tree has no node for them; comments and processing instructions are skipped. Nodes are
// built as the XML parser streams through the input (PListTreeBuilder): neither the file's bytes
// nor an element tree are held, and a failure never leaves a partial tree.
class PListDocumentReader {
 public:
  // Streams the file through the parser (a failed read is the stream's error) and parses it as
  // dictNodeWithData does.
  static std::unique_ptr<DictNode> dictNodeWithContentsOfFile(const std::string& path, Error* error = nullptr);

  // The root dictionary, or nullptr with a PListErrorDomain (-1) error: the XML parser's failure
  // (see PListTreeBuilder), "expected root element 'plist'", "expected one root value in plist",
  // "expected root dictionary in plist", "unexpected element <%s>", "must have key before adding
  // value", "string does not contain a long long: %@", "string does not contain a double: %@".
  static std::unique_ptr<DictNode> dictNodeWithData(std::span<const uint8_t> data, Error* error = nullptr);
};

}  // namespace loomkit
