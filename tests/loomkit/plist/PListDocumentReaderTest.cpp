#include "loomkit/plist/PListDocumentReader.h"

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

using loomkit::DictNode;
using loomkit::Error;
using loomkit::PListDocumentReader;

namespace {

std::unique_ptr<DictNode> read(std::string_view xml, Error* error = nullptr) {
  return PListDocumentReader::dictNodeWithData(loomkit::bytesOf(xml), error);
}

}  // namespace

TEST(PListDocumentReaderTest, ReadsValuesAndDropsDatesAndDataWithTheirKeys) {
  Error error;
  auto root = read(R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Example//DTD PLIST 1.0//EN" "http://www.example.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<!-- written by hand -->
<dict>
  <key>Saved</key><date>2024-01-02T03:04:05Z</date>
  <key>Text</key><string>R&amp;D &amp;lt;kept&amp;gt;</string>
  <key>Blob</key><data>AAEC</data>
  <key>List</key><array><data>AAEC</data><integer> -3</integer><date>2024-01-02T03:04:05Z</date><real>0.5</real></array>
  <key>Photo</key><dict><key>When</key><date>2024-01-02T03:04:05Z</date><key>On</key><true/></dict>
</dict>
</plist>)",
                   &error);
  ASSERT_TRUE(root) << error.text();
  EXPECT_EQ(root->orderedKeySet(), (std::vector<std::string>{"Text", "List", "Photo"}));
  // Text is taken as the XML parser resolves it, once: the configuration reader would unescape
  // "&lt;" a second time.
  EXPECT_EQ(root->stringNodeForKey("Text")->stringValue(), "R&D &lt;kept&gt;");
  const loomkit::ArrayNode* list = root->arrayNodeForKey("List");
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ(list->integerNodeAtIndex(0)->longlongValue(), -3);
  EXPECT_EQ(list->realNodeAtIndex(1)->doubleValue(), 0.5);
  const DictNode* photo = root->dictNodeForKey("Photo");
  ASSERT_TRUE(photo);
  EXPECT_EQ(photo->orderedKeySet(), std::vector<std::string>{"On"});
}

TEST(PListDocumentReaderTest, MalformedDocumentsFailWholly) {
  const struct {
    const char* xml;
    const char* description;
  } cases[] = {
      {"<dict/>", "expected root element 'plist'"},
      {"<plist></plist>", "expected one root value in plist"},
      {"<plist><dict/><dict/></plist>", "expected one root value in plist"},
      {"<plist><array/></plist>", "expected root dictionary in plist"},
      {"<plist><dict><string>x</string></dict></plist>", "must have key before adding value"},
      {"<plist><dict><key>a</key><integer>x</integer></dict></plist>", "string does not contain a long long: x"},
      {"<plist><dict><key>a</key><real>x</real></dict></plist>", "string does not contain a double: x"},
      {"<plist><dict><key>a</key><uid>1</uid></dict></plist>", "unexpected element <uid>"},
      {"<plist><dict><key>a</key></plist>", "XML parse error at line 1 column 28: mismatched tag"},
  };
  for (const auto& c : cases) {
    Error error;
    EXPECT_FALSE(read(c.xml, &error)) << c.xml;
    EXPECT_TRUE(error.is(loomkit::kPListErrorDomain, -1)) << error.text();
    EXPECT_EQ(error.description(), c.description) << c.xml;
  }
}

TEST(PListDocumentReaderTest, FileThatCannotBeReadGivesTheSystemError) {
  Error error;
  EXPECT_FALSE(PListDocumentReader::dictNodeWithContentsOfFile("/nonexistent/AlbumData.xml", &error));
  EXPECT_TRUE(error.is(loomkit::kUnixErrorDomain, ENOENT)) << error.text();
}
