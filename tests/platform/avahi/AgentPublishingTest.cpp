// Two agent processes with the same computer name on one avahi-daemon: both are announced, one
// under a suffixed name, with TXT records that carry each one's status and follow its library.
// Run only as
//   tests/netns/with-avahi build/tests/avahi_tests
// (the agents are children of this process, so they run in the private namespace too).
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "loomkit/http/NetServices.h"
#include "loomkit/shared/Computer.h"
#include "loomkit/shared/PollMainLoop.h"
#include "platform/AvahiServiceRegistry.h"
#include "protocol/AppConfig.h"
#include "protocol/IQVAgentStatus.h"
#include "tests/support/NetServiceEvents.h"
#include "tests/support/TestSupport.h"

using namespace std::chrono_literals;
using fotello::IQVAgentStatus;
using fotello::test::ChildProcess;
using fotello::test::NetServiceEvents;
using loomkit::NetServices;

namespace {

// The socket inodes a process listens on with TCP (from /proc/net/tcp and tcp6 of its namespace).
bool listensOnTCP(int pid) {
  std::set<std::string> listening;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string sl, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> sl >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      if (state == "0A") listening.insert("socket:[" + inode + "]");
    }
  }
  std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* dir = ::opendir(fdDir.c_str());
  if (!dir) return false;
  bool found = false;
  while (dirent* entry = ::readdir(dir)) {
    char target[128];
    ssize_t n = ::readlink((fdDir + "/" + entry->d_name).c_str(), target, sizeof target - 1);
    if (n > 0 && listening.count(std::string(target, n))) found = true;
  }
  ::closedir(dir);
  return found;
}

// The program's path from $PATH (ChildProcess runs paths, not names).
std::string onPath(const std::string& program) {
  std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
  for (std::string dir; std::getline(path, dir, ':');) {
    if (::access((dir + "/" + program).c_str(), X_OK) == 0) return dir + "/" + program;
  }
  return program;
}

struct Agent {
  fotello::test::TempDir home;
  std::string library = home.file("Library");
  std::unique_ptr<ChildProcess> process;
  std::string publishedName;

  std::map<std::string, std::string> env() const {
    return {{"FOTELLO_HOME", home.path()}, {"XDG_CONFIG_HOME", home.file("xdg")}, {"DISPLAY", ""},
            {"WAYLAND_DISPLAY", ""}};
  }
};

class AgentPublishingTest : public ::testing::Test {
 protected:
  AgentPublishingTest() { loomkit::MainLoop::setMain(&loop_); }
  ~AgentPublishingTest() override {
    for (auto& service : browsing_.found) service->setDelegate(nullptr);
    browser_.reset();
    registry_.reset();
    loomkit::MainLoop::setMain(nullptr);
  }

  void SetUp() override {
    ASSERT_NE(std::getenv("FOTELLO_NETNS"), nullptr) << "run as: tests/netns/with-avahi build/tests/avahi_tests";
    registry_ = std::make_unique<fotello::AvahiServiceRegistry>();
    ASSERT_TRUE(loop_.runUntil([&] { return registry_->isConnected(); }, 10s)) << "no avahi-daemon";
  }

  int run(const std::vector<std::string>& argv, const Agent& agent, std::string* output = nullptr) {
    ChildProcess child(argv, agent.env());
    std::optional<int> status = child.wait(120s);
    if (output) *output = child.output();
    EXPECT_EQ(status.value_or(-1), 0) << argv[0] << ": " << child.output();
    return status.value_or(-1);
  }

  // Clips of clipBytes (sparse: hashing takes time, the disk nothing), from first on, indexed
  // in place by photolib.
  void addClips(Agent& agent, int first, int count, off_t clipBytes) {
    std::filesystem::create_directories(agent.library);
    for (int i = first; i < first + count; ++i) {
      std::string clip = agent.library + "/clip" + std::to_string(i) + ".mov";
      int fd = ::open(clip.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(::ftruncate(fd, clipBytes), 0);
      std::string first4 = std::to_string(i) + "#";  // its own digest
      ASSERT_EQ(::pwrite(fd, first4.data(), first4.size(), 0), static_cast<ssize_t>(first4.size()));
      ::close(fd);
    }
    run({fotello::test::programPath("tools/photolib"), "index", agent.library}, agent);
  }

  void startAgent(Agent& agent) {
    {
      fotello::test::ScopedEnv home("FOTELLO_HOME", agent.home.path());
      fotello::AppConfig config;
      ASSERT_TRUE(config.loadWithCreateNew(true));
      config.setIPhotoLibraryPath(agent.library);
      config.setTzLogLevel(4);
    }
    agent.process = std::make_unique<ChildProcess>(
        std::vector<std::string>{fotello::test::programPath("agent/fotello-agent")}, agent.env());
  }

  // Waits until the agent says under which name it is announced.
  bool waitForPublication(Agent& agent, std::chrono::seconds timeout) {
    static const std::regex published("netServiceDidPublish: name = ([^\n]*)");
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::smatch match;
    for (;;) {
      std::string out = agent.process->output();
      if (std::regex_search(out, match, published)) {
        agent.publishedName = match[1];
        return true;
      }
      if (std::chrono::steady_clock::now() >= deadline || !agent.process->running()) return false;
      loop_.runUntil([] { return false; }, 50ms);
    }
  }

  // The agent's status as this process's own browser sees it now.
  std::unique_ptr<IQVAgentStatus> seen(const std::string& name) {
    auto service = browsing_.foundNamed(name);
    // Not resolved yet, or the empty record: no status.
    if (!service || service->txtRecordData().size() <= 1) return nullptr;
    return IQVAgentStatus::newWithTXTRecordData(service->txtRecordData());
  }

  loomkit::PollMainLoop loop_;
  std::unique_ptr<fotello::AvahiServiceRegistry> registry_;
  NetServiceEvents browsing_;
  std::unique_ptr<loomkit::ServiceBrowser> browser_;
};

TEST_F(AgentPublishingTest, TwoAgentsOfOneNameAreBothAnnouncedWithTheirOwnStatus) {
  const std::string computerName = loomkit::Computer::name();
  Agent kitchen, den;
  addClips(kitchen, 0, 40, 64 << 20);  // 2.5 GB to hash: the first scan takes a few seconds
  addClips(den, 100, 3, 4096);

  // Watch from the start, so that the records before the first catalog are seen too.
  browser_ = registry_->newBrowser(NetServices::serviceType(), &browsing_);
  std::map<std::string, std::vector<std::unique_ptr<IQVAgentStatus>>> history;
  struct Recorder : NetServiceEvents {
    std::map<std::string, std::vector<std::unique_ptr<IQVAgentStatus>>>* history;
    void netServiceDidResolveAddress(const std::shared_ptr<loomkit::NetService>& s) override {
      NetServiceEvents::netServiceDidResolveAddress(s);
      record(s->name(), s->txtRecordData());
      s->startMonitoring();
    }
    void netServiceDidUpdateTXTRecordData(const std::shared_ptr<loomkit::NetService>& s,
                                          const loomkit::Bytes& data) override {
      NetServiceEvents::netServiceDidUpdateTXTRecordData(s, data);
      record(s->name(), data);
    }
    void record(const std::string& name, const loomkit::Bytes& data) {
      if (data.size() <= 1) return;  // the empty record carries no status
      if (auto status = IQVAgentStatus::newWithTXTRecordData(data)) (*history)[name].push_back(std::move(status));
    }
  } recorder;
  recorder.history = &history;

  startAgent(kitchen);
  bool kitchenPublished = waitForPublication(kitchen, 20s);
  if (!kitchenPublished && kitchen.process->running() && !listensOnTCP(kitchen.process->pid())) {
    GTEST_SKIP() << "this agent does not serve yet, so it never publishes; log:\n" << kitchen.process->output();
  }
  ASSERT_TRUE(kitchenPublished) << kitchen.process->output();
  startAgent(den);
  ASSERT_TRUE(waitForPublication(den, 20s)) << den.process->output();

  // One name each: the first agent got the computer's name, the second the next suffix.
  EXPECT_EQ(kitchen.publishedName, computerName);
  EXPECT_EQ(den.publishedName, computerName + "-1");
  EXPECT_NE(den.process->output().find("did not publish name " + computerName +
                                       ": name collision; retrying with a different name"),
            std::string::npos)
      << den.process->output();

  ASSERT_TRUE(loop_.runUntil(
      [&] { return browsing_.foundNamed(kitchen.publishedName) && browsing_.foundNamed(den.publishedName); }, 10s));
  for (const std::string& name : {kitchen.publishedName, den.publishedName}) {
    auto service = browsing_.foundNamed(name);
    service->setDelegate(&recorder);
    service->resolveWithTimeout();
  }

  // The first catalogs: Kitchen's after its progress, Den's at once.
  ASSERT_TRUE(loop_.runUntil(
      [&] {
        auto k = seen(kitchen.publishedName), d = seen(den.publishedName);
        return k && k->albumDataSHA1() && d && d->albumDataSHA1();
      },
      90s))
      << kitchen.process->output();
  EXPECT_EQ(seen(kitchen.publishedName)->totalPhotos(), 40u);
  EXPECT_EQ(seen(den.publishedName)->totalPhotos(), 3u);
  const auto& kitchenHistory = history[kitchen.publishedName];
  ASSERT_FALSE(kitchenHistory.empty());
  EXPECT_FALSE(kitchenHistory.front()->albumDataSHA1()) << "the scan's progress is announced before its catalog";
  std::string progress;
  for (const auto& status : kitchenHistory) {
    progress += std::to_string(status->currentPhoto()) + "/" + std::to_string(status->totalPhotos()) +
                (status->albumDataSHA1() ? "+digest " : " ");
  }
  std::printf("Kitchen's records: %s\n", progress.c_str());

  // avahi-browse shows both, and fotelloctl decodes each record to that agent's status.
  std::string browse;
  run({onPath("avahi-browse"), "-rpt", "_fotello._tcp"}, kitchen, &browse);
  std::map<std::string, std::string> decoded;
  std::istringstream lines(browse);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("=;", 0) != 0) continue;
    std::vector<std::string> fields;
    size_t at = 0;
    for (int i = 0; i < 9; ++i) {
      size_t semicolon = line.find(';', at);
      if (semicolon == std::string::npos) break;
      fields.push_back(line.substr(at, semicolon - at));
      at = semicolon + 1;
    }
    if (fields.size() < 9 || fields[2] != "IPv4") continue;
    std::string status;
    run({fotello::test::programPath("tools/fotelloctl"), "peers", "--decode", line.substr(at)}, kitchen, &status);
    decoded[fields[3]] = status;
  }
  // avahi-browse escapes the names' special characters; ours are plain host names.
  ASSERT_EQ(decoded.count(kitchen.publishedName), 1u) << browse;
  ASSERT_EQ(decoded.count(den.publishedName), 1u) << browse;
  EXPECT_NE(decoded[kitchen.publishedName].find("computer=" + computerName + " photos=40 digest=" +
                                                *seen(kitchen.publishedName)->albumDataSHA1()),
            std::string::npos)
      << decoded[kitchen.publishedName];
  EXPECT_NE(decoded[den.publishedName].find("photos=3 digest=" + *seen(den.publishedName)->albumDataSHA1()),
            std::string::npos)
      << decoded[den.publishedName];

  // The headless view of the network lists both agents with the same status (the second one
  // listens on another port: the first has the default one).
  std::string peers;
  run({fotello::test::programPath("tools/fotelloctl"), "peers", "--wait", "3"}, kitchen, &peers);
  for (const Agent* agent : {&kitchen, &den}) {
    auto status = seen(agent->publishedName);
    std::regex line("(^|\n)" + agent->publishedName + "\taddress=[^ ]+ port=[0-9]+ computer=" +
                    computerName + " photos=" + std::to_string(status->totalPhotos()) + " digest=" +
                    *status->albumDataSHA1() + " progress=" + std::to_string(status->totalPhotos()) + "/" +
                    std::to_string(status->totalPhotos()) + "\n");
    EXPECT_TRUE(std::regex_search(peers, line)) << peers;
  }

  // A library change: the rescan's catalog is announced within the 6-second pacing of its
  // reports (the scan itself is quick: only the new clips are hashed).
  std::string before = *seen(den.publishedName)->albumDataSHA1();
  auto changed = std::chrono::steady_clock::now();
  addClips(den, 200, 2, 4096);
  ASSERT_TRUE(loop_.runUntil(
      [&] {
        auto d = seen(den.publishedName);
        return d && d->albumDataSHA1() && *d->albumDataSHA1() != before;
      },
      20s))
      << den.process->output();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - changed).count();
  std::printf("Den's new catalog announced %.1f s after the library change\n", seconds);
  EXPECT_EQ(seen(den.publishedName)->totalPhotos(), 5u);
  EXPECT_LT(seconds, 6.0 + 4.0);
  EXPECT_TRUE(kitchen.process->running());
  EXPECT_TRUE(den.process->running());
}

}  // namespace
