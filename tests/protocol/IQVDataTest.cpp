#include "protocol/IQVData.h"

#include <gtest/gtest.h>

#include "catalog/AlbumData.h"
#include "loomkit/crypto/MD5Hash.h"
#include "loomkit/io/Gzip.h"
#include "loomkit/shared/Computer.h"
#include "protocol/AddressRemoteComputer.h"
#include "protocol/IQVAgentStatus.h"
#include "protocol/IQVKeyChain.h"
#include "tests/catalog/CatalogFixtures.h"
#include "tests/loomkit/http/ClientTestServer.h"
#include "tests/support/TestSupport.h"

using fotello::AddressRemoteComputer;
using fotello::AlbumData;
using fotello::IQVAgentStatus;
using fotello::IQVData;
using fotello::test::ScriptedAnswer;
using fotello::test::ScriptedServer;
using loomkit::Error;
using loomkit::ServiceAddress;

namespace {

constexpr const char* kPeerUUID = "6A1C7E0D-3F4B-4C5D-9E8F-0123456789AB";

ScriptedAnswer text(int code, const std::string& message) {
  return ScriptedAnswer::answer(code, message, {{"Content-Type", "text/plain"}});
}

// The agent's side as far as the client needs it: the version and password checks, "/status",
// "/albumdata" with or without a catalog, and a failing path.
class FakeAgent {
 public:
  FakeAgent() {
    status_ = IQVAgentStatus(100.0, std::nullopt, std::string(40, 'a'), 2, 2, kPeerUUID, "Kitchen", "ann").txtRecordData();
    guard("/status", [this](int) { return ScriptedAnswer::answer(200, std::string(loomkit::textOf(status_))); });
    guard("/albumdata", [this](int) {
      if (catalog_.empty()) return text(404, "Album data not available");
      return ScriptedAnswer::answer(200, catalog_, {{"Content-Type", "application/octet-stream"}, {"Content-Encoding", "gzip"}});
    });
    guard("/boom", [](int) { return text(500, "Error serializing album data: disk full"); });
  }

  // Requests must carry the digest of password from now on; none: no check.
  void requirePassword(const std::optional<std::string>& password) {
    std::lock_guard lock(mutex_);
    digest_ = password ? loomkit::MD5Hash::hashString(*password) : "";
  }
  void serveCatalog(const loomkit::Bytes& bytes) { catalog_ = loomkit::textOf(*loomkit::Gzip::gzipDeflate(bytes)); }
  // Answers the next n requests of path with a reset.
  void resetFirst(const std::string& path, int n) { resets_[path] = n; }

  ServiceAddress ipv4() const { return *ServiceAddress::fromNumericHost("127.0.0.1", static_cast<uint16_t>(server.port())); }
  ServiceAddress ipv6() const { return *ServiceAddress::fromNumericHost("::1", static_cast<uint16_t>(server.port())); }

  ScriptedServer server;

 private:
  void guard(const std::string& path, std::function<ScriptedAnswer(int)> answer) {
    server.handler.route(path, [this, path, answer](const loomkit::ServerHTTPRequest& request, int number) {
      if (number <= resets_[path]) return ScriptedAnswer::reset();
      if (request.headerForKey("X-QV-Version") != "2") return text(403, "Access denied: invalid Fotello version");
      std::string digest;
      {
        std::lock_guard lock(mutex_);
        digest = digest_;
      }
      if (!digest.empty() && request.headerForKey("X-QV-PasswordMD5") != digest) return text(403, "Access denied");
      return answer(number);
    });
  }

  loomkit::Bytes status_;
  std::string catalog_;
  std::mutex mutex_;
  std::string digest_;  // guarded by mutex_
  std::map<std::string, int> resets_;  // read by connection threads; set before any request
};

class TestPeer final : public fotello::RemoteComputer {
 public:
  explicit TestPeer(std::vector<ServiceAddress> addresses) : addresses_(std::move(addresses)) {}
  std::string uuid() const override { return kPeerUUID; }
  std::string computerName() const override { return "Kitchen"; }
  std::shared_ptr<loomkit::NetService> netService() const override { return nullptr; }
  std::vector<ServiceAddress> addresses() const override { return addresses_; }

 private:
  std::vector<ServiceAddress> addresses_;
};

class IQVDataTest : public ::testing::Test {
 protected:
  fotello::test::TempDir home_;
  fotello::test::ScopedEnv fotelloHome_{"FOTELLO_HOME", home_.path()};
  FakeAgent agent_;
};

TEST_F(IQVDataTest, SendsTheProtocolHeadersAndTheDigestOnlyWhenAPasswordIsStored) {
  fotello::test::LogCapture log;
  TestPeer peer({agent_.ipv4()});
  Error error;
  auto data = IQVData::dataFromRemoteComputer(peer, "/status", nullptr, &error);
  ASSERT_TRUE(data) << error.text();
  EXPECT_TRUE(IQVAgentStatus::newWithTXTRecordData(*data));
  auto headers = agent_.server.handler.requests().back();
  EXPECT_EQ(headers["x-qv-version"], "2");
  EXPECT_EQ(headers["x-qv-computername"], loomkit::Computer::name());
  EXPECT_EQ(headers.count("x-qv-passwordmd5"), 0u);
  EXPECT_FALSE(log.contains("error reading password"));
  EXPECT_FALSE(log.contains("WARN"));

  ASSERT_TRUE(fotello::IQVKeyChain::setPasswordForUUID("sesame", kPeerUUID));
  agent_.requirePassword("sesame");
  ASSERT_TRUE(IQVData::dataFromRemoteComputer(peer, "/status", nullptr, &error)) << error.text();
  EXPECT_EQ(agent_.server.handler.requests().back()["x-qv-passwordmd5"], loomkit::MD5Hash::hashString("sesame"));
}

TEST_F(IQVDataTest, AnUnreachableIPv6AddressCostsOneWarningBeforeIPv4Answers) {
  fotello::test::LogCapture log(loomkit::Log::kWarn);
  TestPeer peer({agent_.ipv6(), agent_.ipv4()});  // the agent listens on IPv4 only
  EXPECT_EQ(IQVData::urlsForRemoteComputer(peer, "/status"),
            (std::vector<std::string>{"http://[::1]:" + std::to_string(agent_.server.port()) + "/status",
                                      "http://127.0.0.1:" + std::to_string(agent_.server.port()) + "/status"}));
  Error error;
  EXPECT_TRUE(IQVData::dataFromRemoteComputer(peer, "/status", nullptr, &error)) << error.text();
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find("WARN"), std::string::npos);
  EXPECT_NE(log.lines()[0].find("http://[::1]:" + std::to_string(agent_.server.port()) + "/status failed: connect: "),
            std::string::npos)
      << log.lines()[0];
}

TEST_F(IQVDataTest, AnswersOtherThan200BecomeErrorsAndTheFirstAnswerIsFinal) {
  ASSERT_TRUE(fotello::IQVKeyChain::setPasswordForUUID("wrong", kPeerUUID));
  FakeAgent second;
  TestPeer peer({agent_.ipv4(), second.ipv4()});
  struct Case {
    const char* path;
    bool password;
    std::string domain;
    int64_t code;
    const char* description;
  } cases[] = {
      {"/status", true, "HTTPErrorDomain", 403, "Access denied"},
      {"/nowhere", false, "HTTPErrorDomain", 404, "Path not found"},
      {"/albumdata", false, "HTTPErrorDomain", 404, "Album data not available"},
      {"/boom", false, "NSDataIQVErrorDomain", -1, "Error serializing album data: disk full"},
  };
  for (const Case& c : cases) {
    agent_.requirePassword(c.password ? std::optional<std::string>("right") : std::nullopt);
    Error error;
    EXPECT_FALSE(IQVData::dataFromRemoteComputer(peer, c.path, nullptr, &error)) << c.path;
    EXPECT_EQ(error.domain(), c.domain) << c.path;
    EXPECT_EQ(error.code(), c.code) << c.path;
    EXPECT_EQ(error.description(), c.description) << c.path;
  }
  EXPECT_EQ(second.server.handler.connections, 0);  // never asked
  // An answer that is not text is described by its status alone.
  agent_.server.handler.route("/binary", ScriptedAnswer::answer(503, "\x01\x02"));
  Error error;
  EXPECT_FALSE(IQVData::dataFromRemoteComputer(peer, "/binary", nullptr, &error));
  EXPECT_EQ(error.description(), "HTTP error 503");
}

TEST_F(IQVDataTest, APeerWithoutUsableAddressesFailsWithFailedToGet) {
  for (const auto& addresses : {std::vector<ServiceAddress>{},
                                std::vector<ServiceAddress>{agent_.ipv4().withPort(0)},
                                std::vector<ServiceAddress>{*ServiceAddress::fromNumericHost("127.0.0.1", 1)}}) {
    TestPeer peer(addresses);
    Error error;
    EXPECT_FALSE(IQVData::dataFromRemoteComputer(peer, "/status", nullptr, &error));
    EXPECT_TRUE(error.is("NSDataIQVErrorDomain", -1)) << error.text();
    EXPECT_EQ(error.description(), "failed to get /status");
  }
}

TEST_F(IQVDataTest, AStatusFetchThatMeetsAResetIsMadeOnceMore) {
  fotello::test::LogCapture log(loomkit::Log::kDebug);
  TestPeer peer({agent_.ipv4()});
  agent_.resetFirst("/status", 1);
  Error error;
  auto status = IQVAgentStatus::newFromRemoteComputer(peer, &error);
  ASSERT_TRUE(status) << error.text();
  EXPECT_EQ(status->computerName(), "Kitchen");
  EXPECT_EQ(status->albumDataSHA1(), std::string(40, 'a'));
  EXPECT_EQ(agent_.server.handler.requestCount("/status"), 2);
  EXPECT_TRUE(log.contains("connection was reset getting status from Kitchen; retrying"));

  // Two resets in a row: the second failure is final.
  FakeAgent twice;
  twice.resetFirst("/status", 2);
  TestPeer stubborn({twice.ipv4()});
  EXPECT_FALSE(IQVAgentStatus::newFromRemoteComputer(stubborn, &error));
  EXPECT_EQ(error.description(), "failed to get /status");
  EXPECT_EQ(twice.server.handler.requestCount("/status"), 2);

  // Another failure is not repeated.
  FakeAgent denying;
  denying.requirePassword("secret");
  TestPeer denied({denying.ipv4()});
  EXPECT_FALSE(IQVAgentStatus::newFromRemoteComputer(denied, &error));
  EXPECT_TRUE(error.is("HTTPErrorDomain", 403));
  EXPECT_EQ(denying.server.handler.requestCount("/status"), 1);
}

TEST_F(IQVDataTest, APeersCatalogArrivesDecompressedAndLoads) {
  using fotello::test::digest;
  using fotello::test::photoWith;
  AlbumData served(std::nullopt, {photoWith("1", digest('a'), std::nullopt), photoWith("2", digest('b'), digest('c'))},
                   {}, {}, 100.0);
  agent_.serveCatalog(fotello::test::written([&](loomkit::BufferedOutputStream& out) { return served.writeToStream(out); }));
  auto peer = AddressRemoteComputer::fromHostAndPort("127.0.0.1:" + std::to_string(agent_.server.port()));
  ASSERT_TRUE(peer);
  Error error;
  auto catalog = AlbumData::newFromRemoteComputer(*peer, &error);
  ASSERT_TRUE(catalog) << error.text();
  EXPECT_TRUE(catalog->isEqualToAlbumData(served));
  EXPECT_EQ(catalog->sha1(), served.sha1());
  EXPECT_FALSE(catalog->iPhotoLibraryPath());
}

TEST(AddressRemoteComputerTest, NamesPeersByAddressAndPort) {
  auto v4 = AddressRemoteComputer::fromHostAndPort("10.0.0.2:17600");
  ASSERT_TRUE(v4);
  EXPECT_EQ(IQVData::urlsForRemoteComputer(*v4, "/status"), std::vector<std::string>{"http://10.0.0.2:17600/status"});
  auto v6 = AddressRemoteComputer::fromHostAndPort("[::1]:80", "some-uuid");
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->uuid(), "some-uuid");
  EXPECT_EQ(IQVData::urlsForRemoteComputer(*v6, "/x"), std::vector<std::string>{"http://[::1]:80/x"});
  auto named = AddressRemoteComputer::fromHostAndPort("localhost:8");
  ASSERT_TRUE(named);
  EXPECT_FALSE(named->addresses().empty());
  for (const char* bad : {"10.0.0.2", "10.0.0.2:", ":80", "::1:80", "[::1]", "10.0.0.2:0", "10.0.0.2:65536", "h:8x"}) {
    Error error;
    EXPECT_FALSE(AddressRemoteComputer::fromHostAndPort(bad, "", &error)) << bad;
    EXPECT_EQ(error.description(), std::string("invalid peer address ") + bad);
  }
}

}  // namespace
