// Two agent processes on one avahi-daemon, each on its own photolib library: the second marks the
// first automatic and pulls the first one's photos into its own library, once each, and a photo
// added to the first library later follows. Run only as
//   tests/netns/with-avahi build/tests/avahi_tests
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "loomkit/crypto/SHA1Hash.h"
#include "loomkit/shared/PollMainLoop.h"
#include "tests/support/TestSupport.h"
#include "tests/tools/photolib/TestJpeg.h"

using namespace std::chrono_literals;
using fotello::test::ChildProcess;

namespace {

struct SyncingAgent {
  fotello::test::TempDir home;
  std::string library = home.file("Library");
  std::string uuid;
  int port = 0;
  std::unique_ptr<ChildProcess> process;

  std::map<std::string, std::string> env() const {
    return {{"FOTELLO_HOME", home.path()},
            {"XDG_CONFIG_HOME", home.file("xdg")},
            {"FOTELLO_PHOTOLIB", fotello::test::programPath("tools/photolib")},
            {"DISPLAY", ""},
            {"WAYLAND_DISPLAY", ""}};
  }
  std::string retrievalLog() const { return home.file("log/retrieval_log.txt"); }
};

// The photo digest of each photo file under folder, counted (a photo pulled twice counts 2).
std::map<std::string, int> photoDigests(const std::string& folder) {
  std::map<std::string, int> digests;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_regular_file()) continue;
    std::string extension = it->path().extension().string();
    if (extension != ".jpg" && extension != ".JPG") continue;
    if (auto sha1 = loomkit::SHA1Hash::hashPhoto(it->path().string())) ++digests[*sha1];
  }
  return digests;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) result.push_back(line);
  }
  return result;
}

class AutoSyncEndToEndTest : public ::testing::Test {
 protected:
  AutoSyncEndToEndTest() { loomkit::MainLoop::setMain(&loop_); }
  ~AutoSyncEndToEndTest() override { loomkit::MainLoop::setMain(nullptr); }

  void SetUp() override {
    ASSERT_NE(std::getenv("FOTELLO_NETNS"), nullptr) << "run as: tests/netns/with-avahi build/tests/avahi_tests";
  }

  int run(const std::vector<std::string>& argv, const SyncingAgent& agent, std::string* output = nullptr) {
    ChildProcess child(argv, agent.env());
    std::optional<int> status = child.wait(30s);
    if (output) *output = child.output();
    EXPECT_EQ(status.value_or(-1), 0) << argv[0] << " " << (argv.size() > 1 ? argv[1] : "") << ": "
                                      << child.output();
    return status.value_or(-1);
  }

  static std::string photolib() { return fotello::test::programPath("tools/photolib"); }
  static std::string fotelloctl() { return fotello::test::programPath("tools/fotelloctl"); }

  // count JPEG photos of their own sizes (so their digests differ) in a new folder, imported into
  // the agent's library.
  void importPhotos(SyncingAgent& agent, const std::string& name, int count, int firstWidth) {
    std::string folder = agent.home.file(name);
    std::filesystem::create_directories(folder);
    for (int i = 0; i < count; ++i) {
      fotello::test::writeFile(folder + "/" + name + "-" + std::to_string(i) + ".jpg",
                               fotello::test::jpegFile(firstWidth + 8 * i, 48 + 8 * i));
    }
    run({photolib(), "import", agent.library, folder}, agent);
  }

  // A library with the photos, a configuration on it, and the agent on both at INFO.
  void startAgent(SyncingAgent& agent, const std::string& name, int count, int firstWidth) {
    run({photolib(), "create", agent.library}, agent);
    importPhotos(agent, name, count, firstWidth);
    run({photolib(), "open", agent.library}, agent);
    run({fotelloctl(), "config", "init", "--library", agent.library}, agent);
    run({fotelloctl(), "config", "set", "tzLogLevel", "info"}, agent);
    agent.process = std::make_unique<ChildProcess>(
        std::vector<std::string>{fotello::test::programPath("agent/fotello-agent")}, agent.env());
  }

  // Waits until the agent has cataloged and announced its library; reads its port and identifier.
  void waitUntilServing(SyncingAgent& agent) {
    ASSERT_TRUE(waitFor([&] {
      std::string out = agent.process->output();
      return out.find("netServiceDidPublish") != std::string::npos &&
             out.find("Finished cataloging photos") != std::string::npos;
    }, 30s, &agent)) << agent.process->output();
    static const std::regex bound("bound at port ([0-9]+)");
    std::smatch match;
    std::string out = agent.process->output();
    ASSERT_TRUE(std::regex_search(out, match, bound)) << out;
    agent.port = std::stoi(match[1]);
    std::string status;
    ASSERT_EQ(run({fotelloctl(), "status", "127.0.0.1:" + std::to_string(agent.port)}, agent, &status), 0);
    static const std::regex uuid("\"uuid\": \"([^\"]+)\"");
    ASSERT_TRUE(std::regex_search(status, match, uuid)) << status;
    agent.uuid = match[1];
  }

  template <typename Condition>
  bool waitFor(Condition condition, std::chrono::seconds timeout, SyncingAgent* watched = nullptr) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (condition()) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      if (watched && !watched->process->running()) return condition();
      loop_.runUntil([] { return false; }, 100ms);
    }
  }

  static std::vector<std::string> logLines(const SyncingAgent& agent) {
    if (!std::filesystem::exists(agent.retrievalLog())) return {};
    return lines(fotello::test::readFile(agent.retrievalLog()));
  }

  loomkit::PollMainLoop loop_;
};

}  // namespace

TEST_F(AutoSyncEndToEndTest, AnAutomaticPeersPhotosArriveOnceEachAndOnlyOneWay) {
  SyncingAgent kitchen, den;
  startAgent(kitchen, "kitchen", 3, 64);
  startAgent(den, "den", 2, 200);
  waitUntilServing(kitchen);
  waitUntilServing(den);
  ASSERT_FALSE(HasFailure());
  const std::map<std::string, int> kitchenBefore = photoDigests(kitchen.library + "/Originals");
  const std::map<std::string, int> denOwn = photoDigests(den.library + "/Originals");
  ASSERT_EQ(kitchenBefore.size(), 3u);
  ASSERT_EQ(denOwn.size(), 2u);

  // Den marks kitchen automatic: den pulls from kitchen, kitchen (which marked nobody) from no one.
  ASSERT_EQ(run({fotelloctl(), "auto", "add", kitchen.uuid}, den), 0);
  ASSERT_TRUE(waitFor([&] { return logLines(den).size() >= 3; }, 30s, &den)) << den.process->output();

  // Each of kitchen's photos is in den's library once, with kitchen's digest, beside den's own.
  auto expectDenHolds = [&](const std::map<std::string, int>& kitchenPhotos) {
    std::map<std::string, int> denNow = photoDigests(den.library + "/Originals");
    for (const auto& [digest, count] : kitchenPhotos) EXPECT_EQ(denNow[digest], 1) << "kitchen's photo " << digest;
    for (const auto& [digest, count] : denOwn) EXPECT_EQ(denNow[digest], 1) << "den's own photo " << digest;
    EXPECT_EQ(denNow.size(), kitchenPhotos.size() + denOwn.size());
    std::vector<std::string> log = logLines(den);
    EXPECT_EQ(log.size(), kitchenPhotos.size()) << fotello::test::readFile(den.retrievalLog());
    for (const std::string& line : log) EXPECT_NE(line.find(" retrieved "), std::string::npos) << line;
  };
  // Give a second, duplicate pull the time to show before counting.
  loop_.runUntil([] { return false; }, 2s);
  expectDenHolds(kitchenBefore);

  // A photo added to kitchen's library later arrives as well, and only it.
  importPhotos(kitchen, "later", 1, 400);
  std::map<std::string, int> kitchenAfter = photoDigests(kitchen.library + "/Originals");
  ASSERT_EQ(kitchenAfter.size(), 4u);
  ASSERT_TRUE(waitFor([&] { return logLines(den).size() >= 4; }, 30s, &den)) << den.process->output();
  loop_.runUntil([] { return false; }, 2s);
  expectDenHolds(kitchenAfter);

  // Nothing went the other way.
  EXPECT_EQ(photoDigests(kitchen.library + "/Originals"), kitchenAfter);
  EXPECT_TRUE(logLines(kitchen).empty()) << fotello::test::readFile(kitchen.retrievalLog());
  EXPECT_TRUE(kitchen.process->running()) << kitchen.process->output();
  EXPECT_TRUE(den.process->running()) << den.process->output();
}
