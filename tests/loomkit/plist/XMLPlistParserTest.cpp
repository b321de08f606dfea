#include "loomkit/plist/XMLPlistParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loomkit/plist/RealNode.h"
#include "tests/support/TestSupport.h"

using loomkit::Error;
using loomkit::XMLPlistParser;
using Key = loomkit::XMLPlistParserDelegate::Key;

namespace {

// Every call as one line, e.g. "startDict(k)", "string(v, k)", "endPlist"; "-" for an absent key.
class Recorder final : public loomkit::XMLPlistParserDelegate {
 public:
  std::vector<std::string> calls;
  Error error;

  void didStartArray(XMLPlistParser&, Key key) override { add("startArray", key); }
  void didEndArray(XMLPlistParser&, Key key) override { add("endArray", key); }
  void didStartDict(XMLPlistParser&, Key key) override { add("startDict", key); }
  void didEndDict(XMLPlistParser&, Key key) override { add("endDict", key); }
  void foundString(XMLPlistParser&, std::string_view value, Key key) override { add("string", key, value); }
  void foundInteger(XMLPlistParser&, int64_t value, Key key) override { add("integer", key, std::to_string(value)); }
  void foundBoolean(XMLPlistParser&, bool value, Key key) override { add("boolean", key, value ? "true" : "false"); }
  void foundReal(XMLPlistParser&, double value, Key key) override {
    add("real", key, loomkit::RealNode::textForValue(value));
  }
  void didStartArrayInArray(XMLPlistParser&, Key key) override { add("startArrayInArray", key); }
  void didEndArrayInArray(XMLPlistParser&, Key key) override { add("endArrayInArray", key); }
  void didStartDictInArray(XMLPlistParser&, Key key) override { add("startDictInArray", key); }
  void didEndDictInArray(XMLPlistParser&, Key key) override { add("endDictInArray", key); }
  void foundStringInArray(XMLPlistParser&, std::string_view value, Key key) override {
    add("stringInArray", key, value);
  }
  void foundIntegerInArray(XMLPlistParser&, int64_t value, Key key) override {
    add("integerInArray", key, std::to_string(value));
  }
  void foundBooleanInArray(XMLPlistParser&, bool value, Key key) override {
    add("booleanInArray", key, value ? "true" : "false");
  }
  void foundRealInArray(XMLPlistParser&, double value, Key key) override {
    add("realInArray", key, loomkit::RealNode::textForValue(value));
  }
  void parseErrorOccurred(XMLPlistParser&, const Error& e, int64_t line, int64_t column) override {
    error = e;
    calls.push_back("error at " + std::to_string(line) + ":" + std::to_string(column));
  }
  void parserDidEndPlist(XMLPlistParser&) override { calls.push_back("endPlist"); }

 private:
  void add(const char* what, Key key, std::optional<std::string_view> value = std::nullopt) {
    std::string line = std::string(what) + "(";
    if (value) line += std::string(*value) + ", ";
    line += key ? std::string(*key) : "-";
    calls.push_back(line + ")");
  }
};

struct Parsed {
  bool ok;
  Recorder recorder;
};

Parsed parse(const std::string& xml) {
  fotello::test::TempDir dir;
  fotello::test::writeFile(dir.file("p.plist"), xml);
  Parsed result;
  XMLPlistParser parser(dir.file("p.plist"));
  parser.setDelegate(&result.recorder);
  result.ok = parser.parse();
  return result;
}

std::string plist(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + body + "\n</dict>\n</plist>\n";
}

}  // namespace

TEST(XMLPlistParserTest, ReportsContainersAndValuesWithTheirKeys) {
  Parsed p = parse(plist(R"(
    <key>name</key><string>Lib</string>
    <key>count</key><integer>12</integer>
    <key>ratio</key><real>1.5</real>
    <key>on</key><true/>
    <key>photos</key>
    <dict>
      <key>7</key>
      <dict><key>Caption</key><string>x</string><key>Keywords</key><array><string>k</string></array></dict>
    </dict>
    <key>albums</key>
    <array>
      <dict><key>AlbumId</key><integer>3</integer></dict>
      <array><integer>1</integer><false/><real>2</real></array>
      <string>loose</string>
    </array>
    <key>after</key><string>end</string>)"));
  ASSERT_TRUE(p.ok);
  const std::vector<std::string> expected = {
      "string(Lib, name)",
      "integer(12, count)",
      "real(1.500000, ratio)",
      "boolean(true, on)",
      "startDict(photos)",
      "startDict(7)",
      "string(x, Caption)",
      "startArray(Keywords)",
      "stringInArray(k, Keywords)",
      "endArray(Keywords)",
      "endDict(7)",
      "endDict(photos)",
      "startArray(albums)",
      "startDictInArray(albums)",
      "integer(3, AlbumId)",
      "endDictInArray(albums)",
      "startArrayInArray(albums)",
      "integerInArray(1, albums)",
      "booleanInArray(false, albums)",
      "realInArray(2.000000, albums)",
      "endArrayInArray(albums)",
      "stringInArray(loose, albums)",
      "endArray(albums)",
      "string(end, after)",
      "endPlist",
  };
  EXPECT_EQ(p.recorder.calls, expected);
}

TEST(XMLPlistParserTest, DatesAndDataUseUpTheirKeys) {
  // Without that, the photo table's end would be reported under the date's key.
  Parsed p = parse(plist(R"(
    <key>Saved</key><date>2024-01-02T03:04:05Z</date>
    <key>table</key>
    <dict>
      <key>1</key><dict><key>When</key><date>2024-01-02T03:04:05Z</date><key>Blob</key><data>AAEC</data></dict>
    </dict>
    <key>list</key><array><date>2024-01-02T03:04:05Z</date><data>AAEC</data><string>s</string></array>)"));
  ASSERT_TRUE(p.ok);
  const std::vector<std::string> expected = {
      "startDict(table)", "startDict(1)",           "endDict(1)",      "endDict(table)",
      "startArray(list)", "stringInArray(s, list)", "endArray(list)", "endPlist",
  };
  EXPECT_EQ(p.recorder.calls, expected);
}

TEST(XMLPlistParserTest, TextIsResolvedOnceAndKeptWholeAcrossReads) {
  // A value longer than one read of the file arrives in many pieces.
  const std::string longText(700 * 1024, 'x');
  Parsed p = parse(plist("<key>a</key><string>R&amp;D &lt;b&gt; &#233;&#x41;</string>"
                         "<key></key><string></string>"
                         "<key>long</key><string>" + longText + "</string>"));
  ASSERT_TRUE(p.ok);
  ASSERT_EQ(p.recorder.calls.size(), 4u);
  EXPECT_EQ(p.recorder.calls[0], "string(R&D <b> \xC3\xA9" "A, a)");
  EXPECT_EQ(p.recorder.calls[1], "string(, -)");
  EXPECT_EQ(p.recorder.calls[2], "string(" + longText + ", long)");
}

TEST(XMLPlistParserTest, IntegerText) {
  const struct {
    const char* text;
    int64_t value;
  } cases[] = {
      {"42", 42},           {"  -7", -7},          {"+3", 3},
      {"12abc", 12},        {"abc", 0},            {"", 0},
      {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX}, {"99999999999999999999", INT32_MAX},
      {"-2147483648", INT32_MIN}, {"-99999999999999999999", INT32_MIN},
  };
  for (const auto& c : cases) EXPECT_EQ(XMLPlistParser::integerValue(c.text), c.value) << c.text;
}

TEST(XMLPlistParserTest, RealThatDoesNotScanIsZeroAndLogged) {
  fotello::test::LogCapture log(loomkit::Log::kError);
  Parsed p = parse(plist("<key>a</key><real> 2.5e1</real><key>b</key><real>junk</real>"));
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.recorder.calls[0], "real(25.000000, a)");
  EXPECT_EQ(p.recorder.calls[1], "real(0.000000, b)");
  EXPECT_TRUE(log.contains("error scanning double from 'junk'"));
}

TEST(XMLPlistParserTest, FailuresStopTheParseWithLineAndColumn) {
  const struct {
    const char* name;
    std::string xml;
    std::string call;
    std::string description;
  } cases[] = {
      {"mismatched tag", "<plist>\n<dict>\n  <key>a</array>\n</dict></plist>", "error at 3:11", "mismatched tag"},
      {"truncated", "<plist><dict><key>a</key><string>b", "error at 1:35", "no element found"},
      {"entity declaration",
       "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [<!ENTITY big \"xxxxxxxx\">]>\n<plist><dict/></plist>", "error at 2:",
       "XML entity declarations are not supported"},
  };
  for (const auto& c : cases) {
    Parsed p = parse(c.xml);
    EXPECT_FALSE(p.ok) << c.name;
    ASSERT_FALSE(p.recorder.calls.empty()) << c.name;
    EXPECT_EQ(p.recorder.calls.back().rfind(c.call, 0), 0u) << c.name << ": " << p.recorder.calls.back();
    EXPECT_EQ(p.recorder.error.domain(), loomkit::kXMLPlistParserErrorDomain) << c.name;
    EXPECT_NE(p.recorder.error.code(), 0) << c.name;
    EXPECT_EQ(p.recorder.error.description(), c.description) << c.name;
  }
}

TEST(XMLPlistParserTest, MissingFileIsAReadErrorAtLineZero) {
  Recorder recorder;
  XMLPlistParser parser("/nonexistent/AlbumData.xml");
  parser.setDelegate(&recorder);
  EXPECT_FALSE(parser.parse());
  EXPECT_EQ(recorder.calls, std::vector<std::string>{"error at 0:0"});
  EXPECT_TRUE(recorder.error.is(loomkit::kUnixErrorDomain, ENOENT)) << recorder.error.text();
}
