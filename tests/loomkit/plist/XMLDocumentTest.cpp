// The element tree a whole-document reader walks.
#include "loomkit/plist/XMLDocument.h"

#include <gtest/gtest.h>

#include "loomkit/io/Bytes.h"
#include "loomkit/plist/PListNode.h"

using namespace loomkit;
using Kind = XMLDocument::NodeKind;

namespace {

std::unique_ptr<XMLDocument> parse(std::string_view xml, size_t maxDepth = XMLDocument::kDefaultMaxDepth,
                                   Error* error = nullptr) {
  return XMLDocument::newWithData(bytesOf(xml), maxDepth, error);
}

// "name(text)[children]" for a quick picture of a subtree.
std::string shape(XMLDocument::Node node) {
  std::string text;
  switch (node.kind()) {
    case Kind::kDocument: text = "#doc"; break;
    case Kind::kElement: text = std::string(node.name()); break;
    case Kind::kComment: text = "#comment"; break;
    case Kind::kProcessingInstruction: text = "?" + std::string(node.name()); break;
  }
  if (!node.text().empty()) text += "(" + std::string(node.text()) + ")";
  if (node.firstChild()) {
    text += "[";
    bool first = true;
    for (auto child = node.firstChild(); child; child = child.nextSibling()) {
      if (!first) text += ",";
      first = false;
      text += shape(child);
    }
    text += "]";
  }
  return text;
}

}  // namespace

TEST(XMLDocumentTest, TreeOfElementsCommentsAndInstructions) {
  auto document = parse(
      "<?xml version=\"1.0\"?>\n<!-- before -->\n<root a=\"1\">\n  <x>one&amp;<!--c-->two</x>\n"
      "  <y>  </y>\n  <?pi data?>\n  <z/>\n</root>\n<!-- after -->");
  ASSERT_TRUE(document);
  // White space between child elements is dropped; white space that is all of a text is kept.
  EXPECT_EQ(shape(document->documentNode()),
            "#doc[#comment( before ),root[x(one&two)[#comment(c)],y(  ),?pi(data),z],#comment( after )]");
  EXPECT_EQ(document->rootElement().name(), "root");
}

TEST(XMLDocumentTest, TextAroundChildElementsIsKept) {
  auto document = parse("<a>left<b/>right</a>");
  ASSERT_TRUE(document);
  EXPECT_EQ(shape(document->rootElement()), "a(leftright)[b]");
}

TEST(XMLDocumentTest, DepthLimitIsTheCallers) {
  Error error;
  EXPECT_TRUE(parse("<a><b/></a>", 2, &error)) << error.text();
  EXPECT_FALSE(parse("<a><b><c/></b></a>", 2, &error));
  EXPECT_TRUE(error.is(kPListErrorDomain, -1));
  EXPECT_EQ(error.description(), "XML elements nested deeper than 2 levels");
}

TEST(XMLDocumentTest, ReadsOtherEncodings) {
  // UTF-16 little-endian with a byte-order mark; names and texts come out as UTF-8.
  Bytes utf16 = {0xFF, 0xFE};
  for (uint16_t unit : std::u16string(u"<a>\u00E9</a>")) {
    utf16.push_back(static_cast<uint8_t>(unit & 0xFF));
    utf16.push_back(static_cast<uint8_t>(unit >> 8));
  }
  Error error;
  auto document = XMLDocument::newWithData(utf16, XMLDocument::kDefaultMaxDepth, &error);
  ASSERT_TRUE(document) << error.text();
  EXPECT_EQ(document->rootElement().text(), "\xC3\xA9");
  document = parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xE9</a>");
  ASSERT_TRUE(document);
  EXPECT_EQ(document->rootElement().text(), "\xC3\xA9");
}
