#include "loomkit/io/MonitoredInputStream.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "loomkit/io/SocketInputStream.h"
#include "loomkit/shared/NotificationCenter.h"

namespace {

// Answers every slurp with `answer` and remembers the byte counts it was told of.
class RecordingDelegate : public loomkit::MonitoredInputStreamDelegate {
 public:
  explicit RecordingDelegate(bool answer) : answer_(answer) {}
  bool monitoredInputStream(loomkit::MonitoredInputStream&, uint64_t receivedBytes, loomkit::Error* error) override {
    counts.push_back(receivedBytes);
    if (answer_) return true;
    return loomkit::setError(error, "TestDelegateErrorDomain", 7, "not wanted");
  }
  std::vector<uint64_t> counts;

 private:
  bool answer_;
};

// A monitored stream over a socket whose peer sent `text` and closed.
struct MonitoredSocket {
  int fds[2] = {-1, -1};
  std::unique_ptr<loomkit::MonitoredInputStream> stream;

  MonitoredSocket(const std::string& text, std::shared_ptr<loomkit::MonitoredInputStreamDelegate> delegate) {
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    EXPECT_EQ(::write(fds[1], text.data(), text.size()), ssize_t(text.size()));
    ::close(fds[1]);
    stream = std::make_unique<loomkit::MonitoredInputStream>(std::make_unique<loomkit::SocketInputStream>(fds[0]),
                                                             std::move(delegate));
  }
  ~MonitoredSocket() {
    stream.reset();
    ::close(fds[0]);
  }
};

}  // namespace

TEST(MonitoredInputStreamTest, CreationIsAnnounced) {
  int created = 0;
  auto& center = loomkit::NotificationCenter::defaultCenter();
  auto token = center.addObserver("MonitoredInputStreamCreated", [&](const loomkit::Notification&) { ++created; });
  MonitoredSocket socket("", nullptr);
  center.removeObserver(token);
  EXPECT_EQ(created, 1);
}

TEST(MonitoredInputStreamTest, ReadsPassThroughWithoutAskingTheDelegate) {
  auto refusing = std::make_shared<RecordingDelegate>(false);
  MonitoredSocket socket("hello", refusing);
  char buffer[3];
  EXPECT_EQ(socket.stream->read(buffer, sizeof buffer), 3);
  EXPECT_EQ(socket.stream->read(buffer, sizeof buffer), 2);
  EXPECT_EQ(socket.stream->read(buffer, sizeof buffer), 0);
  EXPECT_EQ(socket.stream->bytesReceived(), 5u);
  EXPECT_TRUE(refusing->counts.empty());
}

TEST(MonitoredInputStreamTest, DelegateDecidesTheSlurp) {
  for (bool accept : {true, false}) {
    SCOPED_TRACE(accept);
    auto delegate = std::make_shared<RecordingDelegate>(accept);
    MonitoredSocket socket("photo bytes", delegate);
    loomkit::Error error;
    auto bytes = socket.stream->slurp(&error);
    EXPECT_EQ(delegate->counts, std::vector<uint64_t>{11});
    if (accept) {
      ASSERT_TRUE(bytes);
      EXPECT_EQ(loomkit::textOf(*bytes), "photo bytes");
      EXPECT_EQ(socket.stream->bytesReceived(), 11u);
    } else {
      EXPECT_FALSE(bytes);
      EXPECT_TRUE(error.is("TestDelegateErrorDomain", 7)) << error.text();
      EXPECT_EQ(socket.stream->bytesReceived(), 0u);
    }
  }
}

TEST(MonitoredInputStreamTest, FailedUnderlyingSlurpNeverReachesTheDelegate) {
  auto delegate = std::make_shared<RecordingDelegate>(true);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[1]);
  // A pipe is readable at its end, but a socket receive on it fails.
  loomkit::MonitoredInputStream stream(std::make_unique<loomkit::SocketInputStream>(fds[0]), delegate);
  loomkit::Error error;
  EXPECT_FALSE(stream.slurp(&error));
  EXPECT_TRUE(error.is(loomkit::kUnixErrorDomain, ENOTSOCK)) << error.text();
  EXPECT_TRUE(delegate->counts.empty());
  ::close(fds[0]);
}
