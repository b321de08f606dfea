// Reading the XML form: the rules for each element, every failure, hostile documents.
#include "loomkit/plist/XMLPListReader.h"

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

using namespace loomkit;

namespace {

std::unique_ptr<DictNode> parse(std::string_view xml, Error* error = nullptr) {
  return DictNode::dictNodeWithXMLData(bytesOf(xml), error);
}

std::string plist(std::string_view body) { return "<plist version=\"1.0\">" + std::string(body) + "</plist>"; }

std::string nested(std::string_view open, std::string_view close, size_t depth, std::string_view inner) {
  std::string xml;
  for (size_t i = 0; i < depth; ++i) xml += open;
  xml += inner;
  for (size_t i = 0; i < depth; ++i) xml += close;
  return xml;
}

}  // namespace

TEST(XMLPListReaderTest, ReadsEveryNodeType) {
  Error error;
  auto root = parse(R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Example//DTD PLIST 1.0//EN" "http://www.example.com/DTDs/PropertyList-1.0.dtd">
<!-- a comment outside the root element is no node -->
<plist version="1.0">
<dict>
	<key>s</key>	<string>one <![CDATA[& two]]></string>
	<key>i</key>	<integer> 42abc</integer>
	<key>r</key>	<real>-2.5e1</real>
	<key>t</key>	<true/>
	<key>f</key>	<false></false>
	<key>list</key>
	<array>
		stray text is skipped
		<string/>
		<dict/>
		<array><integer>7</integer></array>
	</array>
</dict>
</plist>
)",
                    &error);
  ASSERT_TRUE(root) << error.text();
  EXPECT_EQ(root->orderedKeySet(), (std::vector<std::string>{"s", "i", "r", "t", "f", "list"}));
  EXPECT_EQ(root->stringNodeForKey("s")->stringValue(), "one & two");
  EXPECT_EQ(root->integerNodeForKey("i")->longlongValue(), 42);
  EXPECT_EQ(root->realNodeForKey("r")->doubleValue(), -25.0);
  EXPECT_TRUE(root->booleanNodeForKey("t")->booleanValue());
  EXPECT_FALSE(root->booleanNodeForKey("f")->booleanValue());
  const ArrayNode* list = root->arrayNodeForKey("list");
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 3u);
  EXPECT_EQ(list->stringNodeAtIndex(0)->stringValue(), "");
  EXPECT_EQ(list->dictNodeAtIndex(1)->size(), 0u);
  EXPECT_EQ(list->arrayNodeAtIndex(2)->integerNodeAtIndex(0)->longlongValue(), 7);
}

TEST(XMLPListReaderTest, DictionaryKeyRules) {
  // A second value after one key replaces the first; a key without a value adds nothing.
  auto root = parse(plist("<dict><key>a</key><integer>1</integer><key>b</key><integer>2</integer>"
                          "<key>a</key><integer>3</integer><integer>4</integer><key>lonely</key></dict>"));
  ASSERT_TRUE(root);
  EXPECT_EQ(root->orderedKeySet(), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(root->integerNodeForKey("a")->longlongValue(), 4);
  // Keys are escaped once in the file, so their text is taken as the parser gives it.
  root = parse(plist("<dict><key>&amp;lt;</key><true/></dict>"));
  ASSERT_TRUE(root);
  EXPECT_TRUE(root->containsKey("&lt;"));
}

TEST(XMLPListReaderTest, StringValuesAreUnescapedOnceMore) {
  struct Case {
    const char* element;  // as it stands in the file
    std::string value;
  } cases[] = {
      {"&amp;amp;&amp;lt;&amp;gt;&amp;apos;&amp;quot;", "&<>'\""},
      {"&amp;#65;&amp;#x42;&amp;#x1F4F7;&amp;#0;", std::string("AB\xF0\x9F\x93\xB7\0", 7)},
      {"&amp;amp;amp;", "&amp;"},                          // one level only
      {"&amp;unknown; &amp;#xD800; &amp;#1114112; &amp;#X41; &amp;#;", "&unknown; &#xD800; &#1114112; &#X41; &#;"},
      {"&amp;amp", "&amp"},                                // no semicolon
      {"&#x41;&lt;", "A<"},                                // plain references are the parser's
  };
  for (const auto& c : cases) {
    Error error;
    auto root = parse(plist(std::string("<dict><key>k</key><string>") + c.element + "</string></dict>"), &error);
    ASSERT_TRUE(root) << c.element << ": " << error.text();
    EXPECT_EQ(root->stringNodeForKey("k")->stringValue(), c.value) << c.element;
  }
}

TEST(XMLPListReaderTest, FailuresReturnNothingWithTheirDescription) {
  struct Case {
    std::string xml;
    std::string description;
  } cases[] = {
      {"<array><dict/></array>", "expected root element 'plist'"},
      {plist(""), "empty root array in PList"},
      {plist("  \n  "), "empty root array in PList"},
      {plist("<dict/><dict/>"), "empty root array in PList"},
      {plist("<array/>"), "expected root array in PList"},
      {plist("<string>x</string>"), "expected root array in PList"},
      {plist("<date>2009-01-01T00:00:00Z</date>"), "invalid node type"},
      {plist("<dict><key>a</key><array><dict><key>d</key><date/></dict></array></dict>"), "invalid node type"},
      {plist("<dict><key>a</key><data>AAAA</data></dict>"), "invalid node type"},
      {plist("<dict><key>a</key><true/><!-- comment --></dict>"), "invalid node type"},
      {plist("<dict><key>a</key><array><?target data?></array></dict>"), "invalid node type"},
      {plist("<!-- comment --><dict/>"), "invalid node type"},
      {plist("<dict><key>a</key><key2/></dict>"), "invalid node type"},
      {plist("<dict><string>v</string><key>a</key></dict>"), "must have key before adding value"},
      {plist("<dict><key>n</key><integer>abc</integer></dict>"), "string does not contain a long long: abc"},
      {plist("<dict><key>n</key><integer/></dict>"), "string does not contain a long long: "},
      {plist("<dict><key>r</key><real>x1</real></dict>"), "string does not contain a double: x1"},
  };
  for (const auto& c : cases) {
    fotello::test::LogCapture log(Log::kTrace);
    Error error;
    EXPECT_FALSE(parse(c.xml, &error)) << c.xml;
    EXPECT_EQ(error.domain(), kPListErrorDomain) << c.xml;
    EXPECT_EQ(error.code(), -1) << c.xml;
    EXPECT_EQ(error.description(), c.description) << c.xml;
    EXPECT_EQ(log.count("TRACE"), 1u) << c.xml;
    EXPECT_TRUE(log.contains(c.description)) << c.xml;
  }
}

TEST(XMLPListReaderTest, MalformedXMLIsAParseError) {
  for (std::string_view xml : {"", "<plist>", "<plist><dict></plist>", "not xml", "<plist/>trailing"}) {
    Error error;
    EXPECT_FALSE(parse(xml, &error)) << xml;
    EXPECT_TRUE(error.is(kPListErrorDomain, -1)) << xml;
    EXPECT_EQ(error.description().rfind("XML parse error at line ", 0), 0u) << error.description();
  }
}

TEST(XMLPListReaderTest, NestingIsBounded) {
  // plist, dict and 254 arrays are 256 levels; one more array is too deep.
  std::string deepest = plist("<dict><key>a</key>" + nested("<array>", "</array>", 254, "") + "</dict>");
  Error error;
  ASSERT_TRUE(parse(deepest, &error)) << error.text();
  std::string tooDeep = plist("<dict><key>a</key>" + nested("<array>", "</array>", 255, "") + "</dict>");
  EXPECT_FALSE(parse(tooDeep, &error));
  EXPECT_TRUE(error.is(kPListErrorDomain, -1));
  EXPECT_EQ(error.description(), "XML elements nested deeper than 256 levels");
  // A hostile depth fails the same way, without deep recursion.
  EXPECT_FALSE(parse(plist(nested("<array>", "</array>", 100000, "")), &error));
  EXPECT_EQ(error.description(), "XML elements nested deeper than 256 levels");
}

TEST(XMLPListReaderTest, EntityDeclarationsAndUndefinedEntitiesAreRefused) {
  struct Case {
    const char* xml;
    const char* description;
  } cases[] = {
      {R"(<!DOCTYPE plist [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">]>
<plist><dict><key>k</key><string>&b;</string></dict></plist>)",
       "XML entity declarations are not supported"},
      {R"(<!DOCTYPE plist [<!ENTITY secret SYSTEM "file:///etc/passwd">]>
<plist><dict><key>k</key><string>&secret;</string></dict></plist>)",
       "XML entity declarations are not supported"},
      {R"(<!DOCTYPE plist SYSTEM "http://www.example.com/x.dtd">
<plist><dict><key>k</key><string>&nbsp;</string></dict></plist>)",
       "undefined XML entity nbsp"},
  };
  for (const auto& c : cases) {
    Error error;
    EXPECT_FALSE(parse(c.xml, &error)) << c.xml;
    EXPECT_TRUE(error.is(kPListErrorDomain, -1));
    EXPECT_EQ(error.description(), c.description);
  }
  // Without a document type declaration an unknown entity is plain malformed XML.
  Error error;
  EXPECT_FALSE(parse(plist("<dict><key>k</key><string>&nbsp;</string></dict>"), &error));
  EXPECT_EQ(error.description().rfind("XML parse error", 0), 0u) << error.description();
}
