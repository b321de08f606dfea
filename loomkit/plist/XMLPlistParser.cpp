#include "loomkit/plist/XMLPlistParser.h"

#include <expat.h>

#include <charconv>
#include <limits>
#include <memory>

#include "loomkit/io/FileInputStream.h"
#include "loomkit/plist/RealNode.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {

// Bytes handed to the XML parser per read.
constexpr int kChunkSize = 64 * 1024;

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
  static void XMLCALL endElement(void* userData, const XML_Char*) { of(userData).owner_.endElement(); }
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
  keyCount_ = 0;
  containerNames_.clear();
  openElements_.clear();
  currentStringValue_.clear();
  hasText_ = false;
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

namespace {

// name is the element name: compares it with a literal, the terminating zero included, in a few
// fixed-size loads. Every name of a document is at least one byte and its zero, so reading as far
// as the literal's length stops at the first byte that differs: a shorter name differs at its zero.
template <size_t N>
bool named(const char* name, const char (&literal)[N]) {
  for (size_t i = 0; i < N; ++i) {
    if (name[i] != literal[i]) return false;
  }
  return true;
}

}  // namespace

XMLPlistParser::Element XMLPlistParser::elementNamed(const char* name) {
  // Dispatch on the first letter: this runs for every element of documents of millions.
  switch (name[0]) {
    case 'a': return named(name, "array") ? Element::kArray : Element::kOther;
    case 'd':
      if (named(name, "dict")) return Element::kDict;
      if (named(name, "date")) return Element::kDate;
      return named(name, "data") ? Element::kData : Element::kOther;
    case 'f': return named(name, "false") ? Element::kFalse : Element::kOther;
    case 'i': return named(name, "integer") ? Element::kInteger : Element::kOther;
    case 'k': return named(name, "key") ? Element::kKey : Element::kOther;
    case 'r': return named(name, "real") ? Element::kReal : Element::kOther;
    case 's': return named(name, "string") ? Element::kString : Element::kOther;
    case 't': return named(name, "true") ? Element::kTrue : Element::kOther;
    default: return Element::kOther;
  }
}

double XMLPlistParser::realValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  if (i + 1 < text.size() && text[i] == '+' && text[i + 1] != '-' && text[i + 1] != '+') ++i;
  double value = 0;
  auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), value);
  if (ec == std::errc()) return value;
  // Out of range or not a plain number: the property-list reader's own scan decides.
  std::unique_ptr<RealNode> real = RealNode::newWithString(text);
  if (real) return real->doubleValue();
  LOG_ERROR("error scanning double from '%s'", std::string(text).c_str());
  return 0;
}

XMLPlistParserDelegate::Key XMLPlistParser::currentKey() const {
  if (keyCount_ == 0 || !keyNames_[keyCount_ - 1].present) return std::nullopt;
  return std::string_view(keyNames_[keyCount_ - 1].text);
}

void XMLPlistParser::pushKey() {
  if (keyCount_ == keyNames_.size()) keyNames_.emplace_back();
  PendingKey& key = keyNames_[keyCount_++];
  key.present = hasText_;
  key.text.swap(currentStringValue_);  // the old buffer comes back for the next text
}

void XMLPlistParser::popKey() {
  if (keyCount_ > 0) --keyCount_;
}

void XMLPlistParser::startElement(const char* name) {
  currentStringValue_.clear();
  hasText_ = false;
  collecting_ = false;
  const Element element = elementNamed(name);
  openElements_.push_back(element);  // its end needs no second look at the name
  switch (element) {
    case Element::kDict: return startContainer(Container::kDict);
    case Element::kArray: return startContainer(Container::kArray);
    case Element::kKey:
    case Element::kString:
    case Element::kInteger:
    case Element::kReal: collecting_ = true; return;
    default: return;
  }
}

void XMLPlistParser::startContainer(Container container) {
  XMLPlistParserDelegate& delegate = *delegate_;
  const Container* parent = top();
  if (parent) {
    bool inArray = *parent == Container::kArray;
    if (container == Container::kDict) {
      // The root dictionary, met with no key, reports nothing.
      if (keyCount_ > 0) {
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
  if (ended == Container::kDict && keyCount_ == 0) return;
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

void XMLPlistParser::endElement() {
  collecting_ = false;
  XMLPlistParserDelegate& delegate = *delegate_;
  const Element element = openElements_.back();  // the XML parser guarantees the matching start
  openElements_.pop_back();
  switch (element) {
    case Element::kDict:
    case Element::kArray: endContainer(); break;
    case Element::kKey: pushKey(); break;
    case Element::kString: {
      std::string_view value = text();
      endValue([&](Key key) { delegate.foundString(*this, value, key); },
               [&](Key key) { delegate.foundStringInArray(*this, value, key); });
      break;
    }
    case Element::kInteger: {
      int64_t value = integerValue(text());
      endValue([&](Key key) { delegate.foundInteger(*this, value, key); },
               [&](Key key) { delegate.foundIntegerInArray(*this, value, key); });
      break;
    }
    case Element::kReal: {
      double value = realValue(text());
      endValue([&](Key key) { delegate.foundReal(*this, value, key); },
               [&](Key key) { delegate.foundRealInArray(*this, value, key); });
      break;
    }
    case Element::kTrue:
    case Element::kFalse: {
      bool value = element == Element::kTrue;
      endValue([&](Key key) { delegate.foundBoolean(*this, value, key); },
               [&](Key key) { delegate.foundBooleanInArray(*this, value, key); });
      break;
    }
    case Element::kDate:
    case Element::kData: endValue([](Key) {}, [](Key) {}); break;
    case Element::kOther: break;
  }
  currentStringValue_.clear();
  hasText_ = false;
}

void XMLPlistParser::characters(std::string_view data) {
  if (!collecting_) return;
  hasText_ = true;
  currentStringValue_.append(data);
}

}  // namespace loomkit
