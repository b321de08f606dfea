#include "catalog/PhotoFileChecker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "tests/support/TestSupport.h"

using fotello::Photo;
using fotello::PhotoFileChecker;
using fotello::test::TempDir;
using fotello::test::writeFile;

TEST(PhotoFileCheckerTest, StampsEveryPhotoItWasHandedInOrder) {
  TempDir dir;
  const size_t count = 3 * PhotoFileChecker::kSlots;  // more than the ring holds at once
  std::atomic<bool> ranFirst{false};
  PhotoFileChecker checker([&] { ranFirst = true; });
  for (size_t i = 0; i < count; ++i) {
    const std::string original = dir.file("p" + std::to_string(i));
    if (i % 5 != 4) writeFile(original, std::string(i % 97 + 1, 'x'));  // every fifth is missing
    const std::string edited = dir.file("e" + std::to_string(i));
    if (i % 3 == 0) writeFile(edited, std::string(i % 13 + 1, 'y'));
    checker.add(original, i % 3 == 0 ? std::optional<std::string_view>(edited) : std::nullopt);
  }
  std::vector<Photo::FileStamps> stamps = checker.finish();
  EXPECT_TRUE(ranFirst);
  ASSERT_LE(stamps.size(), count);
  size_t stamped = 0;
  for (size_t i = 0; i < stamps.size(); ++i) {
    const Photo::FileStamps& s = stamps[i];
    // A photo passed over while the ring was full has no stamps at all; the others are right.
    if (!s.original && !s.modified) continue;
    ++stamped;
    ASSERT_EQ(s.original.has_value(), i % 5 != 4) << i;
    if (s.original) {
      EXPECT_EQ(s.original->size, i % 97 + 1) << i;
    }
    if (i % 3 == 0) {
      ASSERT_TRUE(s.modified) << i;
      EXPECT_EQ(s.modified->size, i % 13 + 1) << i;
    } else {
      EXPECT_FALSE(s.modified) << i;
    }
  }
  EXPECT_GT(stamped, 0u);
  for (size_t i = 4; i < stamps.size(); i += 5) {
    EXPECT_FALSE(stamps[i].original) << "missing file " << i;
  }
}

TEST(PhotoFileCheckerTest, EndsWithoutFinishAndWithNothingHandedOver) {
  { PhotoFileChecker idle; }
  PhotoFileChecker empty;
  EXPECT_TRUE(empty.finish().empty());
  {
    // Dropped with photos still waiting: the worker stops without stamping them all.
    PhotoFileChecker abandoned;
    for (int i = 0; i < 1000; ++i) abandoned.add("/nonexistent/photo", std::nullopt);
  }
}
