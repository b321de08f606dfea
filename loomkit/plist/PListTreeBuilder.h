// Builds a property-list node tree straight from the XML parser's events, without holding the
// document or an element tree in memory: the two XML readers of this folder are made of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "loomkit/io/InputStream.h"
#include "loomkit/plist/DictNode.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// One builder serves one parse on one thread. Memory grows with the nodes built and the open
// element stack only; the input is fed in pieces of any size.
//
// A failure never leaves a partial tree: the first property-list error (a value without a key,
// an unknown element, an integer without digits...) drops what was built, but the parse goes on
// to the end, because a malformed document reports the XML parser's error instead, as it would if
// the document had been parsed whole before any node was made. The XML-level failures, which
// stop the parse at once, are "XML parse error at line %lu column %lu: %s" (the parser's text),
// "XML elements nested deeper than %zu levels", "XML entity declarations are not supported" and
// "undefined XML entity %s". Every error is in PListErrorDomain with code -1.
class PListTreeBuilder {
 public:
  // The two forms read.
  enum class Dialect {
    // The form this system writes for its own files (XMLPListReader): strings escaped twice, no
    // dates or data; "plist" holds exactly one dictionary ("empty root array in PList",
    // "expected root array in PList"); a key stays pending after its value; comments and
    // processing instructions inside the document, and any other element, are "invalid node
    // type".
    kOwnFiles,
    // Property lists as other programs write them (PListDocumentReader): strings as the XML
    // parser resolves them; "date" and "data" dropped together with their keys; comments and
    // processing instructions skipped; "expected one root value in plist", "expected root
    // dictionary in plist", "unexpected element <%s>"; each value uses up its key.
    kDocument,
  };

  static constexpr size_t kDefaultMaxDepth = 256;

  explicit PListTreeBuilder(Dialect dialect, size_t maxDepth = kDefaultMaxDepth);
  ~PListTreeBuilder();
  PListTreeBuilder(const PListTreeBuilder&) = delete;
  PListTreeBuilder& operator=(const PListTreeBuilder&) = delete;

  // The whole input at once.
  static std::unique_ptr<DictNode> dictNodeWithData(Dialect dialect, std::span<const uint8_t> data,
                                                    Error* error = nullptr);
  // The stream read to its end in 64 KiB steps; a failed read is the stream's error.
  static std::unique_ptr<DictNode> dictNodeWithStream(Dialect dialect, InputStream& in, Error* error = nullptr);

  // Feeds the next piece; last marks the end of the input. False once the parse has stopped
  // (the XML is malformed or refused); finish then gives the error.
  bool feed(std::span<const uint8_t> data, bool last);
  // After the last piece: the root dictionary, or nullptr with the error.
  std::unique_ptr<DictNode> finish(Error* error = nullptr);

 private:
  class Handler;
  struct Frame;

  enum class Leaf : uint8_t { kNone, kKey, kString, kInteger, kReal, kTrue, kFalse };

  void startElement(const char* name);
  void endElement();
  void characters(const char* text, size_t length);
  void markup();  // a comment or processing instruction
  void refuse(std::string description);

  // A value element starts in the open container; false when it is refused.
  void startValue(const char* name);
  // The node for the leaf that just ended; nullptr after recording its error.
  std::unique_ptr<PListNode> leafNode(Leaf leaf);
  // Puts a finished value into the open container.
  void attach(std::unique_ptr<PListNode> node);
  // Records the first property-list error and drops the partial tree; the rest of the root value
  // is skipped. logged: the error was logged where it was made.
  void fail(std::string description, bool logged = false);
  void skipElement() { ++skipDepth_; }

  const Dialect dialect_;
  const size_t maxDepth_;
  std::unique_ptr<Handler> handler_;
  std::vector<Frame> frames_;   // the open containers below "plist", innermost last
  size_t depth_ = 0;            // open elements of the document
  size_t skipDepth_ = 0;        // open elements inside a skipped subtree
  bool inPlist_ = false;        // the "plist" root element is open
  bool seenRoot_ = false;
  bool ignoreAll_ = false;      // the root element is not "plist"
  Leaf leaf_ = Leaf::kNone;     // the open leaf element (its children are skipped)
  bool leafHasElementChild_ = false;
  std::string text_;            // the character data directly inside the open leaf
  size_t rootValues_ = 0;       // elements directly inside "plist"
  bool rootIsDict_ = false;
  std::unique_ptr<DictNode> root_;
  std::optional<std::string> rootError_;   // about the root element and its values
  std::optional<std::string> valueError_;  // the first error inside the root value
  bool valueErrorLogged_ = false;
  std::optional<std::string> xmlError_;    // the parse stopped
};

}  // namespace loomkit
