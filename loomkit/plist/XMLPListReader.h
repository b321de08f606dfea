// Reads the XML form of a property list into a node tree.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "loomkit/plist/DictNode.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// A reader serves one thread. It builds the nodes as the XML parser streams through the bytes
// (PListTreeBuilder), and a failure never leaves a partial tree behind.
class XMLPListReader {
 public:
  // Keeps a view of the bytes, which must outlive the reader.
  explicit XMLPListReader(std::span<const uint8_t> data) : data_(data) {}

  // The root dictionary, or nullptr with a PListErrorDomain (-1) error: the parser's failure (see
  // PListTreeBuilder), "expected root element 'plist'", "empty root array in PList" (none or several
  // values in "plist"), "expected root array in PList" (the value is no dictionary), "invalid
  // node type", "must have key before adding value", "string does not contain a long long: %@",
  // "string does not contain a double: %@".
  std::unique_ptr<DictNode> read(Error* error = nullptr);

  // The value of a "string" element: its text with the references amp, lt, gt, apos, quot and
  // numeric character references (decimal and hexadecimal) replaced by their characters. Other
  // text, including references to unknown names or to invalid code points, stays as it is.
  static std::string unescapedStringValue(std::string_view text);

 private:
  std::span<const uint8_t> data_;
};

}  // namespace loomkit
