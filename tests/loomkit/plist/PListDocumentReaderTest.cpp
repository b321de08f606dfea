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
      // Nodes are built while the parser reads on, yet the outcome is that of a document read
      // whole first: malformed XML after a bad value still wins, and the root's own checks
      // come before any error inside the root value.
      {"<plist><dict><key>a</key><uid/></dict><bad></plist>", "XML parse error at line 1 column 46: mismatched tag"},
      {"<plist><dict><key>a</key><integer>x</integer></dict><dict/></plist>", "expected one root value in plist"},
      {"<plist><array><integer>x</integer></array></plist>", "expected root dictionary in plist"},
      {"<plist><dict><date/></dict></plist>", "must have key before adding value"},
      {"<plist><dict><key>a</key><array><key>b</key></array></dict></plist>", "unexpected element <key>"},
      {"<plist><dict><key>a</key><dict><key>b</key><real>1</real><integer>2</integer></dict></dict></plist>",
       "must have key before adding value"},
      {"<plist><dict><key>a</key><string>x</string></dict><!DOCTYPE x [<!ENTITY e 'y'>]></plist>",
       "XML parse error at line 1 column 53: not well-formed (invalid token)"},
  };
  for (const auto& c : cases) {
    Error error;
    EXPECT_FALSE(read(c.xml, &error)) << c.xml;
    EXPECT_TRUE(error.is(loomkit::kPListErrorDomain, -1)) << error.text();
    EXPECT_EQ(error.description(), c.description) << c.xml;
  }
}

TEST(PListDocumentReaderTest, OddPlacesAndLimits) {
  // Text beside child elements of a value counts, white space alone does not; the children
  // themselves are no values, whatever their names.
  Error error;
  auto root = read("<plist><dict><key>a<i/>b</key><string> <date/> </string><key>n</key>"
                   "<integer> 7<x><dict/></x></integer><key>c</key><true><uid/></true></dict></plist>",
                   &error);
  ASSERT_TRUE(root) << error.text();
  EXPECT_EQ(root->orderedKeySet(), (std::vector<std::string>{"ab", "n", "c"}));
  EXPECT_EQ(root->stringNodeForKey("ab")->stringValue(), "");
  EXPECT_EQ(root->integerNodeForKey("n")->longlongValue(), 7);

  // 256 levels of elements, "plist" included, and no more.
  auto nested = [](size_t arrays) {
    std::string xml = "<plist><dict><key>a</key>";
    for (size_t i = 0; i < arrays; ++i) xml += "<array>";
    for (size_t i = 0; i < arrays; ++i) xml += "</array>";
    return xml + "</dict></plist>";
  };
  EXPECT_TRUE(read(nested(254), &error)) << error.text();
  EXPECT_FALSE(read(nested(255), &error));
  EXPECT_EQ(error.description(), "XML elements nested deeper than 256 levels");
  // The same holds inside a skipped date and after a failed value.
  EXPECT_FALSE(read("<plist><dict><key>a</key><date>" + nested(300) + "</date></dict></plist>", &error));
  EXPECT_EQ(error.description(), "XML elements nested deeper than 256 levels");
  EXPECT_FALSE(read("<plist><dict><key>a</key><uid/><key>b</key>" + nested(300) + "</dict></plist>", &error));
  EXPECT_EQ(error.description(), "XML elements nested deeper than 256 levels");
}

TEST(PListDocumentReaderTest, FileIsReadInPiecesWithTextAcrossThem) {
  fotello::test::TempDir dir;
  const std::string path = dir.path() + "/AlbumData.xml";
  std::string xml = "<plist><dict>";
  // Texts far longer than one read, each with an entity reference in the middle.
  std::string longText(200000, 'x');
  longText.replace(65535, 5, "&amp;");
  for (int i = 0; i < 3; ++i) xml += "<key>k" + std::to_string(i) + "</key><string>" + longText + "</string>";
  xml += "</dict></plist>";
  fotello::test::writeFile(path, xml);
  Error error;
  auto root = PListDocumentReader::dictNodeWithContentsOfFile(path, &error);
  ASSERT_TRUE(root) << error.text();
  ASSERT_EQ(root->size(), 3u);
  std::string expected(200000 - 4, 'x');
  expected[65535] = '&';
  EXPECT_EQ(root->stringNodeForKey("k2")->stringValue(), expected);

  fotello::test::writeFile(path, xml.substr(0, xml.size() - 1));
  EXPECT_FALSE(PListDocumentReader::dictNodeWithContentsOfFile(path, &error));
  EXPECT_EQ(error.description().rfind("XML parse error at line 1", 0), 0u) << error.text();
}

TEST(PListDocumentReaderTest, FileThatCannotBeReadGivesTheSystemError) {
  Error error;
  EXPECT_FALSE(PListDocumentReader::dictNodeWithContentsOfFile("/nonexistent/AlbumData.xml", &error));
  EXPECT_TRUE(error.is(loomkit::kUnixErrorDomain, ENOENT)) << error.text();
}
