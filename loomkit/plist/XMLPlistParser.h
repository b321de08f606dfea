// An event-driven reader of XML property lists: it reports containers and values to a delegate
// as the file streams by and never holds the document in memory.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "loomkit/plist/XMLPlistParserDelegate.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// Domain of the parser's errors; the code is the XML parser's own error number.
inline constexpr std::string_view kXMLPlistParserErrorDomain = "XMLPlistParserErrorDomain";

// One parser serves one parse on one thread. It keeps the stack of pending keys, the stack of
// open containers and the text of the value being read; nothing else grows with the document.
//
// The rules, with "top" the innermost open container and "current key" the last pending key:
// a dictionary or array reports its start and end as a value of its dictionary (didStartDict,
// ...) or as an element of its array (didStartDictInArray, ...); the root dictionary reports
// nothing. A key element makes its text the pending key; a value in a dictionary reports with
// the current key and then drops it, as does the end of a dictionary or array inside a
// dictionary. Values and containers inside an array report with the array's key, which stays.
// "date" and "data" values report nothing but still use up their key (a document whose
// dictionaries hold dates would otherwise shift every later key). Entity declarations are
// refused, so no input expands beyond its size.
class XMLPlistParser {
 public:
  // Reads the file at path when parse() runs.
  explicit XMLPlistParser(std::string path);

  // The receiver of the calls; not owned, and it must outlive parse().
  void setDelegate(XMLPlistParserDelegate* delegate) { delegate_ = delegate; }

  // Parses the whole file on the calling thread, reporting through the delegate; ends with
  // parserDidEndPlist, or parseErrorOccurred with the XML parser's error (or the file's read
  // error at line 0). Returns true when the document was well formed and read to its end.
  bool parse();

  const std::string& path() const { return path_; }

  // The value of an "integer" element's text: leading white space, an optional sign and decimal
  // digits; 0 without digits; clamped to the 32-bit range.
  static int64_t integerValue(std::string_view text);

 private:
  enum class Container : char { kDict, kArray };
  enum class Element : char { kDict, kArray, kKey, kString, kInteger, kReal, kTrue, kFalse, kDate, kData, kOther };
  using Key = XMLPlistParserDelegate::Key;
  // A pending key. The stack keeps its strings when keys are popped, so that a parse reuses their
  // buffers instead of allocating for every key.
  struct PendingKey {
    std::string text;
    bool present = false;
  };

  class Handler;

  static Element elementNamed(const char* name);
  // The value of a "real" element's text (leading white space skipped); 0 and an error line when
  // it does not scan.
  static double realValue(std::string_view text);

  std::string_view text() const { return currentStringValue_; }
  const Container* top() const { return containerNames_.empty() ? nullptr : &containerNames_.back(); }
  Key currentKey() const;
  void pushKey();
  void popKey();

  void startElement(const char* name);
  void endElement();
  void characters(std::string_view data);
  void startContainer(Container container);
  void endContainer();
  // A value element ended: report it in its container and use up its key.
  template <class InDict, class InArray>
  void endValue(InDict inDict, InArray inArray);

  std::string path_;
  XMLPlistParserDelegate* delegate_ = nullptr;
  XMLPlistParserDelegate noDelegate_;
  std::vector<PendingKey> keyNames_;  // [0, keyCount_) are pending
  size_t keyCount_ = 0;
  std::vector<Container> containerNames_;
  std::vector<Element> openElements_;  // every open element, innermost last
  std::string currentStringValue_;  // the text of the current element, when hasText_
  bool hasText_ = false;
  bool collecting_ = false;  // inside a key or scalar value element whose text matters
};

}  // namespace loomkit
