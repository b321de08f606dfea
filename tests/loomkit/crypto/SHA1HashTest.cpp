#include "loomkit/crypto/SHA1Hash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <initializer_list>
#include <thread>

#include "loomkit/crypto/BlockReader.h"
#include "loomkit/crypto/MD5Hash.h"
#include "tests/support/TestSupport.h"

using loomkit::Bytes;
using loomkit::Error;
using loomkit::SHA1Hash;
using fotello::test::TempDir;

namespace {

const std::string kEmptySHA1 = "da39a3ee5e6b4b0d3255bfef95601890afd80709";

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes be16(unsigned value) { return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}; }

// A marker segment: the marker, the big-endian length (content + 2), the content.
Bytes segment(unsigned marker, const Bytes& content) {
  return cat({be16(marker), be16(static_cast<unsigned>(content.size() + 2)), content});
}

// Deterministic bytes that look like entropy-coded data (FF bytes included).
Bytes noise(size_t length, uint32_t seed) {
  Bytes out(length);
  for (auto& byte : out) {
    seed = seed * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(seed >> 24);
  }
  return out;
}

const Bytes kSOI = be16(0xFFD8);
const Bytes kEOI = be16(0xFFD9);

// A JPEG: start marker, the given segments, a start of scan whose length field is followed by
// imageData (scan header and entropy-coded data: the bytes the photo digest covers), end marker.
Bytes jpeg(const Bytes& segments, const Bytes& imageData, const Bytes& end = kEOI) {
  return cat({kSOI, segments, be16(0xFFDA), be16(12), imageData, end});
}

std::string write(const TempDir& dir, const std::string& name, const Bytes& bytes) {
  fotello::test::writeFile(dir.file(name), std::string(bytes.begin(), bytes.end()));
  return dir.file(name);
}

// A memory stream handing out at most chunk bytes per read; fails with failure once the bytes
// up to failAt are read, when failAt is set.
class ChunkedInputStream : public loomkit::InputStream {
 public:
  ChunkedInputStream(Bytes bytes, size_t chunk, std::optional<size_t> failAt = std::nullopt)
      : bytes_(std::move(bytes)), chunk_(chunk), failAt_(failAt) {}
  int64_t read(void* buffer, uint64_t capacity, Error* error) override {
    size_t end = failAt_ ? *failAt_ : bytes_.size();
    if (pos_ == end && failAt_) {
      loomkit::setError(error, "TestErrorDomain", 7, "read failed");
      return -1;
    }
    size_t n = std::min<uint64_t>({capacity, chunk_, end - pos_});
    std::copy_n(bytes_.begin() + static_cast<ptrdiff_t>(pos_), n, static_cast<uint8_t*>(buffer));
    pos_ += n;
    return static_cast<int64_t>(n);
  }
  std::string description() const override { return "<ChunkedInputStream>"; }
  size_t position() const { return pos_; }

 private:
  Bytes bytes_;
  size_t chunk_;
  std::optional<size_t> failAt_;
  size_t pos_ = 0;
};

}  // namespace

TEST(SHA1HashTest, PlainDigestsMatchKnownVectors) {
  struct Case {
    std::string input;
    const char* sha1;
  } cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 10));
    Bytes bytes = loomkit::bytesOf(c.input);
    EXPECT_EQ(SHA1Hash::hashData(bytes), c.sha1);
    EXPECT_EQ(SHA1Hash::hashFile(write(dir, "f", bytes)), c.sha1);
    ChunkedInputStream stream(bytes, 1000);
    EXPECT_EQ(SHA1Hash::hashStream(stream), c.sha1);
  }
}

TEST(SHA1HashTest, FilesLargerThanOneBlockAreDigestedWhole) {
  TempDir dir;
  Bytes bytes = noise(3 * loomkit::BlockReader::kBlockSize + 12345, 1);
  EXPECT_EQ(SHA1Hash::hashFile(write(dir, "big", bytes)), SHA1Hash::hashData(bytes));
}

TEST(MD5HashTest, MatchesKnownVectorsOverUTF8Bytes) {
  struct Case {
    const char* input;
    const char* md5;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"p\xC3\xA4ssw\xC3\xB6rd", "12841e4ba5e37d2fbfc78458c6714ade"},
  };
  for (const Case& c : cases) EXPECT_EQ(loomkit::MD5Hash::hashString(c.input), c.md5) << c.input;
}

TEST(SHA1HashTest, ADigestStartedBeforeAnotherOnTheSameThreadIsUndisturbed) {
  loomkit::Digest outer(loomkit::Digest::sha1());
  outer.update("ab", 2);
  EXPECT_EQ(SHA1Hash::hashData(loomkit::bytesOf("xyz")), "66b27417d37e024c46526c2f6d358a754fc552f3");
  outer.update("c", 1);
  EXPECT_EQ(outer.finishText(), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(SHA1HashTest, ShortAndNonJpegFilesGetThePlainDigest) {
  const Bytes cases[] = {
      {},
      {0xFF},
      {0xFF, 0xD8},
      {0xFF, 0xD8, 0xFF},
      {0xFF, 0xD8, 0xFF, 0xD9},  // 4 bytes: too short for the walk even though it starts like a JPEG
      {0xFF, 0xD9, 0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10},
      {0xD8, 0xFF, 0xFF, 0xDA, 0x00, 0x03, 0x01, 0xFF, 0xD9},
      loomkit::bytesOf("GIF89a, not a JPEG at all"),
      cat({be16(0x89AB), noise(2 * loomkit::BlockReader::kBlockSize, 2)}),
  };
  TempDir dir;
  for (const Bytes& bytes : cases) {
    SCOPED_TRACE(bytes.size());
    EXPECT_EQ(SHA1Hash::hashPhoto(write(dir, "f", bytes)), SHA1Hash::hashData(bytes));
  }
}

TEST(SHA1HashTest, MetadataEditsKeepThePhotoDigest) {
  Bytes imageData = noise(20000, 3);
  Bytes tables = segment(0xFFDB, noise(65, 4));
  Bytes original = jpeg(cat({segment(0xFFE0, loomkit::bytesOf("JFIF\0")), segment(0xFFE1, noise(300, 5)), tables}),
                        imageData);
  Bytes edited = jpeg(cat({segment(0xFFE0, loomkit::bytesOf("JFIF\0")), segment(0xFFE1, noise(7000, 6)),
                           segment(0xFFFE, loomkit::bytesOf("a new caption")), tables}),
                      imageData);
  TempDir dir;
  std::string a = write(dir, "a.jpg", original);
  std::string b = write(dir, "b.jpg", edited);
  EXPECT_EQ(SHA1Hash::hashPhoto(a), SHA1Hash::hashData(imageData));
  EXPECT_EQ(SHA1Hash::hashPhoto(b), SHA1Hash::hashPhoto(a));
  EXPECT_NE(SHA1Hash::hashFile(a), SHA1Hash::hashFile(b));
}

TEST(SHA1HashTest, WalkDigestsImageDataAndWarnsOnAnUnexpectedEndMarker) {
  Bytes app = segment(0xFFE0, noise(14, 7));
  Bytes imageData = cat({noise(100, 8), segment(0xFFDA, noise(10, 9)), be16(0xFFD0), noise(50, 10)});
  struct Case {
    const char* name;
    Bytes file;
    std::string digest;
    const char* warning;  // nullptr: no warning expected
  } cases[] = {
      {"complete", jpeg(app, imageData), SHA1Hash::hashData(imageData), nullptr},
      {"ends with a start marker", jpeg(app, imageData, kSOI), SHA1Hash::hashData(imageData),
       "unexpected end marker in JPEG: 0xffd8"},
      {"one byte of image data", cat({kSOI, be16(0xFFDA), be16(3), {0x42}, kEOI}), SHA1Hash::hashData(Bytes{0x42}),
       nullptr},
      {"no scan", cat({kSOI, app, kEOI}), kEmptySHA1, nullptr},
      {"no scan, odd end", cat({kSOI, app, loomkit::bytesOf("AB")}), kEmptySHA1,
       "unexpected end marker in JPEG: 0x4142"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fotello::test::LogCapture log(loomkit::Log::kWarn);
    EXPECT_EQ(SHA1Hash::hashPhoto(write(dir, "f.jpg", c.file)), c.digest);
    if (c.warning) {
      EXPECT_EQ(log.lines().size(), 1u);
      EXPECT_TRUE(log.contains(std::string("WARN [thread ")) && log.contains(c.warning));
    } else {
      EXPECT_TRUE(log.lines().empty());
    }
  }
}

TEST(SHA1HashTest, BrokenJpegsFallBackToThePlainDigest) {
  Bytes app = segment(0xFFE0, noise(14, 11));
  struct Case {
    const char* name;
    Bytes file;
    const char* error;  // what hashPhotoStream reports
  } cases[] = {
      {"segment length 0", cat({kSOI, be16(0xFFE1), be16(0), noise(40, 12), kEOI}),
       "<ChunkedInputStream>: JPEG segment ffe1 length can't be fewer than 3 bytes long"},
      {"segment length 1", cat({kSOI, app, be16(0xFFE1), be16(1), noise(40, 12), kEOI}),
       "JPEG segment ffe1 length can't be fewer than 3 bytes long"},
      {"segment length 2", cat({kSOI, be16(0xFFDB), be16(2), noise(40, 12), kEOI}),
       "JPEG segment ffdb length can't be fewer than 3 bytes long"},
      {"segment longer than the file", cat({kSOI, be16(0xFFE1), be16(0x1000), noise(40, 13), kEOI}),
       "EOF on <ChunkedInputStream> after 42 of 4094 bytes received"},
      {"ends inside a length field", cat({kSOI, app, be16(0xFFE1), {0x01}}), "EOF on <ChunkedInputStream> after 1 of 2"},
      {"ends after a segment", cat({kSOI, app}), "EOF on <ChunkedInputStream> after 0 of 2"},
      {"ends one byte after a segment", cat({kSOI, app, {0xFF}}), "EOF on <ChunkedInputStream> after 1 of 2"},
      {"scan right before the end", cat({kSOI, app, be16(0xFFDA), be16(12), kEOI}),
       "<ChunkedInputStream>: JPEG scan at 20 leaves no image data"},
      {"scan length field at the end", cat({kSOI, app, be16(0xFFDA), be16(12), {0xFF}}),
       "JPEG scan at 20 leaves no image data"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SHA1Hash::hashPhoto(write(dir, "f.jpg", c.file)), SHA1Hash::hashData(c.file));
    ChunkedInputStream stream(c.file, 3);
    Error error;
    EXPECT_EQ(SHA1Hash::hashPhotoStream(stream, c.file.size(), &error), std::nullopt);
    EXPECT_NE(error.description().find(c.error), std::string::npos) << error.text();
  }
}

TEST(SHA1HashTest, SegmentsStraddlingReadBlocksAreWalkedLikeAnyOther) {
  constexpr size_t kBlock = loomkit::BlockReader::kBlockSize;
  Bytes imageData = noise(2 * kBlock + 777, 14);
  TempDir dir;
  // The start of scan begins 3, 2, 1 and 0 bytes before the end of the first block, so that its
  // marker or length field is split between two reads.
  for (size_t before : {3, 2, 1, 0}) {
    SCOPED_TRACE(before);
    Bytes segments;
    while (kSOI.size() + segments.size() + 65537 + 5 < kBlock - before) {
      segments = cat({segments, segment(0xFFE2, noise(65533, 15))});
    }
    size_t last = kBlock - before - kSOI.size() - segments.size() - 4;
    segments = cat({segments, segment(0xFFE1, noise(last, 16))});
    Bytes file = jpeg(segments, imageData);
    ASSERT_EQ(file[kBlock - before], 0xFF);
    ASSERT_EQ(file[kBlock - before + 1], 0xDA);
    EXPECT_EQ(SHA1Hash::hashPhoto(write(dir, "big.jpg", file)), SHA1Hash::hashData(imageData));
    ChunkedInputStream stream(file, 5000);
    EXPECT_EQ(SHA1Hash::hashPhotoStream(stream, file.size()), SHA1Hash::hashData(imageData));
  }
}

TEST(SHA1HashTest, PhotoStreamTakesExactlyTheGivenLength) {
  Bytes photo = jpeg(segment(0xFFE0, noise(20, 17)), noise(500, 18));
  Bytes other = loomkit::bytesOf("not a JPEG, some bytes");
  for (const Bytes& first : {photo, other}) {
    ChunkedInputStream stream(cat({first, loomkit::bytesOf("trailing bytes of the next item")}), 7);
    std::optional<std::string> digest = SHA1Hash::hashPhotoStream(stream, first.size());
    EXPECT_EQ(stream.position(), first.size());
    if (first == photo) EXPECT_EQ(digest, SHA1Hash::hashData(noise(500, 18)));
    else EXPECT_EQ(digest, SHA1Hash::hashData(other));
  }
}

TEST(SHA1HashTest, StreamErrorsArePassedUpUnchanged) {
  Bytes photo = jpeg(segment(0xFFE0, noise(20, 19)), noise(500, 20));
  Error expected("TestErrorDomain", 7, "read failed");
  for (size_t failAt : {size_t{0}, size_t{10}, size_t{300}}) {
    SCOPED_TRACE(failAt);
    ChunkedInputStream plain(photo, 64, failAt);
    Error error;
    EXPECT_EQ(SHA1Hash::hashStream(plain, &error), std::nullopt);
    EXPECT_EQ(error, expected);
    ChunkedInputStream walked(photo, 64, failAt);
    error = Error();
    EXPECT_EQ(SHA1Hash::hashPhotoStream(walked, photo.size(), &error), std::nullopt);
    EXPECT_EQ(error, expected);
  }
}

TEST(SHA1HashTest, UpdateSHA1FeedsExactlyTheCount) {
  ChunkedInputStream stream(loomkit::bytesOf("abcdefgh"), 2);
  loomkit::Digest sha1(loomkit::Digest::sha1());
  Error error;
  EXPECT_FALSE(SHA1Hash::updateSHA1(sha1, stream, 0, &error));
  EXPECT_TRUE(error.empty());
  EXPECT_TRUE(SHA1Hash::updateSHA1(sha1, stream, 3, &error));
  EXPECT_EQ(stream.position(), 3u);
  EXPECT_EQ(sha1.finishText(), "a9993e364706816aba3e25717850c26c9cd0d89d");

  loomkit::Digest more(loomkit::Digest::sha1());
  EXPECT_FALSE(SHA1Hash::updateSHA1(more, stream, 6, &error));
  EXPECT_EQ(error, Error("SHA1HashErrorDomain", -1, "unexpected EOF reading image data from <ChunkedInputStream>"));
}

TEST(SHA1HashTest, FileSystemFailuresAndSpecialFiles) {
  TempDir dir;
  std::string photo = write(dir, "photo.jpg", jpeg(segment(0xFFE0, noise(20, 21)), noise(500, 22)));
  Error error;
  std::string missing = dir.file("missing.jpg");
  EXPECT_EQ(SHA1Hash::hashPhoto(missing, &error), std::nullopt);
  EXPECT_EQ(error, Error("UnixErrorDomain", ENOENT, "lstat(" + missing + "): No such file or directory"));

  // A symbolic link is not followed, neither for its size nor for its content.
  ASSERT_EQ(::symlink(photo.c_str(), dir.file("link.jpg").c_str()), 0);
  EXPECT_EQ(SHA1Hash::hashPhoto(dir.file("link.jpg"), &error), std::nullopt);
  EXPECT_TRUE(error.is("UnixErrorDomain", ELOOP)) << error.text();
  EXPECT_EQ(SHA1Hash::hashFile(dir.file("link.jpg"), &error), std::nullopt);
  EXPECT_TRUE(error.is("UnixErrorDomain", ELOOP)) << error.text();

  ASSERT_EQ(::mkdir(dir.file("folder").c_str(), 0700), 0);
  EXPECT_EQ(SHA1Hash::hashPhoto(dir.file("folder"), &error), std::nullopt);
  EXPECT_EQ(error, Error("UnixErrorDomain", EISDIR, "read(" + dir.file("folder") + "): Is a directory"));

  // A FIFO without a writer neither blocks the open nor the read.
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  EXPECT_EQ(SHA1Hash::hashPhoto(dir.file("fifo")), kEmptySHA1);
}

TEST(SHA1HashTest, ThreadsHashingAtOnceGetTheirOwnBuffers) {
  TempDir dir;
  std::vector<std::string> paths;
  std::vector<std::string> expected;
  for (uint32_t i = 0; i < 4; ++i) {
    Bytes imageData = noise(300000 + i, 30 + i);
    paths.push_back(write(dir, "p" + std::to_string(i) + ".jpg", jpeg(segment(0xFFE1, noise(999, i)), imageData)));
    expected.push_back(SHA1Hash::hashData(imageData));
  }
  std::vector<int> mismatches(paths.size());
  std::vector<std::thread> threads;
  for (size_t t = 0; t < paths.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) mismatches[t] += SHA1Hash::hashPhoto(paths[t]) != expected[t];
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(paths.size(), 0));
}
