#include <gtest/gtest.h>

#include "catalog/AlbumData.h"
#include "loomkit/plist/DictNode.h"
#include "tests/catalog/CatalogFixtures.h"
#include "tests/support/TestSupport.h"
#include "tests/tools/fotelloctl/FotelloctlRun.h"

using fotello::AlbumData;
using fotello::test::digest;
using fotello::test::runFotelloctl;
using fotello::test::TempDir;
using fotello::test::writeFile;

namespace {

std::string bytesOf(const AlbumData& catalog) {
  loomkit::Bytes b = fotello::test::written([&](auto& out) { return catalog.writeToStream(out); });
  return std::string(b.begin(), b.end());
}

// A catalog of one edited photo whose caption is given, one album and one roll.
std::string catalogFile(const std::string& caption) {
  std::vector<fotello::Photo> photos = {
      fotello::test::photoWith("10", digest('a'), digest('b'), "/lib/Modified/10.jpg", "/lib/Originals/10.jpg")};
  photos[0].setString(caption, "Caption");
  fotello::Album album;
  album.setString("Trip", "AlbumName");
  album.setInteger(3, "AlbumId");
  album.addPhotoKey("10");
  loomkit::DictNode roll;
  roll.putInt(7, "RollID");
  roll.putDouble(3600.5, "RollDateAsTimerInterval");
  roll.putInt(10, "KeyPhotoKey");
  roll.putInt(1, "PhotoCount");
  AlbumData catalog(std::nullopt, std::move(photos), {album}, {fotello::Roll(roll)}, 100.0);
  return bytesOf(catalog);
}

}  // namespace

TEST(CatalogCommandTest, JsonHoldsEveryRecordField) {
  TempDir dir;
  writeFile(dir.file("albumData.dat"), catalogFile("Beach"));
  fotello::test::CommandResult r = runFotelloctl({"catalog", "show", "--json", dir.file("albumData.dat")});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output,
            "{\"version\":5,\"scanDate\":100,\"photos\":[\n"
            "{\"key\":\"10\",\"originalSHA1\":\"" + digest('a') + "\",\"modifiedSHA1\":\"" + digest('b') +
                "\",\"imagePath\":\"/lib/Modified/10.jpg\",\"originalPath\":\"/lib/Originals/10.jpg\","
                "\"thumbPath\":\"/thumbs/10.jpg\",\"caption\":\"Beach\",\"imageType\":\"JPEG\",\"aspectRatio\":1.5,"
                "\"dateTaken\":100,\"rollId\":7,\"originalFileSize\":0,\"originalMtimeSec\":0,\"originalMtimeNsec\":0,"
                "\"modifiedFileSize\":0,\"modifiedMtimeSec\":0,\"modifiedMtimeNsec\":0}],\"albums\":[\n"
                "{\"id\":3,\"name\":\"Trip\",\"master\":false,\"keys\":[\"10\"]}],\"rolls\":[\n"
                "{\"id\":7,\"name\":null,\"date\":3600.5,\"keyPhotoId\":10,\"photoCount\":1}]}\n");
}

TEST(CatalogCommandTest, JsonStringsAreEscaped) {
  TempDir dir;
  const struct {
    std::string caption;
    std::string json;
  } cases[] = {
      {"say \"hi\" \\ now", "\"say \\\"hi\\\" \\\\ now\""},
      {"line\nbreak\ttab\r\x01\x1f\x7f", "\"line\\nbreak\\ttab\\r\\u0001\\u001f\\u007f\""},
      {"caf\xC3\xA9 \xF0\x9F\x93\xB7", "\"caf\xC3\xA9 \xF0\x9F\x93\xB7\""},
      // Text that is not UTF-8 reads back from the catalog as no text at all.
      {"bad \xFF\xC3 bytes", "null"},
  };
  for (const auto& c : cases) {
    writeFile(dir.file("c.dat"), catalogFile(c.caption));
    fotello::test::CommandResult r = runFotelloctl({"catalog", "show", "--json", dir.file("c.dat")});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("\"caption\":" + c.json + ","), std::string::npos) << c.json << "\n" << r.output;
  }
}

TEST(CatalogCommandTest, SummaryAndStandardInput) {
  TempDir dir;
  writeFile(dir.file("albumData.dat"), catalogFile("Beach"));
  fotello::test::CommandResult r =
      fotello::test::runShell("exec \"$0\" catalog show - < \"$1\"", {dir.file("albumData.dat")});
  EXPECT_EQ(r.status, 0) << r.output;
  for (const char* line : {"version    5\n", "scan date  2001-01-01 00:01:40 UTC\n", "photos     1 under 2 digests\n",
                           "  3        Trip, 1 photo\n", "  7        (no name), 2001-01-01 01:00:00 UTC, 1 photo\n"}) {
    EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;
  }
  const auto catalog = AlbumData::newFromCacheFile(dir.file("albumData.dat"), std::nullopt);
  EXPECT_NE(r.output.find("digest     " + *catalog->sha1() + "\n"), std::string::npos) << r.output;
}

TEST(CatalogCommandTest, InputThatIsNotACatalogFails) {
  TempDir dir;
  std::string version4 = bytesOf(AlbumData());
  version4[3] = 4;
  writeFile(dir.file("v4.dat"), version4);
  writeFile(dir.file("short.dat"), bytesOf(AlbumData()).substr(0, 20));
  const struct {
    std::string file;
    std::string message;
  } cases[] = {
      {dir.file("v4.dat"), "invalid AlbumData version 4; expected 5"},
      {dir.file("short.dat"), "EOF on"},
      {dir.file("missing.dat"), "No such file or directory"},
  };
  for (const auto& c : cases) {
    fotello::test::CommandResult r = runFotelloctl({"catalog", "show", c.file});
    EXPECT_EQ(r.status, 1) << c.file;
    EXPECT_NE(r.output.find("fotelloctl: " + c.file + ": "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
  }
  EXPECT_EQ(runFotelloctl({"catalog", "show"}).status, 2);
  EXPECT_EQ(runFotelloctl({"catalog", "list", "x"}).status, 2);
}
