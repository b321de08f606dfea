// Writes a node tree in the XML form of a property list.
#pragma once

#include <string>

#include "loomkit/io/Bytes.h"
#include "loomkit/plist/ArrayNode.h"
#include "loomkit/plist/DictNode.h"

namespace loomkit {

// A writer serves one thread. The form: an XML declaration, then a "plist" element (version
// "1.0") holding the root dictionary, one element per line, each level indented by a tab. Key
// text is escaped once; string values are escaped twice (first the five characters & < > ' " and
// the characters XML cannot hold as references, then once more as element text), so a reader
// unescapes them once more after parsing. Strings without a value are left out.
class XMLPListWriter {
 public:
  // Keeps a reference to the buffer, which must outlive the writer.
  explicit XMLPListWriter(Bytes& output) : output_(output) {}

  // Appends the XML form of the tree to the buffer. Throws InvalidPListNodeTypeException (and
  // appends nothing) when the tree holds a node of an unknown type.
  void write(const DictNode& root);

  // The first escape of a string value: & < > ' " become the references amp, lt, gt, apos, quot,
  // characters that XML text cannot hold (controls other than tab and line feed, carriage return,
  // U+FFFE, U+FFFF) become numeric references, and bytes that are not UTF-8 become U+FFFD.
  static std::string escapedStringValue(std::string_view value);
  // Plain XML element text: & < > as references, a carriage return as a character reference,
  // and characters XML cannot hold at all (and bytes that are not UTF-8) as U+FFFD.
  static std::string escapedText(std::string_view text);

 private:
  void writePListNode(const PListNode& node, int depth);
  void writeArray(const ArrayNode& node, int depth);
  void writeBoolean(const BooleanNode& node, int depth);
  void writeDict(const DictNode& node, int depth);
  void writeInteger(const IntegerNode& node, int depth);
  void writeReal(const RealNode& node, int depth);
  void writeString(const StringNode& node, int depth);

  // One line: indentation, then the markup.
  void line(int depth, std::string_view markup);
  // <name>text</name> on one line, text escaped once as XML text.
  void textElement(int depth, std::string_view name, std::string_view text);

  Bytes& output_;
  std::string text_;  // the document being built
};

}  // namespace loomkit
