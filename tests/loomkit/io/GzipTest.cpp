#include <gtest/gtest.h>
#include <zlib.h>

#include "loomkit/io/Gzip.h"
#include "tests/loomkit/io/StreamFakes.h"

using loomkit::Bytes;
using loomkit::Gzip;

TEST(GzipTest, InflateUndoesDeflate) {
  struct Case {
    const char* name;
    Bytes data;
  } cases[] = {
      {"one byte", {0x42}},
      {"text", loomkit::bytesOf("<plist><dict><key>a</key><string>b</string></dict></plist>")},
      {"incompressible, several output steps", fotello::test::patternBytes(100'000)},
      {"highly compressible, many growth steps", Bytes(3'000'000, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto packed = Gzip::gzipDeflate(c.data);
    ASSERT_TRUE(packed);
    ASSERT_GE(packed->size(), 18u);
    EXPECT_EQ((*packed)[0], 0x1f);  // gzip magic
    EXPECT_EQ((*packed)[1], 0x8b);
    EXPECT_EQ(Gzip::gzipInflate(*packed), c.data);
  }
  EXPECT_EQ(Gzip::gzipDeflate(Bytes()), Bytes());
  EXPECT_EQ(Gzip::gzipInflate(Bytes()), Bytes());
}

TEST(GzipTest, InflateDetectsTheZlibFormToo) {
  Bytes data = loomkit::bytesOf("zlib-wrapped, not gzip-wrapped");
  Bytes packed(compressBound(data.size()));
  uLongf size = packed.size();
  ASSERT_EQ(compress(packed.data(), &size, data.data(), data.size()), Z_OK);
  packed.resize(size);
  EXPECT_EQ(Gzip::gzipInflate(packed), data);
}

TEST(GzipTest, InflateRefusesWhatIsNotWholeCompressedData) {
  Bytes packed = *Gzip::gzipDeflate(fotello::test::patternBytes(50'000));
  Bytes truncated(packed.begin(), packed.begin() + packed.size() / 2);
  Bytes corrupt = packed;
  corrupt[packed.size() / 2] ^= 0xff;
  Bytes badTrailer = packed;
  badTrailer[packed.size() - 6] ^= 0x01;  // the CRC
  struct Case {
    const char* name;
    Bytes data;
  } cases[] = {
      {"plain text", loomkit::bytesOf("this is not compressed data at all")},
      {"gzip magic only", {0x1f, 0x8b}},
      {"truncated", truncated},
      {"corrupt", corrupt},
      {"bad checksum", badTrailer},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Gzip::gzipInflate(c.data), std::nullopt) << c.name;
  }
}

TEST(GzipTest, InflateStopsAtItsOutputLimit) {
  Bytes zeros(4 << 20, 0);
  Bytes bomb = *Gzip::gzipDeflate(zeros);  // a few kilobytes that expand a thousand-fold
  EXPECT_EQ(Gzip::gzipInflate(bomb, zeros.size()), zeros);  // exactly the limit is fine
  EXPECT_EQ(Gzip::gzipInflate(bomb, zeros.size() - 1), std::nullopt);
  EXPECT_EQ(Gzip::gzipInflate(bomb, 1 << 20), std::nullopt);
}
