#include "loomkit/io/ChunkedInputStream.h"

#include <gtest/gtest.h>

#include "loomkit/io/DataInputStream.h"

using loomkit::BufferedInputStream;
using loomkit::ChunkedInputStream;
using loomkit::DataInputStream;
using loomkit::Error;

namespace {

std::unique_ptr<BufferedInputStream> over(const std::string& bytes) {
  return std::make_unique<BufferedInputStream>(std::make_unique<DataInputStream>(loomkit::bytesOf(bytes)));
}

// Reads the whole body in steps of `step` bytes; the error of a failed read in *error.
std::optional<std::string> readAll(ChunkedInputStream& stream, size_t step, Error* error) {
  std::string out;
  std::vector<char> buffer(step);
  for (;;) {
    int64_t n = stream.read(buffer.data(), step, error);
    if (n < 0) return std::nullopt;
    if (n == 0) return out;
    out.append(buffer.data(), static_cast<size_t>(n));
  }
}

TEST(ChunkedInputStreamTest, DecodesChunksInAnyReadSizeAndEndsAtTheZeroChunk) {
  for (size_t step : {1, 2, 3, 8192}) {
    ChunkedInputStream stream(over("5\r\nabcde\r\n3\r\nfgh\r\n0\r\n\r\n"));
    Error error;
    EXPECT_EQ(readAll(stream, step, &error), "abcdefgh") << step << ": " << error.text();
    EXPECT_TRUE(stream.atEnd());
    char c;
    EXPECT_EQ(stream.read(&c, 1), 0);  // and stays at its end
  }
}

TEST(ChunkedInputStreamTest, IgnoresExtensionsReadsTrailersAndLeavesTheNextResponseInTheStream) {
  BufferedInputStream underlying(std::make_unique<DataInputStream>(
      loomkit::bytesOf("A;name=value\r\n0123456789\r\n0\r\nX-Trailer: 1\r\n\r\nHTTP/1.1 200 OK\r\n")));
  ChunkedInputStream stream(underlying);
  Error error;
  EXPECT_EQ(readAll(stream, 4, &error), "0123456789") << error.text();
  auto rest = underlying.readExactly(17);
  ASSERT_TRUE(rest);
  EXPECT_EQ(loomkit::textOf(*rest), "HTTP/1.1 200 OK\r\n");
}

TEST(ChunkedInputStreamTest, MalformedBodiesFailWithTheirTexts) {
  struct Case {
    const char* body;
    std::string domain;
    int64_t code;
    const char* description;
  } cases[] = {
      {"xyz\r\nabc\r\n0\r\n\r\n", "StreamErrorDomain", -1, "invalid chunk length: xyz"},
      {"-5\r\nabcde\r\n0\r\n\r\n", "StreamErrorDomain", -1, "invalid chunk length: -5"},
      {"5\r\nabcde3\r\nfgh\r\n0\r\n\r\n", "StreamErrorDomain", -1, "missing CRLF at end of chunk!"},
      {"5\r\nabcdeXY", "StreamErrorDomain", -1, "missing CRLF at end of chunk!"},
      // 2^64 and 2^63 would wrap or pass for negative counts further on.
      {"10000000000000000\r\n", "StreamErrorDomain", -1, "invalid chunk length: 10000000000000000"},
      {"8000000000000000\r\n", "StreamErrorDomain", -1, "invalid chunk length: 8000000000000000"},
      {"5\r\nabc", "BufferedInputStreamErrorDomain", -4, nullptr},
      {"5\r\nabcde\r\n", "BufferedInputStreamErrorDomain", -4, nullptr},
  };
  for (const Case& c : cases) {
    ChunkedInputStream stream(over(c.body));
    Error error;
    EXPECT_FALSE(readAll(stream, 8192, &error)) << c.body;
    EXPECT_EQ(error.domain(), c.domain) << c.body;
    EXPECT_EQ(error.code(), c.code) << c.body;
    if (c.description) {
      EXPECT_EQ(error.description(), c.description);
    }
  }
}

TEST(ChunkedInputStreamTest, SizeLinesAreBounded) {
  ChunkedInputStream stream(over(std::string(2000, '0') + "5\r\nabcde\r\n0\r\n\r\n"));
  Error error;
  EXPECT_FALSE(readAll(stream, 8192, &error));
  EXPECT_EQ(error.description(), "exceeded maxLength 1024 before finding CRLF");
}

TEST(ChunkedInputStreamTest, AnEndOfStreamRightAfterTheZeroChunkEndsTheBody) {
  ChunkedInputStream stream(over("3\r\nabc\r\n0\r\n"));
  Error error;
  EXPECT_EQ(readAll(stream, 8192, &error), "abc") << error.text();
}

}  // namespace
