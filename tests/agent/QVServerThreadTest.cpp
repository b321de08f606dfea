// The agent's HTTP service over real loopback sockets: protocol version and password checks, the
// five routes with their answers, files from the catalog, connections, binding and stopping.
#include "agent/QVServerThread.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <thread>

#include "agent/ScanThread.h"
#include "loomkit/crypto/MD5Hash.h"
#include "loomkit/io/DataOutputStream.h"
#include "loomkit/io/Gzip.h"
#include "loomkit/io/Streams.h"
#include "loomkit/shared/Computer.h"
#include "loomkit/shared/NotificationCenter.h"
#include "loomkit/shared/PollMainLoop.h"
#include "protocol/AppConfig.h"
#include "protocol/IQVAgentStatus.h"
#include "protocol/IQVKeyChain.h"
#include "tests/catalog/CatalogFixtures.h"
#include "tests/loomkit/httpserver/HTTPTestPeers.h"
#include "tests/support/TestSupport.h"

using fotello::AlbumData;
using fotello::QVServerThread;
using fotello::test::LogCapture;
using fotello::test::TestClient;
using namespace std::chrono_literals;

namespace {

const std::string kVersion = "X-QV-Version: 2\r\n";

std::string bodyOf(const std::string& response) {
  size_t end = response.find("\r\n\r\n");
  return end == std::string::npos ? "" : response.substr(end + 4);
}
std::string headOf(const std::string& response) { return response.substr(0, response.find("\r\n\r\n") + 4); }

// The whole error answer the server writes: no "Connection" header.
std::string errorAnswer(int code, const std::string& phrase, const std::string& message) {
  return "HTTP/1.1 " + std::to_string(code) + " " + phrase + "\r\nContent-Type: text/plain\r\nContent-Length: " +
         std::to_string(message.size()) + "\r\n\r\n" + message;
}
std::string okHead(const std::string& type, size_t length, const std::string& extra = "") {
  return "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\n" + extra + "Content-Length: " + std::to_string(length) +
         "\r\nConnection: keep-alive\r\n\r\n";
}

loomkit::Bytes serialized(const AlbumData& catalog) {
  return fotello::test::written([&](loomkit::BufferedOutputStream& out) { return catalog.writeToStream(out); });
}

// Counts the connection reports and where each report ran.
class RecordingDelegate : public fotello::QVServerThreadDelegate {
 public:
  void serverThreadWillProcessConnection(QVServerThread&) override {
    if (!loomkit::MainLoop::main()->isMainThread()) offMainThread = true;
    ++willProcess;
  }
  void serverThreadDidProcessConnection(QVServerThread&) override {
    if (!loomkit::MainLoop::main()->isMainThread()) offMainThread = true;
    ++didProcess;
  }
  void serverThreadLocalPasswordError(const loomkit::Error& error) override {
    if (loomkit::MainLoop::main()->isMainThread()) passwordErrorOnMainThread = true;
    ++passwordErrors;
  }

  int willProcess = 0;  // main thread
  int didProcess = 0;   // main thread
  std::atomic<bool> offMainThread{false};
  std::atomic<int> passwordErrors{0};
  std::atomic<bool> passwordErrorOnMainThread{false};
};

class QVServerThreadTest : public ::testing::Test {
 protected:
  QVServerThreadTest() {
    loomkit::MainLoop::setMain(&loop_);
    scanThread_.setAppConfig(&config_);
    config_.setUuid("1234-ABCD");
  }
  ~QVServerThreadTest() override {
    server_.reset();
    loomkit::MainLoop::setMain(nullptr);
  }

  // A server on a free loopback port (or the given one) serving catalog.
  void startServer(std::shared_ptr<const AlbumData> catalog, int port = 0) {
    server_ = std::make_unique<QVServerThread>(port, INADDR_LOOPBACK);
    server_->setDelegate(&delegate_);
    server_->setScanThread(&scanThread_);
    server_->start();
    server_->setLocalAlbumData(std::move(catalog));
  }

  // Runs the client on a thread of its own while the main loop delivers the server's reports.
  void asClient(const std::function<void()>& client) {
    std::atomic<bool> done{false};
    std::thread thread([&] {
      client();
      done = true;
    });
    EXPECT_TRUE(loop_.runUntil([&] { return done.load(); }, 30s));
    thread.join();
  }
  // One request on a connection of its own; the whole response, empty when none came.
  std::string get(const std::string& path, const std::string& headers = kVersion) {
    std::string response;
    asClient([&] {
      TestClient client(server_->port());
      client.get(path, headers);
      response = client.readResponse();
    });
    return response;
  }
  // Waits until the server reported as many ended connections as started ones.
  bool connectionsSettled() {
    return loop_.runUntil([&] { return delegate_.didProcess == delegate_.willProcess && server_->connectionCount() == 0; },
                          10s);
  }

  std::string file(const std::string& name, size_t bytes) {
    std::string contents(bytes, '\0');
    for (size_t i = 0; i < bytes; ++i) contents[i] = static_cast<char>((i * 7919 + name.size()) % 251);
    fotello::test::writeFile(dir_.file(name), contents);
    return contents;
  }
  // A catalog of the photos, with the given scan date.
  std::shared_ptr<AlbumData> catalogOf(std::vector<fotello::Photo> photos) {
    return std::make_shared<AlbumData>(dir_.path(), std::move(photos), std::vector<fotello::Album>{},
                                       std::vector<fotello::Roll>{}, 700000000.0);
  }
  fotello::Photo photo(char digest, const std::string& imageName, std::optional<std::string> thumbName) {
    fotello::Photo p = fotello::test::photoWith(std::string(1, digest), fotello::test::digest(digest), std::nullopt,
                                                dir_.file(imageName));
    p.setString(thumbName ? dir_.file(*thumbName) : "", "ThumbPath");
    return p;
  }

  fotello::test::TempDir dir_;
  fotello::test::ScopedEnv home_{"FOTELLO_HOME", dir_.path()};
  loomkit::PollMainLoop loop_;
  fotello::AppConfig config_;
  fotello::ScanThread scanThread_;
  RecordingDelegate delegate_;
  std::unique_ptr<QVServerThread> server_;
};

TEST_F(QVServerThreadTest, VersionIsCheckedFirstThenThePasswordExceptForTheIcon) {
  startServer(catalogOf({}));
  const std::string wrongVersion = errorAnswer(403, "Unknown", "Access denied: invalid Fotello version");
  const std::string denied = errorAnswer(403, "Unknown", "Access denied");
  std::string digest = loomkit::MD5Hash::hashString("sécret");
  std::string upper = digest;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  struct Case {
    bool required;
    const char* path;
    std::string headers;
    std::optional<std::string> answer;  // the whole answer, or nothing for a 200
  };
  const Case cases[] = {
      {false, "/iconimage", "", wrongVersion},
      {false, "/status", "X-QV-Version: 1\r\n", wrongVersion},
      {false, "/status", "X-QV-Version: 2 \r\n", wrongVersion},
      {false, "/status", kVersion, std::nullopt},
      {true, "/iconimage", "x-qv-version: 2\r\n", std::nullopt},
      {true, "/iconimage", "", wrongVersion},
      {true, "/status", kVersion, denied},
      {true, "/status", kVersion + "X-QV-PasswordMD5: " + upper + "\r\n", denied},
      {true, "/status", kVersion + "X-QV-PasswordMD5: " + digest.substr(0, 31) + "\r\n", denied},
      {true, "/status", kVersion + "x-qv-passwordmd5: " + digest + "\r\n", std::nullopt},
      {true, "/photos/x/preview", kVersion, denied},
  };
  ASSERT_TRUE(fotello::IQVKeyChain::setLocalPassword("sécret"));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " with " + c.headers);
    server_->setPasswordRequired(c.required);
    std::string response = get(c.path, c.headers);
    if (c.answer) {
      EXPECT_EQ(response, *c.answer);
    } else {
      EXPECT_TRUE(response.starts_with("HTTP/1.1 200 OK\r\n")) << response;
    }
  }
  EXPECT_TRUE(connectionsSettled());
  EXPECT_EQ(delegate_.willProcess, static_cast<int>(std::size(cases)));
  EXPECT_FALSE(delegate_.offMainThread);
}

TEST_F(QVServerThreadTest, RequiredPasswordThatWasNeverSetLetsRequestsInButAnUnreadableStoreAnswers500) {
  startServer(catalogOf({}));
  server_->setPasswordRequired(true);
  EXPECT_TRUE(get("/status").starts_with("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(delegate_.passwordErrors, 0);

  fotello::test::writeFile(dir_.file("passwords.plist"), "<plist><dict><key>broken");
  LogCapture log(loomkit::Log::kInfo);
  std::string response = get("/status");
  EXPECT_TRUE(response.starts_with("HTTP/1.1 500 Internal Server Error\r\nContent-Type: text/plain\r\n")) << response;
  EXPECT_TRUE(bodyOf(response).starts_with("Password configuration error: error reading password file ")) << response;
  EXPECT_TRUE(log.contains("error reading local password: error reading password file "));
  EXPECT_EQ(delegate_.passwordErrors, 1);
  EXPECT_FALSE(delegate_.passwordErrorOnMainThread);  // reported on the connection's own thread
  // The icon needs no password, so the store is not read for it.
  EXPECT_TRUE(get("/iconimage", kVersion).starts_with("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(delegate_.passwordErrors, 1);
}

TEST_F(QVServerThreadTest, RoutesAnswerByPathIgnoringQueryAndMethod) {
  std::string image = file("IMG_1.JPG", 1000);
  startServer(catalogOf({photo('a', "IMG_1.JPG", std::nullopt)}));
  const std::string key = fotello::test::digest('a');
  struct Case {
    std::string target;
    std::string answer;
  };
  const Case cases[] = {
      {"/photos/abc/preview", errorAnswer(404, "Not Found", "Unrecognized photo type")},
      {"/photos/" + key + "/preview", errorAnswer(404, "Not Found", "Unrecognized photo type")},
      {"/photos/abc", errorAnswer(404, "Not Found", "Path not found")},
      {"/photos/a/b/c", errorAnswer(404, "Not Found", "Path not found")},
      {"/photos//fullsize", errorAnswer(404, "Not Found", "Path not found")},
      {"/photos/abc/", errorAnswer(404, "Not Found", "Path not found")},
      {"/status/", errorAnswer(404, "Not Found", "Path not found")},
      {"/", errorAnswer(404, "Not Found", "Path not found")},
      {"/photos/abc/fullsize", errorAnswer(404, "Not Found", "Photo abc not found")},
      {"/photos/../../etc/passwd/fullsize", errorAnswer(404, "Not Found", "Path not found")},
      {"/photos/..%2F..%2Fetc%2Fpasswd/fullsize",
       errorAnswer(404, "Not Found", "Photo ..%2F..%2Fetc%2Fpasswd not found")},
      {"/photos/" + key + "/fullsize?x=1", okHead("image/jpeg", image.size()) + image},
      {"/photos/" + key + "/thumbnail",
       errorAnswer(404, "Not Found",
                   "Thumbnail not found for sha1 " + key + " photo <Photo: key=a originalPath=" + dir_.file("IMG_1.JPG") +
                       " modifiedPath=(null) originalSHA1=" + key + " modifiedSHA1=(null)>")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(get(c.target), c.answer) << c.target;
  }

  // The status record of the cataloging thread, also with a query string and another method.
  std::string expected(loomkit::textOf(scanThread_.status()->txtRecordData()));
  EXPECT_EQ(get("/status?x=1"), okHead("application/octet-stream", expected.size()) + expected);
  std::string posted;
  asClient([&] {
    TestClient client(server_->port());
    client.send("POST /status HTTP/1.0\r\n" + kVersion + "\r\n");
    posted = client.readResponse();
  });
  EXPECT_EQ(bodyOf(posted), expected);
  auto parsed = fotello::IQVAgentStatus::newWithTXTRecordData(loomkit::bytesOf(bodyOf(posted)));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->uuid(), "1234-ABCD");

  // The icon file, written when the server bound.
  std::optional<loomkit::Bytes> icon = loomkit::Computer::imageData(dir_.path());
  ASSERT_TRUE(icon);
  std::string iconText(loomkit::textOf(*icon));
  EXPECT_EQ(get("/iconimage"), okHead("application/octet-stream", iconText.size()) + iconText);
}

TEST_F(QVServerThreadTest, AlbumDataIsTheGzippedCatalogCompressedOncePerCatalog) {
  startServer(nullptr);
  EXPECT_EQ(get("/albumdata"), errorAnswer(404, "Not Found", "Album data not available"));

  std::vector<fotello::Photo> photos;
  for (char c : std::string("0123456789abcdef")) photos.push_back(photo(c, "p.jpg", "t.jpg"));
  auto catalog = catalogOf(std::move(photos));
  server_->setLocalAlbumData(catalog);
  LogCapture log(loomkit::Log::kDebug);
  std::string first = get("/albumdata");
  std::string second = get("/albumdata");
  EXPECT_EQ(log.count("compressed album data: "), 1u);
  ASSERT_TRUE(first.starts_with("HTTP/1.1 200 OK\r\n")) << first;
  EXPECT_EQ(headOf(first), okHead("application/octet-stream", bodyOf(first).size(), "Content-Encoding: gzip\r\n"));
  EXPECT_EQ(first, second);
  std::string body = bodyOf(first);
  auto inflated = loomkit::Gzip::gzipInflate({reinterpret_cast<const uint8_t*>(body.data()), body.size()});
  ASSERT_TRUE(inflated);
  EXPECT_EQ(*inflated, serialized(*catalog));
  auto loaded = AlbumData::newFromData(std::make_shared<loomkit::Bytes>(*inflated));
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(loaded->isEqualToAlbumData(*catalog));

  // A new catalog is served from then on; dropping it answers 404 again.
  auto smaller = catalogOf({photo('1', "p.jpg", std::nullopt)});
  server_->setLocalAlbumData(smaller);
  body = bodyOf(get("/albumdata"));
  inflated = loomkit::Gzip::gzipInflate({reinterpret_cast<const uint8_t*>(body.data()), body.size()});
  ASSERT_TRUE(inflated);
  EXPECT_EQ(*inflated, serialized(*smaller));
  server_->setLocalAlbumData(nullptr);
  EXPECT_EQ(get("/albumdata"), errorAnswer(404, "Not Found", "Album data not available"));
}

TEST_F(QVServerThreadTest, FilesComeFromTheCatalogWithTheirTypeAndOnlyIfRegular) {
  std::string png = file("IMG_1.PNG", 300 * 1024 + 17);
  std::string mov = file("CLIP.MOV", 5000);
  std::string thumb = file("t.JPEG", 900);
  ASSERT_EQ(::mkfifo(dir_.file("pipe.jpg").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir_.file("IMG_1.PNG"), dir_.file("link.jpg"));
  std::filesystem::create_directory(dir_.file("folder.jpg"));
  startServer(catalogOf({photo('1', "IMG_1.PNG", "t.JPEG"), photo('2', "CLIP.MOV", "gone.jpg"),
                         photo('3', "pipe.jpg", "link.jpg"), photo('4', "folder.jpg", std::nullopt)}));
  auto target = [](char c, const char* kind) { return "/photos/" + fotello::test::digest(c) + "/" + kind; };

  EXPECT_EQ(get(target('1', "fullsize")), okHead("application/octet-stream", png.size()) + png);
  EXPECT_EQ(get(target('1', "thumbnail")), okHead("image/jpeg", thumb.size()) + thumb);
  EXPECT_EQ(get(target('2', "fullsize")), okHead("video/quicktime", mov.size()) + mov);
  EXPECT_EQ(get(target('2', "thumbnail")),
            errorAnswer(404, "Not Found", "Image file " + dir_.file("gone.jpg") + " not found"));
  // Neither a FIFO (which would block the connection), nor a link, nor a folder is sent.
  EXPECT_EQ(get(target('3', "fullsize")),
            errorAnswer(404, "Not Found",
                        "Error getting attributes of image file: " + dir_.file("pipe.jpg") + " is not a regular file"));
  EXPECT_EQ(get(target('3', "thumbnail")),
            errorAnswer(404, "Not Found",
                        "Error getting attributes of image file: " + dir_.file("link.jpg") +
                            ": Too many levels of symbolic links"));
  EXPECT_EQ(get(target('4', "fullsize")),
            errorAnswer(404, "Not Found",
                        "Error getting attributes of image file: " + dir_.file("folder.jpg") +
                            " is not a regular file"));

  // Paced transfers send the same bytes and headers.
  loomkit::Streams::setThrottleType(loomkit::Streams::kThrottleFixedRate);
  loomkit::Streams::setThrottleKBPS(1000000);
  std::string paced = get(target('1', "fullsize"));
  loomkit::Streams::setThrottleType(loomkit::Streams::kThrottleNone);
  EXPECT_EQ(paced, okHead("application/octet-stream", png.size()) + png);
}

TEST(QVServerThreadContentTypeTest, TypeFollowsTheLowerCasedEnding) {
  const std::pair<const char*, const char*> cases[] = {
      {"/a/IMG_1.PNG", "application/octet-stream"}, {"/a/CLIP.MOV", "video/quicktime"},
      {"/a/b.jpg", "image/jpeg"},                   {"/a/b.JPEG", "image/jpeg"},
      {"/a/b.avi", "video/x-msvideo"},              {"/a/b.m4u", "video/vnd.mpegurl"},
      {"/a/b.M4V", "video/x-m4v"},                  {"/a/b.movie", "video/x-sgi-movie"},
      {"/a/b.mp4", "video/mp4"},                    {"/a/b.mpe", "video/mpeg"},
      {"/a/b.mpeg", "video/mpeg"},                  {"/a/b.MPG", "video/mpeg"},
      {"/a/jpg", "application/octet-stream"},       {"/a/b.jpg.tif", "application/octet-stream"},
      {"", "application/octet-stream"},
  };
  for (const auto& [path, type] : cases) EXPECT_EQ(QVServerThread::contentTypeForPath(path), type) << path;
}

TEST_F(QVServerThreadTest, RequestsOfOneConnectionAreAnsweredInOrderAndSilentClientsAreCut) {
  fotello::test::ScopedReadTimeout timeout(1);
  std::string image = file("IMG_1.JPG", 2000);
  startServer(catalogOf({photo('a', "IMG_1.JPG", std::nullopt)}));
  asClient([&] {
    TestClient client(server_->port());
    client.get("/nothing", kVersion);
    client.get("/photos/" + fotello::test::digest('a') + "/fullsize", kVersion);
    client.get("/albumdata", kVersion);
    EXPECT_EQ(client.readResponse(), errorAnswer(404, "Not Found", "Path not found"));
    EXPECT_EQ(client.readResponse(), okHead("image/jpeg", image.size()) + image);
    EXPECT_TRUE(client.readResponse().starts_with("HTTP/1.1 200 OK\r\n"));

    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(client.closedByServer());  // silent for the read time-out
    EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
  });
  EXPECT_TRUE(connectionsSettled());
  EXPECT_EQ(delegate_.willProcess, 1);
  EXPECT_EQ(delegate_.didProcess, 1);
}

TEST_F(QVServerThreadTest, PortInUseFallsBackToAnyPortAndBindingHappensOnce) {
  loomkit::ServerListenSocket occupied(INADDR_LOOPBACK);
  int taken = 0;
  ASSERT_TRUE(occupied.bindAndListenAtAnyPort(taken));
  std::vector<int> notified;
  auto token = loomkit::NotificationCenter::defaultCenter().addObserver(
      QVServerThread::kDidBindAndListenNotification,
      [&](const loomkit::Notification& n) { notified.push_back(std::any_cast<int>(n.userInfo.at("port"))); });
  LogCapture log(loomkit::Log::kInfo);

  startServer(nullptr, taken);
  ASSERT_EQ(notified.size(), 1u);
  EXPECT_NE(notified[0], taken);
  EXPECT_EQ(server_->port(), notified[0]);
  EXPECT_TRUE(log.contains("port " + std::to_string(taken) + " was in use; binding at a random port"));
  EXPECT_TRUE(log.contains("bound at port " + std::to_string(notified[0])));
  EXPECT_TRUE(get("/status").starts_with("HTTP/1.1 200 OK\r\n"));

  server_->setLocalAlbumData(catalogOf({}));
  EXPECT_EQ(notified.size(), 1u);
  loomkit::NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(QVServerThreadTest, DestructionEndsTheAcceptingLoopAndOpenConnectionsPromptly) {
  startServer(catalogOf({}));
  std::atomic<bool> closed{false};
  std::unique_ptr<TestClient> idle;
  asClient([&] { idle = std::make_unique<TestClient>(server_->port()); });
  ASSERT_TRUE(loop_.runUntil([&] { return delegate_.willProcess == 1; }, 10s));
  std::thread watcher([&] { closed = idle->closedByServer(); });
  auto start = std::chrono::steady_clock::now();
  server_.reset();  // within the 10 s accept wait and the 60 s read time-out
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  watcher.join();
  EXPECT_TRUE(closed);
}

}  // namespace
