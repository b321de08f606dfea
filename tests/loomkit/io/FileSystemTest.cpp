#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <ctime>
#include <filesystem>

#include "loomkit/io/FileSystem.h"
#include "loomkit/shared/Format.h"
#include "tests/support/TestSupport.h"

using loomkit::Error;
using loomkit::FileSystem;

TEST(FileSystemTest, EnsureParentPathExists) {
  fotello::test::TempDir dir;
  ASSERT_TRUE(FileSystem::ensureParentPathExistsForPath(dir.file("a/b/c/file")));
  EXPECT_TRUE(FileSystem::isDirectory(dir.file("a/b/c")));
  EXPECT_TRUE(FileSystem::ensureParentPathExistsForPath(dir.file("a/b/c/other")));  // already there

  fotello::test::writeFile(dir.file("plain"), "x");
  Error error;
  EXPECT_FALSE(FileSystem::ensureParentPathExistsForPath(dir.file("plain/file"), &error));
  EXPECT_TRUE(error.is("FileErrorDomain", -1));
  EXPECT_EQ(error.description(), "parent path " + dir.file("plain") + " exists and is not a directory");

  // A file in the way further up fails with the system's error.
  EXPECT_FALSE(FileSystem::ensureParentPathExistsForPath(dir.file("plain/sub/file"), &error));
  EXPECT_TRUE(error.is(loomkit::kUnixErrorDomain, ENOTDIR)) << error.text();
}

TEST(FileSystemTest, TouchCreatesOrRefreshes) {
  fotello::test::TempDir dir;
  std::string path = dir.file("flag");
  ASSERT_TRUE(FileSystem::touchFileAtPath(path));
  EXPECT_EQ(fotello::test::readFile(path), "");

  fotello::test::writeFile(path, "keep");
  struct timeval old[2] = {{1000, 0}, {1000, 0}};
  ASSERT_EQ(::utimes(path.c_str(), old), 0);
  time_t before = std::time(nullptr);
  ASSERT_TRUE(FileSystem::touchFileAtPath(path));
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_GE(st.st_mtime, before);
  EXPECT_EQ(st.st_mtim.tv_nsec, 0);  // whole seconds
  EXPECT_EQ(fotello::test::readFile(path), "keep");

  Error error;
  EXPECT_FALSE(FileSystem::touchFileAtPath(dir.file("no/such/dir/flag"), &error));
  EXPECT_EQ(error.description(), loomkit::systemErrorText(ENOENT));
}

TEST(FileSystemTest, WriteFileAtomicallyReplacesTheFile) {
  fotello::test::TempDir dir;
  std::string path = dir.file("config.plist");
  fotello::test::writeFile(path, "old");
  ASSERT_TRUE(FileSystem::writeFileAtomically(path, "new contents", 12));
  EXPECT_EQ(fotello::test::readFile(path), "new contents");

  Error error;
  std::string blocked = dir.file("config.plist/inside");
  EXPECT_FALSE(FileSystem::writeFileAtomically(blocked, "x", 1, &error));
  EXPECT_EQ(error.description(), "mkstemp(" + blocked + ".XXXXXX): " + loomkit::systemErrorText(ENOTDIR));

  // A directory in the target's place makes the rename fail; the temporary file goes away.
  fotello::test::LogCapture log(loomkit::Log::kError);
  std::string occupied = dir.file("occupied");
  fotello::test::writeFile(occupied + "/child", "");
  EXPECT_FALSE(FileSystem::writeFileAtomically(occupied, "x", 1, &error));
  EXPECT_TRUE(error.is(loomkit::kUnixErrorDomain, EISDIR)) << error.text();
  EXPECT_EQ(error.description().rfind("rename(" + occupied + ".", 0), 0u) << error.description();
  EXPECT_TRUE(log.contains("error transferring bytes to " + occupied));
  EXPECT_EQ(fotello::test::readFile(dir.file("config.plist")), "new contents");
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 2u);  // config.plist and occupied
}
