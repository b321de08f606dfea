// Two agent processes on one avahi-daemon: a record written with `fotelloctl auto add` on the
// first for the second makes the first track the second as an automatic peer. Run only as
//   tests/netns/with-avahi build/tests/avahi_tests
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "loomkit/shared/PollMainLoop.h"
#include "protocol/AppConfig.h"
#include "tests/support/TestSupport.h"

using namespace std::chrono_literals;
using fotello::test::ChildProcess;

namespace {

struct TrackedAgent {
  fotello::test::TempDir home;
  std::string library = home.file("Library");
  std::string uuid;
  std::unique_ptr<ChildProcess> process;

  std::map<std::string, std::string> env() const {
    return {{"FOTELLO_HOME", home.path()}, {"XDG_CONFIG_HOME", home.file("xdg")}, {"DISPLAY", ""},
            {"WAYLAND_DISPLAY", ""}};
  }
};

class AgentTrackingTest : public ::testing::Test {
 protected:
  AgentTrackingTest() { loomkit::MainLoop::setMain(&loop_); }
  ~AgentTrackingTest() override { loomkit::MainLoop::setMain(nullptr); }

  void SetUp() override {
    ASSERT_NE(std::getenv("FOTELLO_NETNS"), nullptr) << "run as: tests/netns/with-avahi build/tests/avahi_tests";
  }

  int run(const std::vector<std::string>& argv, const TrackedAgent& agent, std::string* output = nullptr) {
    ChildProcess child(argv, agent.env());
    std::optional<int> status = child.wait(60s);
    if (output) *output = child.output();
    EXPECT_EQ(status.value_or(-1), 0) << argv[0] << ": " << child.output();
    return status.value_or(-1);
  }

  // A library of two small clips, indexed by photolib, and an agent on it logging at DEBUG.
  void startAgent(TrackedAgent& agent, int firstClip) {
    std::filesystem::create_directories(agent.library);
    for (int i = firstClip; i < firstClip + 2; ++i) {
      fotello::test::writeFile(agent.library + "/clip" + std::to_string(i) + ".mov", std::to_string(i) + "#clip");
    }
    run({fotello::test::programPath("tools/photolib"), "index", agent.library}, agent);
    {
      fotello::test::ScopedEnv home("FOTELLO_HOME", agent.home.path());
      fotello::AppConfig config;
      ASSERT_TRUE(config.loadWithCreateNew(true));
      config.setIPhotoLibraryPath(agent.library);
      config.setTzLogLevel(4);
      agent.uuid = config.uuid();
    }
    agent.process = std::make_unique<ChildProcess>(
        std::vector<std::string>{fotello::test::programPath("agent/fotello-agent")}, agent.env());
  }

  bool waitForOutput(TrackedAgent& agent, const std::string& text, std::chrono::seconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (agent.process->output().find(text) != std::string::npos) return true;
      if (std::chrono::steady_clock::now() >= deadline || !agent.process->running()) return false;
      loop_.runUntil([] { return false; }, 50ms);
    }
  }

  loomkit::PollMainLoop loop_;
};

}  // namespace

TEST_F(AgentTrackingTest, AnAddedPeerIsTrackedAndQueuedByTheFirstAgent) {
  TrackedAgent kitchen, den;
  startAgent(kitchen, 0);
  startAgent(den, 100);
  ASSERT_TRUE(waitForOutput(kitchen, "netServiceDidPublish", 30s)) << kitchen.process->output();
  ASSERT_TRUE(waitForOutput(den, "netServiceDidPublish", 30s)) << den.process->output();
  // Nothing is saved yet: the first agent sees the second, but does not queue it.
  EXPECT_EQ(kitchen.process->output().find("was added; adding to to-do list"), std::string::npos);

  std::string output;
  ASSERT_EQ(run({fotello::test::programPath("tools/fotelloctl"), "auto", "add", den.uuid}, kitchen, &output), 0);

  const std::string peer = "<AutoSyncComputer: uuid=" + den.uuid + " computerName=";
  static const std::regex added("<AutoSyncComputer: uuid=([0-9A-F-]+) computerName=[^>]*> was added; adding to to-do list");
  ASSERT_TRUE(waitForOutput(kitchen, "was added; adding to to-do list", 10s)) << kitchen.process->output();
  std::string log = kitchen.process->output();
  std::smatch match;
  ASSERT_TRUE(std::regex_search(log, match, added)) << log;
  EXPECT_EQ(match[1], den.uuid);
  ASSERT_TRUE(waitForOutput(kitchen, " TXT record did change", 10s)) << kitchen.process->output();
  log = kitchen.process->output();
  size_t addedAt = log.find(peer);
  size_t txtAt = log.find("> TXT record did change", addedAt);
  ASSERT_NE(addedAt, std::string::npos);
  EXPECT_NE(txtAt, std::string::npos) << log;
  // The second agent is only a peer of the first: it queues nobody.
  EXPECT_EQ(den.process->output().find("adding to to-do list"), std::string::npos);

}
