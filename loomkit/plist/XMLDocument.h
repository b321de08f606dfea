// A whole XML document parsed into a compact tree of elements, comments and processing
// instructions, for readers that walk a document after parsing it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "loomkit/shared/Error.h"

namespace loomkit {

// Immutable after parsing; safe to read from several threads at once. Character data is not kept
// as nodes of its own: each element carries its text, the concatenation of the character data
// directly inside it (a text that is only white space between child elements is dropped).
// Attributes are not kept. The tree takes memory in the order of the input's size; external
// entities are never loaded and entity declarations are refused, so no input expands.
class XMLDocument {
 public:
  enum class NodeKind : uint8_t { kDocument, kElement, kComment, kProcessingInstruction };

 private:
  static constexpr uint32_t kNoNode = UINT32_MAX;

  struct Record {
    uint32_t nameOffset = 0;
    uint32_t nameLength = 0;
    uint32_t textOffset = 0;
    uint32_t textLength = 0;
    uint32_t firstChild = kNoNode;
    uint32_t nextSibling = kNoNode;
    NodeKind kind = NodeKind::kDocument;
  };

 public:
  // Elements may nest this deep unless the caller asks otherwise.
  static constexpr size_t kDefaultMaxDepth = 256;

  // A handle to one node; valid while its document lives. A default handle is "no node", which
  // only converts to false; the accessors need a real node.
  class Node {
   public:
    Node() = default;
    // True for a real node.
    explicit operator bool() const { return document_ != nullptr; }
    // What the node is.
    NodeKind kind() const { return record().kind; }
    // The element's name or the processing instruction's target; empty for the others.
    std::string_view name() const { return document_->view(record().nameOffset, record().nameLength); }
    // An element's text, a comment's text or a processing instruction's data.
    std::string_view text() const { return document_->view(record().textOffset, record().textLength); }
    // The first child and the next sibling, in document order; "no node" when there is none.
    Node firstChild() const { return document_->node(record().firstChild); }
    Node nextSibling() const { return document_->node(record().nextSibling); }

   private:
    friend class XMLDocument;
    Node(const XMLDocument* document, uint32_t index) : document_(document), index_(index) {}
    const Record& record() const { return document_->records_[index_]; }

    const XMLDocument* document_ = nullptr;
    uint32_t index_ = 0;
  };

  // Parses a whole document (UTF-8, UTF-16 or a declared encoding the parser knows). Failures, all
  // in PListErrorDomain with code -1: "XML parse error at line %lu column %lu: %s" (the parser's
  // text), "XML elements nested deeper than %zu levels", "XML entity declarations are not
  // supported", "undefined XML entity %s", "XML document too large".
  static std::unique_ptr<XMLDocument> newWithData(std::span<const uint8_t> data, size_t maxDepth,
                                                  Error* error = nullptr);

  // The document node, whose children are the root element and any comments or processing
  // instructions around it.
  Node documentNode() const { return Node(this, 0); }
  // The root element.
  Node rootElement() const { return node(rootElement_); }

 private:
  class Builder;

  XMLDocument() = default;
  Node node(uint32_t index) const { return index == kNoNode ? Node() : Node(this, index); }
  std::string_view view(uint32_t offset, uint32_t length) const {
    return std::string_view(strings_).substr(offset, length);
  }

  std::vector<Record> records_;  // records_[0] is the document node
  std::string strings_;          // every name and text, back to back
  uint32_t rootElement_ = kNoNode;
};

}  // namespace loomkit
