#include "protocol/PhotolibApplication.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "loomkit/plist/DictNode.h"
#include "loomkit/plist/PListDocumentReader.h"
#include "tests/protocol/PhotolibRun.h"

using fotello::PhotoApplication;
using fotello::PhotolibApplication;
using fotello::test::PrivatePhotolib;
using fotello::test::writeFile;

namespace {

size_t photoCount(const std::string& library) {
  auto index = loomkit::PListDocumentReader::dictNodeWithContentsOfFile(library + "/AlbumData.xml");
  const loomkit::DictNode* photos = index ? index->dictNodeForKey("Master Image List") : nullptr;
  return photos ? photos->size() : 0;
}

std::string real(const std::string& path) { return std::filesystem::canonical(path).string(); }

}  // namespace

TEST(PhotolibApplicationTest, VersionHasTheMajorNumberNine) {
  PrivatePhotolib photolib;
  PhotolibApplication application;
  loomkit::Error error;
  std::optional<std::string> version = application.version(&error);
  ASSERT_TRUE(version) << error.text();
  EXPECT_EQ(*version, "9.4.1");
  EXPECT_EQ(PhotoApplication::majorVersion(*version), 9);
}

TEST(PhotolibApplicationTest, MajorVersionIsTheDigitsBeforeTheFirstDot) {
  const std::pair<const char*, std::optional<int>> cases[] = {
      {"9.4.1", 9}, {"10.0", 10}, {"7.", 7}, {"9", std::nullopt}, {"v9.1", std::nullopt}, {"", std::nullopt},
  };
  for (const auto& [text, major] : cases) EXPECT_EQ(PhotoApplication::majorVersion(text), major) << text;
}

TEST(PhotolibApplicationTest, OpenMakesTheLibraryCurrent) {
  PrivatePhotolib photolib;
  PhotolibApplication application;
  EXPECT_FALSE(application.currentLibraryPath());
  const std::string library = photolib.library("Lib");
  loomkit::Error error;
  ASSERT_TRUE(application.openLibrary(library, &error)) << error.text();
  EXPECT_EQ(application.currentLibraryPath(), real(library));

  // A folder that is no library is refused with the tool's status and message.
  EXPECT_FALSE(application.openLibrary(photolib.file("nothing"), &error));
  EXPECT_TRUE(error.is(fotello::kPhotoApplicationErrorDomain, 1)) << error.text();
  EXPECT_EQ(error.description(), "photolib: " + photolib.file("nothing") + " is not a photo library");
  EXPECT_EQ(application.currentLibraryPath(), real(library));
}

TEST(PhotolibApplicationTest, ImportsIntoTheCurrentLibraryAndRemovesTheFolderWhenAsked) {
  PrivatePhotolib photolib;
  PhotolibApplication application;
  const std::string library = photolib.library("Lib");
  const std::string kept = photolib.file("kept"), removed = photolib.file("removed");
  writeFile(kept + "/a.png", fotello::test::pngFile(40, 30));
  writeFile(removed + "/b.png", fotello::test::pngFile(30, 40));

  loomkit::Error error;
  EXPECT_FALSE(application.importFolder(kept, true, &error));
  EXPECT_EQ(error.description(), "no current photo library");
  EXPECT_TRUE(fotello::test::fileExists(kept + "/a.png"));

  ASSERT_TRUE(application.openLibrary(library, &error)) << error.text();
  ASSERT_TRUE(application.importFolder(kept, false, &error)) << error.text();
  EXPECT_EQ(photoCount(library), 1u);
  EXPECT_TRUE(fotello::test::fileExists(kept + "/a.png"));
  ASSERT_TRUE(application.importFolder(removed, true, &error)) << error.text();
  EXPECT_EQ(photoCount(library), 2u);
  EXPECT_FALSE(fotello::test::fileExists(removed));

  // A failed import leaves the folder in place.
  EXPECT_FALSE(application.importFolder(photolib.file("missing"), true, &error));
  EXPECT_EQ(error.code(), 1);
}

TEST(PhotolibApplicationTest, ToolIsTheOverrideElseFoundOnPath) {
  fotello::test::TempDir dir;
  writeFile(dir.file("bin/photolib"), "#!/bin/sh\n");
  ::chmod(dir.file("bin/photolib").c_str(), 0755);
  {
    fotello::test::ScopedEnv override("FOTELLO_PHOTOLIB", "/opt/elsewhere/photolib");
    EXPECT_EQ(PhotolibApplication::executablePath(), "/opt/elsewhere/photolib");
  }
  fotello::test::ScopedEnv noOverride("FOTELLO_PHOTOLIB", std::nullopt);
  fotello::test::ScopedEnv path("PATH", "/nonexistent:" + dir.file("bin") + ":/usr/bin");
  EXPECT_EQ(PhotolibApplication::executablePath(), dir.file("bin/photolib"));
  fotello::test::ScopedEnv emptyPath("PATH", "/nonexistent");
  EXPECT_FALSE(PhotolibApplication::executablePath());
  loomkit::Error error;
  EXPECT_FALSE(PhotolibApplication().version(&error));
  EXPECT_EQ(error.description(), "photolib was found neither beside this program nor on PATH");
}
