#include "catalog/Photo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <functional>

#include "loomkit/crypto/SHA1Hash.h"
#include "tests/catalog/CatalogFixtures.h"
#include "tests/support/TestSupport.h"

using fotello::Photo;
using fotello::test::digest;
using fotello::test::LogCapture;
using fotello::test::photoWith;
using fotello::test::TempDir;
using fotello::test::writeFile;

namespace {

// Moves the file's modification time by a second without changing its content.
void touchForward(const std::string& path) {
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  timespec times[2] = {st.st_atim, st.st_mtim};
  times[1].tv_sec += 1;
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class PhotoFilesTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string original_ = dir_.file("original.jpg");
  std::string edited_ = dir_.file("edited.jpg");
  void SetUp() override {
    writeFile(original_, "original bytes");
    writeFile(edited_, "edited bytes");
  }
  static std::string photoDigest(const std::string& path) { return *loomkit::SHA1Hash::hashPhoto(path); }
};

}  // namespace

TEST(PhotoTest, IndexValuesFillTheFieldsAndDerivedPaths) {
  Photo unedited("12");
  unedited.setString("/lib/Originals/a.jpg", "ImagePath");
  unedited.setString("", "Caption");
  unedited.setString("x", "Unknown");
  unedited.setReal(1.5, "Aspect Ratio");
  unedited.setReal(100.25, "DateAsTimerInterval");
  unedited.setReal(9, "Rating");
  EXPECT_EQ(unedited.originalPath(), "/lib/Originals/a.jpg");
  EXPECT_EQ(unedited.modifiedPath(), std::nullopt);
  EXPECT_EQ(unedited.originalFileName(), "a.jpg");
  EXPECT_EQ(unedited.caption(), std::nullopt);
  EXPECT_EQ(unedited.aspectRatio(), 1.5);
  EXPECT_EQ(unedited.dateTaken(), 100.25);

  Photo edited("13");
  edited.setString("/lib/Modified/b.jpg", "ImagePath");
  edited.setString("/lib/Originals/b.jpg", "OriginalPath");
  EXPECT_EQ(edited.originalPath(), "/lib/Originals/b.jpg");
  EXPECT_EQ(edited.modifiedPath(), "/lib/Modified/b.jpg");
  EXPECT_EQ(edited.imagePath(), "/lib/Modified/b.jpg");

  // A value taken from the photo itself survives the photo's text moving.
  edited.setString(*edited.originalPath(), "Caption");
  edited.setString(*edited.caption(), "ThumbPath");
  EXPECT_EQ(edited.caption(), "/lib/Originals/b.jpg");
  EXPECT_EQ(edited.thumbPath(), "/lib/Originals/b.jpg");
}

TEST(PhotoTest, KeyNumberIsTheLeadingDecimalValue) {
  const struct {
    const char* key;
    int32_t number;
  } cases[] = {{"123", 123}, {"12ab", 12}, {"abc", 0}, {"", 0}, {"99999999999", INT32_MAX}, {"-7", -7}};
  for (const auto& c : cases) {
    EXPECT_EQ(Photo(c.key).iPhotoKeyNumber(), c.number) << c.key;
    auto in = fotello::test::over(fotello::test::photoRecord(c.key, digest('a'), std::nullopt, "/a"));
    EXPECT_EQ(Photo::initFromStream(*in)->iPhotoKeyNumber(), c.number) << "read back: " << c.key;
  }
}

TEST(PhotoTest, ReplacingAPathClearsTheDigests) {
  const struct {
    const char* field;
    std::optional<std::string_view> first;  // the value before the change
    const char* second;
    bool cleared;
  } cases[] = {
      {"ImagePath", std::nullopt, "/a.jpg", false},    {"ImagePath", "/a.jpg", "/a.jpg", false},
      {"ImagePath", "/a.jpg", "/b.jpg", true},         {"ImagePath", "/a.jpg", "", true},
      {"OriginalPath", std::nullopt, "/o.jpg", false}, {"OriginalPath", "/o.jpg", "/p.jpg", true},
      {"OriginalPath", "/o.jpg", "", true},
  };
  for (const auto& c : cases) {
    const bool image = std::string_view(c.field) == "ImagePath";
    Photo photo = photoWith("1", digest('a'), digest('b'), image ? c.first : "/start.jpg",
                            image ? std::nullopt : c.first);
    photo.setString(c.second, c.field);
    const std::string name = std::string(c.field) + " " + std::string(c.first.value_or("-")) + " -> " + c.second;
    EXPECT_EQ(!photo.originalSHA1(), c.cleared) << name;
    EXPECT_EQ(!photo.modifiedSHA1(), c.cleared) << name;
  }
  Photo photo = photoWith("1", digest('a'), digest('b'));
  photo.setString("/other-thumb.jpg", "ThumbPath");
  photo.setString("new caption", "Caption");
  EXPECT_TRUE(photo.originalSHA1() && photo.modifiedSHA1()) << "only the two file paths clear the digests";
}

TEST_F(PhotoFilesTest, UneditedPhotoHashesItsImageAndHasNoModifiedState) {
  Photo photo("1");
  photo.setString(original_, "ImagePath");
  loomkit::Error error;
  ASSERT_TRUE(photo.updateSHA1s(&error)) << error.text();
  EXPECT_EQ(photo.originalSHA1(), photoDigest(original_));
  EXPECT_EQ(photo.originalFileSize(), 14u);
  EXPECT_EQ(photo.modifiedSHA1(), std::nullopt);
  EXPECT_EQ(photo.modifiedFileSize(), 0u);
  EXPECT_EQ(photo.modifiedMtimeSec(), 0);
}

TEST_F(PhotoFilesTest, EditedPhotoHashesBothFilesAndDropsTheEditWhenItGoes) {
  Photo photo("1");
  photo.setString(edited_, "ImagePath");
  photo.setString(original_, "OriginalPath");
  ASSERT_TRUE(photo.updateSHA1s());
  EXPECT_EQ(photo.originalSHA1(), photoDigest(original_));
  EXPECT_EQ(photo.modifiedSHA1(), photoDigest(edited_));
  EXPECT_EQ(photo.modifiedFileSize(), 12u);
  EXPECT_NE(photo.modifiedMtimeSec(), 0);

  // The edit was reverted: the image is the original again and there is no edited file.
  photo.setString(original_, "ImagePath");
  photo.setString("", "OriginalPath");
  ASSERT_TRUE(photo.updateSHA1s());
  EXPECT_EQ(photo.originalSHA1(), photoDigest(original_));
  EXPECT_EQ(photo.modifiedSHA1(), std::nullopt);
  EXPECT_EQ(photo.modifiedFileSize(), 0u);
  EXPECT_EQ(photo.modifiedMtimeSec(), 0);
  EXPECT_EQ(photo.modifiedMtimeNsec(), 0);
}

TEST_F(PhotoFilesTest, RehashesOnlyFilesWhoseStatusChanged) {
  Photo photo("1");
  photo.setString(edited_, "ImagePath");
  photo.setString(original_, "OriginalPath");
  LogCapture log(loomkit::Log::kTrace);
  ASSERT_TRUE(photo.updateSHA1s());
  EXPECT_EQ(log.count("re-hashing original"), 1u);

  log.clear();
  ASSERT_TRUE(photo.updateSHA1s());
  EXPECT_FALSE(log.contains("DEBUG")) << "a second run hashes nothing";
  EXPECT_TRUE(log.contains("NOT re-hashing original " + original_));
  EXPECT_TRUE(log.contains("NOT re-hashing modified " + edited_));

  const std::string before = std::string(*photo.originalSHA1());
  const int64_t mtime = photo.originalMtimeSec();
  touchForward(original_);
  log.clear();
  ASSERT_TRUE(photo.updateSHA1s());
  EXPECT_TRUE(log.contains("re-hashing original " + original_));
  EXPECT_TRUE(log.contains("NOT re-hashing modified"));
  EXPECT_EQ(photo.originalSHA1(), before) << "same content, same digest";
  EXPECT_EQ(photo.originalMtimeSec(), mtime + 1);

  writeFile(edited_, "edited again");  // same size, new content
  touchForward(edited_);
  ASSERT_TRUE(photo.updateSHA1s());
  EXPECT_EQ(photo.modifiedSHA1(), photoDigest(edited_));
}

TEST_F(PhotoFilesTest, StampsTakenAheadSpareOnlyUnchangedFiles) {
  Photo photo("1");
  photo.setString(edited_, "ImagePath");
  photo.setString(original_, "OriginalPath");
  ASSERT_TRUE(photo.updateSHA1s());
  const Photo hashed = photo;
  auto stampsNow = [&] {
    return Photo::FileStamps{Photo::stampOfFile(original_.c_str()), Photo::stampOfFile(edited_.c_str())};
  };

  // Matching stamps: nothing is looked at again, so even a file gone since its stamp was taken
  // keeps its digest for this scan.
  Photo::FileStamps stamps = stampsNow();
  ASSERT_TRUE(stamps.original && stamps.modified);
  ASSERT_EQ(::unlink(edited_.c_str()), 0);
  LogCapture log(loomkit::Log::kTrace);
  ASSERT_TRUE(photo.updateSHA1s(stamps));
  EXPECT_FALSE(log.contains("DEBUG"));
  EXPECT_TRUE(log.contains("NOT re-hashing modified " + edited_));
  EXPECT_EQ(photo.originalSHA1(), hashed.originalSHA1());
  EXPECT_EQ(photo.modifiedSHA1(), hashed.modifiedSHA1());

  // A stamp that differs, or none, goes the full way: here the missing edit fails it.
  loomkit::Error error;
  EXPECT_FALSE(photo.updateSHA1s(Photo::FileStamps{stamps.original, std::nullopt}, &error));
  EXPECT_EQ(error.code(), ENOENT) << error.text();
  writeFile(edited_, "edited bytes, changed");
  Photo changed = hashed;
  ASSERT_TRUE(changed.updateSHA1s(stampsNow()));
  EXPECT_EQ(changed.modifiedSHA1(), photoDigest(edited_));

  // An original stamped as an empty file is never taken as unchanged.
  Photo empty = hashed;
  Photo::FileStamps emptyStamps = stampsNow();
  writeFile(original_, "");
  emptyStamps.original->size = 0;
  EXPECT_FALSE(empty.updateSHA1s(emptyStamps, &error));
  EXPECT_EQ(error.description(), original_ + " is an empty file");
}

TEST_F(PhotoFilesTest, FailuresLeaveNoDigest) {
  writeFile(dir_.file("empty.jpg"), "");
  Photo empty("1");
  empty.setString(dir_.file("empty.jpg"), "ImagePath");
  loomkit::Error error;
  EXPECT_FALSE(empty.updateSHA1s(&error));
  EXPECT_EQ(error, loomkit::Error("PhotoErrorDomain", -1, dir_.file("empty.jpg") + " is an empty file"));
  EXPECT_EQ(empty.originalSHA1(), std::nullopt);

  Photo missing("2");
  missing.setString(dir_.file("gone.jpg"), "ImagePath");
  EXPECT_FALSE(missing.updateSHA1s(&error));
  EXPECT_EQ(error.domain(), "UnixErrorDomain");
  EXPECT_EQ(error.code(), ENOENT);
  EXPECT_EQ(error.description(), dir_.file("gone.jpg") + ": No such file or directory");

  Photo noPath("3");
  EXPECT_FALSE(noPath.updateSHA1s(&error));
  EXPECT_EQ(error.description(), "missing originalPath for photo " + noPath.description());

  // The modified file has no empty-file rule, but a missing one fails.
  Photo editGone("4");
  editGone.setString(dir_.file("gone.jpg"), "ImagePath");
  editGone.setString(original_, "OriginalPath");
  EXPECT_FALSE(editGone.updateSHA1s(&error));
  EXPECT_EQ(error.code(), ENOENT);
  EXPECT_EQ(editGone.originalSHA1(), photoDigest(original_));
}

TEST_F(PhotoFilesTest, AppliesTheOriginalModificationTime) {
  Photo photo("1");
  photo.setString(original_, "ImagePath");
  ASSERT_TRUE(photo.updateSHA1s());
  const std::string copy = dir_.file("copy.jpg");
  writeFile(copy, "original bytes");
  ASSERT_TRUE(photo.applyOriginalMTimeToFile(copy));
  struct stat st {};
  ASSERT_EQ(::stat(copy.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, photo.originalMtimeSec());
  EXPECT_EQ(st.st_mtim.tv_nsec, photo.originalMtimeNsec() / 1000 * 1000) << "microseconds, truncated";

  loomkit::Error error;
  EXPECT_FALSE(photo.applyOriginalMTimeToFile(dir_.file("nowhere/x.jpg"), &error));
  EXPECT_EQ(error.description(), "utimes(" + dir_.file("nowhere/x.jpg") + "): No such file or directory");
}

TEST(PhotoTest, AbsentValuesNeverEqualExceptDigestsAndModifiedPath) {
  auto base = [] {
    Photo p = photoWith("5", digest('a'), std::nullopt, "/lib/a.jpg");
    p.setString("cap", "Caption");
    return p;
  };
  EXPECT_EQ(base(), base());
  EXPECT_EQ(base().hash(), base().hash());

  const struct {
    const char* change;
    std::function<void(Photo&)> apply;
  } differences[] = {
      {"caption", [](Photo& p) { p.setString("other", "Caption"); }},
      {"thumbnail", [](Photo& p) { p.setString("/t2.jpg", "ThumbPath"); }},
      {"image type", [](Photo& p) { p.setString("PNG", "ImageType"); }},
      {"date", [](Photo& p) { p.setReal(5, "DateAsTimerInterval"); }},
      {"edited file", [](Photo& p) { p.setString("/lib/orig.jpg", "OriginalPath"); }},
  };
  for (const auto& d : differences) {
    Photo changed = base();
    d.apply(changed);
    EXPECT_FALSE(changed == base()) << d.change;
  }
  Photo noCaption = base(), noCaptionEither = base();
  noCaption.setString("", "Caption");
  noCaptionEither.setString("", "Caption");
  EXPECT_FALSE(noCaption == noCaptionEither) << "two absent captions are not equal";
  EXPECT_FALSE(Photo() == Photo()) << "absent keys are not equal";
  // Absent digests and absent modified paths do equal each other.
  EXPECT_EQ(photoWith("5", std::nullopt, std::nullopt, "/x", std::nullopt),
            photoWith("5", std::nullopt, std::nullopt, "/x", std::nullopt));
  EXPECT_LT(Photo("9").compareByIPhotoKey(Photo("10")), 0);
  EXPECT_EQ(Photo("010").compareByIPhotoKey(Photo("10")), 0);
}

TEST(PhotoTest, RecordRoundTripsEveryField) {
  const loomkit::Bytes record =
      fotello::test::photoRecord("42", digest('a'), digest('b'), "/lib/Modified/x.jpg", "/lib/Originals/x.jpg");
  Photo photo = photoWith("42", digest('a'), digest('b'), "/lib/Modified/x.jpg", "/lib/Originals/x.jpg");
  EXPECT_EQ(fotello::test::written([&](auto& out) { return photo.writeToStream(out); }), record)
      << "the seventeen values in their fixed order";
  photo.setString("Caption \xC3\xA9", "Caption");
  photo.setReal(0.75, "Aspect Ratio");
  photo.setReal(-12.5, "DateAsTimerInterval");
  const loomkit::Bytes bytes = fotello::test::written([&](auto& out) { return photo.writeToStream(out); });
  auto in = fotello::test::over(bytes);
  std::optional<Photo> back = Photo::initFromStream(*in);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, photo);
  EXPECT_EQ(back->originalPathValue(), "/lib/Originals/x.jpg");
  EXPECT_EQ(back->aspectRatio(), 0.75);
  EXPECT_EQ(back->rollId(), 7u);
  EXPECT_EQ(back->iPhotoKeyNumber(), 42);
  EXPECT_EQ(fotello::test::written([&](auto& out) { return back->writeToStream(out); }), bytes);
}

TEST(PhotoTest, EveryTruncatedRecordFailsToRead) {
  const loomkit::Bytes bytes = fotello::test::photoRecord("42", digest('a'), std::nullopt, "/lib/x.jpg");
  for (size_t length = 0; length < bytes.size(); ++length) {
    auto in = fotello::test::over(loomkit::Bytes(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(length)));
    loomkit::Error error;
    EXPECT_FALSE(Photo::initFromStream(*in, &error)) << length;
    EXPECT_EQ(error.domain(), "BufferedInputStreamErrorDomain") << length;
  }
  auto whole = fotello::test::over(bytes);
  EXPECT_TRUE(Photo::initFromStream(*whole));
}
