#include "loomkit/plist/PListTreeBuilder.h"

#include <expat.h>

#include <algorithm>
#include <cstring>

#include "loomkit/plist/XMLPListReader.h"
#include "loomkit/shared/Format.h"

namespace loomkit {

namespace {

// The parser takes an int length, so larger inputs go in pieces.
constexpr size_t kPiece = 1 << 20;
// Bytes read from a stream per step.
constexpr size_t kReadStep = 64 * 1024;

bool onlySpace(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
}

bool isDropped(const char* name) { return std::strcmp(name, "date") == 0 || std::strcmp(name, "data") == 0; }

}  // namespace

// An open dictionary or array below "plist", with the value it is building.
struct PListTreeBuilder::Frame {
  std::unique_ptr<DictNode> dict;    // set for a dictionary
  std::unique_ptr<ArrayNode> array;  // set for an array
  std::optional<std::string> key;    // a dictionary's pending key
};

// Owns the XML parser for one builder and routes its events there.
class PListTreeBuilder::Handler {
 public:
  explicit Handler(PListTreeBuilder& owner) : owner_(owner), parser_(::XML_ParserCreate(nullptr)) {
    if (!parser_) return;
    ::XML_SetUserData(parser_, this);
    ::XML_SetElementHandler(parser_, startElement, endElement);
    ::XML_SetCharacterDataHandler(parser_, characters);
    if (owner.dialect_ == Dialect::kOwnFiles) {
      // Only this form refuses them; the other skips them, so it needs no calls.
      ::XML_SetCommentHandler(parser_, comment);
      ::XML_SetProcessingInstructionHandler(parser_, processingInstruction);
    }
    ::XML_SetEntityDeclHandler(parser_, entityDeclaration);
    ::XML_SetSkippedEntityHandler(parser_, skippedEntity);
    ::XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
  }
  ~Handler() {
    if (parser_) ::XML_ParserFree(parser_);
  }
  Handler(const Handler&) = delete;
  Handler& operator=(const Handler&) = delete;

  bool feed(std::span<const uint8_t> data, bool last) {
    if (!parser_) {
      owner_.xmlError_ = "XML parser could not be created";
      return false;
    }
    size_t offset = 0;
    do {
      size_t length = std::min(kPiece, data.size() - offset);
      bool final = last && offset + length == data.size();
      if (::XML_Parse(parser_, reinterpret_cast<const char*>(data.data()) + offset, static_cast<int>(length),
                      final) != XML_STATUS_OK) {
        if (!owner_.xmlError_) {
          owner_.xmlError_ = strprintf("XML parse error at line %lu column %lu: %s",
                                       static_cast<unsigned long>(::XML_GetCurrentLineNumber(parser_)),
                                       static_cast<unsigned long>(::XML_GetCurrentColumnNumber(parser_)) + 1,
                                       ::XML_ErrorString(::XML_GetErrorCode(parser_)));
        }
        return false;
      }
      offset += length;
    } while (offset < data.size());
    return true;
  }

  // Stops the parse; the parser's own "aborted" error is not reported.
  void stop() { ::XML_StopParser(parser_, XML_FALSE); }

 private:
  static PListTreeBuilder& of(void* userData) { return static_cast<Handler*>(userData)->owner_; }

  static void XMLCALL startElement(void* userData, const XML_Char* name, const XML_Char**) {
    of(userData).startElement(name);
  }
  static void XMLCALL endElement(void* userData, const XML_Char*) { of(userData).endElement(); }
  static void XMLCALL characters(void* userData, const XML_Char* text, int length) {
    of(userData).characters(text, static_cast<size_t>(length));
  }
  static void XMLCALL comment(void* userData, const XML_Char*) { of(userData).markup(); }
  static void XMLCALL processingInstruction(void* userData, const XML_Char*, const XML_Char*) {
    of(userData).markup();
  }
  static void XMLCALL entityDeclaration(void* userData, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                        const XML_Char*, const XML_Char*, const XML_Char*) {
    // Entities could expand a small input into a huge text or name an outside file; property
    // lists never declare any.
    of(userData).refuse("XML entity declarations are not supported");
  }
  static void XMLCALL skippedEntity(void* userData, const XML_Char* name, int) {
    of(userData).refuse(strprintf("undefined XML entity %s", name));
  }

  PListTreeBuilder& owner_;
  XML_Parser parser_;
};

PListTreeBuilder::PListTreeBuilder(Dialect dialect, size_t maxDepth)
    : dialect_(dialect), maxDepth_(maxDepth), handler_(std::make_unique<Handler>(*this)) {}

PListTreeBuilder::~PListTreeBuilder() = default;

std::unique_ptr<DictNode> PListTreeBuilder::dictNodeWithData(Dialect dialect, std::span<const uint8_t> data,
                                                             Error* error) {
  PListTreeBuilder builder(dialect);
  builder.feed(data, true);
  return builder.finish(error);
}

std::unique_ptr<DictNode> PListTreeBuilder::dictNodeWithStream(Dialect dialect, InputStream& in, Error* error) {
  PListTreeBuilder builder(dialect);
  std::vector<uint8_t> buffer(kReadStep);
  for (;;) {
    int64_t n = in.read(buffer.data(), buffer.size(), error);
    if (n < 0) return nullptr;
    if (!builder.feed(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)), n == 0)) break;
    if (n == 0) break;
  }
  return builder.finish(error);
}

bool PListTreeBuilder::feed(std::span<const uint8_t> data, bool last) {
  if (xmlError_) return false;
  return handler_->feed(data, last);
}

std::unique_ptr<DictNode> PListTreeBuilder::finish(Error* error) {
  auto failure = [&](const std::string& description) -> std::unique_ptr<DictNode> {
    setError(error, kPListErrorDomain, -1, description);
    return nullptr;
  };
  auto valueFailure = [&]() -> std::unique_ptr<DictNode> {
    // A number's own error was logged where it was made.
    if (!valueErrorLogged_) return failure(*valueError_);
    if (error) *error = Error(std::string(kPListErrorDomain), -1, *valueError_);
    return nullptr;
  };
  if (xmlError_) return failure(*xmlError_);
  if (rootError_) return failure(*rootError_);
  if (dialect_ == Dialect::kOwnFiles) {
    // The root element's values are read like an array's elements: the first failure among
    // them stands before their number and type are looked at.
    if (valueError_) return valueFailure();
    if (rootValues_ != 1) return failure("empty root array in PList");
    if (!root_) return failure("expected root array in PList");
  } else {
    if (rootValues_ != 1) return failure("expected one root value in plist");
    if (!rootIsDict_) return failure("expected root dictionary in plist");
    if (valueError_) return valueFailure();
  }
  return std::move(root_);
}

void PListTreeBuilder::refuse(std::string description) {
  if (!xmlError_) xmlError_ = std::move(description);
  handler_->stop();
}

void PListTreeBuilder::fail(std::string description, bool logged) {
  if (!valueError_) {
    valueError_ = std::move(description);
    valueErrorLogged_ = logged;
  }
  frames_.clear();
  root_.reset();
  leaf_ = Leaf::kNone;
  text_.clear();
  // Everything still open inside "plist" is skipped to its end.
  skipDepth_ = depth_ > 0 ? depth_ - 1 : 0;
}

void PListTreeBuilder::startElement(const char* name) {
  if (xmlError_) return;  // the parser may still deliver a call after being stopped
  if (depth_ >= maxDepth_) {
    refuse(strprintf("XML elements nested deeper than %zu levels", maxDepth_));
    return;
  }
  ++depth_;
  if (ignoreAll_ || skipDepth_ > 0) {
    ++skipDepth_;
    return;
  }
  if (!seenRoot_) {
    seenRoot_ = true;
    if (std::strcmp(name, "plist") != 0) {
      rootError_ = "expected root element 'plist'";
      ignoreAll_ = true;
    } else {
      inPlist_ = true;
    }
    return;
  }
  if (leaf_ != Leaf::kNone) {
    // A leaf's own children are not values: only its direct text counts.
    leafHasElementChild_ = true;
    skipElement();
    return;
  }
  if (frames_.empty()) {  // a value of "plist"
    ++rootValues_;
    if (valueError_) return skipElement();
    if (dialect_ == Dialect::kDocument) {
      if (rootValues_ > 1 || std::strcmp(name, "dict") != 0) return skipElement();
      rootIsDict_ = true;
      frames_.push_back(Frame{std::make_unique<DictNode>(), nullptr, std::nullopt});
      return;
    }
    return startValue(name);
  }
  Frame& top = frames_.back();
  if (top.dict) {
    if (std::strcmp(name, "key") == 0) {
      leaf_ = Leaf::kKey;
      leafHasElementChild_ = false;
      text_.clear();
      return;
    }
    if (dialect_ == Dialect::kDocument) {
      if (!top.key) return fail("must have key before adding value");
      if (isDropped(name)) {
        top.key.reset();
        return skipElement();
      }
    }
    return startValue(name);
  }
  if (dialect_ == Dialect::kDocument && isDropped(name)) return skipElement();
  startValue(name);
}

void PListTreeBuilder::startValue(const char* name) {
  Leaf leaf = Leaf::kNone;
  switch (name[0]) {
    case 'a':
      if (std::strcmp(name, "array") == 0) {
        frames_.push_back(Frame{nullptr, std::make_unique<ArrayNode>(), std::nullopt});
        return;
      }
      break;
    case 'd':
      if (std::strcmp(name, "dict") == 0) {
        frames_.push_back(Frame{std::make_unique<DictNode>(), nullptr, std::nullopt});
        return;
      }
      break;
    case 's':
      if (std::strcmp(name, "string") == 0) leaf = Leaf::kString;
      break;
    case 'i':
      if (std::strcmp(name, "integer") == 0) leaf = Leaf::kInteger;
      break;
    case 'r':
      if (std::strcmp(name, "real") == 0) leaf = Leaf::kReal;
      break;
    case 't':
      if (std::strcmp(name, "true") == 0) leaf = Leaf::kTrue;
      break;
    case 'f':
      if (std::strcmp(name, "false") == 0) leaf = Leaf::kFalse;
      break;
    default: break;
  }
  if (leaf == Leaf::kNone) {
    return fail(dialect_ == Dialect::kOwnFiles ? std::string("invalid node type")
                                               : strprintf("unexpected element <%s>", name));
  }
  leaf_ = leaf;
  leafHasElementChild_ = false;
  text_.clear();
}

void PListTreeBuilder::endElement() {
  if (xmlError_) return;
  --depth_;
  if (ignoreAll_) return;
  if (skipDepth_ > 0) {
    --skipDepth_;
    return;
  }
  if (leaf_ != Leaf::kNone) {
    Leaf leaf = leaf_;
    leaf_ = Leaf::kNone;
    // Text that is only white space around child elements is no text, as in an element tree.
    if (leafHasElementChild_ && onlySpace(text_)) text_.clear();
    if (leaf == Leaf::kKey) {
      frames_.back().key = text_;
      return;
    }
    std::unique_ptr<PListNode> node = leafNode(leaf);
    if (node) attach(std::move(node));
    return;
  }
  if (frames_.empty()) {  // "plist" itself
    inPlist_ = false;
    return;
  }
  Frame frame = std::move(frames_.back());
  frames_.pop_back();
  // The tree is read, not grown, from here on: spare room is given back.
  if (frame.dict) {
    frame.dict->shrinkToFit();
    attach(std::move(frame.dict));
  } else {
    frame.array->shrinkToFit();
    attach(std::move(frame.array));
  }
}

std::unique_ptr<PListNode> PListTreeBuilder::leafNode(Leaf leaf) {
  switch (leaf) {
    case Leaf::kString:
      if (dialect_ == Dialect::kOwnFiles) return std::make_unique<StringNode>(XMLPListReader::unescapedStringValue(text_));
      return std::make_unique<StringNode>(text_);
    case Leaf::kInteger: {
      Error error;
      std::unique_ptr<IntegerNode> node = IntegerNode::newWithString(text_, &error);
      if (!node) fail(error.description(), true);
      return node;
    }
    case Leaf::kReal: {
      Error error;
      std::unique_ptr<RealNode> node = RealNode::newWithString(text_, &error);
      if (!node) fail(error.description(), true);
      return node;
    }
    case Leaf::kTrue: return std::make_unique<BooleanNode>(true);
    case Leaf::kFalse: return std::make_unique<BooleanNode>(false);
    case Leaf::kNone:
    case Leaf::kKey: break;
  }
  return nullptr;
}

void PListTreeBuilder::attach(std::unique_ptr<PListNode> node) {
  if (frames_.empty()) {  // a value of "plist": only the first one can be the result
    if (rootValues_ == 1 && !root_ && node->type() == PListNode::kDictType) {
      root_.reset(static_cast<DictNode*>(node.release()));
    }
    return;
  }
  Frame& top = frames_.back();
  if (top.array) {
    top.array->add(std::move(node));
    return;
  }
  if (!top.key) return fail("must have key before adding value");
  if (dialect_ == Dialect::kOwnFiles) {
    // The key stays: a second value after it replaces the first.
    top.dict->put(std::move(node), *top.key);
  } else {
    top.dict->put(std::move(node), std::move(*top.key));
    top.key.reset();
  }
}

void PListTreeBuilder::characters(const char* text, size_t length) {
  if (xmlError_ || skipDepth_ > 0) return;
  if (leaf_ == Leaf::kNone || leaf_ == Leaf::kTrue || leaf_ == Leaf::kFalse) return;
  text_.append(text, length);
}

void PListTreeBuilder::markup() {
  if (xmlError_ || ignoreAll_ || skipDepth_ > 0 || !inPlist_ || leaf_ != Leaf::kNone) return;
  // Inside "plist" and its containers a comment or processing instruction is a child that no
  // node stands for.
  fail("invalid node type");
}

}  // namespace loomkit
