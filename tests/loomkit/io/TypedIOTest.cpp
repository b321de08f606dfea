#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "loomkit/io/BooleanIO.h"
#include "loomkit/io/DataIO.h"
#include "loomkit/io/DataInputStream.h"
#include "loomkit/io/DataOutputStream.h"
#include "loomkit/io/DateIO.h"
#include "loomkit/io/DoubleIO.h"
#include "loomkit/io/IntegerIO.h"
#include "loomkit/io/StringIO.h"
#include "loomkit/shared/Format.h"

using namespace loomkit;

namespace {

std::string hex(const Bytes& bytes) {
  std::string out;
  for (uint8_t b : bytes) out += strprintf("%s%02X", out.empty() ? "" : " ", b);
  return out;
}

Bytes unhex(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i < text.size(); i += 3) {  // "AA BB CC"
    out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::unique_ptr<BufferedInputStream> over(Bytes bytes) {
  return std::make_unique<BufferedInputStream>(std::make_unique<DataInputStream>(std::move(bytes)));
}

// One value: its two writers, and a reader that checks what comes back.
struct Case {
  const char* name;
  std::function<void(Bytes&)> toBytes;
  std::function<bool(BufferedOutputStream&)> toStream;
  std::string image;
  std::function<void(BufferedInputStream&)> readBack;
};

template <class T>
std::function<void(BufferedInputStream&)> expectRead(bool (*reader)(T&, BufferedInputStream&, Error*), T expected) {
  return [reader, expected](BufferedInputStream& in) {
    T value{};
    ASSERT_TRUE(reader(value, in, nullptr));
    EXPECT_EQ(value, expected);
  };
}

}  // namespace

TEST(TypedIOTest, ByteImagesOfBothWritersAndTheirReadBack) {
  const std::string abc = "01 00 00 00 00 00 00 00 03 61 62 63";
  const std::string text0_1 = "01 00 00 00 00 00 00 00 08 30 2E 31 30 30 30 30 30";  // "0.100000"
  const std::string text0 = "01 00 00 00 00 00 00 00 08 30 2E 30 30 30 30 30 30";    // "0.000000"
  Bytes three = {0xAA, 0xBB, 0xCC};
  Case cases[] = {
      {"Boolean true", [](Bytes& b) { BooleanIO::write(true, b); },
       [](BufferedOutputStream& s) { return BooleanIO::write(true, s); }, "01", expectRead(&BooleanIO::read, true)},
      {"Boolean false", [](Bytes& b) { BooleanIO::write(false, b); },
       [](BufferedOutputStream& s) { return BooleanIO::write(false, s); }, "00", expectRead(&BooleanIO::read, false)},
      {"Int32 -2", [](Bytes& b) { IntegerIO::writeInt32(-2, b); },
       [](BufferedOutputStream& s) { return IntegerIO::writeInt32(-2, s); }, "FF FF FF FE",
       expectRead(&IntegerIO::readInt32, int32_t{-2})},
      {"UInt32 0x01020304", [](Bytes& b) { IntegerIO::writeUInt32(0x01020304, b); },
       [](BufferedOutputStream& s) { return IntegerIO::writeUInt32(0x01020304, s); }, "01 02 03 04",
       expectRead(&IntegerIO::readUInt32, uint32_t{0x01020304})},
      {"UInt64 1", [](Bytes& b) { IntegerIO::writeUInt64(1, b); },
       [](BufferedOutputStream& s) { return IntegerIO::writeUInt64(1, s); }, "00 00 00 00 00 00 00 01",
       expectRead(&IntegerIO::readUInt64, uint64_t{1})},
      {"Int64 minimum", [](Bytes& b) { IntegerIO::writeInt64(INT64_MIN, b); },
       [](BufferedOutputStream& s) { return IntegerIO::writeInt64(INT64_MIN, s); }, "80 00 00 00 00 00 00 00",
       expectRead(&IntegerIO::readInt64, INT64_MIN)},
      {"String abc", [](Bytes& b) { StringIO::write("abc", b); },
       [](BufferedOutputStream& s) { return StringIO::write("abc", s); }, abc,
       expectRead(&StringIO::read, std::optional<std::string>("abc"))},
      {"absent String", [](Bytes& b) { StringIO::write(std::nullopt, b); },
       [](BufferedOutputStream& s) { return StringIO::write(std::nullopt, s); }, "00",
       expectRead(&StringIO::read, std::optional<std::string>())},
      {"empty String", [](Bytes& b) { StringIO::write("", b); },
       [](BufferedOutputStream& s) { return StringIO::write("", s); }, "01 00 00 00 00 00 00 00 00",
       expectRead(&StringIO::read, std::optional<std::string>(""))},
      {"Date 1.5 s after the epoch", [](Bytes& b) { DateIO::write(1.5, b); },
       [](BufferedOutputStream& s) { return DateIO::write(1.5, s); }, "01 00 00 00 00 00 00 05 DC",
       expectRead(&DateIO::read, std::optional<double>(1.5))},
      {"Date 0.0015 s before the epoch truncates toward zero", [](Bytes& b) { DateIO::write(-0.0015, b); },
       [](BufferedOutputStream& s) { return DateIO::write(-0.0015, s); }, "01 FF FF FF FF FF FF FF FF",
       expectRead(&DateIO::read, std::optional<double>(-0.001))},
      {"absent Date", [](Bytes& b) { DateIO::write(std::nullopt, b); },
       [](BufferedOutputStream& s) { return DateIO::write(std::nullopt, s); }, "00",
       expectRead(&DateIO::read, std::optional<double>())},
      {"Date out of range is clamped", [](Bytes& b) { DateIO::write(1e300, b); },
       [](BufferedOutputStream& s) { return DateIO::write(1e300, s); }, "01 7F FF FF FF FF FF FF FF",
       expectRead(&DateIO::read, std::optional<double>(9223372036854775807.0 / 1000))},
      {"Double 0.1", [](Bytes& b) { DoubleIO::write(0.1, b); },
       [](BufferedOutputStream& s) { return DoubleIO::write(0.1, s); }, text0_1, expectRead(&DoubleIO::read, 0.1)},
      {"Double 1e-7 is stored as 0.000000", [](Bytes& b) { DoubleIO::write(1e-7, b); },
       [](BufferedOutputStream& s) { return DoubleIO::write(1e-7, s); }, text0, expectRead(&DoubleIO::read, 0.0)},
      {"Byte block of 3", [&](Bytes& b) { DataIO::write(three, b); }, nullptr, "00 00 00 00 00 00 00 03 AA BB CC",
       expectRead(&DataIO::read, three)},
      {"absent byte block", [](Bytes& b) { DataIO::write({}, b); }, nullptr, "00 00 00 00 00 00 00 00",
       expectRead(&DataIO::read, Bytes())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes buffer = {0xEE};  // appends after what is there
    c.toBytes(buffer);
    EXPECT_EQ(hex(Bytes(buffer.begin() + 1, buffer.end())), c.image);
    if (c.toStream) {
      auto sink = std::make_unique<DataOutputStream>();
      auto data = sink->mutableData();
      BufferedOutputStream out(std::move(sink));
      ASSERT_TRUE(c.toStream(out));
      ASSERT_TRUE(out.flush());
      EXPECT_EQ(hex(*data), c.image);
    }
    Bytes image = unhex(c.image);
    image.push_back(0x5A);  // a reader takes its value and nothing more
    auto in = over(image);
    c.readBack(*in);
    uint8_t next = 0;
    ASSERT_TRUE(in->readExactly(1, &next));
    EXPECT_EQ(next, 0x5A);
  }
}

TEST(TypedIOTest, LenientAndSpecialReads) {
  bool flag = false;
  EXPECT_TRUE(BooleanIO::read(flag, *over({0x07})));
  EXPECT_TRUE(flag);  // any non-zero byte

  // Not UTF-8: the string reads as absent, the read succeeds and the stream is past it.
  auto in = over(unhex("01 00 00 00 00 00 00 00 02 FF FE 01 00 00 00 00 00 00 00 01 41"));
  std::optional<std::string> text = "stale";
  EXPECT_TRUE(StringIO::read(text, *in));
  EXPECT_EQ(text, std::nullopt);
  std::unique_ptr<std::string> owned;
  EXPECT_TRUE(StringIO::newString(owned, *in));
  ASSERT_TRUE(owned);
  EXPECT_EQ(*owned, "A");

  // Non-finite doubles and texts the writer never makes.
  for (double special : {INFINITY, -INFINITY}) {
    Bytes b;
    DoubleIO::write(special, b);
    double back = 0;
    EXPECT_TRUE(DoubleIO::read(back, *over(b)));
    EXPECT_EQ(back, special);
  }
  Bytes nan;
  DoubleIO::write(NAN, nan);
  double back = 0;
  EXPECT_TRUE(DoubleIO::read(back, *over(nan)));
  EXPECT_TRUE(std::isnan(back));
  struct {
    const char* text;
    double value;
  } texts[] = {{"3.141593", 3.141593}, {"-2.5xyz", -2.5}, {"abc", 0.0}, {"", 0.0}, {"1e3", 1000.0}, {" +7", 7.0}};
  for (const auto& t : texts) {
    Bytes b;
    StringIO::write(t.text, b);
    double value = -1;
    EXPECT_TRUE(DoubleIO::read(value, *over(b)));
    EXPECT_EQ(value, t.value) << t.text;
  }
}

TEST(TypedIOTest, ReadFailures) {
  struct Case {
    const char* name;
    std::string image;
    std::function<bool(BufferedInputStream&, Error*)> read;
    std::string domain;
    int64_t code;
    std::string description;
  } cases[] = {
      {"Double of an absent String", "00",
       [](BufferedInputStream& in, Error* e) { double d = 1; return DoubleIO::read(d, in, e) || d != 0.0; },
       "DoubleIOErrorDomain", -1, "nil string; expected a double"},
      {"String count beyond the data", "01 00 00 00 00 00 00 00 05 61 62",
       [](BufferedInputStream& in, Error* e) { std::optional<std::string> s = "x"; return StringIO::read(s, in, e) || s; },
       "BufferedInputStreamErrorDomain", -4, "after 2 of 5 bytes received"},
      {"String count above 2 GiB", "01 00 00 00 00 80 00 00 01",
       [](BufferedInputStream& in, Error* e) { std::optional<std::string> s; return StringIO::read(s, in, e); },
       "InputStreamErrorDomain", -1, "absurd length 2147483649 requested"},
      {"Byte block count beyond the data", "00 00 00 00 00 00 00 04 01",
       [](BufferedInputStream& in, Error* e) { Bytes d = {9}; return DataIO::read(d, in, e) || !d.empty(); },
       "BufferedInputStreamErrorDomain", -4, "after 1 of 4 bytes received"},
      {"Int64 cut short", "00 00 01",
       [](BufferedInputStream& in, Error* e) { int64_t v = 5; return IntegerIO::readInt64(v, in, e) || v != 0; },
       "BufferedInputStreamErrorDomain", -4, "after 3 of 8 bytes received"},
      {"Date without its count", "01 00",
       [](BufferedInputStream& in, Error* e) { std::optional<double> d = 1.0; return DateIO::read(d, in, e) || d; },
       "BufferedInputStreamErrorDomain", -4, "after 1 of 8 bytes received"},
      {"Boolean at the end", "",
       [](BufferedInputStream& in, Error* e) { bool b = true; return BooleanIO::read(b, in, e) || b; },
       "BufferedInputStreamErrorDomain", -4, "after 0 of 1 bytes received"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Error error;
    auto in = over(c.image.empty() ? Bytes() : unhex(c.image));
    EXPECT_FALSE(c.read(*in, &error));  // fails, with the value cleared
    EXPECT_TRUE(error.is(c.domain, c.code)) << error.text();
    EXPECT_NE(error.description().find(c.description), std::string::npos) << error.description();
  }
}

TEST(TypedIOTest, StreamWritersFailWithTheirStream) {
  // An output that takes nothing: the value goes to the buffer, the flush fails.
  struct Refusing : OutputStream {
    int64_t write(const void*, uint64_t, Error*) override { return 0; }
    uint64_t bytesWritten() const override { return 0; }
    std::string description() const override { return "<Refusing>"; }
  };
  BufferedOutputStream out(std::make_unique<Refusing>());
  std::string big(9000, 'z');
  Error error;
  EXPECT_TRUE(StringIO::write("small", out, &error));
  EXPECT_FALSE(StringIO::write(big, out, &error));
  EXPECT_TRUE(error.is("BufferedOutputStreamErrorDomain", -13));
}
