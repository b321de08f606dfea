#include <gtest/gtest.h>
#include <sys/mman.h>

#include <fstream>

#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/BufferedOutputStream.h"
#include "loomkit/io/DataIO.h"
#include "loomkit/io/DataInputStream.h"
#include "loomkit/io/DataOutputStream.h"
#include "loomkit/io/StringIO.h"
#include "loomkit/io/Writer.h"
#include "tests/loomkit/io/StreamFakes.h"

using loomkit::BufferedInputStream;
using loomkit::BufferedOutputStream;
using loomkit::Bytes;
using loomkit::Error;
using fotello::test::ScriptedInput;
using fotello::test::ScriptedOutput;

namespace {

// The process's virtual size in bytes: an allocation shows here whether or not it is touched.
uint64_t virtualSize() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmSize:") {
      uint64_t kb;
      status >> kb;
      return kb * 1024;
    }
  }
  return 0;
}

// A buffered stream over scripted input, with a handle on the input.
struct Buffered {
  explicit Buffered(Bytes bytes, bool failAtEnd = false, uint64_t step = UINT64_MAX) {
    auto in = std::make_unique<ScriptedInput>(std::move(bytes), failAtEnd, step);
    input = in.get();
    stream = std::make_unique<BufferedInputStream>(std::move(in));
  }
  ScriptedInput* input;
  std::unique_ptr<BufferedInputStream> stream;
};

}  // namespace

TEST(BufferedInputStreamTest, ExactReadLengthLimits) {
  // A destination as large as the largest request, reserved but never backed unless written.
  const uint64_t kSpan = 0x80000001;
  void* dest = ::mmap(nullptr, kSpan, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(dest, MAP_FAILED);
  struct Case {
    uint64_t length;
    bool ok;
    std::string domain;
    int64_t code;
    std::string description;
    bool readsUnderlying;
  } cases[] = {
      {0, true, "", 0, "", false},
      {0x80000000, false, "BufferedInputStreamErrorDomain", -4, "after 10 of 2147483648 bytes received", true},
      {0x80000001, false, "InputStreamErrorDomain", -1, "absurd length 2147483649 requested", false},
  };
  for (const auto& c : cases) {
    for (bool intoBuffer : {true, false}) {
      SCOPED_TRACE(std::to_string(c.length) + (intoBuffer ? " into memory" : " as bytes"));
      Buffered b(fotello::test::patternBytes(10));
      Error error;
      bool ok = intoBuffer ? b.stream->readExactly(c.length, dest, &error)
                           : b.stream->readExactly(c.length, &error).has_value();
      EXPECT_EQ(ok, c.ok);
      EXPECT_EQ(!b.input->requests.empty(), c.readsUnderlying);
      if (!c.ok) {
        EXPECT_TRUE(error.is(c.domain, c.code)) << error.text();
        EXPECT_NE(error.description().find(c.description), std::string::npos) << error.description();
      }
    }
  }
  ::munmap(dest, kSpan);
}

TEST(BufferedInputStreamTest, EndOfStreamNamesTheStreamAndTheCounts) {
  auto stream = std::make_unique<loomkit::DataInputStream>(fotello::test::patternBytes(6));
  BufferedInputStream in(std::move(stream));
  char buf[10];
  Error error;
  EXPECT_FALSE(in.readExactly(10, buf, &error));
  EXPECT_TRUE(error.is("BufferedInputStreamErrorDomain", -4));
  EXPECT_EQ(error.description(),
            "EOF on <BufferedInputStream: underlying=<DataInputStream: 6>> after 6 of 10 bytes received");

  // A failing underlying read fails the exact read with its own error.
  Buffered failing(fotello::test::patternBytes(3), true);
  EXPECT_FALSE(failing.stream->readExactly(10, buf, &error));
  EXPECT_TRUE(error.is("TestErrorDomain", 5)) << error.text();
}

TEST(BufferedInputStreamTest, SmallReadsShareOneRefillAndLargeReadsBypassTheBuffer) {
  Bytes content = fotello::test::patternBytes(40000);
  Buffered b(content);
  std::vector<uint8_t> got(40000);
  EXPECT_EQ(b.stream->read(got.data(), 100), 100);
  EXPECT_EQ(b.stream->read(got.data() + 100, 100), 100);
  EXPECT_EQ(b.input->requests, std::vector<uint64_t>({8192}));
  // The rest of the buffer first, then an empty buffer passes a large request straight on.
  EXPECT_EQ(b.stream->read(got.data() + 200, 20000), 8192 - 200);
  EXPECT_EQ(b.stream->read(got.data() + 8192, 8193), 8193);
  EXPECT_EQ(b.input->requests, std::vector<uint64_t>({8192, 8193}));
  ASSERT_TRUE(b.stream->readExactly(40000 - 8192 - 8193, got.data() + 8192 + 8193));
  EXPECT_EQ(got, content);
  EXPECT_EQ(b.stream->bytesReceived(), 40000u);
  EXPECT_EQ(b.stream->read(got.data(), 1), 0);
}

TEST(BufferedInputStreamTest, AnnouncedLengthsCostMemoryOnlyAsBytesArrive) {
  // Each input announces 2 GiB and then holds 10 bytes.
  Bytes count = {0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00};
  Bytes ten = fotello::test::patternBytes(10);
  auto with = [&](Bytes prefix) {
    prefix.insert(prefix.end(), ten.begin(), ten.end());
    return prefix;
  };
  Bytes stringInput = with(Bytes{0x01});
  stringInput.insert(stringInput.begin() + 1, count.begin(), count.end());
  struct Case {
    const char* name;
    Bytes input;
    std::function<bool(BufferedInputStream&, Error*)> read;
  } cases[] = {
      {"readExactly", ten,
       [](BufferedInputStream& in, Error* e) { return in.readExactly(0x80000000, e).has_value(); }},
      {"StringIO", stringInput,
       [](BufferedInputStream& in, Error* e) {
         std::optional<std::string> s;
         return loomkit::StringIO::read(s, in, e);
       }},
      {"DataIO", with(count),
       [](BufferedInputStream& in, Error* e) {
         Bytes d;
         return loomkit::DataIO::read(d, in, e);
       }},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    Buffered b(c.input);
    uint64_t before = virtualSize();
    uint64_t atEnd = 0;
    b.input->onEnd = [&] { atEnd = virtualSize(); };  // the destination exists while more is asked for
    Error error;
    EXPECT_FALSE(c.read(*b.stream, &error));
    EXPECT_TRUE(error.is("BufferedInputStreamErrorDomain", -4)) << error.text();
    EXPECT_NE(error.description().find("after 10 of 2147483648 bytes received"), std::string::npos);
    ASSERT_GT(atEnd, 0u);
    EXPECT_LT(atEnd - std::min(atEnd, before), 256u << 20) << "grew by " << (atEnd - before);
  }
}

TEST(BufferedOutputStreamTest, BuffersUpTo8192BytesAndPassesLongerBlocksStraightOn) {
  auto sink = std::make_unique<loomkit::DataOutputStream>();
  auto data = sink->mutableData();
  Bytes block = fotello::test::patternBytes(8193);
  {
    BufferedOutputStream out(std::move(sink));
    EXPECT_EQ(out.write(block.data(), 8192), 8192);
    EXPECT_TRUE(data->empty());  // a full buffer is still only buffered
    ASSERT_TRUE(out.flush());
    EXPECT_EQ(data->size(), 8192u);

    data->clear();
    ASSERT_TRUE(out.writeExactly("x", 1));
    EXPECT_EQ(out.write(block.data(), 8193), 8193);  // flushes the pending byte, then goes through
    Bytes expected = {'x'};
    expected.insert(expected.end(), block.begin(), block.end());
    EXPECT_EQ(*data, expected);

    data->clear();
    ASSERT_TRUE(out.writeExactly("y", 1));
    ASSERT_TRUE(out.writeExactly(block.data(), 8192));  // does not fit behind "y": "y" goes first
    EXPECT_EQ(*data, Bytes{'y'});
    data->clear();
  }
  EXPECT_TRUE(data->empty());  // destruction without flush drops the pending bytes
}

TEST(BufferedOutputStreamTest, CompletesPartialWritesAndFailsWhenNothingIsAccepted) {
  Bytes block = fotello::test::patternBytes(20000);
  {
    auto sink = std::make_unique<ScriptedOutput>(1000);  // takes 1000 bytes per call
    ScriptedOutput* s = sink.get();
    BufferedOutputStream out(std::move(sink));
    ASSERT_TRUE(out.writeExactly(block.data(), 100));
    ASSERT_TRUE(out.writeExactly(block.data() + 100, block.size() - 100));
    ASSERT_TRUE(out.flush());
    EXPECT_EQ(s->data, block);
  }
  struct Case {
    const char* name;
    int whenFull;
    bool viaFlush;
    std::string domain;
    int64_t code;
    std::string description;
  } cases[] = {
      {"long write, 0 accepted", 0, false, "BufferedOutputStreamErrorDomain", -13,
       "0 bytes written to underlying stream"},
      {"flush, 0 accepted", 0, true, "BufferedOutputStreamErrorDomain", -13,
       "0 bytes written to underlying stream <ScriptedOutput>"},
      {"long write, failure", -1, false, "TestErrorDomain", 7, "output broke"},
      {"flush, failure", -1, true, "TestErrorDomain", 7, "output broke"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BufferedOutputStream out(std::make_unique<ScriptedOutput>(1000, 3000, c.whenFull));
    Error error;
    bool ok = c.viaFlush ? out.writeExactly(block.data(), 5000) && out.flush(&error)
                         : out.write(block.data(), block.size(), &error) >= 0;
    EXPECT_FALSE(ok);
    EXPECT_TRUE(error.is(c.domain, c.code)) << error.text();
    EXPECT_EQ(error.description(), c.description);
  }
}

TEST(WriterTest, WritesTextThroughItsBuffer) {
  auto sink = std::make_unique<loomkit::DataOutputStream>();
  auto data = sink->mutableData();
  loomkit::Writer writer(std::move(sink));
  ASSERT_TRUE(writer.write("Grüße, "));
  ASSERT_TRUE(writer.write("Welt"));
  EXPECT_TRUE(data->empty());
  ASSERT_TRUE(writer.flush());
  EXPECT_EQ(std::string(loomkit::textOf(*data)), "Grüße, Welt");
}
