#include "loomkit/shared/FlockFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/TestSupport.h"

TEST(FlockFileTest, SecondHolderIsRefusedWithCode2) {
  fotello::test::TempDir dir;
  std::string path = dir.file("nested/QVAgent.lck");
  loomkit::Error error;
  ASSERT_TRUE(loomkit::FlockFile::acquire(path, &error)) << error.text();
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0700u & ~mask);
  // flock locks belong to the open file description, so a second acquire conflicts even here.
  EXPECT_FALSE(loomkit::FlockFile::acquire(path, &error));
  EXPECT_TRUE(error.is(loomkit::kFlockFileErrorDomain, 2)) << error.text();
  EXPECT_EQ(error.description().rfind("flock(" + path + "): ", 0), 0u);
}

TEST(FlockFileTest, UnopenableLockFileIsAUnixError) {
  fotello::test::TempDir dir;
  fotello::test::writeFile(dir.file("file"), "x");
  loomkit::Error error;
  // The parent is a plain file: the parent-directory check fails first.
  EXPECT_FALSE(loomkit::FlockFile::acquire(dir.file("file/QVAgent.lck"), &error));
  EXPECT_EQ(error.domain(), "FileErrorDomain");
  ::chmod(dir.path().c_str(), 0500);
  bool root = ::geteuid() == 0;
  bool ok = loomkit::FlockFile::acquire(dir.file("QVAgent.lck"), &error);
  ::chmod(dir.path().c_str(), 0700);
  if (!root) {
    EXPECT_FALSE(ok);
    EXPECT_TRUE(error.is(loomkit::kUnixErrorDomain, EACCES));
    EXPECT_EQ(error.description().rfind("open lock file ", 0), 0u);
  }
}
