#include <gtest/gtest.h>
#include <unistd.h>

#include "loomkit/crypto/SHA1Hash.h"
#include "tests/support/TestSupport.h"
#include "tests/tools/fotelloctl/FotelloctlRun.h"

using fotello::test::runFotelloctl;
using fotello::test::TempDir;
using fotello::test::writeFile;

namespace {

// A small JPEG: start marker, an application segment, a start-of-scan header, image data, end.
std::string jpeg(const std::string& metadata) {
  std::string app = "\xFF\xE1" + std::string(1, '\0') + std::string(1, static_cast<char>(metadata.size() + 2)) + metadata;
  return "\xFF\xD8" + app + std::string("\xFF\xDA\x00\x04\x01\x02", 6) + "image data" + "\xFF\xD9";
}

}  // namespace

TEST(HashCommandTest, PrintsPhotoOrPlainDigestsLikeSha1sum) {
  TempDir dir;
  const std::string photo = dir.file("photo.jpg"), text = dir.file("notes.txt"), link = dir.file("link.jpg");
  writeFile(photo, jpeg("camera tags"));
  writeFile(text, "not a photo\n");
  ASSERT_EQ(::symlink(photo.c_str(), link.c_str()), 0);
  const std::string photoDigest = *loomkit::SHA1Hash::hashPhoto(photo);
  const std::string plainDigest = *loomkit::SHA1Hash::hashFile(photo);
  ASSERT_NE(photoDigest, plainDigest);

  fotello::test::CommandResult r = runFotelloctl({"hash", photo, text, link});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, photoDigest + "  " + photo + "\n" + *loomkit::SHA1Hash::hashFile(text) + "  " + text + "\n" +
                          photoDigest + "  " + link + "\n");

  r = runFotelloctl({"hash", "--plain", photo});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, plainDigest + "  " + photo + "\n");
}

TEST(HashCommandTest, UnreadableFilesAreReportedAndTheRestStillHashed) {
  TempDir dir;
  const std::string photo = dir.file("photo.jpg");
  writeFile(photo, jpeg("x"));
  fotello::test::CommandResult r = runFotelloctl({"hash", dir.file("missing.jpg"), dir.path(), photo});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("fotelloctl: cannot read " + dir.file("missing.jpg") + ": lstat("), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("fotelloctl: cannot read " + dir.path() + ": "), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(*loomkit::SHA1Hash::hashPhoto(photo) + "  " + photo + "\n"), std::string::npos);

  EXPECT_EQ(runFotelloctl({"hash"}).status, 2);
  EXPECT_EQ(runFotelloctl({"hash", "--plain"}).status, 2);
}
