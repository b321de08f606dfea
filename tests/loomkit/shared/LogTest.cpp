#include "loomkit/shared/Log.h"

#include <gtest/gtest.h>

#include <regex>

#include "loomkit/shared/Error.h"
#include "tests/support/TestSupport.h"

using loomkit::Log;

TEST(LogTest, LineFormatsByLevel) {
  fotello::test::LogCapture capture(Log::kTrace);
  LOG_ERROR("e %d", 1);
  LOG_WARN("w");
  LOG_INFO("i");
  int object = 0;
  LOG_DEBUG_OBJ(&object, "d %s", "x");
  LOG_TRACE("t");
  Log::raw("Fotello Agent version 1 started from /x");
  auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex("ERROR \\[thread [0-9a-f]+\\] e 1")));
  EXPECT_TRUE(std::regex_match(lines[1], std::regex("WARN \\[thread [0-9a-f]+\\]  w")));
  EXPECT_TRUE(std::regex_match(lines[2], std::regex("INFO \\[thread [0-9a-f]+\\]  i")));
  EXPECT_TRUE(std::regex_match(lines[3], std::regex("DEBUG \\[thread [0-9a-f]+\\] 0x[0-9a-f]+ LogTest.cpp:[0-9]+ d x")))
      << lines[3];
  EXPECT_TRUE(std::regex_match(lines[4], std::regex("TRACE \\[thread [0-9a-f]+\\] .* LogTest.cpp:[0-9]+ t")));
  EXPECT_EQ(lines[5], "Fotello Agent version 1 started from /x");
  EXPECT_NE(lines[0].find(loomkit::strprintf("[thread %x]", Log::threadNumber())), std::string::npos);
}

TEST(LogTest, LevelFiltersLines) {
  fotello::test::LogCapture capture(Log::kWarn);
  LOG_ERROR("a");
  LOG_WARN("b");
  LOG_INFO("c");
  LOG_DEBUG("d");
  EXPECT_EQ(capture.lines().size(), 2u);
  Log::setLevel(Log::kNone);
  LOG_ERROR("silent");
  Log::raw("unconditional");
  EXPECT_EQ(capture.lines().size(), 3u);
}

TEST(LogTest, LevelNames) {
  struct Case {
    const char* name;
    int level;
  } cases[] = {{"error", 1}, {"WARN", 2}, {"Info", 3}, {"debug", 4}, {"tRaCe", 5}, {"none", 0}, {"", 0}, {"errors", 0}};
  for (const auto& c : cases) EXPECT_EQ(Log::levelForName(c.name), c.level) << c.name;
  EXPECT_STREQ(Log::displayName(1), "Error");
  EXPECT_STREQ(Log::displayName(5), "Trace");
  EXPECT_STREQ(Log::displayName(0), "none");
  EXPECT_STREQ(Log::displayName(9), "none");
}

TEST(LogTest, ErrorsAreLoggedOnceAtTraceWhereMade) {
  fotello::test::LogCapture capture(Log::kTrace);
  loomkit::Error error;
  EXPECT_FALSE(loomkit::setError(&error, "PListErrorDomain", -1, "invalid node type"));
  EXPECT_EQ(error.domain(), "PListErrorDomain");
  EXPECT_EQ(error.code(), -1);
  EXPECT_EQ(error.description(), "invalid node type");
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_NE(capture.lines()[0].find("TRACE"), std::string::npos);
  EXPECT_NE(capture.lines()[0].find("invalid node type"), std::string::npos);
  // Without an out-parameter the failure is silent apart from the trace line.
  EXPECT_FALSE(loomkit::setUnixError(nullptr, ENOENT, "x"));
  EXPECT_EQ(capture.lines().size(), 2u);
}

TEST(FormatTest, GroupedNumbersAndPlurals) {
  EXPECT_EQ(loomkit::groupedNumber(0), "0");
  EXPECT_EQ(loomkit::groupedNumber(999), "999");
  EXPECT_EQ(loomkit::groupedNumber(1000), "1,000");
  EXPECT_EQ(loomkit::groupedNumber(1234567), "1,234,567");
  EXPECT_EQ(loomkit::groupedNumber(-1234), "-1,234");
  EXPECT_STREQ(loomkit::pluralSuffix(1), "");
  EXPECT_STREQ(loomkit::pluralSuffix(0), "s");
  EXPECT_STREQ(loomkit::pluralSuffix(2), "s");
  std::string longText(1000, 'x');
  EXPECT_EQ(loomkit::strprintf("<%s>", longText.c_str()).size(), 1002u);
}
