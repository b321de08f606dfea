#include <gtest/gtest.h>

#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/DataInputStream.h"
#include "loomkit/io/DataInputStreamFactory.h"
#include "loomkit/io/InputStreams.h"
#include "tests/loomkit/io/StreamFakes.h"
#include "tests/support/TestSupport.h"

using loomkit::BufferedInputStream;
using loomkit::Bytes;
using loomkit::Error;
using loomkit::InputStreams;

namespace {
std::unique_ptr<BufferedInputStream> bufferedOver(std::string_view text) {
  return std::make_unique<BufferedInputStream>(std::make_unique<loomkit::DataInputStream>(loomkit::bytesOf(text)));
}
}  // namespace

TEST(InputStreamsTest, ReadLineWithCRLF) {
  struct Case {
    const char* name;
    std::string input;
    uint64_t maxLength;
    std::optional<std::string> line;  // nothing: fails
    std::string error;
  } cases[] = {
      {"request line", "GET /status HTTP/1.1\r\nHost: x\r\n", 1024, "GET /status HTTP/1.1\r\n", ""},
      {"14 characters, exactly the maximum", "GET / HTTP/1.1\r\n", 16, "GET / HTTP/1.1\r\n", ""},
      {"over the maximum", "GET / HTTP/1.1\r\n", 5, std::nullopt, "exceeded maxLength 5 before finding CRLF"},
      {"one byte over the maximum", "GET / HTTP/1.1\r\n", 15, std::nullopt,
       "exceeded maxLength 15 before finding CRLF"},
      {"a lone LF does not end a line", "a\nb\r\n", 100, "a\nb\r\n", ""},
      {"a lone CR does not either", "a\rb\r\r\n", 100, "a\rb\r\r\n", ""},
      {"empty line", "\r\nrest", 100, "\r\n", ""},
      {"end before CR LF", "no end\r", 100, std::nullopt, "after 0 of 1 bytes received"},
      {"not UTF-8", "caf\xe9\r\n", 100, std::nullopt, "line is not valid UTF-8"},
  };
  fotello::test::LogCapture log;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto in = bufferedOver(c.input);
    Error error;
    auto line = InputStreams::readLineWithCRLF(*in, c.maxLength, &error);
    EXPECT_EQ(line, c.line);
    if (c.line) {
      EXPECT_TRUE(log.contains("got line <" + *c.line + ">"));
    } else {
      EXPECT_NE(error.description().find(c.error), std::string::npos) << error.text();
    }
  }
  // Lines follow each other on one stream.
  auto in = bufferedOver("one\r\ntwo\r\n");
  EXPECT_EQ(InputStreams::readLineWithCRLF(*in, 10), "one\r\n");
  EXPECT_EQ(InputStreams::readLineWithCRLF(*in, 10), "two\r\n");
}

TEST(InputStreamsTest, SlurpCollectsEverythingOrNothing) {
  Bytes content = fotello::test::patternBytes(20000);
  fotello::test::ScriptedInput in(content, false, 3000);
  EXPECT_EQ(InputStreams::slurp(in), content);
  EXPECT_EQ(in.requests.front(), 8192u);

  fotello::test::ScriptedInput failing(content, true);
  Error error;
  EXPECT_FALSE(InputStreams::slurp(failing, &error));
  EXPECT_TRUE(error.is("TestErrorDomain", 5));

  // A memory stream slurps what is left after its read position.
  loomkit::DataInputStreamFactory factory(content);
  EXPECT_EQ(factory.description(), "<DataISF: 20000>");
  auto stream = factory.newInputStream();
  uint8_t skip[100];
  ASSERT_EQ(stream->read(skip, sizeof skip), 100);
  EXPECT_EQ(stream->slurp(), Bytes(content.begin() + 100, content.end()));
  EXPECT_EQ(stream->slurp(), Bytes());
  EXPECT_EQ(factory.newInputStream()->slurp(), content);  // each stream starts at the beginning
}
