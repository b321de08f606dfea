#include <gtest/gtest.h>

#include "catalog/AlbumData.h"
#include "loomkit/crypto/MD5Hash.h"
#include "loomkit/io/Gzip.h"
#include "protocol/IQVAgentStatus.h"
#include "tests/catalog/CatalogFixtures.h"
#include "tests/loomkit/http/ClientTestServer.h"
#include "tests/tools/fotelloctl/FotelloctlRun.h"

using fotello::test::runFotelloctl;
using fotello::test::ScriptedAnswer;
using fotello::test::ScriptedServer;

namespace {

class PeerCommandTest : public ::testing::Test {
 protected:
  PeerCommandTest() {
    auto status = fotello::IQVAgentStatus(100.0, loomkit::Error("ScanErrorDomain", 5, "no \"library\""), std::nullopt,
                                          3, 9, "UUID-1", "Kitchen", "ann")
                      .txtRecordData();
    server.handler.route("/status", ScriptedAnswer::answer(200, std::string(loomkit::textOf(status))));
    server.handler.route("/photos/abc/fullsize", ScriptedAnswer::answer(200, std::string(300000, 'p')));
    fotello::AlbumData catalog(std::nullopt, {fotello::test::photoWith("7", fotello::test::digest('e'), std::nullopt)},
                               {}, {}, 100.0);
    auto bytes = fotello::test::written([&](loomkit::BufferedOutputStream& out) { return catalog.writeToStream(out); });
    server.handler.route("/albumdata", ScriptedAnswer::answer(200, std::string(loomkit::textOf(*loomkit::Gzip::gzipDeflate(bytes))),
                                                              {{"Content-Encoding", "gzip"}}));
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(server.port()); }

  ScriptedServer server;
};

TEST_F(PeerCommandTest, GetPrintsTheStatusAndTheBodyOrWritesItToAFile) {
  auto missing = runFotelloctl({"get", address(), "/nowhere", "--password", "sesame"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.output, "404\nPath not found");
  auto headers = server.handler.requests().back();
  EXPECT_EQ(headers["x-qv-version"], "2");
  EXPECT_EQ(headers["x-qv-passwordmd5"], loomkit::MD5Hash::hashString("sesame"));

  fotello::test::TempDir dir;
  auto saved = runFotelloctl({"get", address(), "/photos/abc/fullsize", "-o", dir.file("photo")});
  EXPECT_EQ(saved.status, 0) << saved.output;
  EXPECT_EQ(saved.output, "200\n300000 bytes written to " + dir.file("photo") + "\n");
  EXPECT_EQ(fotello::test::readFile(dir.file("photo")), std::string(300000, 'p'));
  EXPECT_EQ(server.handler.requests().back().count("x-qv-passwordmd5"), 0u);

  auto nobody = runFotelloctl({"get", "127.0.0.1:1", "/status"});
  EXPECT_EQ(nobody.status, 1);
  EXPECT_NE(nobody.output.find("failed to get /status"), std::string::npos) << nobody.output;
  EXPECT_EQ(runFotelloctl({"get", address()}).status, 2);
}

TEST_F(PeerCommandTest, StatusAndCatalogFetchShowWhatTheAgentServes) {
  auto status = runFotelloctl({"status", address()});
  EXPECT_EQ(status.status, 0) << status.output;
  EXPECT_EQ(status.output,
            "{\"scanDate\": 100, \"scanError\": {\"domain\": \"ScanErrorDomain\", \"code\": 5, \"description\": "
            "\"no \\\"library\\\"\"}, \"albumDataSHA1\": null, \"currentPhoto\": 3, \"totalPhotos\": 9, \"uuid\": "
            "\"UUID-1\", \"computerName\": \"Kitchen\", \"userName\": \"ann\"}\n");

  auto catalog = runFotelloctl({"catalog", "fetch", address()});
  EXPECT_EQ(catalog.status, 0) << catalog.output;
  EXPECT_NE(catalog.output.find("photos     1 under 1 digests"), std::string::npos) << catalog.output;
  EXPECT_NE(catalog.output.find(fotello::test::digest('e')), std::string::npos);
  auto json = runFotelloctl({"catalog", "fetch", "--json", address(), "--password", "p"});
  EXPECT_EQ(json.status, 0) << json.output;
  EXPECT_EQ(json.output.front(), '{');

  auto refused = runFotelloctl({"status", "127.0.0.1:1"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("failed to get /status"), std::string::npos) << refused.output;
}

}  // namespace
