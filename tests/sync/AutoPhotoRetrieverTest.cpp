#include "sync/AutoPhotoRetriever.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "agent/QVServerThread.h"
#include "catalog/ReceivedDatFile.h"
#include "loomkit/crypto/SHA1Hash.h"
#include "loomkit/io/StringIO.h"
#include "loomkit/plist/DictNode.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/PollMainLoop.h"
#include "tests/catalog/CatalogFixtures.h"
#include "tests/loomkit/http/ClientTestServer.h"
#include "tests/protocol/PhotolibRun.h"
#include "tests/support/TestSupport.h"

using namespace std::chrono_literals;
using fotello::AlbumData;
using fotello::AutoPhotoRetriever;
using fotello::AutoSyncComputer;
using fotello::Photo;
using fotello::PhotoRetrieverRequest;
using fotello::Roll;
using fotello::SavedComputer;
using fotello::test::ScriptedAnswer;
using loomkit::Bytes;
using loomkit::Error;
namespace fs = std::filesystem;

namespace {

const std::string kPeerUUID = "0B5D2F7A-1C3E-4D5F-9A8B-7C6D5E4F3A2B";
constexpr int64_t kMTime = 1234567890;

// A resolved service at fixed addresses, as the browser would hand it out.
class FixedNetService final : public loomkit::NetService {
 public:
  FixedNetService() : NetService("Kitchen", "_fotello._tcp.", "local.") {}
  void resolveWithTimeout(std::chrono::milliseconds) override {}
  void startMonitoring() override {}
  void stop() override {}
  void resolveTo(std::vector<loomkit::ServiceAddress> addresses) { deliverResolved(std::move(addresses), {}); }
};

// A photo record of the peer's catalog: its digest, file, roll and date.
Photo peerPhoto(const std::string& key, const std::string& sha1, const std::string& imagePath, uint64_t roll,
                double date, uint64_t size = 0) {
  using loomkit::IntegerIO;
  using loomkit::StringIO;
  Bytes b;
  StringIO::write(std::string_view(sha1), b);
  StringIO::write(std::nullopt, b);
  StringIO::write(std::string_view(key), b);
  StringIO::write(std::string_view(imagePath), b);
  StringIO::write(std::nullopt, b);
  StringIO::write(std::string_view("/thumbs/t.jpg"), b);
  StringIO::write(std::string_view("1.500000"), b);
  StringIO::write(std::string_view("caption"), b);
  StringIO::write(std::string_view("PNG"), b);
  IntegerIO::writeUInt64(size, b);
  IntegerIO::writeInt64(kMTime, b);
  IntegerIO::writeInt64(0, b);
  for (int i = 0; i < 3; ++i) IntegerIO::writeUInt64(0, b);
  StringIO::write(std::string_view(loomkit::strprintf("%f", date)), b);
  IntegerIO::writeUInt64(roll, b);
  auto in = fotello::test::over(std::move(b));
  return *Photo::initFromStream(*in);
}

Roll roll(int32_t id, std::optional<std::string> name) {
  loomkit::DictNode dict;
  dict.putInt(id, "RollID");
  dict.putString(std::move(name), "RollName");
  dict.putInt(1, "PhotoCount");
  return Roll(dict);
}

// A PNG the photo library takes, made distinct by its size.
std::string png(uint32_t n) { return fotello::test::pngFile(100 + n, 50 + n); }

// Every regular file below dir, relative to it.
std::set<std::string> filesBelow(const std::string& dir) {
  std::set<std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_regular_file()) files.insert(fs::relative(it->path(), dir).string());
  }
  return files;
}

struct Progress : fotello::PhotoRetrieverDelegate {
  std::vector<std::string> calls;
  std::atomic<bool> offMainThread{false};
  void autoPhotoRetrieverPulled(uint64_t index, uint64_t total, const AutoSyncComputer& computer) override {
    if (!loomkit::MainLoop::main()->isMainThread()) offMainThread = true;
    calls.push_back(loomkit::strprintf("%llu/%llu %s", static_cast<unsigned long long>(index),
                                       static_cast<unsigned long long>(total), computer.computerName().c_str()));
  }
};

// An application whose import fails as a tool would.
class FailingImport final : public fotello::PhotoApplication {
 public:
  explicit FailingImport(std::string library) : library_(std::move(library)) {}
  std::optional<std::string> currentLibraryPath() override { return library_; }
  std::optional<std::string> version(Error*) override { return "9.0"; }
  bool isRunning() override { return false; }
  bool quit(Error*) override { return true; }
  bool openLibrary(const std::string&, Error*) override { return true; }
  bool importFolder(const std::string&, bool, Error* error) override {
    return loomkit::setError(error, fotello::kPhotoApplicationErrorDomain, 3, "the library is locked");
  }

 private:
  std::string library_;
};

class AutoPhotoRetrieverTest : public ::testing::Test {
 protected:
  AutoPhotoRetrieverTest() : home_("FOTELLO_HOME", homeDir_.path()) {
    library_ = photolib_.library("Local.photolibrary");
    EXPECT_EQ(photolib_.run({"open", library_}), 0);
    service_->resolveTo({*loomkit::ServiceAddress::fromNumericHost("127.0.0.1", static_cast<uint16_t>(server_.port()))});
    EXPECT_TRUE(loop_.runUntil([&] { return !service_->addresses().empty(); }, 5s));
    server_.handler.route("/albumdata", [this](const loomkit::ServerHTTPRequest&, int) {
      std::lock_guard lock(catalogMutex_);
      std::vector<Photo> photos = photos_;
      AlbumData catalog(std::nullopt, std::move(photos), {}, rolls_, 100.0);
      Bytes bytes = fotello::test::written([&](loomkit::BufferedOutputStream& out) { return catalog.writeToStream(out); });
      return ScriptedAnswer::answer(200, std::string(bytes.begin(), bytes.end()));
    });
  }

  // Offers a photo in the catalog and serves its bytes; returns its digest.
  std::string offer(const std::string& imagePath, const std::string& bytes, uint64_t rollId = 1,
                    uint64_t announcedSize = 0) {
    const std::string sha1 = loomkit::SHA1Hash::hashData(bytes.data(), bytes.size());
    std::lock_guard lock(catalogMutex_);
    photos_.push_back(peerPhoto(std::to_string(photos_.size() + 1), sha1, imagePath, rollId,
                                1000.0 + static_cast<double>(photos_.size()), announcedSize));
    server_.handler.route(fullsize(sha1), ScriptedAnswer::answer(200, bytes, {{"Content-Type", "image/png"}}));
    return sha1;
  }
  void addRoll(int32_t id, std::optional<std::string> name) {
    std::lock_guard lock(catalogMutex_);
    rolls_.push_back(roll(id, std::move(name)));
  }
  static std::string fullsize(const std::string& sha1) { return "/photos/" + sha1 + "/fullsize"; }

  AutoPhotoRetriever::Environment environment() {
    AutoPhotoRetriever::Environment env;
    env.freeBytes = [this](const std::string& path, Error*) -> std::optional<uint64_t> {
      freeSpacePaths_.push_back(path);
      return freeBytes_;
    };
    env.sleep = [this](std::chrono::duration<double> d) {
      sleeps_.push_back(d.count());
      if (onSleep_) onSleep_();
    };
    return env;
  }
  std::unique_ptr<AutoPhotoRetriever> retriever(AutoPhotoRetriever::Environment env,
                                                std::shared_ptr<loomkit::NetService> service) {
    PhotoRetrieverRequest request{library_, nullptr, AutoSyncComputer(kPeerUUID, "Kitchen", std::move(service)),
                                  SavedComputer(kPeerUUID, 0, {}), nullptr, &progress_};
    return std::make_unique<AutoPhotoRetriever>(request, std::move(env));
  }
  std::unique_ptr<AutoPhotoRetriever> retriever() { return retriever(environment(), service_); }

  std::vector<std::string> retrievalLogLines() const {
    std::vector<std::string> lines;
    std::ifstream in(fotello::RetrievalLog::defaultPath());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::unordered_set<std::string> received() const {
    return fotello::ReceivedDatFile(library_).allSHA1s().value_or(std::unordered_set<std::string>{});
  }
  // The photos in the local library's originals.
  std::set<std::string> libraryOriginals() const { return filesBelow(library_ + "/Originals"); }

  fotello::test::TempDir homeDir_;
  fotello::test::ScopedEnv home_;
  loomkit::PollMainLoop loop_;
  struct Installed {
    explicit Installed(loomkit::MainLoop& loop) { loomkit::MainLoop::setMain(&loop); }
    ~Installed() { loomkit::MainLoop::setMain(nullptr); }
  } installed_{loop_};
  fotello::test::PrivatePhotolib photolib_;
  std::string library_;
  fotello::test::ScriptedServer server_;
  std::shared_ptr<FixedNetService> service_ = std::make_shared<FixedNetService>();
  std::mutex catalogMutex_;
  std::vector<Photo> photos_;  // guarded by catalogMutex_
  std::vector<Roll> rolls_;    // guarded by catalogMutex_
  Progress progress_;
  uint64_t freeBytes_ = 500 * AutoPhotoRetriever::kBytesPerGB;
  std::vector<std::string> freeSpacePaths_;
  std::vector<double> sleeps_;
  std::function<void()> onSleep_;
};

TEST_F(AutoPhotoRetrieverTest, NothingWantedMakesAPrivateFolderAndImportsNothing) {
  // A pass of an agent that was killed left its partial download behind.
  const std::string stale = homeDir_.path() + "/Data.noindex/incoming/pass-OLD123";
  fs::create_directories(stale);
  fotello::test::writeFile(stale + "/half.jpg", "half");
  auto r = retriever();
  Error error;
  ASSERT_TRUE(r->initialize(&error)) << error.text();
  EXPECT_FALSE(r->hasRemainingItems());
  EXPECT_EQ(r->wantedCount(), 0u);

  const std::string root = homeDir_.path() + "/Data.noindex/incoming";
  EXPECT_EQ(fs::path(r->tempDir()).parent_path().string(), root);
  struct stat st;
  ASSERT_EQ(::stat(r->tempDir().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat(root.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_FALSE(fs::exists(stale));

  EXPECT_TRUE(r->importItemsIntoIPhoto(&error));
  EXPECT_EQ(r->itemsImportedCount(), 0u);
  EXPECT_TRUE(libraryOriginals().empty());
  EXPECT_TRUE(retrievalLogLines().empty());

  // A folder of someone else's beside ours stays; only our own goes.
  const std::string other = root + "/manual-1";
  fs::create_directory(other);
  r->cleanUp();
  EXPECT_FALSE(fs::exists(r->tempDir()));
  EXPECT_TRUE(fs::exists(other));
}

TEST_F(AutoPhotoRetrieverTest, PassOnThePullThreadStoresByRollImportsAndRecords) {
  addRoll(1, "Summer");
  const std::string a = offer("/peer/Originals/Summer/IMG.PNG", png(1), 1);
  const std::string b = offer("/peer/Originals/Other/IMG.PNG", png(2), 1);
  const std::string c = offer("/peer/Originals/x/solo.png", png(3), 99);  // unknown roll

  auto r = retriever();
  std::set<std::string> files;
  std::vector<std::string> logBeforeImport;
  std::unordered_set<std::string> receivedBeforeImport;
  Error error;
  bool ok = false;
  std::atomic<bool> done{false};
  std::thread pull([&] {
    r->setMinFreeDiskSpaceGB(10);
    ok = r->initialize(&error);
    while (ok && r->hasRemainingItems()) ok = r->pullNextItem(&error);
    if (ok) {
      files = filesBelow(r->tempDir());
      logBeforeImport = retrievalLogLines();
      receivedBeforeImport = received();
      ok = r->importItemsIntoIPhoto(&error);
    }
    done = true;
  });
  ASSERT_TRUE(loop_.runUntil([&] { return done.load(); }, 60s));
  pull.join();
  ASSERT_TRUE(ok) << error.text();

  EXPECT_EQ(files, (std::set<std::string>{"Summer/IMG.PNG", "Summer/IMG_2.PNG", "solo.png"}));
  EXPECT_EQ(r->pulledPhotosCount(), 3u);
  EXPECT_EQ(progress_.calls, (std::vector<std::string>{"0/3 Kitchen", "1/3 Kitchen", "2/3 Kitchen"}));
  EXPECT_FALSE(progress_.offMainThread);
  struct stat st;
  ASSERT_EQ(::stat((r->tempDir() + "/solo.png").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, kMTime);
  EXPECT_EQ(freeSpacePaths_, std::vector<std::string>(3, r->tempDir()));
  EXPECT_TRUE(sleeps_.empty());

  EXPECT_TRUE(logBeforeImport.empty());
  EXPECT_TRUE(receivedBeforeImport.empty());
  EXPECT_EQ(r->itemsImportedCount(), 3u);
  EXPECT_EQ(libraryOriginals().size(), 3u);
  EXPECT_EQ(received(), (std::unordered_set<std::string>{a, b, c}));
  std::vector<std::string> lines = retrievalLogLines();
  ASSERT_EQ(lines.size(), 3u);
  std::multiset<std::string> tails;
  for (const std::string& line : lines) tails.insert(line.substr(line.find(" retrieved ")));
  EXPECT_EQ(tails, (std::multiset<std::string>{" retrieved Kitchen:/peer/Originals/Summer/IMG.PNG",
                                               " retrieved Kitchen:/peer/Originals/Other/IMG.PNG",
                                               " retrieved Kitchen:/peer/Originals/x/solo.png"}));

  r->cleanUp();
  EXPECT_FALSE(fs::exists(r->tempDir()));

  // What was received is not wanted again.
  auto again = retriever();
  ASSERT_TRUE(again->initialize(&error)) << error.text();
  EXPECT_FALSE(again->hasRemainingItems());
}

TEST_F(AutoPhotoRetrieverTest, HostileNamesStayInsideTheDownloadFolder) {
  struct Case {
    std::optional<std::string> rollName;
    std::string imagePath;
  };
  const std::vector<Case> cases = {
      {"../x", "/peer/../x"},   {"/etc/y", "/etc/y"},      {"", "/peer/"},         {std::nullopt, "/peer/.."},
      {"..", "/peer/\x01.png"}, {".", "/peer/a\\..\\b"},   {"a/../../z", "/peer/."}, {"ok\nroll", "relative"}, {"fine", ""},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    addRoll(static_cast<int32_t>(i + 1), cases[i].rollName);
    offer(cases[i].imagePath, png(static_cast<uint32_t>(i)), i + 1);
  }
  auto r = retriever();
  Error error;
  ASSERT_TRUE(r->initialize(&error)) << error.text();
  while (r->hasRemainingItems()) ASSERT_TRUE(r->pullNextItem(&error)) << error.text();

  const std::string root = homeDir_.path() + "/Data.noindex/incoming";
  EXPECT_EQ(filesBelow(r->tempDir()).size(), cases.size());
  EXPECT_EQ(filesBelow(root).size(), cases.size());  // nothing landed beside the folder
  for (const auto& [path, photo] : r->pulledPhotosByPath()) {
    const std::string relative = fs::relative(path, r->tempDir()).string();
    const fs::path parts(relative);
    EXPECT_LE(std::distance(parts.begin(), parts.end()), 2) << relative;
    for (const fs::path& part : parts) EXPECT_TRUE(part != ".." && part != "." && !part.empty()) << relative;
    EXPECT_EQ(fs::weakly_canonical(path).string().rfind(r->tempDir() + "/", 0), 0u) << path;
    const std::string name = fs::path(path).filename().string();
    EXPECT_NE(name[0], '.') << name;
    for (char ch : relative) EXPECT_GE(static_cast<unsigned char>(ch), 0x20) << relative;
  }
  EXPECT_FALSE(fs::exists(homeDir_.path() + "/Data.noindex/x"));
  EXPECT_FALSE(fs::exists(homeDir_.path() + "/z"));
}

TEST_F(AutoPhotoRetrieverTest, FreeSpaceBelowTheMinimumFailsAtOnce) {
  const std::string sha1 = offer("/peer/a.png", png(1));
  auto r = retriever();
  Error error;
  ASSERT_TRUE(r->initialize(&error));
  r->setMinFreeDiskSpaceGB(10);

  freeBytes_ = 9900000000ULL;
  EXPECT_FALSE(r->pullNextItem(&error));
  EXPECT_TRUE(error.is(AutoPhotoRetriever::errorDomain(), AutoPhotoRetriever::kFreeSpaceCode));
  EXPECT_EQ(error.description(), "Free disk space is below the minimum 10GB");
  EXPECT_EQ(server_.handler.requestCount(fullsize(sha1)), 0);
  EXPECT_TRUE(sleeps_.empty());
  EXPECT_EQ(r->pulledPhotosCount(), 0u);

  // A file may not take the space below the minimum either: it stops at once and is removed.
  freeBytes_ = 10 * AutoPhotoRetriever::kBytesPerGB + png(1).size() - 1;
  EXPECT_FALSE(r->pullNextItem(&error));
  EXPECT_EQ(error.description(), "Free disk space is below the minimum 10GB");
  EXPECT_EQ(server_.handler.requestCount(fullsize(sha1)), 1);
  EXPECT_TRUE(sleeps_.empty());
  EXPECT_TRUE(filesBelow(r->tempDir()).empty());

  freeBytes_ += 1;  // just enough
  EXPECT_TRUE(r->pullNextItem(&error)) << error.text();
  EXPECT_EQ(freeSpacePaths_, std::vector<std::string>(3, r->tempDir()));
}

TEST_F(AutoPhotoRetrieverTest, TheFileSystemOfTheDownloadFolderIsAskedByDefault) {
  offer("/peer/a.png", png(1));
  AutoPhotoRetriever::Environment env = environment();
  env.freeBytes = nullptr;
  auto r = retriever(std::move(env), service_);
  Error error;
  ASSERT_TRUE(r->initialize(&error));
  r->setMinFreeDiskSpaceGB(1000000000);  // no disk has an exabyte free
  EXPECT_FALSE(r->pullNextItem(&error));
  EXPECT_EQ(error.description(), "Free disk space is below the minimum 1000000000GB");
  r->setMinFreeDiskSpaceGB(UINT64_MAX / 1000);  // would wrap around if multiplied out
  EXPECT_FALSE(r->pullNextItem(&error));
  EXPECT_TRUE(error.is(AutoPhotoRetriever::errorDomain(), AutoPhotoRetriever::kFreeSpaceCode));
  r->setMinFreeDiskSpaceGB(0);
  EXPECT_TRUE(r->pullNextItem(&error)) << error.text();
}

TEST_F(AutoPhotoRetrieverTest, FailedAttemptsBackOffAndLeaveNoFile) {
  const std::string bytes = png(7);
  const std::string sha1 = offer("/peer/Roll/a.png", bytes);
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(bytes.size()) + "\r\n\r\n";
  struct Case {
    const char* name;
    std::function<ScriptedAnswer()> failure;
    bool resendsOnce = false;
  };
  const std::vector<Case> cases = {
      {"status 503", [] { return ScriptedAnswer::answer(503, "busy", {{"Content-Type", "text/plain"}}); }},
      {"body cut off", [&] { return ScriptedAnswer::raw(head + bytes.substr(0, bytes.size() / 2), true); }},
      {"reset", [] { return ScriptedAnswer::reset(); }, true},
      {"other bytes", [] { return ScriptedAnswer::answer(200, png(8)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sleeps_.clear();
    auto requests = std::make_shared<std::atomic<int>>(0);
    server_.handler.route(fullsize(sha1), [&, requests](const loomkit::ServerHTTPRequest&, int) {
      return ++*requests <= 3 ? c.failure() : ScriptedAnswer::answer(200, bytes);
    });
    auto r = retriever();
    std::vector<size_t> filesWhileWaiting;
    onSleep_ = [&] { filesWhileWaiting.push_back(filesBelow(r->tempDir()).size()); };
    Error error;
    ASSERT_TRUE(r->initialize(&error));
    ASSERT_TRUE(r->pullNextItem(&error)) << error.text();
    EXPECT_EQ(requests->load(), 4);
    if (c.resendsOnce) {
      // The client itself sends a request once more when a kept-alive connection was reset
      // before any answer, so the retriever may see one failure fewer.
      EXPECT_EQ(sleeps_, (std::vector<double>{1, 2}));
    } else {
      EXPECT_EQ(sleeps_, (std::vector<double>{1, 2, 4}));
    }
    EXPECT_EQ(filesWhileWaiting, std::vector<size_t>(sleeps_.size(), 0));
    EXPECT_EQ(filesBelow(r->tempDir()), std::set<std::string>{"a.png"});
    EXPECT_EQ(*loomkit::SHA1Hash::hashFile(r->tempDir() + "/a.png"), sha1);
    onSleep_ = nullptr;
    r->cleanUp();
  }
}

TEST_F(AutoPhotoRetrieverTest, FiveFailuresEndThePhotoAndNothingIsImported) {
  const std::string sha1 = offer("/peer/a.png", png(1), 1, png(1).size());
  struct Case {
    const char* name;
    ScriptedAnswer answer;
    std::string domain;
    int64_t code;
  };
  const std::vector<Case> cases = {
      {"status", ScriptedAnswer::answer(500, "oops"), "HTTPErrorDomain", 500},
      {"digest", ScriptedAnswer::answer(200, png(2)), std::string(AutoPhotoRetriever::errorDomain()),
       AutoPhotoRetriever::kDigestMismatchCode},
      {"longer than announced", ScriptedAnswer::answer(200, png(1) + std::string(1 << 20, 'x')),
       std::string(AutoPhotoRetriever::errorDomain()), AutoPhotoRetriever::kDigestMismatchCode},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sleeps_.clear();
    server_.handler.route(fullsize(sha1), c.answer);
    auto r = retriever();
    Error error;
    ASSERT_TRUE(r->initialize(&error));
    EXPECT_FALSE(r->pullNextItem(&error));
    EXPECT_TRUE(error.is(c.domain, c.code)) << error.text();
    EXPECT_EQ(sleeps_, (std::vector<double>{1, 2, 4, 8}));
    EXPECT_EQ(r->pulledPhotosCount(), 0u);
    EXPECT_TRUE(r->hasRemainingItems());
    EXPECT_TRUE(filesBelow(r->tempDir()).empty());
    EXPECT_TRUE(r->importItemsIntoIPhoto(&error));
    EXPECT_EQ(r->itemsImportedCount(), 0u);
    r->cleanUp();
  }
  EXPECT_TRUE(libraryOriginals().empty());
  EXPECT_TRUE(received().empty());
  EXPECT_TRUE(retrievalLogLines().empty());
}

TEST_F(AutoPhotoRetrieverTest, AJpegCountsByItsImageDataDigest) {
  // Metadata in front of the scan: the photo digest leaves it out, the plain digest does not.
  std::string jpeg = "\xFF\xD8\xFF\xE1";
  jpeg += std::string("\x00\x06", 2) + "meta";
  jpeg += "\xFF\xDA";
  jpeg += std::string("\x00\x04\x01\x02", 4) + "image data" + "\xFF\xD9";
  const std::string path = homeDir_.file("probe.jpg");
  fotello::test::writeFile(path, jpeg);
  const std::string photoDigest = *loomkit::SHA1Hash::hashPhoto(path);
  ASSERT_NE(photoDigest, *loomkit::SHA1Hash::hashFile(path));
  {
    std::lock_guard lock(catalogMutex_);
    photos_.push_back(peerPhoto("1", photoDigest, "/peer/p.jpg", 1, 1000));
  }
  server_.handler.route(fullsize(photoDigest), ScriptedAnswer::answer(200, jpeg));
  auto r = retriever();
  Error error;
  ASSERT_TRUE(r->initialize(&error));
  EXPECT_TRUE(r->pullNextItem(&error)) << error.text();
  EXPECT_TRUE(sleeps_.empty());
}

TEST_F(AutoPhotoRetrieverTest, AFailedImportRecordsNothing) {
  offer("/peer/a.png", png(1));
  FailingImport application(library_);
  AutoPhotoRetriever::Environment env = environment();
  env.application = &application;
  auto r = retriever(std::move(env), service_);
  Error error;
  ASSERT_TRUE(r->initialize(&error));
  ASSERT_TRUE(r->pullNextItem(&error));
  EXPECT_FALSE(r->importItemsIntoIPhoto(&error));
  EXPECT_TRUE(error.is("MutableSyncComputerControllerErrorDomain", -1));
  EXPECT_EQ(error.description(), "failed to import photos via AppleScript: error 3: the library is locked");
  EXPECT_EQ(r->itemsImportedCount(), 0u);
  EXPECT_TRUE(received().empty());
  EXPECT_TRUE(retrievalLogLines().empty());
}

// A catalog at hand, for a peer that cannot be asked.
struct FixedSource final : fotello::PeerDataSource {
  std::shared_ptr<const AlbumData> catalog;
  std::shared_ptr<const AlbumData> albumDataFromRemoteComputer(const fotello::RemoteComputer&, Error*) override {
    return catalog;
  }
  std::unique_ptr<fotello::IQVAgentStatus> statusFromRemoteComputer(const fotello::RemoteComputer&,
                                                                    Error* error) override {
    loomkit::setError(error, "FixedSource", -1, "no status");
    return nullptr;
  }
};

TEST_F(AutoPhotoRetrieverTest, APeerWithoutItsServiceFailsEveryAttempt) {
  FixedSource source;
  source.catalog = std::make_shared<AlbumData>(
      std::nullopt, std::vector<Photo>{peerPhoto("1", std::string(40, 'a'), "/peer/a.png", 1, 1000)},
      std::vector<fotello::Album>{}, std::vector<Roll>{}, 100.0);
  AutoPhotoRetriever::Environment env = environment();
  env.source = &source;
  auto r = retriever(std::move(env), nullptr);
  Error error;
  ASSERT_TRUE(r->initialize(&error)) << error.text();
  ASSERT_TRUE(r->hasRemainingItems());
  EXPECT_FALSE(r->pullNextItem(&error));
  EXPECT_TRUE(error.is(AutoPhotoRetriever::errorDomain(), AutoPhotoRetriever::kServiceGoneCode));
  EXPECT_EQ(error.description(), "The Fotello service went away");
  EXPECT_EQ(sleeps_, (std::vector<double>{1, 2, 4, 8}));
}

struct QuietServerDelegate final : fotello::QVServerThreadDelegate {
  void serverThreadWillProcessConnection(fotello::QVServerThread&) override {}
  void serverThreadDidProcessConnection(fotello::QVServerThread&) override {}
  void serverThreadLocalPasswordError(const Error&) override {}
};

TEST_F(AutoPhotoRetrieverTest, PullsFromTheAgentsOwnServer) {
  // The peer: real files in a folder, cataloged with their digests, served by the agent's server.
  fotello::test::TempDir peerDir;
  std::vector<Photo> photos;
  std::set<std::string> peerDigests;
  for (int i = 0; i < 3; ++i) {
    const std::string path = peerDir.file(loomkit::strprintf("shot%d.png", i));
    fotello::test::writeFile(path, png(static_cast<uint32_t>(20 + i)));
    Photo photo(std::to_string(i + 1));
    photo.setString(path, "ImagePath");
    photo.setReal(1000.0 + i, "DateAsTimerInterval");
    ASSERT_TRUE(photo.updateSHA1s());
    peerDigests.insert(std::string(*photo.originalSHA1()));
    photos.push_back(std::move(photo));
  }
  QuietServerDelegate delegate;
  fotello::QVServerThread agent(0, INADDR_LOOPBACK);
  agent.setDelegate(&delegate);
  agent.start();
  agent.setLocalAlbumData(std::make_shared<AlbumData>(peerDir.path(), std::move(photos), std::vector<fotello::Album>{},
                                                      std::vector<Roll>{}, 100.0));
  auto service = std::make_shared<FixedNetService>();
  service->resolveTo({*loomkit::ServiceAddress::fromNumericHost("127.0.0.1", static_cast<uint16_t>(agent.port()))});
  ASSERT_TRUE(loop_.runUntil([&] { return !service->addresses().empty(); }, 5s));

  auto r = retriever(environment(), service);
  Error error;
  bool ok = false;
  std::atomic<bool> done{false};
  std::thread pull([&] {
    ok = r->initialize(&error);
    while (ok && r->hasRemainingItems()) ok = r->pullNextItem(&error);
    if (ok) ok = r->importItemsIntoIPhoto(&error);
    done = true;
  });
  ASSERT_TRUE(loop_.runUntil([&] { return done.load(); }, 60s));
  pull.join();
  ASSERT_TRUE(ok) << error.text();
  r->cleanUp();
  agent.stop();

  std::set<std::string> importedDigests;
  for (const std::string& name : libraryOriginals()) {
    importedDigests.insert(*loomkit::SHA1Hash::hashPhoto(library_ + "/Originals/" + name));
  }
  EXPECT_EQ(importedDigests, peerDigests);
  EXPECT_EQ(retrievalLogLines().size(), 3u);
  EXPECT_EQ(received().size(), 3u);
}

TEST(AutoPhotoRetrieverNames, UniquePathsNumberBeforeTheExtension) {
  fotello::test::TempDir dir;
  auto taken = [&](const std::string& name) { fotello::test::writeFile(dir.file(name), "x"); };
  taken("IMG.JPG");
  taken("IMG_2.JPG");
  taken("README");
  taken("x.tar.gz");
  taken("odd.jp-g");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"IMG.JPG", "IMG_3.JPG"}, {"README", "README_2"},         {"x.tar.gz", "x.tar_2.gz"},
      {"odd.jp-g", "odd.jp-g_2"}, {"new.png", "new.png"},
  };
  for (const auto& [name, expected] : cases) {
    EXPECT_EQ(AutoPhotoRetriever::uniquePath(dir.file(name)), dir.file(expected)) << name;
  }
}

}  // namespace
