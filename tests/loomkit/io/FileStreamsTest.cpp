#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "loomkit/io/FDOutputStream.h"
#include "loomkit/io/FileInputStream.h"
#include "loomkit/io/FileInputStreamFactory.h"
#include "loomkit/io/FileOutputStream.h"
#include "loomkit/io/InputStreams.h"
#include "loomkit/shared/Format.h"
#include "tests/loomkit/io/StreamFakes.h"
#include "tests/support/TestSupport.h"

using loomkit::Bytes;
using loomkit::Error;
using loomkit::FileInputStream;
using loomkit::FileOutputStream;
using fotello::test::TempDir;

namespace {

std::string asText(const Bytes& b) { return std::string(loomkit::textOf(b)); }

// Reads the stream to its end in reads of `step` bytes.
std::string drain(loomkit::InputStream& in, uint64_t step) {
  std::string out;
  std::vector<char> buf(step);
  for (;;) {
    int64_t n = in.read(buf.data(), step);
    EXPECT_GE(n, 0);
    if (n <= 0) return out;
    out.append(buf.data(), static_cast<size_t>(n));
  }
}

}  // namespace

TEST(FileInputStreamTest, ReadsOnlyItsRange) {
  TempDir dir;
  Bytes content = fotello::test::patternBytes(1000);
  std::string text = asText(content);
  fotello::test::writeFile(dir.file("f"), text);
  struct Case {
    uint64_t fileSize, offset, length;
    size_t expectFrom, expectTo;
  } cases[] = {
      {1000, 100, 50, 100, 150},                       // a range inside the file
      {120, 100, 50, 100, 120},                        // a file shorter than announced
      {1000, 0, FileInputStream::kToEnd, 0, 1000},     // the whole file
      {1000, 990, FileInputStream::kToEnd, 990, 1000}, // to the end, no overflow of the end position
      {1000, 1000, 10, 1000, 1000},                    // at the end
      {1000, 5000, 10, 1000, 1000},                    // beyond the end
      {1000, 10, 0, 10, 10},                           // empty range
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(loomkit::strprintf("size %llu range %llu+%llu", (unsigned long long)c.fileSize,
                                    (unsigned long long)c.offset, (unsigned long long)c.length));
    fotello::test::writeFile(dir.file("f"), text.substr(0, c.fileSize));
    for (uint64_t step : {uint64_t{7}, uint64_t{8192}}) {
      FileInputStream in(dir.file("f"), c.offset, c.length);
      std::string got = drain(in, step);
      EXPECT_TRUE(got == text.substr(c.expectFrom, c.expectTo - c.expectFrom)) << "got " << got.size() << " bytes";
      char byte;
      EXPECT_EQ(in.read(&byte, 1), 0);  // stays at its end
    }
  }
}

TEST(FileInputStreamTest, OpensLazilyAndRefusesSymbolicLinks) {
  TempDir dir;
  fotello::test::writeFile(dir.file("real"), "data");
  ASSERT_EQ(::symlink(dir.file("real").c_str(), dir.file("link").c_str()), 0);

  FileInputStream missing(dir.file("not-yet"));  // creating the stream touches nothing
  fotello::test::writeFile(dir.file("not-yet"), "late");
  char buf[16];
  EXPECT_EQ(missing.read(buf, sizeof buf), 4);

  FileInputStream viaLink(dir.file("link"));
  Error error;
  EXPECT_EQ(viaLink.read(buf, sizeof buf, &error), -1);
  EXPECT_TRUE(error.is(loomkit::kUnixErrorDomain, ELOOP)) << error.text();
  EXPECT_EQ(error.description(), loomkit::systemErrorText(ELOOP));

  FileInputStream gone(dir.file("absent"));
  EXPECT_EQ(gone.read(buf, sizeof buf, &error), -1);
  EXPECT_TRUE(error.is(loomkit::kUnixErrorDomain, ENOENT));
}

TEST(FileInputStreamTest, LogsOpenAndCloseAndNamesItsDescriptor) {
  TempDir dir;
  fotello::test::writeFile(dir.file("f"), "abc");
  fotello::test::LogCapture log;
  FileInputStream in(dir.file("f"));
  EXPECT_EQ(in.description(), "<FileInputStream: fd=-1 path=" + dir.file("f") + ">");
  char c;
  ASSERT_EQ(in.read(&c, 1), 1);
  EXPECT_EQ(in.description().find("fd=-1"), std::string::npos);
  EXPECT_TRUE(log.contains("opened fd "));
  EXPECT_TRUE(log.contains("(" + dir.file("f") + ")"));
  in.close();
  EXPECT_TRUE(log.contains("closed fd "));
  EXPECT_EQ(in.description(), "<FileInputStream: fd=-1 path=" + dir.file("f") + ">");
}

TEST(FileInputStreamFactoryTest, TakesTheLengthWithoutFollowingLinks) {
  TempDir dir;
  fotello::test::writeFile(dir.file("f"), "0123456789");
  auto factory = loomkit::FileInputStreamFactory::newWithPath(dir.file("f"));
  ASSERT_TRUE(factory);
  EXPECT_EQ(factory->length(), 10u);
  EXPECT_EQ(factory->description(), "<FileISF: " + dir.file("f") + ",length=10>");
  // Every stream starts afresh.
  for (int i = 0; i < 2; ++i) {
    auto in = factory->newInputStream();
    EXPECT_EQ(asText(*loomkit::InputStreams::slurp(*in)), "0123456789");
  }

  Error error;
  EXPECT_FALSE(loomkit::FileInputStreamFactory::newWithPath(dir.file("none"), &error));
  EXPECT_EQ(error.description(), "lstat(" + dir.file("none") + "): " + loomkit::systemErrorText(ENOENT));
  EXPECT_EQ(error.code(), ENOENT);

  // A dangling link still has a status of its own.
  ASSERT_EQ(::symlink("nowhere", dir.file("dangling").c_str()), 0);
  EXPECT_TRUE(loomkit::FileInputStreamFactory::newWithPath(dir.file("dangling")));
}

TEST(FileOutputStreamTest, TruncatesOrAppendsOnlyAtTheFirstWrite) {
  TempDir dir;
  std::string path = dir.file("out");
  fotello::test::writeFile(path, "old contents");
  {
    FileOutputStream unused(path);  // never writes: the file stays as it was
  }
  EXPECT_EQ(fotello::test::readFile(path), "old contents");

  FileOutputStream out(path);
  EXPECT_EQ(fotello::test::readFile(path), "old contents");  // creation did not truncate
  ASSERT_EQ(out.write("new", 3), 3);
  ASSERT_EQ(out.write("er", 2), 2);
  EXPECT_EQ(out.bytesWritten(), 5u);
  out.close();
  EXPECT_EQ(fotello::test::readFile(path), "newer");

  FileOutputStream appending(path, true);
  ASSERT_EQ(appending.write("!", 1), 1);
  appending.close();
  EXPECT_EQ(fotello::test::readFile(path), "newer!");

  FileOutputStream fresh(dir.file("created"));
  ASSERT_EQ(fresh.write("x", 1), 1);
  struct stat st;
  ASSERT_EQ(::stat(dir.file("created").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644 & ~[] { mode_t m = ::umask(0); ::umask(m); return m; }());

  FileOutputStream nowhere(dir.file("missing/dir/out"));
  Error error;
  EXPECT_EQ(nowhere.write("x", 1, &error), -1);
  EXPECT_TRUE(error.is(loomkit::kUnixErrorDomain, ENOENT));
  EXPECT_EQ(error.description(), loomkit::systemErrorText(ENOENT));
}

TEST(FDOutputStreamTest, WritesWithoutOwningTheDescriptor) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    loomkit::FDOutputStream out(fds[1]);
    EXPECT_EQ(out.write("hello", 5), 5);
    EXPECT_EQ(out.bytesWritten(), 5u);
  }
  char buf[8];
  EXPECT_EQ(::write(fds[1], "!", 1), 1);  // still open after the stream went away
  EXPECT_EQ(::read(fds[0], buf, sizeof buf), 6);
  ::close(fds[0]);

  loomkit::FDOutputStream broken(fds[1]);
  ::close(fds[1]);
  Error error;
  EXPECT_EQ(broken.write("x", 1, &error), -1);
  EXPECT_EQ(error.description(), "write: " + loomkit::systemErrorText(EBADF));
}
