// The XML form written, and that it reads back.
#include "loomkit/plist/XMLPListWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "loomkit/plist/InvalidPListNodeTypeException.h"
#include "tests/support/TestSupport.h"

using namespace loomkit;
using namespace std::string_view_literals;

namespace {

std::string xmlOf(const DictNode& root) { return std::string(textOf(root.XMLData())); }

std::unique_ptr<DictNode> readBack(const DictNode& root) {
  Error error;
  auto back = DictNode::dictNodeWithXMLData(root.XMLData(), &error);
  EXPECT_TRUE(back) << error.text() << "\n" << xmlOf(root);
  return back;
}

}  // namespace

TEST(XMLPListWriterTest, WritesTheDocumentForm) {
  DictNode root;
  root.putString("text", "s");
  root.putLongLong(-9000000000LL, "i");
  root.putDouble(-0.5, "r");
  root.putBoolean(true, "t");
  root.putBoolean(false, "f");
  auto list = std::make_unique<ArrayNode>();
  list->add(std::make_unique<IntegerNode>(1));
  list->add(std::make_unique<ArrayNode>());
  root.put(std::move(list), "list");
  root.put(std::make_unique<DictNode>(), "sub");
  EXPECT_EQ(xmlOf(root),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<plist version=\"1.0\">\n"
            "\t<dict>\n"
            "\t\t<key>s</key>\n"
            "\t\t<string>text</string>\n"
            "\t\t<key>i</key>\n"
            "\t\t<integer>-9000000000</integer>\n"
            "\t\t<key>r</key>\n"
            "\t\t<real>-0.500000</real>\n"
            "\t\t<key>t</key>\n"
            "\t\t<true/>\n"
            "\t\t<key>f</key>\n"
            "\t\t<false/>\n"
            "\t\t<key>list</key>\n"
            "\t\t<array>\n"
            "\t\t\t<integer>1</integer>\n"
            "\t\t\t<array/>\n"
            "\t\t</array>\n"
            "\t\t<key>sub</key>\n"
            "\t\t<dict/>\n"
            "\t</dict>\n"
            "</plist>\n");
  auto back = readBack(root);
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->isEqual(root));
}

TEST(XMLPListWriterTest, RealsKeepSixDecimals) {
  struct Case {
    double value;
    const char* written;
    double readBack;
  } cases[] = {{0.1234567, "<real>0.123457</real>", 0.123457}, {1e-7, "<real>0.000000</real>", 0.0}};
  for (const auto& c : cases) {
    DictNode root;
    root.putDouble(c.value, "r");
    EXPECT_NE(xmlOf(root).find(c.written), std::string::npos) << xmlOf(root);
    auto back = readBack(root);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->realNodeForKey("r")->doubleValue(), c.readBack);
  }
}

TEST(XMLPListWriterTest, EmptyDictionary) {
  DictNode empty;
  std::string xml = xmlOf(empty);
  EXPECT_NE(xml.find("<plist version=\"1.0\">\n\t<dict/>\n</plist>\n"), std::string::npos) << xml;
  auto back = readBack(empty);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->size(), 0u);
}

TEST(XMLPListWriterTest, KeysAreWrittenInOrderOfLastPut) {
  DictNode root;
  root.putInt(1, "a");
  root.putInt(2, "b");
  root.putInt(3, "a");
  std::string xml = xmlOf(root);
  ASSERT_NE(xml.find("<key>b</key>"), std::string::npos);
  EXPECT_LT(xml.find("<key>b</key>"), xml.find("<key>a</key>"));
  auto back = readBack(root);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->orderedKeySet(), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(back->integerNodeForKey("a")->longlongValue(), 3);
}

TEST(XMLPListWriterTest, StringValuesAreEscapedTwiceAndKeysOnce) {
  const std::string special = "a&b<c>d'e\"f";
  DictNode root;
  root.putString(special, special);
  auto list = std::make_unique<ArrayNode>();
  list->add(std::make_unique<StringNode>("<&>"));
  root.put(std::move(list), "list");
  std::string xml = xmlOf(root);
  EXPECT_NE(xml.find("<key>a&amp;b&lt;c&gt;d'e\"f</key>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<string>a&amp;amp;b&amp;lt;c&amp;gt;d&amp;apos;e&amp;quot;f</string>"), std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<string>&amp;lt;&amp;amp;&amp;gt;</string>"), std::string::npos) << xml;
  auto back = readBack(root);
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->isEqual(root));
  EXPECT_EQ(back->stringNodeForKey(special)->stringValue(), special);
}

TEST(XMLPListWriterTest, NilStringsAreSkippedWithALogLine) {
  fotello::test::LogCapture log(Log::kInfo);
  DictNode root;
  root.putString("kept", "before");
  root.putString(std::nullopt, "gone");
  auto list = std::make_unique<ArrayNode>();
  list->add(std::make_unique<StringNode>(std::nullopt));
  list->add(std::make_unique<StringNode>("x"));
  root.put(std::move(list), "list");
  auto inner = std::make_unique<DictNode>();
  inner->putString(std::nullopt, "deep");
  root.put(std::move(inner), "inner");

  std::string xml = xmlOf(root);
  EXPECT_EQ(xml.find("gone"), std::string::npos) << xml;
  EXPECT_EQ(xml.find("deep"), std::string::npos) << xml;
  EXPECT_EQ(log.count("INFO"), 2u);
  EXPECT_TRUE(log.contains("skipping nil string dict entry gone"));
  EXPECT_TRUE(log.contains("skipping nil string dict entry deep"));
  EXPECT_EQ(log.count("WARN [thread"), 1u);
  EXPECT_TRUE(log.contains("not writing nil string value to XML plist"));

  auto back = readBack(root);
  ASSERT_TRUE(back);
  EXPECT_FALSE(back->containsKey("gone"));
  EXPECT_EQ(back->orderedKeySet(), (std::vector<std::string>{"before", "list", "inner"}));
  EXPECT_EQ(back->arrayNodeForKey("list")->size(), 1u);
  EXPECT_EQ(back->dictNodeForKey("inner")->size(), 0u);
}

namespace {

// A node outside the six classes, which only code can make.
class StrangeNode final : public PListNode {
 public:
  explicit StrangeNode(int type) : type_(type) {}
  int type() const override { return type_; }
  std::unique_ptr<PListNode> copy() const override { return std::make_unique<StrangeNode>(type_); }
  bool isEqual(const PListNode& other) const override { return this == &other; }
  size_t hash() const override { return 0; }
  std::string description() const override { return "<StrangeNode>"; }

 private:
  int type_;
};

}  // namespace

TEST(XMLPListWriterTest, UnknownNodeTypeThrowsAndWritesNothing) {
  // An unknown code, and a known code claimed by a node of another class.
  for (int type : {64, int{PListNode::kIntegerType}}) {
    DictNode root;
    root.putInt(1, "fine");
    auto list = std::make_unique<ArrayNode>();
    list->add(std::make_unique<StrangeNode>(type));
    root.put(std::move(list), "list");
    Bytes output = bytesOf("kept");
    try {
      XMLPListWriter(output).write(root);
      ADD_FAILURE() << "no exception for type " << type;
    } catch (const InvalidPListNodeTypeException& e) {
      EXPECT_EQ(std::string(e.what()), "invalid type " + std::to_string(type));
    }
    EXPECT_EQ(textOf(output), "kept");
  }
  EXPECT_STREQ(InvalidPListNodeTypeException::name(), "InvalidPListNodeTypeException");
}

// Values XML text cannot hold as they are still come back unchanged: controls and carriage
// returns travel as numeric references, non-finite reals as their names.
TEST(XMLPListWriterTest, AwkwardValuesSurviveARoundTrip) {
  DictNode root;
  root.putString(std::string("nul\0, bell\a, cr\r\n, tab\t, \xEF\xBF\xBE end"sv), "controls");
  root.putString("plain", "key with cr\r\nand tab\t");
  root.putString("\xF0\x9F\x93\xB7 \xE2\x82\xAC", "emoji");
  root.putString("", "empty");
  root.putDouble(std::numeric_limits<double>::infinity(), "inf");
  root.putDouble(-std::numeric_limits<double>::infinity(), "-inf");
  root.putDouble(std::numeric_limits<double>::quiet_NaN(), "nan");
  root.putDouble(1e300, "huge");
  auto back = readBack(root);
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->isEqual(root)) << back->description();
  EXPECT_EQ(back->stringNodeForKey("empty")->stringValue(), "");
  EXPECT_TRUE(std::isnan(back->realNodeForKey("nan")->doubleValue()));
  EXPECT_NE(xmlOf(root).find("cr&amp;#13;"), std::string::npos);
}

TEST(XMLPListWriterTest, BytesThatAreNotUTF8BecomeReplacementCharacters) {
  DictNode root;
  root.putString("a\xFF" "b\xC0\xAF" "c\xED\xA0\x80", "bad value");
  root.putString("v", "bad\x01key\xFE");
  auto back = readBack(root);  // the file stays readable
  ASSERT_TRUE(back);
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(back->stringNodeForKey("bad value")->stringValue(), "a" + r + "b" + r + r + "c" + r + r + r);
  EXPECT_TRUE(back->containsKey("bad" + r + "key" + r));
}
