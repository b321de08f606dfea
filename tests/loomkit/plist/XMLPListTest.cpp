#include <gtest/gtest.h>

#include "loomkit/plist/DictNode.h"
#include "loomkit/plist/XMLPListReader.h"
#include "loomkit/plist/XMLPListWriter.h"
#include "tests/support/TestSupport.h"

using namespace loomkit;

namespace {

std::unique_ptr<DictNode> parse(std::string_view xml, Error* error = nullptr) {
  return DictNode::dictNodeWithXMLData(bytesOf(xml), error);
}

}  // namespace

TEST(XMLPListTest, WriteThenReadGivesAnEqualTree) {
  DictNode root;
  root.putString("hello", "s");
  root.putInt(-7, "i");
  root.putLongLong(INT64_MIN, "ll");
  root.putBoolean(true, "t");
  root.putDouble(0.5, "r");
  auto array = std::make_unique<ArrayNode>();
  array->add(std::make_unique<StringNode>("x"));
  array->add(std::make_unique<DictNode>());
  root.put(std::move(array), "a");

  Error error;
  auto back = DictNode::dictNodeWithXMLData(root.XMLData(), &error);
  ASSERT_TRUE(back) << error.text();
  EXPECT_TRUE(back->isEqual(root)) << back->description();
}

TEST(XMLPListTest, ReadsADocumentWithADocumentTypeDeclaration) {
  Error error;
  auto root = parse(R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Example//DTD PLIST 1.0//EN" "http://www.example.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>name</key>
	<string>value</string>
</dict>
</plist>
)",
                    &error);
  ASSERT_TRUE(root) << error.text();
  ASSERT_TRUE(root->stringNodeForKey("name"));
  EXPECT_EQ(root->stringNodeForKey("name")->stringValue(), "value");
}
