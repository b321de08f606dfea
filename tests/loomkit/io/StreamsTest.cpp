#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "loomkit/io/DataInputStream.h"
#include "loomkit/io/FileInputStream.h"
#include "loomkit/io/FileOutputStream.h"
#include "loomkit/io/Streams.h"
#include "loomkit/shared/NotificationCenter.h"
#include "tests/loomkit/io/StreamFakes.h"
#include "tests/support/TestSupport.h"

using loomkit::Bytes;
using loomkit::Error;
using loomkit::Streams;
using fotello::test::ScriptedInput;
using fotello::test::ScriptedOutput;

namespace {

// Copies unthrottled, as both programs do, and counts the "StreamsDidResume" notifications (with
// no main loop installed they arrive at once).
class StreamsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedType_ = Streams::throttleType();
    savedRate_ = Streams::throttleKBPS();
    Streams::setThrottleType(Streams::kThrottleNone);
    token_ = loomkit::NotificationCenter::defaultCenter().addObserver(
        "StreamsDidResume", [this](const loomkit::Notification&) { ++resumes; });
  }
  void TearDown() override {
    loomkit::NotificationCenter::defaultCenter().removeObserver(token_);
    Streams::setThrottleType(savedType_);
    Streams::setThrottleKBPS(savedRate_);
  }

  int resumes = 0;

 private:
  int savedType_ = 0;
  int savedRate_ = 0;
  loomkit::NotificationCenter::Token token_ = 0;
};

std::vector<std::string> entriesOf(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST_F(StreamsTest, CopiesEverythingAndCompletesPartlyAcceptedChunks) {
  Bytes content = fotello::test::patternBytes(1'000'000);
  for (int type : {Streams::kThrottleNone, Streams::kThrottleFixedRate}) {
    SCOPED_TRACE(type);
    Streams::setThrottleType(type);
    Streams::setThrottleKBPS(1'000'000);  // fast enough not to matter here
    // The input hands out odd-sized pieces; the output takes at most 1000 bytes per call.
    ScriptedInput in(content, false, 77'777);
    ScriptedOutput out(1000);
    uint64_t counter = 5;  // the caller chooses the starting value
    EXPECT_TRUE(Streams::transferFrom(in, out, counter));
    EXPECT_EQ(out.data, content);
    EXPECT_EQ(counter, 5u + content.size());
    uint64_t step = type == Streams::kThrottleNone ? Streams::kUnpacedChunkSize : Streams::kChunkSize;
    EXPECT_EQ(in.requests.front(), step);
  }
  EXPECT_EQ(resumes, 2);  // one per copy
}

TEST_F(StreamsTest, FailuresEndTheCopyAndLeaveTheCounterAtTheLastWholeChunk) {
  Bytes content = fotello::test::patternBytes(300'000);
  struct Case {
    const char* name;
    bool inputFails;
    uint64_t outputCapacity;
    int whenFull;
    std::string domain;
    int64_t code;
    uint64_t counted;
  } cases[] = {
      {"empty input", false, UINT64_MAX, 0, "", 0, 0},
      {"output fails on the first chunk", false, 0, -1, "TestErrorDomain", 7, 0},
      {"output takes part of the first chunk, then nothing", false, 5000, 0, "StreamsErrorDomain", -13, 0},
      {"output fails in the second chunk", false, Streams::kUnpacedChunkSize + 10, -1, "TestErrorDomain", 7,
       Streams::kUnpacedChunkSize},
      {"input fails after its bytes", true, UINT64_MAX, 0, "TestErrorDomain", 5, 300'000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    resumes = 0;
    ScriptedInput in(std::string(c.name) == "empty input" ? Bytes() : content, c.inputFails);
    ScriptedOutput out(UINT64_MAX, c.outputCapacity, c.whenFull);
    uint64_t counter = 0;
    Error error;
    bool ok = Streams::transferFrom(in, out, counter, &error);
    EXPECT_EQ(ok, c.domain.empty());
    if (!ok) {
      EXPECT_TRUE(error.is(c.domain, c.code)) << error.text();
    }
    if (c.code == -13) {
      EXPECT_EQ(error.description(), "0 bytes written to <ScriptedOutput>");
    }
    EXPECT_EQ(counter, c.counted);
    EXPECT_EQ(resumes, 1);
  }
}

TEST_F(StreamsTest, AtomicTransferReplacesTheFileOnlyWhenTheCopySucceeds) {
  fotello::test::TempDir dir;
  std::string target = dir.file("catalog.dat");
  fotello::test::writeFile(target, "old catalog");
  Bytes content = fotello::test::patternBytes(600'000);

  {
    fotello::test::LogCapture log(loomkit::Log::kError);
    ScriptedInput broken(content, true);
    uint64_t counter = 99;
    Error error;
    EXPECT_FALSE(Streams::transferFrom(broken, target, counter, &error));
    EXPECT_TRUE(error.is("TestErrorDomain", 5));
    EXPECT_EQ(counter, 99u);
    EXPECT_EQ(fotello::test::readFile(target), "old catalog");
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"catalog.dat"});  // no temporary file left
    EXPECT_TRUE(log.contains("error transferring bytes to " + target));
    EXPECT_EQ(resumes, 1);
  }

  loomkit::DataInputStream in(content);
  uint64_t counter = 0;
  ASSERT_TRUE(Streams::transferFrom(in, target, counter));
  EXPECT_EQ(counter, content.size());
  EXPECT_EQ(fotello::test::readFile(target), std::string(loomkit::textOf(content)));
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600);
  EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"catalog.dat"});

  loomkit::DataInputStream again(content);
  Error error;
  std::string nowhere = dir.file("missing/catalog.dat");
  EXPECT_FALSE(Streams::transferFrom(again, nowhere, counter, &error));
  EXPECT_EQ(error.description(), "mkstemp(" + nowhere + ".XXXXXX): " + loomkit::systemErrorText(ENOENT));
}

TEST_F(StreamsTest, CopiesFileToFile) {
  fotello::test::TempDir dir;
  Bytes content = fotello::test::patternBytes(3 * Streams::kUnpacedChunkSize + 123);
  fotello::test::writeFile(dir.file("src"), std::string(loomkit::textOf(content)));
  loomkit::FileInputStream in(dir.file("src"), 100, 2 * Streams::kUnpacedChunkSize);
  loomkit::FileOutputStream out(dir.file("dst"));
  uint64_t counter = 0;
  ASSERT_TRUE(Streams::transferFrom(in, out, counter));
  out.close();
  EXPECT_EQ(counter, 2 * Streams::kUnpacedChunkSize);
  EXPECT_EQ(fotello::test::readFile(dir.file("dst")),
            std::string(loomkit::textOf(content)).substr(100, 2 * Streams::kUnpacedChunkSize));
}

TEST(StreamsThrottleSettingsTest, StoresAndLogsTheSettings) {
  int savedType = Streams::throttleType(), savedRate = Streams::throttleKBPS();
  fotello::test::LogCapture log(loomkit::Log::kDebug);
  Streams::setThrottleType(Streams::kThrottleFixedRate);
  EXPECT_EQ(Streams::throttleType(), 2);
  EXPECT_TRUE(log.contains("Streams throttleType set to 2"));
  struct Case {
    int given, stored;
  } cases[] = {{-5, 1}, {0, 1}, {1, 1}, {250, 250}};
  for (const auto& c : cases) {
    Streams::setThrottleKBPS(c.given);
    EXPECT_EQ(Streams::throttleKBPS(), c.stored) << c.given;
  }
  EXPECT_EQ(log.count("Streams throttle KBPS set to 1"), 3u);
  EXPECT_TRUE(log.contains("Streams throttle KBPS set to 250"));
  Streams::setThrottleType(savedType);
  Streams::setThrottleKBPS(savedRate);
}
