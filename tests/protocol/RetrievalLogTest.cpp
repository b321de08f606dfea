#include "protocol/RetrievalLog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/TestSupport.h"

namespace fotello {
namespace {

using test::LogCapture;
using test::readFile;
using test::ScopedEnv;
using test::TempDir;
using test::writeFile;

TEST(RetrievalLogTest, FirstAppendCreatesTheLogFolderAndLaterLinesFollowInOrder) {
  TempDir home;
  ScopedEnv env("FOTELLO_HOME", home.path());
  RetrievalLog log;
  EXPECT_EQ(log.path(), home.path() + "/log/retrieval_log.txt");
  EXPECT_FALSE(std::filesystem::exists(home.path() + "/log"));  // nothing touched before a write

  log.append("one");
  log.append("two\nthree");  // written as it stands
  EXPECT_EQ(readFile(log.path()), "one\ntwo\nthree\n");
}

TEST(RetrievalLogTest, AppendsAfterTheLinesAlreadyThere) {
  TempDir dir;
  writeFile(dir.file("retrieval_log.txt"), "earlier\n");
  RetrievalLog log(dir.file("retrieval_log.txt"));
  log.append("a");
  RetrievalLog again(dir.file("retrieval_log.txt"));  // a later run of the agent
  again.append("b");
  log.append("c");
  EXPECT_EQ(readFile(dir.file("retrieval_log.txt")), "earlier\na\nb\nc\n");
}

TEST(RetrievalLogTest, AFailedAppendIsLoggedAndItsTextNeverShowsUpLater) {
  TempDir dir;
  std::string path = dir.file("retrieval_log.txt");
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0);  // the log's place is taken by a folder
  RetrievalLog log(path);
  {
    LogCapture capture;
    log.append("lost");
    EXPECT_TRUE(capture.contains("error writing to " + path + ": "));
  }
  ASSERT_EQ(rmdir(path.c_str()), 0);
  log.append("kept");
  EXPECT_EQ(readFile(path), "kept\n");
}

TEST(RetrievalLogTest, FailsWhenTheLogFolderCannotBeMade) {
  TempDir dir;
  writeFile(dir.file("log"), "a file where the folder belongs");
  RetrievalLog log(dir.file("log/retrieval_log.txt"));
  loomkit::Error error;
  EXPECT_FALSE(log.append("x", &error));
  EXPECT_NE(error.description().find("is not a directory"), std::string::npos) << error.description();
}

TEST(RetrievalLogTest, LineNamesTheComputerAndThePhotoAfterTheLocalDate) {
  std::string line = RetrievalLog::retrievalLine(1796990400, "Den", "/home/ann/Pictures/IMG_1.JPG");
  const std::string tail = " retrieved Den:/home/ann/Pictures/IMG_1.JPG";
  ASSERT_GT(line.size(), tail.size());
  EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
  EXPECT_NE(line.find("2026"), std::string::npos) << line;  // 2026-12-11 in any medium date style
}

}  // namespace
}  // namespace fotello
