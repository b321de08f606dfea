#include "loomkit/io/GzipInputStream.h"

#include <gtest/gtest.h>

#include <random>

#include "loomkit/io/DataInputStream.h"
#include "loomkit/io/Gzip.h"

using loomkit::Bytes;
using loomkit::DataInputStream;
using loomkit::Error;
using loomkit::GzipInputStream;

namespace {

// Text-like bytes that compress well but not to nothing.
Bytes sample(size_t length) {
  std::mt19937 random(7);
  Bytes out(length);
  for (auto& b : out) b = static_cast<uint8_t>('a' + random() % 6);
  return out;
}

std::optional<Bytes> readAll(GzipInputStream& stream, size_t step, Error* error) {
  Bytes out;
  std::vector<uint8_t> buffer(step);
  for (;;) {
    int64_t n = stream.read(buffer.data(), step, error);
    if (n < 0) return std::nullopt;
    if (n == 0) return out;
    out.insert(out.end(), buffer.begin(), buffer.begin() + n);
  }
}

TEST(GzipInputStreamTest, InflatesInAnyReadSizeAndReadsConcatenatedMembers) {
  const Bytes original = sample(300000);
  const Bytes compressed = *loomkit::Gzip::gzipDeflate(original);
  for (size_t step : {1, 1000, 262144}) {
    GzipInputStream stream(std::make_unique<DataInputStream>(compressed));
    Error error;
    EXPECT_EQ(readAll(stream, step, &error), original) << step << ": " << error.text();
  }
  Bytes twice = compressed;
  twice.insert(twice.end(), compressed.begin(), compressed.end());
  GzipInputStream stream(std::make_unique<DataInputStream>(twice));
  Bytes expected = original;
  expected.insert(expected.end(), original.begin(), original.end());
  EXPECT_EQ(readAll(stream, 65536, nullptr), expected);

  GzipInputStream empty(std::make_unique<DataInputStream>(Bytes()));
  EXPECT_EQ(readAll(empty, 10, nullptr), Bytes());
}

TEST(GzipInputStreamTest, DamagedTruncatedAndOversizedDataFail) {
  const Bytes original = sample(100000);
  const Bytes compressed = *loomkit::Gzip::gzipDeflate(original);
  Bytes truncated(compressed.begin(), compressed.begin() + compressed.size() / 2);
  Bytes garbage = loomkit::bytesOf("this is not compressed at all");
  Bytes trailingGarbage = compressed;
  for (char c : std::string("not another member")) trailingGarbage.push_back(static_cast<uint8_t>(c));
  struct Case {
    const char* name;
    Bytes data;
    uint64_t limit;
    int64_t code;
  } cases[] = {
      {"truncated", truncated, UINT64_MAX, -2},
      {"garbage", garbage, UINT64_MAX, -1},
      {"trailing garbage", trailingGarbage, UINT64_MAX, -1},
      {"beyond the limit", compressed, 99999, -3},
  };
  for (const Case& c : cases) {
    GzipInputStream stream(std::make_unique<DataInputStream>(c.data), c.limit);
    Error error;
    EXPECT_FALSE(readAll(stream, 8192, &error)) << c.name;
    EXPECT_EQ(error.domain(), GzipInputStream::errorDomain()) << c.name;
    EXPECT_EQ(error.code(), c.code) << c.name << ": " << error.description();
  }
  GzipInputStream exact(std::make_unique<DataInputStream>(compressed), 100000);
  EXPECT_EQ(readAll(exact, 8192, nullptr), original);
}

}  // namespace
