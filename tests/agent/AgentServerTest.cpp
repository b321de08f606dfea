// The agent process serving a real photolib library over HTTP: what a peer fetches once the
// library is cataloged, and a flood of idle connections that must not lock out other peers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "catalog/AlbumData.h"
#include "loomkit/crypto/MD5Hash.h"
#include "loomkit/crypto/SHA1Hash.h"
#include "loomkit/io/Gzip.h"
#include "protocol/AppConfig.h"
#include "protocol/IQVAgentStatus.h"
#include "protocol/IQVKeyChain.h"
#include "tests/loomkit/httpserver/HTTPTestPeers.h"
#include "tests/support/TestSupport.h"

using fotello::test::ChildProcess;
using fotello::test::TestClient;
using namespace std::chrono_literals;

namespace {

// What 512 connection threads with their buffers may add to the agent's resident memory; an
// address sanitizer adds its own bookkeeping per thread and allocation.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kRSSGrowthBoundKB = 192 * 1024;
#else
constexpr long kRSSGrowthBoundKB = 64 * 1024;
#endif

std::string bodyOf(const std::string& response) {
  size_t end = response.find("\r\n\r\n");
  return end == std::string::npos ? "" : response.substr(end + 4);
}

// A value of /proc/PID/status such as "VmRSS" (kB) or "Threads"; -1 when unreadable.
long procStatus(int pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with(key + ":")) return std::stol(line.substr(key.size() + 1));
  }
  return -1;
}
// The sockets the process holds open.
int socketCount(int pid) {
  int n = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::error_code linkError;
    if (std::filesystem::read_symlink(entry.path(), linkError).string().starts_with("socket:")) ++n;
  }
  return n;
}

// The connections waiting in the accept queue of the loopback listener at port (from
// /proc/net/tcp, where a listener's receive queue is its accept queue); -1 when not found.
long acceptQueueLength(int port) {
  std::ifstream in("/proc/net/tcp");
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    unsigned slot, localAddress, localPort, remoteAddress, remotePort, state;
    unsigned long txQueue, rxQueue;
    if (std::sscanf(line.c_str(), " %u: %x:%x %x:%x %x %lx:%lx", &slot, &localAddress, &localPort, &remoteAddress,
                    &remotePort, &state, &txQueue, &rxQueue) == 8 &&
        static_cast<int>(localPort) == port && state == 0x0A) {
      return static_cast<long>(rxQueue);
    }
  }
  return -1;
}

class AgentServerTest : public ::testing::Test {
 protected:
  // A library indexed in place by photolib, of clips with distinct contents, and its catalog.
  void makeLibrary(int clips) {
    std::filesystem::create_directories(library_);
    for (int i = 0; i < clips; ++i) {
      std::string contents(3000 + i, static_cast<char>('a' + i));
      fotello::test::writeFile(library_ + "/clip" + std::to_string(i) + ".mov", contents);
    }
    ChildProcess photolib({fotello::test::programPath("tools/photolib"), "index", library_}, env());
    ASSERT_EQ(photolib.wait(60s).value_or(-1), 0) << photolib.output();
    // The saved catalog the agent starts from, as its own scan would leave it.
    ChildProcess scan({fotello::test::programPath("tools/fotelloctl"), "scan", library_}, env());
    ASSERT_EQ(scan.wait(60s).value_or(-1), 0) << scan.output();
  }
  std::map<std::string, std::string> env() const {
    return {{"FOTELLO_HOME", home_.path()},
            {"XDG_CONFIG_HOME", home_.file("xdg")},
            {"DISPLAY", ""},
            {"WAYLAND_DISPLAY", ""}};
  }
  // Starts the agent on the library; returns the port it bound, 0 when it did not bind.
  int startAgent(int logLevel, int readTimeoutSeconds = 60) {
    {
      fotello::test::ScopedEnv home("FOTELLO_HOME", home_.path());
      fotello::AppConfig config;
      EXPECT_TRUE(config.loadWithCreateNew(true));
      config.setIPhotoLibraryPath(library_);
      config.setTzLogLevel(logLevel);
      config.setReadTimeoutSeconds(readTimeoutSeconds);
    }
    agent_ = std::make_unique<ChildProcess>(std::vector<std::string>{fotello::test::programPath("agent/fotello-agent")},
                                            env());
    if (!agent_->waitForOutput("bound at port ", 30s)) return 0;
    std::smatch match;
    std::string out = agent_->output();
    if (!std::regex_search(out, match, std::regex("bound at port (\\d+)"))) return 0;
    return std::stoi(match[1]);
  }

  fotello::test::TempDir home_;
  std::string library_ = home_.file("Pictures/Library");
  std::unique_ptr<ChildProcess> agent_;
};

TEST_F(AgentServerTest, CatalogedLibraryIsServedToPeers) {
  makeLibrary(3);
  int port = startAgent(3);
  ASSERT_NE(port, 0) << agent_->output();

  TestClient client(port);
  client.get("/status", "X-QV-Version: 2\r\nX-QV-ComputerName: peer\r\n");
  std::string status = bodyOf(client.readResponse());
  auto record = fotello::IQVAgentStatus::newWithTXTRecordData(loomkit::bytesOf(status));
  ASSERT_TRUE(record) << status;
  EXPECT_EQ(record->totalPhotos(), 3u);
  ASSERT_TRUE(record->albumDataSHA1());

  client.get("/albumdata", "X-QV-Version: 2\r\n");
  std::string gzipped = bodyOf(client.readResponse());
  auto inflated = loomkit::Gzip::gzipInflate({reinterpret_cast<const uint8_t*>(gzipped.data()), gzipped.size()});
  ASSERT_TRUE(inflated);
  EXPECT_EQ(loomkit::SHA1Hash::hashData(*inflated), *record->albumDataSHA1());
  auto catalog = fotello::AlbumData::newFromData(std::make_shared<loomkit::Bytes>(*inflated));
  ASSERT_TRUE(catalog);
  ASSERT_EQ(catalog->photoCount(), 3u);

  for (const fotello::Photo& photo : catalog->allPhotos()) {
    std::string path(*photo.originalPath());
    client.get("/photos/" + std::string(*photo.originalSHA1()) + "/fullsize", "X-QV-Version: 2\r\n");
    std::string response = client.readResponse();
    EXPECT_TRUE(response.find("Content-Type: video/quicktime\r\n") != std::string::npos) << response;
    EXPECT_EQ(bodyOf(response), fotello::test::readFile(path));
  }
  EXPECT_TRUE(agent_->running());
}

TEST_F(AgentServerTest, PasswordRequirementFollowsTheConfiguration) {
  makeLibrary(1);
  int port = startAgent(3);
  ASSERT_NE(port, 0) << agent_->output();
  fotello::test::ScopedEnv home("FOTELLO_HOME", home_.path());
  ASSERT_TRUE(fotello::IQVKeyChain::setLocalPassword("open sesame"));
  const std::string digest = "X-QV-PasswordMD5: " + loomkit::MD5Hash::hashString("open sesame") + "\r\n";
  // The first line of the answer to "/status", with or without the digest.
  auto statusLine = [&](bool withDigest) {
    TestClient client(port);
    client.get("/status", "X-QV-Version: 2\r\n" + (withDigest ? digest : std::string()));
    std::string response = client.readResponse();
    return response.substr(0, response.find("\r\n"));
  };
  auto becomes = [&](const std::string& line) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (statusLine(false) != line) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(100ms);
    }
    return true;
  };
  EXPECT_EQ(statusLine(false), "HTTP/1.1 200 OK");

  auto setRequired = [&](bool required) {
    fotello::AppConfig config;
    ASSERT_TRUE(config.loadWithCreateNew(false));
    config.setPasswordRequired(required);
  };
  setRequired(true);
  EXPECT_TRUE(becomes("HTTP/1.1 403 Unknown")) << agent_->output();
  EXPECT_EQ(statusLine(true), "HTTP/1.1 200 OK");
  setRequired(false);
  EXPECT_TRUE(becomes("HTTP/1.1 200 OK")) << agent_->output();
}

// 2,000 idle connections from one host: the agent keeps a bounded number of connections, threads
// and memory, still answers other clients within the read time-out, and ends with none open.
TEST_F(AgentServerTest, FloodOfIdleConnectionsLeavesTheAgentServingWithBoundedResources) {
  constexpr int kFlood = 2000;
  constexpr int kReadTimeout = 5;
  rlimit files{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &files), 0);
  if (files.rlim_cur < kFlood + 256) {
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, kFlood + 1024);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &files), 0);
  }
  ASSERT_GE(files.rlim_cur, static_cast<rlim_t>(kFlood + 256));

  makeLibrary(2);
  int port = startAgent(3, kReadTimeout);
  ASSERT_NE(port, 0) << agent_->output();
  const int pid = agent_->pid();
  std::this_thread::sleep_for(300ms);
  const long threadsBefore = procStatus(pid, "Threads");
  const long rssBefore = procStatus(pid, "VmRSS");
  const int socketsBefore = socketCount(pid);

  // Batches that fit the listening backlog, each taken in by the agent before the next: beyond
  // the backlog the kernel itself would drop connections that the client believes open.
  std::vector<int> flood;
  auto deadline = std::chrono::steady_clock::now() + 20s;
  while (flood.size() < static_cast<size_t>(kFlood)) {
    for (int i = 0; i < 100; ++i) {
      int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      ASSERT_GE(fd, 0);
      sockaddr_in server{};
      server.sin_family = AF_INET;
      server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      server.sin_port = htons(static_cast<uint16_t>(port));
      int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server);
      ASSERT_TRUE(rc == 0 || errno == EINPROGRESS) << std::strerror(errno);
      flood.push_back(fd);
    }
    while (acceptQueueLength(port) != 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(2ms);
    }
  }
  int connected = 0;
  for (int fd : flood) {
    pollfd watch{fd, POLLOUT, 0};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (::poll(&watch, 1, std::max<int>(0, static_cast<int>(left.count()))) == 1) {
      int soError = 0;
      socklen_t length = sizeof soError;
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length);
      if (soError == 0) ++connected;
    }
  }
  EXPECT_EQ(connected, kFlood);
  // The agent has taken in the whole flood once it has closed all but its limit's worth.
  auto closedByAgent = [&] {
    std::vector<pollfd> watches;
    for (int fd : flood) watches.push_back({fd, POLLRDHUP, 0});
    ::poll(watches.data(), watches.size(), 0);
    return std::count_if(watches.begin(), watches.end(), [](const pollfd& w) { return w.revents != 0; });
  };
  while (closedByAgent() < kFlood - 512 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_GE(closedByAgent(), kFlood - 512);

  // A peer on another host and a latecomer of the flooding host are both answered in time.
  for (const char* source : {"127.0.0.2", "127.0.0.1"}) {
    auto start = std::chrono::steady_clock::now();
    TestClient client(port, source);
    client.get("/status", "X-QV-Version: 2\r\n");
    std::string response = client.readResponse();
    EXPECT_TRUE(response.starts_with("HTTP/1.1 200 OK\r\n")) << source << ": " << response;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(kReadTimeout)) << source;
  }

  const long threadsDuring = procStatus(pid, "Threads");
  const long rssDuring = procStatus(pid, "VmRSS");
  const int socketsDuring = socketCount(pid);
  std::printf("agent during the flood: %ld threads (%ld before), RSS %ld kB (%ld kB before), %d sockets\n",
              threadsDuring, threadsBefore, rssDuring, rssBefore, socketsDuring);
  EXPECT_LE(threadsDuring, threadsBefore + 512 + 2);
  EXPECT_LE(socketsDuring, socketsBefore + 512 + 2);
  EXPECT_LT(rssDuring - rssBefore, kRSSGrowthBoundKB);
  EXPECT_TRUE(agent_->output().find("connection limit of ") != std::string::npos) << agent_->output();

  for (int fd : flood) ::close(fd);
  deadline = std::chrono::steady_clock::now() + 10s;
  while ((socketCount(pid) > socketsBefore || procStatus(pid, "Threads") > threadsBefore) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(socketCount(pid), socketsBefore);
  EXPECT_LE(procStatus(pid, "Threads"), threadsBefore);
  EXPECT_TRUE(agent_->running());
  // The flood itself is no error; outside the namespace harness only the missing avahi-daemon is.
  std::istringstream lines(agent_->output());
  for (std::string line; std::getline(lines, line);) {
    if (line.find("ERROR [thread ") != std::string::npos) {
      EXPECT_NE(line.find("DNS-SD: "), std::string::npos) << line;
    }
  }
}

}  // namespace
