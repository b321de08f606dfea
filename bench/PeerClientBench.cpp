// The HTTP client against a local server, in the same run as curl doing the same work.
//
//   PeerClientBench status [N]      N (default 1000) sequential "/status" requests through the
//                                   connection pool with the protocol headers, then the same N
//                                   with one curl process reusing its connection; prints both rates.
//   PeerClientBench stream [MIB]    streams a MIB (default 2048) full-size file, served with
//                                   sendfile from a sparse file by a server in a child process,
//                                   into a file; prints the throughput and the client's peak RSS.
//
// The server is the server layer of the agent (ConnectionServer) with a handler answering like the
// agent's routes, on 127.0.0.1.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "loomkit/http/HTTPConnectionFactory.h"
#include "loomkit/http/ServerListenSocket.h"
#include "loomkit/httpserver/ConnectionServer.h"
#include "loomkit/io/FileOutputStream.h"
#include "loomkit/io/Streams.h"
#include "protocol/AddressRemoteComputer.h"
#include "protocol/IQVAgentStatus.h"
#include "protocol/IQVData.h"

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// "/status" with a status record, "/photos/big/fullsize" with the file, as the agent answers them.
class BenchHandler : public loomkit::ConnectionHandler {
 public:
  explicit BenchHandler(std::string bigFile) : bigFile_(std::move(bigFile)) {
    status_ = fotello::IQVAgentStatus(100.0, std::nullopt, std::string(40, 'a'), 1000, 1000, "UUID", "Bench", "bench")
                  .txtRecordData();
  }
  bool processRequest(loomkit::ServerHTTPConnection& connection, const loomkit::ServerHTTPRequest& request,
                      loomkit::Error* error) override {
    auto response = connection.responseWithCode(200);
    response->setKeepAliveHeader();
    if (request.pathInfo() == "/photos/big/fullsize") {
      int fd = ::open(bigFile_.c_str(), O_RDONLY | O_CLOEXEC);
      struct stat st {};
      ::fstat(fd, &st);
      response->setHeader(std::to_string(st.st_size), "Content-Length");
      response->setHeader("application/octet-stream", "Content-Type");
      bool ok = response->writeFullyWithFile(fd, 0, static_cast<uint64_t>(st.st_size), error);
      ::close(fd);
      return ok;
    }
    response->setHeader(std::to_string(status_.size()), "Content-Length");
    response->setHeader("application/octet-stream", "Content-Type");
    return response->writeFullyWithBytes(status_, error);
  }

 private:
  std::string bigFile_;
  loomkit::Bytes status_;
};

// Serves on an ephemeral loopback port until the process ends.
class BenchServer {
 public:
  explicit BenchServer(std::string bigFile) : handler_(std::move(bigFile)), server_(handler_) {
    if (!listen_.bindAndListenAtAnyPort(port_)) {
      std::fprintf(stderr, "cannot listen\n");
      std::exit(1);
    }
    std::thread([this] {
      for (;;) server_.acceptAndServe(listen_, 10);
    }).detach();
  }
  int port() const { return port_; }

 private:
  BenchHandler handler_;
  loomkit::ServerListenSocket listen_{INADDR_LOOPBACK};
  loomkit::ConnectionServer server_;
  int port_ = 0;
};

int benchStatus(int count) {
  BenchServer server("/dev/null");
  auto peer = fotello::AddressRemoteComputer::fromHostAndPort("127.0.0.1:" + std::to_string(server.port()));
  const fotello::IQVData::Headers headers = fotello::IQVData::requestHeadersWithPassword(std::nullopt);
  // Warm up both sides once.
  fotello::IQVData::dataFromRemoteComputer(*peer, "/status", headers, nullptr, nullptr);

  auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    loomkit::Error error;
    auto data = fotello::IQVData::dataFromRemoteComputer(*peer, "/status", headers, nullptr, nullptr, &error);
    if (!data || !fotello::IQVAgentStatus::newWithTXTRecordData(*data)) {
      std::fprintf(stderr, "request %d failed: %s\n", i, error.text().c_str());
      return 1;
    }
  }
  const double ours = since(start);

  // curl: one process, one connection, the same headers, every URL in its configuration file.
  char config[] = "/tmp/peer-client-bench.XXXXXX";
  int fd = ::mkstemp(config);
  std::string lines;
  for (const auto& [name, value] : headers) lines += "header = \"" + name + ": " + value + "\"\n";
  lines += "silent\n";
  for (int i = 0; i < count; ++i) {
    lines += "url = \"http://127.0.0.1:" + std::to_string(server.port()) + "/status\"\noutput = \"/dev/null\"\n";
  }
  if (::write(fd, lines.data(), lines.size()) != static_cast<ssize_t>(lines.size())) return 1;
  ::close(fd);
  start = Clock::now();
  int rc = std::system((std::string("curl --config ") + config).c_str());
  const double theirs = since(start);
  ::unlink(config);
  if (rc != 0) {
    std::fprintf(stderr, "curl failed (%d)\n", rc);
    return 1;
  }
  std::printf("%d sequential /status requests on one kept-alive connection\n", count);
  std::printf("  pool    %8.0f requests/s  (%.3f s)\n", count / ours, ours);
  std::printf("  curl    %8.0f requests/s  (%.3f s, one process)\n", count / theirs, theirs);
  std::printf("  ratio   %8.2f (pool / curl)\n", theirs / ours);
  return 0;
}

int benchStream(uint64_t mib) {
  char dir[] = "/tmp/peer-client-stream.XXXXXX";
  if (!::mkdtemp(dir)) return 1;
  const std::string source = std::string(dir) + "/sparse.mov";
  const std::string target = std::string(dir) + "/received.mov";
  {
    int fd = ::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(mib * 1024 * 1024)) != 0) return 1;
    ::close(fd);
  }
  // The server runs in a child process, so the peak RSS measured below is the client's alone.
  int ports[2];
  if (::pipe(ports) != 0) return 1;
  pid_t child = ::fork();
  if (child == 0) {
    ::close(ports[0]);
    BenchServer server(source);
    int port = server.port();
    if (::write(ports[1], &port, sizeof port) != sizeof port) _exit(1);
    for (;;) ::pause();
  }
  ::close(ports[1]);
  int port = 0;
  if (::read(ports[0], &port, sizeof port) != sizeof port) return 1;

  auto start = Clock::now();
  auto request = loomkit::HTTPConnectionFactory::theFactory().newHTTPConnectionToURL(
      "http://127.0.0.1:" + std::to_string(port) + "/photos/big/fullsize", "GET");
  for (const auto& [name, value] : fotello::IQVData::requestHeadersWithPassword(std::nullopt)) {
    request->setRequestHeader(value, name);
  }
  loomkit::FileOutputStream out(target);
  uint64_t written = 0;
  loomkit::Error error;
  bool ok = request->executeRequestWritingBodyTo(out, written, &error);
  const double seconds = since(start);
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  ::kill(child, SIGTERM);
  ::waitpid(child, nullptr, 0);
  struct stat st {};
  ::stat(target.c_str(), &st);
  ::unlink(source.c_str());
  ::unlink(target.c_str());
  ::rmdir(dir);
  if (!ok || written != mib * 1024 * 1024 || static_cast<uint64_t>(st.st_size) != written) {
    std::fprintf(stderr, "stream failed after %llu bytes: %s\n", static_cast<unsigned long long>(written),
                 error.text().c_str());
    return 1;
  }
  const double peakMiB = usage.ru_maxrss / 1024.0;
  std::printf("streamed %llu MiB into a file in %.2f s (%.0f MiB/s); client peak RSS %.1f MiB (%s 64 MiB)\n",
              static_cast<unsigned long long>(mib), seconds, mib / seconds, peakMiB, peakMiB < 64 ? "under" : "OVER");
  return peakMiB < 64 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  loomkit::Streams::setThrottleType(loomkit::Streams::kThrottleNone);
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "status") return benchStatus(argc > 2 ? std::atoi(argv[2]) : 1000);
  if (mode == "stream") return benchStream(argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 2048);
  std::fprintf(stderr, "usage: %s status [N] | stream [MIB]\n", argv[0]);
  return 2;
}
