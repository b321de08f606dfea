// The agent's announcement on an in-process DNS-SD network: the name it ends up with when names
// are taken, and the TXT record it carries before and after publication.
#include "agent/QVNetService.h"

#include <gtest/gtest.h>

#include "loomkit/http/InProcessNetServices.h"
#include "loomkit/http/NetServices.h"
#include "loomkit/shared/PollMainLoop.h"
#include "tests/support/NetServiceEvents.h"
#include "tests/support/TestSupport.h"

using namespace std::chrono_literals;
using fotello::IQVAgentStatus;
using fotello::QVNetService;
using fotello::test::LogCapture;
using fotello::test::NetServiceEvents;
using loomkit::NetServices;

namespace {

std::shared_ptr<const IQVAgentStatus> progress(uint64_t current, uint64_t total) {
  return std::make_shared<IQVAgentStatus>(std::nullopt, std::nullopt, std::nullopt, current, total, "uuid-1",
                                          "Kitchen", "cook");
}

class QVNetServiceTest : public ::testing::Test {
 protected:
  QVNetServiceTest() { loomkit::MainLoop::setMain(&loop_); }
  ~QVNetServiceTest() override {
    service_.reset();
    others_.clear();
    loomkit::MainLoop::setMain(nullptr);
  }

  bool waitFor(const std::function<bool()>& pred) { return loop_.runUntil(pred, 2s); }
  void settle() { loop_.runUntil([] { return false; }, 50ms); }

  // Another computer on the network already announcing name.
  void takeName(const std::string& name) {
    others_.push_back(otherHost_->newRegistration(name, NetServices::serviceType(), 1, {}, &otherEvents_));
    size_t before = otherEvents_.published.size();
    ASSERT_TRUE(waitFor([&] { return otherEvents_.published.size() > before; })) << name;
  }

  // Publishes under computerName and waits for the outcome.
  void publishAs(const std::string& computerName) {
    service_ = std::make_unique<QVNetService>(*host_, [computerName] { return computerName; });
    service_->setPort(17600);
    service_->publish();
    waitFor([&] { return service_->published(); });
  }

  std::shared_ptr<loomkit::NetService> resolveOnBrowser(const std::string& name) {
    if (!browser_) browser_ = otherHost_->newBrowser(NetServices::serviceType(), &browsing_);
    if (!waitFor([&] { return browsing_.foundNamed(name) != nullptr; })) return nullptr;
    auto found = browsing_.foundNamed(name);
    found->setDelegate(&browsing_);
    size_t before = browsing_.resolved.size();
    found->resolveWithTimeout();
    if (!waitFor([&] { return browsing_.resolved.size() > before; })) return nullptr;
    return found;
  }

  loomkit::PollMainLoop loop_;
  loomkit::InProcessNetServices network_;
  std::unique_ptr<loomkit::DNSServiceRegistry> host_ = network_.newHost();
  std::unique_ptr<loomkit::DNSServiceRegistry> otherHost_ = network_.newHost({"10.0.0.2"});
  NetServiceEvents otherEvents_, browsing_;
  std::vector<std::unique_ptr<loomkit::ServiceRegistration>> others_;
  std::unique_ptr<loomkit::ServiceBrowser> browser_;
  std::unique_ptr<QVNetService> service_;
};

TEST_F(QVNetServiceTest, CollidingNamesTakeTheNextFreeSuffix) {
  const std::string long63(63, 'L');
  struct Case {
    std::string computerName;
    std::vector<std::string> taken;
    std::string published;
  } cases[] = {
      {"Kitchen", {}, "Kitchen"},
      {"Kitchen", {"Kitchen"}, "Kitchen-1"},
      {"Kitchen", {"Kitchen", "Kitchen-1"}, "Kitchen-2"},
      {long63, {long63}, std::string(61, 'L') + "-1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.computerName + " with " + std::to_string(c.taken.size()) + " taken");
    others_.clear();
    settle();
    for (const std::string& name : c.taken) takeName(name);
    LogCapture log(loomkit::Log::kDebug);
    publishAs(c.computerName);
    ASSERT_TRUE(service_->published()) << "never published";
    EXPECT_EQ(service_->name(), c.published);
    EXPECT_TRUE(log.contains("netServiceDidPublish: name = " + c.published));
    EXPECT_TRUE(log.contains("publishing my net service '" + c.published + "'"));
    EXPECT_EQ(log.count("name collision; retrying with a different name"), c.taken.size());
    if (!c.taken.empty()) {
      EXPECT_TRUE(log.contains("did not publish name " + c.taken[0] + ": name collision; retrying with a different name"));
    }
    service_.reset();
  }
}

TEST_F(QVNetServiceTest, CandidateNamesStayWithinOneDNSLabel) {
  const std::string u = "\xc3\xbc";  // two bytes of UTF-8
  std::string umlauts;
  for (int i = 0; i < 32; ++i) umlauts += u;  // 64 bytes
  struct Case {
    std::string computerName;
    std::set<std::string> failed;
    std::string expected;
  } cases[] = {
      // Too long for a label even without a suffix: cut, or it could never be published.
      {std::string(70, 'x'), {}, std::string(63, 'x')},
      {std::string(70, 'x'), {std::string(63, 'x')}, std::string(61, 'x') + "-1"},
      // Cuts never split a character: 31 of them (62 bytes), then 30 before "-1".
      {umlauts, {}, umlauts.substr(0, 62)},
      {umlauts, {umlauts.substr(0, 62)}, umlauts.substr(0, 60) + "-1"},
      // Nine suffixes taken: "-10" needs one more byte of room.
      {std::string(63, 'a'),
       {std::string(63, 'a'), std::string(61, 'a') + "-1", std::string(61, 'a') + "-2", std::string(61, 'a') + "-3",
        std::string(61, 'a') + "-4", std::string(61, 'a') + "-5", std::string(61, 'a') + "-6",
        std::string(61, 'a') + "-7", std::string(61, 'a') + "-8", std::string(61, 'a') + "-9"},
       std::string(60, 'a') + "-10"},
  };
  for (const Case& c : cases) {
    std::string name = QVNetService::candidateName(c.computerName, c.failed);
    EXPECT_EQ(name, c.expected);
    EXPECT_LE(name.size(), QVNetService::kMaxNameLength);
  }
  // A long name is published, not refused.
  publishAs(std::string(70, 'x'));
  EXPECT_TRUE(service_->published());
  EXPECT_EQ(service_->name(), std::string(63, 'x'));
}

TEST_F(QVNetServiceTest, StatusBeforePublicationBecomesTheTXTRecordOnPublish) {
  service_ = std::make_unique<QVNetService>(*host_, [] { return std::string("Kitchen"); });
  LogCapture log(loomkit::Log::kDebug);
  service_->setTXTRecord(progress(1, 10));
  service_->setTXTRecord(progress(5, 10));
  EXPECT_FALSE(log.contains("setting TXT record")) << "nothing is sent before publication";
  service_->setPort(17600);
  service_->publish();
  ASSERT_TRUE(waitFor([&] { return service_->published(); }));
  EXPECT_TRUE(log.contains("setting TXT record to " + progress(5, 10)->description() + " (" +
                           std::to_string(progress(5, 10)->txtRecordData().size()) + " bytes)"));

  auto found = resolveOnBrowser("Kitchen");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->port(), 17600);
  // A fresh agent still scanning: progress counts, no catalog digest.
  auto seen = IQVAgentStatus::newWithTXTRecordData(found->txtRecordData());
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->currentPhoto(), 5u);
  EXPECT_EQ(seen->totalPhotos(), 10u);
  EXPECT_FALSE(seen->albumDataSHA1());

  // After publication every change goes out at once.
  found->startMonitoring();
  auto complete = std::make_shared<IQVAgentStatus>(100.0, std::nullopt, std::string(40, 'a'), 10, 10, "uuid-1",
                                                   "Kitchen", "cook");
  service_->setTXTRecord(complete);
  ASSERT_TRUE(waitFor([&] { return !browsing_.txtUpdates.empty(); }));
  EXPECT_EQ(browsing_.txtUpdates.back(), complete->txtRecordData());
}

TEST_F(QVNetServiceTest, OtherPublishFailuresAreLoggedAndNotRetried) {
  LogCapture log(loomkit::Log::kDebug);
  publishAs("");  // no DNS-SD service takes an empty instance name
  settle();
  EXPECT_FALSE(service_->published());
  EXPECT_TRUE(log.contains("net service publish error domain=NetServicesErrorDomain code=-72004"));
  EXPECT_EQ(log.count("publishing my net service"), 1u);
}

}  // namespace
