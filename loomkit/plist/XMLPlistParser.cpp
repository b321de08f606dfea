#include "loomkit/plist/XMLPlistParser.h"

#include <expat.h>

#include <cstring>
#include <limits>
#include <memory>

#include "loomkit/io/FileInputStream.h"
#include "loomkit/plist/RealNode.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {

// Bytes handed to the XML parser per read.
constexpr int kChunkSize = 256 * 1024;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

// Owns the XML parser for one parse and routes its events to the plist parser. A refusal made in
// a handler (an entity declaration) stops the XML parser and is remembered here, so the error
// reported is ours and not the parser's "aborted".
class XMLPlistParser::Handler {
 public:
  explicit Handler(XMLPlistParser& owner) : owner_(owner), parser_(::XML_ParserCreate(nullptr)) {
    if (!parser_) return;
    ::XML_SetUserData(parser_, this);
    ::XML_SetElementHandler(parser_, startElement, endElement);
    ::XML_SetCharacterDataHandler(parser_, characters);
    ::XML_SetEntityDeclHandler(parser_, entityDeclaration);
    ::XML_SetSkippedEntityHandler(parser_, skippedEntity);
    ::XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
  }
  ~Handler() {
    if (parser_) ::XML_ParserFree(parser_);
  }
  Handler(const Handler&) = delete;
  Handler& operator=(const Handler&) = delete;

  // Streams the file through the parser; false after reporting the failure to the delegate.
  bool run(InputStream& in) {
    XMLPlistParserDelegate& delegate = *owner_.delegate_;
    if (!parser_) {
      Error error(std::string(kXMLPlistParserErrorDomain), XML_ERROR_NO_MEMORY, "XML parser could not be created");
      delegate.parseErrorOccurred(owner_, error, 0, 0);
      return false;
    }
    for (;;) {
      void* buffer = ::XML_GetBuffer(parser_, kChunkSize);
      if (!buffer) return fail();
      Error readError;
      int64_t n = in.read(buffer, kChunkSize, &readError);
      if (n < 0) {
        delegate.parseErrorOccurred(owner_, readError, 0, 0);
        return false;
      }
      if (::XML_ParseBuffer(parser_, static_cast<int>(n), n == 0) != XML_STATUS_OK) return fail();
      if (n == 0) return true;
    }
  }

 private:
  static Handler& of(void* userData) { return *static_cast<Handler*>(userData); }

  static void XMLCALL startElement(void* userData, const XML_Char* name, const XML_Char**) {
    of(userData).owner_.startElement(name);
  }
  static void XMLCALL endElement(void* userData, const XML_Char* name) { of(userData).owner_.endElement(name); }
  static void XMLCALL characters(void* userData, const XML_Char* text, int length) {
    of(userData).owner_.characters(std::string_view(text, static_cast<size_t>(length)));
  }
  static void XMLCALL entityDeclaration(void* userData, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                        const XML_Char*, const XML_Char*, const XML_Char*) {
    of(userData).refuse("XML entity declarations are not supported");
  }
  static void XMLCALL skippedEntity(void* userData, const XML_Char* name, int) {
    of(userData).refuse(strprintf("undefined XML entity %s", name));
  }

  void refuse(std::string description) {
    if (!refusal_) refusal_ = std::move(description);
    ::XML_StopParser(parser_, XML_FALSE);
  }

  bool fail() {
    XML_Error code = ::XML_GetErrorCode(parser_);
    std::string description = refusal_ ? *refusal_ : ::XML_ErrorString(code);
    auto line = static_cast<int64_t>(::XML_GetCurrentLineNumber(parser_));
    auto column = static_cast<int64_t>(::XML_GetCurrentColumnNumber(parser_)) + 1;
    Error error(std::string(kXMLPlistParserErrorDomain), code, description);
    LOG_TRACE("XML parse error at line %lld column %lld: %s", static_cast<long long>(line),
              static_cast<long long>(column), description.c_str());
    owner_.delegate_->parseErrorOccurred(owner_, error, line, column);
    return false;
  }

  XMLPlistParser& owner_;
  XML_Parser parser_;
  std::optional<std::string> refusal_;
};

XMLPlistParser::XMLPlistParser(std::string path) : path_(std::move(path)) {}

bool XMLPlistParser::parse() {
  if (!delegate_) delegate_ = &noDelegate_;
  keyNames_.clear();
  containerNames_.clear();
  currentStringValue_.reset();
  collecting_ = false;
  FileInputStream in(path_);
  if (!Handler(*this).run(in)) return false;
  delegate_->parserDidEndPlist(*this);
  return true;
}

int64_t XMLPlistParser::integerValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (magnitude <= kMax + 1) magnitude = magnitude * 10 + (text[i] - '0');
  }
  if (negative) return -magnitude < kMin ? kMin : -magnitude;
  return magnitude > kMax ? kMax : magnitude;
}

XMLPlistParserDelegate::Key XMLPlistParser::currentKey() const {
  if (keyNames_.empty() || !keyNames_.back()) return std::nullopt;
  return std::string_view(*keyNames_.back());
}

void XMLPlistParser::popKey() {
  if (!keyNames_.empty()) keyNames_.pop_back();
}

void XMLPlistParser::startElement(std::string_view name) {
  currentStringValue_.reset();
  collecting_ = false;
  if (name == "dict") return startContainer(Container::kDict);
  if (name == "array") return startContainer(Container::kArray);
  collecting_ = name == "key" || name == "string" || name == "integer" || name == "real";
}

void XMLPlistParser::startContainer(Container container) {
  XMLPlistParserDelegate& delegate = *delegate_;
  const Container* parent = top();
  if (parent) {
    bool inArray = *parent == Container::kArray;
    if (container == Container::kDict) {
      // The root dictionary, met with no key, reports nothing.
      if (!keyNames_.empty()) {
        if (inArray) delegate.didStartDictInArray(*this, currentKey());
        else delegate.didStartDict(*this, currentKey());
      }
    } else if (inArray) {
      delegate.didStartArrayInArray(*this, currentKey());
    } else {
      delegate.didStartArray(*this, currentKey());
    }
  }
  containerNames_.push_back(container);
}

void XMLPlistParser::endContainer() {
  XMLPlistParserDelegate& delegate = *delegate_;
  Container ended = containerNames_.back();  // the XML parser guarantees the matching start
  containerNames_.pop_back();
  const Container* parent = top();
  if (!parent) return;
  if (ended == Container::kDict && keyNames_.empty()) return;
  if (*parent == Container::kArray) {
    if (ended == Container::kDict) delegate.didEndDictInArray(*this, currentKey());
    else delegate.didEndArrayInArray(*this, currentKey());
  } else {
    if (ended == Container::kDict) delegate.didEndDict(*this, currentKey());
    else delegate.didEndArray(*this, currentKey());
    popKey();
  }
}

template <class InDict, class InArray>
void XMLPlistParser::endValue(InDict inDict, InArray inArray) {
  const Container* parent = top();
  if (parent && *parent == Container::kArray) {
    inArray(currentKey());
  } else if (parent) {
    inDict(currentKey());
    popKey();
  }
}

void XMLPlistParser::endElement(std::string_view name) {
  collecting_ = false;
  XMLPlistParserDelegate& delegate = *delegate_;
  if (name == "dict" || name == "array") {
    currentStringValue_.reset();
    return endContainer();
  }
  if (name == "key") {
    keyNames_.push_back(std::move(currentStringValue_));
    currentStringValue_.reset();
    return;
  }
  if (name == "string") {
    std::string_view value = text();
    endValue([&](Key key) { delegate.foundString(*this, value, key); },
             [&](Key key) { delegate.foundStringInArray(*this, value, key); });
  } else if (name == "integer") {
    int64_t value = integerValue(text());
    endValue([&](Key key) { delegate.foundInteger(*this, value, key); },
             [&](Key key) { delegate.foundIntegerInArray(*this, value, key); });
  } else if (name == "real") {
    std::unique_ptr<RealNode> real = RealNode::newWithString(text());
    if (!real) LOG_ERROR("error scanning double from '%s'", std::string(text()).c_str());
    double value = real ? real->doubleValue() : 0.0;
    endValue([&](Key key) { delegate.foundReal(*this, value, key); },
             [&](Key key) { delegate.foundRealInArray(*this, value, key); });
  } else if (name == "true" || name == "false") {
    bool value = name == "true";
    endValue([&](Key key) { delegate.foundBoolean(*this, value, key); },
             [&](Key key) { delegate.foundBooleanInArray(*this, value, key); });
  } else if (name == "date" || name == "data") {
    endValue([](Key) {}, [](Key) {});
  }
  currentStringValue_.reset();
}

void XMLPlistParser::characters(std::string_view data) {
  if (!collecting_) return;
  if (!currentStringValue_) currentStringValue_.emplace();
  currentStringValue_->append(data);
}

}  // namespace loomkit
