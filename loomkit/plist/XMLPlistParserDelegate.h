// What the event-driven property-list parser reports, one call per container start and end and
// per value.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "loomkit/shared/Error.h"

namespace loomkit {

class XMLPlistParser;

// Called on the thread that runs XMLPlistParser::parse, in document order. Every view passed in
// is valid only during the call. The key is the pending dictionary key (the array's own key for
// the "InArray" calls); it is absent when the document gave none. Every method does nothing
// unless overridden.
class XMLPlistParserDelegate {
 public:
  using Key = std::optional<std::string_view>;

  virtual ~XMLPlistParserDelegate() = default;

  // Containers that are values of a dictionary.
  virtual void didStartArray(XMLPlistParser& parser, Key key) {}
  virtual void didEndArray(XMLPlistParser& parser, Key key) {}
  virtual void didStartDict(XMLPlistParser& parser, Key key) {}
  virtual void didEndDict(XMLPlistParser& parser, Key key) {}
  // Values of a dictionary. Integers carry the text's value clamped to the 32-bit range.
  virtual void foundString(XMLPlistParser& parser, std::string_view value, Key key) {}
  virtual void foundInteger(XMLPlistParser& parser, int64_t value, Key key) {}
  virtual void foundBoolean(XMLPlistParser& parser, bool value, Key key) {}
  virtual void foundReal(XMLPlistParser& parser, double value, Key key) {}
  // Containers and values that are elements of an array; key is the array's key.
  virtual void didStartArrayInArray(XMLPlistParser& parser, Key key) {}
  virtual void didEndArrayInArray(XMLPlistParser& parser, Key key) {}
  virtual void didStartDictInArray(XMLPlistParser& parser, Key key) {}
  virtual void didEndDictInArray(XMLPlistParser& parser, Key key) {}
  virtual void foundStringInArray(XMLPlistParser& parser, std::string_view value, Key key) {}
  virtual void foundIntegerInArray(XMLPlistParser& parser, int64_t value, Key key) {}
  virtual void foundBooleanInArray(XMLPlistParser& parser, bool value, Key key) {}
  virtual void foundRealInArray(XMLPlistParser& parser, double value, Key key) {}
  // The parse stopped: a malformed document or a failed read. Line and column are 1-based (0
  // when the file could not be read at all). No call follows.
  virtual void parseErrorOccurred(XMLPlistParser& parser, const Error& error, int64_t line, int64_t column) {}
  // The document ended without an error; the last call of a parse.
  virtual void parserDidEndPlist(XMLPlistParser& parser) {}
};

}  // namespace loomkit
