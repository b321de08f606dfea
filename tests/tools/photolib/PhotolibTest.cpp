// photolib run as a process, as the other programs and users run it.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "loomkit/plist/DictNode.h"
#include "loomkit/plist/PListDocumentReader.h"
#include "protocol/Defaults.h"
#include "tests/protocol/PhotolibRun.h"
#include "tests/support/TestSupport.h"
#include "tests/tools/photolib/TestJpeg.h"

using fotello::test::ChildProcess;
using fotello::test::jpegFile;
using fotello::test::jpegShape;
using fotello::test::JpegShape;
using fotello::test::readFile;
using fotello::test::TempDir;
using fotello::test::writeFile;
using loomkit::DictNode;

namespace {

constexpr double kReferenceDate = 978307200;  // 2001-01-01 in Unix time

struct Result {
  int status = -1;
  std::string output;
};

// A scratch folder with the tool's preferences in it; dates are read in UTC.
class Photolib {
 public:
  Result run(std::vector<std::string> args) const {
    args.insert(args.begin(), fotello::test::programPath("tools/photolib"));
    ChildProcess child(args, {{"XDG_CONFIG_HOME", dir_.file("config")}, {"TZ", "UTC"}});
    std::optional<int> status = child.wait(std::chrono::seconds(60));
    EXPECT_TRUE(status) << "photolib did not finish";
    return {status.value_or(-1), child.output()};
  }
  std::string file(const std::string& name) const { return std::filesystem::weakly_canonical(dir_.file(name)); }
  std::string config() const { return dir_.file("config"); }

  // A new library holding the given folder's photos.
  std::string libraryWith(const std::string& folder) const {
    std::string library = file("Lib");
    EXPECT_EQ(run({"create", library}).status, 0);
    Result r = run({"import", library, folder});
    EXPECT_EQ(r.status, 0) << r.output;
    return library;
  }

 private:
  TempDir dir_;
};

std::unique_ptr<DictNode> index(const std::string& library) {
  loomkit::Error error;
  auto root = loomkit::PListDocumentReader::dictNodeWithContentsOfFile(library + "/AlbumData.xml", &error);
  EXPECT_TRUE(root) << error.text();
  return root;
}

const DictNode* photos(const DictNode& root) { return root.dictNodeForKey("Master Image List"); }

std::optional<std::string> text(const DictNode& dict, const char* key) {
  const loomkit::StringNode* node = dict.stringNodeForKey(key);
  return node ? node->stringValue() : std::nullopt;
}

double real(const DictNode& dict, const char* key) {
  const loomkit::RealNode* node = dict.realNodeForKey(key);
  return node ? node->doubleValue() : -1;
}

const DictNode* photoWithCaption(const DictNode& root, const std::string& caption) {
  for (const loomkit::PListNode* value : photos(root)->values()) {
    const auto* dict = dynamic_cast<const DictNode*>(value);
    if (dict && text(*dict, "Caption") == caption) return dict;
  }
  return nullptr;
}

std::vector<std::string> keyList(const DictNode& dict) {
  std::vector<std::string> keys;
  if (const loomkit::ArrayNode* list = dict.arrayNodeForKey("KeyList")) {
    for (size_t i = 0; i < list->size(); ++i) keys.push_back(*list->stringNodeAtIndex(i)->stringValue());
  }
  return keys;
}

std::set<std::string> tree(const std::string& dir) {
  std::set<std::string> paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) paths.insert(entry.path().string());
  return paths;
}

void setModificationTime(const std::string& path, time_t when) {
  struct timeval times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(::utimes(path.c_str(), times), 0);
}

}  // namespace

TEST(PhotolibTest, ImportCopiesPhotosIntoOneRollPerFolder) {
  Photolib photolib;
  const std::string src = photolib.file("Holiday");
  writeFile(src + "/a.jpg", jpegFile(800, 600, "2020:05:17 10:30:00"));
  writeFile(src + "/broken.jpg", "not a JPEG at all");
  writeFile(src + "/empty.mov", "");
  writeFile(src + "/notes.txt", "not a photo");
  writeFile(src + "/Day 2/b.jpg", jpegFile(300, 600));
  setModificationTime(src + "/Day 2/b.jpg", 1609459200);  // 2021-01-01 00:00:00 UTC
  writeFile(src + "/Day 2/c.png", fotello::test::pngFile(40, 20));
  writeFile(src + "/Empty/readme.txt", "no photos here");
  const std::string library = photolib.file("Lib");
  ASSERT_EQ(photolib.run({"create", library}).status, 0);

  Result r = photolib.run({"import", library, src});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("imported 3 photos in 2 rolls into " + library + " (2 skipped)"), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("photolib: " + src + "/broken.jpg is not a JPEG image: "), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("photolib: " + src + "/empty.mov is an empty file; skipped"), std::string::npos) << r.output;

  auto root = index(library);
  ASSERT_TRUE(root);
  EXPECT_EQ(text(*root, "Application Version"), "9.4.1");
  ASSERT_EQ(photos(*root)->size(), 3u);

  const loomkit::ArrayNode* rolls = root->arrayNodeForKey("List of Rolls");
  ASSERT_TRUE(rolls);
  ASSERT_EQ(rolls->size(), 2u);
  EXPECT_EQ(text(*rolls->dictNodeAtIndex(0), "RollName"), "Holiday");
  EXPECT_EQ(keyList(*rolls->dictNodeAtIndex(0)).size(), 1u);
  EXPECT_EQ(text(*rolls->dictNodeAtIndex(1), "RollName"), "Day 2");
  EXPECT_EQ(rolls->dictNodeAtIndex(1)->integerNodeForKey("PhotoCount")->longlongValue(), 2);

  const struct {
    const char* caption;
    const char* source;
    double aspectRatio;
    double date;  // seconds since 2001
    std::optional<JpegShape> thumbnail;
  } expected[] = {
      // The camera's date where EXIF has one, else the file's modification time.
      {"a", "/a.jpg", 800.0 / 600, 1589711400 - kReferenceDate, JpegShape{360, 270, 3}},
      {"b", "/Day 2/b.jpg", 0.5, 1609459200 - kReferenceDate, JpegShape{180, 360, 3}},
      {"c", "/Day 2/c.png", 2.0, -2, std::nullopt},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.caption);
    const DictNode* photo = photoWithCaption(*root, e.caption);
    ASSERT_TRUE(photo);
    std::string copy = text(*photo, "ImagePath").value_or("");
    EXPECT_EQ(copy.rfind(library + "/Originals/", 0), 0u) << copy;
    EXPECT_EQ(readFile(copy), readFile(src + e.source));
    EXPECT_NEAR(real(*photo, "Aspect Ratio"), e.aspectRatio, 1e-6);
    if (e.date > 0) {
      EXPECT_NEAR(real(*photo, "DateAsTimerInterval"), e.date, 1e-3);
    }
    EXPECT_FALSE(photo->containsKey("OriginalPath"));
    if (e.thumbnail) {
      EXPECT_EQ(jpegShape(text(*photo, "ThumbPath").value_or("")), *e.thumbnail);
    } else {
      EXPECT_FALSE(photo->containsKey("ThumbPath"));
    }
  }

  // The master album holds every photo.
  const DictNode* master = root->arrayNodeForKey("List of Albums")->dictNodeAtIndex(0);
  EXPECT_TRUE(master->booleanNodeForKey("Master")->booleanValue());
  EXPECT_EQ(keyList(*master).size(), 3u);
}

TEST(PhotolibTest, ImportThatFailsMidwayLeavesTheLibraryAsItWas) {
  Photolib photolib;
  writeFile(photolib.file("first/a.jpg"), jpegFile(64, 48));
  const std::string library = photolib.libraryWith(photolib.file("first"));
  const std::string indexBefore = readFile(library + "/AlbumData.xml");
  // The next import's roll folder cannot be made: a file stands in its place.
  writeFile(library + "/Originals/2", "in the way");
  const std::set<std::string> before = tree(library);
  writeFile(photolib.file("second/b.jpg"), jpegFile(64, 48));
  writeFile(photolib.file("second/c.jpg"), jpegFile(64, 48));

  Result r = photolib.run({"import", library, photolib.file("second")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("photolib: mkdir(" + library + "/Originals/2): File exists"), std::string::npos) << r.output;
  EXPECT_EQ(readFile(library + "/AlbumData.xml"), indexBefore);
  EXPECT_EQ(tree(library), before) << "the files of the failed import are removed again";
}

TEST(PhotolibTest, ALibraryInUseIsRefused) {
  Photolib photolib;
  writeFile(photolib.file("first/a.jpg"), jpegFile(64, 48));
  const std::string library = photolib.libraryWith(photolib.file("first"));
  const std::string indexBefore = readFile(library + "/AlbumData.xml");
  {
    int fd = ::open((library + "/photolib.lock").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(::pwrite(fd, "4242\n", 5, 0), 5);
    Result r = photolib.run({"import", library, photolib.file("first")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("library " + library + " is in use by process 4242"), std::string::npos) << r.output;
    ::close(fd);
  }
  EXPECT_EQ(readFile(library + "/AlbumData.xml"), indexBefore);
  // The holder is gone: the stale pid in the file blocks nothing, and a finished command
  // leaves the file empty.
  EXPECT_EQ(photolib.run({"album", library, "Trip", "1"}).status, 0);
  EXPECT_EQ(readFile(library + "/photolib.lock"), "");
}

TEST(PhotolibTest, AlbumsGrowAndEditsKeepTheOriginal) {
  Photolib photolib;
  writeFile(photolib.file("src/a.jpg"), jpegFile(400, 200));
  writeFile(photolib.file("src/b.png"), fotello::test::pngFile(10, 10));
  const std::string library = photolib.libraryWith(photolib.file("src"));

  Result r = photolib.run({"album", library, "Trip", "1"});
  EXPECT_EQ(r.output, "album Trip (id 2): 1 photo\n");
  r = photolib.run({"album", library, "Trip", "1", "2"});
  EXPECT_EQ(r.output, "album Trip (id 2): 2 photos\n");
  const std::string indexBefore = readFile(library + "/AlbumData.xml");
  r = photolib.run({"album", library, "Trip", "9"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "photolib: no photo with key 9\n");
  EXPECT_EQ(readFile(library + "/AlbumData.xml"), indexBefore);

  auto photoOne = [&] {
    auto root = index(library);
    return photos(*root)->dictNodeForKey("1")->copyDict();
  };
  const std::string original = *text(*photoOne(), "ImagePath");
  const std::string thumbnailBefore = readFile(*text(*photoOne(), "ThumbPath"));
  r = photolib.run({"edit", library, "1"});
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string firstEdit = library + "/Modified/1-1.jpg";
  EXPECT_EQ(r.output, firstEdit + "\n");
  auto edited = photoOne();
  EXPECT_EQ(text(*edited, "ImagePath"), firstEdit);
  EXPECT_EQ(text(*edited, "OriginalPath"), original);
  EXPECT_EQ(jpegShape(firstEdit), (JpegShape{400, 200, 1})) << "a black and white version, full size";
  JpegShape thumbnail = jpegShape(*text(*edited, "ThumbPath"));
  EXPECT_EQ(std::make_pair(thumbnail.width, thumbnail.height), std::make_pair(360, 180));
  EXPECT_NE(readFile(*text(*edited, "ThumbPath")), thumbnailBefore) << "the thumbnail shows the edit";

  // A second edit replaces the first; the original stays the original.
  ASSERT_EQ(photolib.run({"edit", library, "1"}).status, 0);
  edited = photoOne();
  EXPECT_EQ(text(*edited, "ImagePath"), library + "/Modified/1-2.jpg");
  EXPECT_EQ(text(*edited, "OriginalPath"), original);
  EXPECT_FALSE(fotello::test::fileExists(firstEdit));
  EXPECT_TRUE(fotello::test::fileExists(original));

  r = photolib.run({"edit", library, "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "photolib: photo 2 is not a JPEG image; only JPEG photos can be edited\n");
}

TEST(PhotolibTest, OpenCurrentCreateAndVersion) {
  Photolib photolib;
  EXPECT_EQ(photolib.run({"--version"}).output, "9.4.1\n");
  Result r = photolib.run({"current"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "photolib: no current library\n");

  const std::string library = photolib.file("Lib");
  EXPECT_EQ(photolib.run({"create", library}).status, 0);
  r = photolib.run({"create", library});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "photolib: " + library + " is already a photo library\n");
  EXPECT_EQ(photolib.run({"open", photolib.file("nowhere")}).status, 1);

  EXPECT_EQ(photolib.run({"open", library}).status, 0);
  EXPECT_EQ(photolib.run({"current"}).output, library + "\n");
  // The programs read the same preference.
  fotello::test::ScopedEnv config("XDG_CONFIG_HOME", photolib.config());
  EXPECT_EQ(fotello::Defaults::iPhotoRootDirectory(), library);
  EXPECT_EQ(photolib.run({"frobnicate"}).status, 2);
}

TEST(PhotolibTest, IndexMakesAFolderALibraryInPlace) {
  Photolib photolib;
  const std::string pictures = photolib.file("Pictures");
  writeFile(pictures + "/x.jpg", jpegFile(100, 50));
  writeFile(pictures + "/2019/y.jpg", jpegFile(50, 100));
  const std::set<std::string> before = tree(pictures);

  Result r = photolib.run({"index", pictures});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "indexed 2 photos in 2 rolls into " + pictures + "\n");
  auto root = index(pictures);
  ASSERT_TRUE(root);
  EXPECT_EQ(text(*photoWithCaption(*root, "x"), "ImagePath"), pictures + "/x.jpg");
  EXPECT_EQ(text(*photoWithCaption(*root, "y"), "ImagePath"), pictures + "/2019/y.jpg");
  EXPECT_EQ(jpegShape(*text(*photoWithCaption(*root, "x"), "ThumbPath")), (JpegShape{100, 50, 3}));
  for (const std::string& path : before) EXPECT_TRUE(fotello::test::fileExists(path)) << "nothing moved: " << path;

  // Indexing again adds only what is new; the tool's own thumbnails are no photos.
  writeFile(pictures + "/2019/z.jpg", jpegFile(50, 50));
  r = photolib.run({"index", pictures});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "indexed 1 photo in 1 roll into " + pictures + "\n");
  EXPECT_EQ(photos(*index(pictures))->size(), 3u);
}
