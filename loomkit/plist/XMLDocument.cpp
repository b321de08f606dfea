#include "loomkit/plist/XMLDocument.h"

#include <expat.h>

#include <algorithm>
#include <limits>
#include <optional>

#include "loomkit/plist/PListNode.h"
#include "loomkit/shared/Format.h"

namespace loomkit {

// Turns the parser's events into the document's records. One builder serves one parse.
class XMLDocument::Builder {
 public:
  Builder(XMLDocument& document, size_t maxDepth) : document_(document), maxDepth_(maxDepth) {}

  bool parse(std::span<const uint8_t> data, Error* error);

 private:
  // One open node: the document, then each element down to the current one.
  struct Frame {
    uint32_t node = 0;
    uint32_t lastChild = kNoNode;
    bool hasElementChild = false;
    std::string text;
  };

  static Builder& of(void* userData) { return *static_cast<Builder*>(userData); }
  static void XMLCALL startElement(void* userData, const XML_Char* name, const XML_Char** attributes);
  static void XMLCALL endElement(void* userData, const XML_Char* name);
  static void XMLCALL characters(void* userData, const XML_Char* text, int length);
  static void XMLCALL comment(void* userData, const XML_Char* text);
  static void XMLCALL processingInstruction(void* userData, const XML_Char* target, const XML_Char* data);
  static void XMLCALL entityDeclaration(void* userData, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                        const XML_Char*, const XML_Char*, const XML_Char*);
  static void XMLCALL skippedEntity(void* userData, const XML_Char* name, int isParameterEntity);

  Frame& current() { return frames_[open_ - 1]; }
  // A new node as the last child of the current one; kNoNode after a failure.
  uint32_t appendNode(NodeKind kind, bool isElement);
  // Copies text into the document's strings; false after a failure.
  bool store(std::string_view text, uint32_t& offset, uint32_t& length);
  // Stops the parse with the given description.
  void fail(std::string description);

  XMLDocument& document_;
  const size_t maxDepth_;
  XML_Parser parser_ = nullptr;
  std::vector<Frame> frames_;  // frames_[0..open_) are open; later ones keep their buffers for reuse
  size_t open_ = 0;
  std::optional<std::string> failure_;
};

bool XMLDocument::Builder::parse(std::span<const uint8_t> data, Error* error) {
  parser_ = ::XML_ParserCreate(nullptr);
  if (!parser_) return setError(error, kPListErrorDomain, -1, "XML parser could not be created");
  ::XML_SetUserData(parser_, this);
  ::XML_SetElementHandler(parser_, startElement, endElement);
  ::XML_SetCharacterDataHandler(parser_, characters);
  ::XML_SetCommentHandler(parser_, comment);
  ::XML_SetProcessingInstructionHandler(parser_, processingInstruction);
  ::XML_SetEntityDeclHandler(parser_, entityDeclaration);
  ::XML_SetSkippedEntityHandler(parser_, skippedEntity);
  ::XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);

  document_.records_.push_back(Record{});
  frames_.resize(1);
  open_ = 1;

  // The parser takes an int length, so larger inputs go in pieces.
  constexpr size_t kPiece = 1 << 20;
  bool ok = true;
  size_t offset = 0;
  do {
    size_t length = std::min(kPiece, data.size() - offset);
    bool last = offset + length == data.size();
    ok = ::XML_Parse(parser_, reinterpret_cast<const char*>(data.data()) + offset, static_cast<int>(length),
                     last) == XML_STATUS_OK;
    offset += length;
  } while (ok && offset < data.size());

  if (!ok && !failure_) {
    failure_ = strprintf("XML parse error at line %lu column %lu: %s",
                         static_cast<unsigned long>(::XML_GetCurrentLineNumber(parser_)),
                         static_cast<unsigned long>(::XML_GetCurrentColumnNumber(parser_)) + 1,
                         ::XML_ErrorString(::XML_GetErrorCode(parser_)));
  }
  ::XML_ParserFree(parser_);
  parser_ = nullptr;
  if (failure_) return setError(error, kPListErrorDomain, -1, *failure_);
  return true;
}

void XMLDocument::Builder::fail(std::string description) {
  if (!failure_) failure_ = std::move(description);
  ::XML_StopParser(parser_, XML_FALSE);
}

bool XMLDocument::Builder::store(std::string_view text, uint32_t& offset, uint32_t& length) {
  std::string& strings = document_.strings_;
  if (text.size() > std::numeric_limits<uint32_t>::max() - strings.size()) {
    fail("XML document too large");
    return false;
  }
  offset = static_cast<uint32_t>(strings.size());
  length = static_cast<uint32_t>(text.size());
  strings.append(text);
  return true;
}

uint32_t XMLDocument::Builder::appendNode(NodeKind kind, bool isElement) {
  auto& records = document_.records_;
  if (records.size() >= kNoNode) {
    fail("XML document too large");
    return kNoNode;
  }
  auto index = static_cast<uint32_t>(records.size());
  records.push_back(Record{});
  records.back().kind = kind;
  Frame& parent = current();
  if (parent.lastChild == kNoNode) {
    records[parent.node].firstChild = index;
  } else {
    records[parent.lastChild].nextSibling = index;
  }
  parent.lastChild = index;
  parent.hasElementChild |= isElement;
  return index;
}

void XMLCALL XMLDocument::Builder::startElement(void* userData, const XML_Char* name, const XML_Char**) {
  Builder& self = of(userData);
  if (self.failure_) return;
  if (self.open_ - 1 >= self.maxDepth_) {
    self.fail(strprintf("XML elements nested deeper than %zu levels", self.maxDepth_));
    return;
  }
  uint32_t index = self.appendNode(NodeKind::kElement, true);
  if (index == kNoNode) return;
  Record& record = self.document_.records_[index];
  if (!self.store(name, record.nameOffset, record.nameLength)) return;
  if (self.open_ == 1 && self.document_.rootElement_ == kNoNode) self.document_.rootElement_ = index;
  if (self.open_ == self.frames_.size()) self.frames_.emplace_back();
  Frame& frame = self.frames_[self.open_++];
  frame.node = index;
  frame.lastChild = kNoNode;
  frame.hasElementChild = false;
  frame.text.clear();
}

void XMLCALL XMLDocument::Builder::endElement(void* userData, const XML_Char*) {
  Builder& self = of(userData);
  if (self.failure_) return;
  Frame& frame = self.current();
  bool onlySpace = std::all_of(frame.text.begin(), frame.text.end(),
                               [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
  if (!(frame.hasElementChild && onlySpace)) {
    Record& record = self.document_.records_[frame.node];
    if (!self.store(frame.text, record.textOffset, record.textLength)) return;
  }
  --self.open_;
}

void XMLCALL XMLDocument::Builder::characters(void* userData, const XML_Char* text, int length) {
  Builder& self = of(userData);
  if (self.failure_ || self.open_ < 2) return;
  self.current().text.append(text, static_cast<size_t>(length));
}

void XMLCALL XMLDocument::Builder::comment(void* userData, const XML_Char* text) {
  Builder& self = of(userData);
  if (self.failure_) return;
  uint32_t index = self.appendNode(NodeKind::kComment, false);
  if (index == kNoNode) return;
  Record& record = self.document_.records_[index];
  self.store(text, record.textOffset, record.textLength);
}

void XMLCALL XMLDocument::Builder::processingInstruction(void* userData, const XML_Char* target,
                                                          const XML_Char* data) {
  Builder& self = of(userData);
  if (self.failure_) return;
  uint32_t index = self.appendNode(NodeKind::kProcessingInstruction, false);
  if (index == kNoNode) return;
  Record& record = self.document_.records_[index];
  if (self.store(target, record.nameOffset, record.nameLength)) self.store(data, record.textOffset, record.textLength);
}

void XMLCALL XMLDocument::Builder::entityDeclaration(void* userData, const XML_Char*, int, const XML_Char*, int,
                                                     const XML_Char*, const XML_Char*, const XML_Char*,
                                                     const XML_Char*) {
  // Entities could expand a small input into a huge text or name an outside file; property
  // lists never declare any.
  of(userData).fail("XML entity declarations are not supported");
}

void XMLCALL XMLDocument::Builder::skippedEntity(void* userData, const XML_Char* name, int) {
  of(userData).fail(strprintf("undefined XML entity %s", name));
}

std::unique_ptr<XMLDocument> XMLDocument::newWithData(std::span<const uint8_t> data, size_t maxDepth, Error* error) {
  std::unique_ptr<XMLDocument> document(new XMLDocument());
  if (!Builder(*document, maxDepth).parse(data, error)) return nullptr;
  return document;
}

}  // namespace loomkit
