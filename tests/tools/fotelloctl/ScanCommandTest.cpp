// From photos on disk to the catalog: photolib makes and changes a library, fotelloctl catalogs it.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "catalog/AlbumData.h"
#include "catalog/SHA1DatFile.h"
#include "tests/support/TestSupport.h"
#include "tests/tools/photolib/TestJpeg.h"

using fotello::AlbumData;
using fotello::test::ChildProcess;
using fotello::test::TempDir;
using fotello::test::writeFile;

namespace {

struct Result {
  int status = -1;
  std::string output;
};

// Runs the built programs with a private data directory and photolib preferences.
class Programs {
 public:
  Result run(const std::string& program, std::vector<std::string> args) const {
    args.insert(args.begin(), fotello::test::programPath("tools/" + program));
    ChildProcess child(args, {{"FOTELLO_HOME", home()}, {"XDG_CONFIG_HOME", dir_.file("config")}});
    std::optional<int> status = child.wait(std::chrono::seconds(60));
    EXPECT_TRUE(status) << program << " did not finish";
    return {status.value_or(-1), child.output()};
  }
  void ok(const std::string& program, const std::vector<std::string>& args) const {
    Result r = run(program, args);
    ASSERT_EQ(r.status, 0) << program << " " << args[0] << ": " << r.output;
  }
  std::string file(const std::string& name) const { return dir_.file(name); }
  std::string home() const { return dir_.file("home"); }

  // File path to digest, as `fotelloctl hash` prints them.
  std::map<std::string, std::string> hashes(const std::vector<std::string>& files) const {
    std::vector<std::string> args = {"hash"};
    args.insert(args.end(), files.begin(), files.end());
    Result r = run("fotelloctl", args);
    EXPECT_EQ(r.status, 0) << r.output;
    std::map<std::string, std::string> digests;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) digests[line.substr(42)] = line.substr(0, 40);
    return digests;
  }

 private:
  TempDir dir_;
};

std::set<std::string> keysOf(const fotello::Album& album) { return {album.photoKeys().begin(), album.photoKeys().end()}; }

}  // namespace

TEST(ScanCommandTest, CatalogsALibraryThatPhotolibMade) {
  Programs programs;
  const std::string library = std::filesystem::weakly_canonical(programs.file("Lib")).string();
  const std::string src = programs.file("Card");
  writeFile(src + "/Trip/a.jpg", fotello::test::jpegFile(120, 80, "2019:07:01 12:00:00"));
  writeFile(src + "/Trip/b.jpg", fotello::test::jpegFile(80, 120));
  writeFile(src + "/Home/c.jpg", fotello::test::jpegFile(100, 100));
  programs.ok("photolib", {"create", library});
  programs.ok("photolib", {"import", library, src});
  // The walk takes folders in name order: Home is roll 1 with photo 1, Trip roll 2 with 2 and 3.
  programs.ok("photolib", {"edit", library, "2"});
  programs.ok("photolib", {"album", library, "Best", "1", "2"});

  for (bool sax : {false, true}) {
    SCOPED_TRACE(sax ? "--sax" : "whole-document reader");
    std::vector<std::string> args = {"scan", library};
    if (sax) args.push_back("--sax");
    Result r = programs.run("fotelloctl", args);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("] 100% 3/3"), std::string::npos) << "a progress bar: " << r.output;

    fotello::test::ScopedEnv home("FOTELLO_HOME", programs.home());
    loomkit::Error error;
    std::unique_ptr<AlbumData> catalog = AlbumData::newFromCacheForIPhotoLibraryPath(library, &error);
    ASSERT_TRUE(catalog) << error.text();
    EXPECT_TRUE(catalog->scanDate());
    EXPECT_NE(r.output.find(library + ": 3 photos, " + std::to_string(sax ? 1 : 2) + " albums, " +
                            std::to_string(sax ? 0 : 2) + " rolls in " +
                            AlbumData::cachePathForIPhotoLibraryPath(library)),
              std::string::npos)
        << r.output;

    // Every digest is the one `fotelloctl hash` gives for the file.
    std::vector<std::string> files;
    for (const fotello::Photo& photo : catalog->allPhotos()) {
      files.emplace_back(*photo.originalPath());
      if (photo.modifiedPath()) files.emplace_back(*photo.modifiedPath());
    }
    std::map<std::string, std::string> digests = programs.hashes(files);
    ASSERT_EQ(catalog->photoCount(), 3u);
    std::map<std::string, const fotello::Photo*> photos;
    for (const fotello::Photo& photo : catalog->allPhotos()) {
      photos[std::string(*photo.iPhotoKey())] = &photo;
      EXPECT_EQ(photo.originalSHA1(), digests[std::string(*photo.originalPath())]);
      // The event reader reads no roll ids; its photos keep those of the previous catalog, which
      // the first pass wrote.
      EXPECT_EQ(photo.rollId(), photo.iPhotoKey() == "1" ? 1u : 2u);
    }
    const fotello::Photo& edited = *photos["2"];
    EXPECT_EQ(edited.originalPath(), library + "/Originals/2/a.jpg");
    EXPECT_EQ(edited.modifiedPath(), library + "/Modified/2-1.jpg");
    EXPECT_EQ(edited.modifiedSHA1(), digests[library + "/Modified/2-1.jpg"]);
    EXPECT_FALSE(photos["1"]->modifiedSHA1());

    const AlbumData::AlbumMap& albums = catalog->albumsByIPhotoId();
    ASSERT_TRUE(albums.count(2));
    EXPECT_EQ(albums.at(2).name(), "Best");
    EXPECT_EQ(keysOf(albums.at(2)), (std::set<std::string>{"1", "2"}));
    if (!sax) {
      EXPECT_TRUE(albums.at(1).isMaster());
      EXPECT_EQ(keysOf(albums.at(1)), (std::set<std::string>{"1", "2", "3"}));
      const AlbumData::RollMap& rolls = catalog->rollsByIPhotoId();
      ASSERT_EQ(rolls.size(), 2u);
      EXPECT_EQ(rolls.at(1).name(), "Home");
      EXPECT_EQ(rolls.at(2).name(), "Trip");
      EXPECT_EQ(rolls.at(2).photoCount(), 2);
    }

    // The library digest set holds the three originals and the edit.
    fotello::SHA1DatFile set = fotello::SHA1DatFile::libraryDatFile(library);
    ASSERT_TRUE(set.load(&error)) << error.text();
    EXPECT_EQ(set.allSHA1s().size(), 4u);
    for (const auto& [path, sha1] : digests) EXPECT_TRUE(set.allSHA1s().count(sha1)) << path;
  }
}

TEST(ScanCommandTest, UsageAndFailures) {
  Programs programs;
  EXPECT_EQ(programs.run("fotelloctl", {"scan"}).status, 2);
  EXPECT_EQ(programs.run("fotelloctl", {"scan", "a", "b"}).status, 2);
  Result r = programs.run("fotelloctl", {"scan", programs.file("missing")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "fotelloctl: no such library: " + programs.file("missing") + "\n");
  fotello::test::writeFile(programs.file("NotALibrary/readme.txt"), "");
  r = programs.run("fotelloctl", {"scan", programs.file("NotALibrary"), "--sax"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "fotelloctl: " + programs.file("NotALibrary") + "/AlbumData.xml not found\n");
}
