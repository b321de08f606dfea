#include "loomkit/http/InProcessNetServices.h"

#include <gtest/gtest.h>

#include "loomkit/shared/PollMainLoop.h"
#include "tests/support/NetServiceEvents.h"

using namespace std::chrono_literals;
using loomkit::Bytes;
using loomkit::Error;
using loomkit::NetService;
using loomkit::NetServices;

namespace {

using Recorder = fotello::test::NetServiceEvents;

// A status-like TXT record: items with absent (zero-length) values must travel unchanged.
const Bytes kTXT = {1, '6', 0, 3, 'a', 'b', 'c', 0, 1, '0'};

class InProcessNetServicesTest : public ::testing::Test {
 protected:
  InProcessNetServicesTest() { loomkit::MainLoop::setMain(&loop_); }
  ~InProcessNetServicesTest() override { loomkit::MainLoop::setMain(nullptr); }

  bool waitFor(const std::function<bool()>& pred) { return loop_.runUntil(pred, 2s); }
  // Runs the events already posted (and those they post) without waiting for anything.
  void settle() { loop_.runUntil([] { return false; }, 30ms); }

  std::shared_ptr<NetService> findOne(Recorder& events) {
    EXPECT_TRUE(waitFor([&] { return !events.found.empty(); }));
    return events.found.empty() ? nullptr : events.found.back();
  }

  loomkit::PollMainLoop loop_;
  loomkit::InProcessNetServices network_;
};

TEST_F(InProcessNetServicesTest, BrowsersOnEveryHostFindAndResolveAService) {
  auto kitchen = network_.newHost({"10.0.0.7", "fe80::7%lo"});
  auto office = network_.newHost();
  Recorder publisher, browsing;
  auto registration = kitchen->newRegistration("Kitchen", NetServices::serviceType(), 17600, kTXT, &publisher);
  EXPECT_TRUE(publisher.published.empty()) << "events arrive on the main loop, never inside the call";
  ASSERT_TRUE(waitFor([&] { return publisher.published.size() == 1; }));
  EXPECT_EQ(publisher.published[0], "Kitchen");

  // A browser started after the registration still finds it, on another host and on its own.
  auto browser = office->newBrowser("_fotello._tcp", &browsing);
  Recorder ownBrowsing;
  auto ownBrowser = kitchen->newBrowser(NetServices::serviceType(), &ownBrowsing);
  std::shared_ptr<NetService> service = findOne(browsing);
  ASSERT_TRUE(service);
  EXPECT_EQ(service->name(), "Kitchen");
  EXPECT_EQ(service->type(), "_fotello._tcp.");
  EXPECT_EQ(service->domain(), "local.");
  ASSERT_TRUE(findOne(ownBrowsing));

  EXPECT_TRUE(service->addresses().empty());
  service->setDelegate(&browsing);
  service->resolveWithTimeout();
  ASSERT_TRUE(waitFor([&] { return !browsing.resolved.empty(); }));
  EXPECT_EQ(browsing.resolved[0], service);
  std::vector<loomkit::ServiceAddress> addresses = service->addresses();
  ASSERT_EQ(addresses.size(), 2u);
  EXPECT_EQ(addresses[0].family(), AF_INET);
  EXPECT_EQ(addresses[0].numericHost(), "10.0.0.7");
  EXPECT_EQ(addresses[1].numericHost(), "fe80::7%lo");
  for (const auto& address : addresses) EXPECT_EQ(address.port(), 17600);
  EXPECT_EQ(service->port(), 17600);
  EXPECT_EQ(service->txtRecordData(), kTXT);
  EXPECT_TRUE(browsing.notResolved.empty());
}

TEST_F(InProcessNetServicesTest, AServiceWithoutTXTRecordResolvesToTheEmptyRecord) {
  auto host = network_.newHost();
  Recorder events;
  auto registration = host->newRegistration("Bare", NetServices::serviceType(), 1, {}, &events);
  auto browser = host->newBrowser(NetServices::serviceType(), &events);
  auto service = findOne(events);
  ASSERT_TRUE(service);
  service->setDelegate(&events);
  service->resolveWithTimeout();
  ASSERT_TRUE(waitFor([&] { return !events.resolved.empty(); }));
  EXPECT_EQ(service->txtRecordData(), Bytes{0});
}

TEST_F(InProcessNetServicesTest, ASecondRegistrationOfANameAnywhereCollides) {
  auto kitchen = network_.newHost();
  auto office = network_.newHost();
  Recorder first, second, third, browsing;
  auto browser = office->newBrowser(NetServices::serviceType(), &browsing);
  auto original = kitchen->newRegistration("Kitchen", NetServices::serviceType(), 17600, {}, &first);
  // Same name in another case, on another host: DNS names ignore case.
  auto copy = office->newRegistration("KITCHEN", NetServices::serviceType(), 17601, {}, &second);
  ASSERT_TRUE(waitFor([&] { return !second.notPublished.empty(); }));
  EXPECT_TRUE(NetServices::isCollision(second.notPublished[0]));
  EXPECT_EQ(second.notPublished[0].code(), NetServices::kCollisionError);
  EXPECT_TRUE(second.published.empty());
  Error error;
  EXPECT_FALSE(copy->setTXTRecordData(kTXT, &error));
  EXPECT_EQ(error.code(), NetServices::kNotReadyError);
  settle();
  EXPECT_EQ(first.published, std::vector<std::string>{"Kitchen"});
  EXPECT_EQ(browsing.found.size(), 1u);

  // The suffixed name the publisher picks next is free; once the original is gone, so is its name.
  auto suffixed = office->newRegistration("Kitchen-1", NetServices::serviceType(), 17601, {}, &third);
  ASSERT_TRUE(waitFor([&] { return third.published.size() == 1; }));
  original.reset();
  Recorder again;
  auto reused = office->newRegistration("Kitchen", NetServices::serviceType(), 17602, {}, &again);
  ASSERT_TRUE(waitFor([&] { return again.published.size() == 1; }));
  EXPECT_TRUE(first.stopped == 0) << "destruction withdraws without a word";
}

TEST_F(InProcessNetServicesTest, RemovalIsReportedWithTheHandleOfTheFind) {
  auto host = network_.newHost();
  Recorder kitchenEvents, officeEvents, browsing;
  auto kitchen = host->newRegistration("Kitchen", NetServices::serviceType(), 1, {}, &kitchenEvents);
  auto office = host->newRegistration("Office", NetServices::serviceType(), 2, {}, &officeEvents);
  auto browser = host->newBrowser(NetServices::serviceType(), &browsing);
  ASSERT_TRUE(waitFor([&] { return browsing.found.size() == 2; }));
  std::shared_ptr<NetService> kitchenHandle =
      browsing.found[0]->name() == "Kitchen" ? browsing.found[0] : browsing.found[1];
  std::shared_ptr<NetService> officeHandle = kitchenHandle == browsing.found[0] ? browsing.found[1] : browsing.found[0];

  kitchenHandle->setDelegate(&browsing);
  kitchenHandle->startMonitoring();
  kitchen->stop();
  ASSERT_TRUE(waitFor([&] { return browsing.removed.size() == 1; }));
  EXPECT_EQ(browsing.removed[0], kitchenHandle);
  EXPECT_EQ(kitchenEvents.stopped, 1);

  // The removed handle is dead: resolving fails at once, and nothing more is monitored.
  kitchenHandle->resolveWithTimeout();
  ASSERT_TRUE(waitFor([&] { return browsing.notResolved.size() == 1; }));
  EXPECT_EQ(browsing.notResolved[0].code(), NetServices::kNotFoundError);

  // A service found again later is a new handle; the other service was never touched.
  Recorder returning;
  auto back = host->newRegistration("Kitchen", NetServices::serviceType(), 1, {}, &returning);
  ASSERT_TRUE(waitFor([&] { return browsing.found.size() == 3; }));
  EXPECT_NE(browsing.found[2], kitchenHandle);
  office.reset();
  ASSERT_TRUE(waitFor([&] { return browsing.removed.size() == 2; }));
  EXPECT_EQ(browsing.removed[1], officeHandle);
  EXPECT_TRUE(browsing.txtUpdates.empty());
}

TEST_F(InProcessNetServicesTest, MonitorsHearEveryChangeOfTheTXTRecord) {
  auto host = network_.newHost();
  Recorder publisher, monitor, quiet;
  auto registration = host->newRegistration("Kitchen", NetServices::serviceType(), 1, {}, &publisher);
  ASSERT_TRUE(waitFor([&] { return publisher.published.size() == 1; }));
  auto browser = host->newBrowser(NetServices::serviceType(), &monitor);
  auto otherBrowser = host->newBrowser(NetServices::serviceType(), &quiet);
  auto service = findOne(monitor);
  auto unmonitored = findOne(quiet);
  ASSERT_TRUE(service && unmonitored);
  service->setDelegate(&monitor);
  unmonitored->setDelegate(&quiet);
  service->resolveWithTimeout();
  ASSERT_TRUE(waitFor([&] { return monitor.resolved.size() == 1; }));
  service->startMonitoring();

  const Bytes second = {1, '7'};
  ASSERT_TRUE(registration->setTXTRecordData(kTXT));
  ASSERT_TRUE(registration->setTXTRecordData(kTXT));  // no change
  ASSERT_TRUE(registration->setTXTRecordData(second));
  ASSERT_TRUE(waitFor([&] { return monitor.txtUpdates.size() == 2; }));
  settle();
  EXPECT_EQ(monitor.txtUpdates, (std::vector<Bytes>{kTXT, second}));
  EXPECT_EQ(service->txtRecordData(), second);
  EXPECT_TRUE(quiet.txtUpdates.empty()) << "only monitored handles hear changes";

  Error error;
  EXPECT_FALSE(registration->setTXTRecordData({3, 'a'}, &error));
  EXPECT_EQ(error.code(), NetServices::kBadArgumentError);

  // stop() silences the monitor, including what was already on its way.
  ASSERT_TRUE(registration->setTXTRecordData({1, '8'}));
  service->stop();
  settle();
  EXPECT_EQ(monitor.txtUpdates.size(), 2u);
}

TEST_F(InProcessNetServicesTest, ResolvesFailAsTheNetworkIsTold) {
  auto host = network_.newHost();
  Recorder events;
  auto registration = host->newRegistration("Kitchen", NetServices::serviceType(), 1, {}, &events);
  auto browser = host->newBrowser(NetServices::serviceType(), &events);
  auto service = findOne(events);
  ASSERT_TRUE(service);
  service->setDelegate(&events);

  network_.setResolveFailure(NetServices::kTimeoutError);
  auto started = std::chrono::steady_clock::now();
  service->resolveWithTimeout(100ms);
  settle();
  EXPECT_TRUE(events.notResolved.empty()) << "a time-out takes its time";
  ASSERT_TRUE(waitFor([&] { return events.notResolved.size() == 1; }));
  EXPECT_GE(std::chrono::steady_clock::now() - started, 100ms);
  EXPECT_EQ(events.notResolved[0].code(), NetServices::kTimeoutError);
  EXPECT_EQ(events.notResolved[0].domain(), NetServices::errorDomain());

  // A resolve abandoned by stop() or by a newer resolve reports nothing.
  service->resolveWithTimeout(50ms);
  service->stop();
  network_.setResolveFailure(NetServices::kNotReadyError);
  service->resolveWithTimeout(50ms);
  ASSERT_TRUE(waitFor([&] { return events.notResolved.size() == 2; }));
  EXPECT_EQ(events.notResolved[1].code(), NetServices::kNotReadyError);

  network_.setResolveFailure(std::nullopt);
  service->resolveWithTimeout();
  ASSERT_TRUE(waitFor([&] { return events.resolved.size() == 1; }));
  settle();
  EXPECT_EQ(events.notResolved.size(), 2u);
  EXPECT_TRUE(events.resolved[0]->addresses().size() == 2);
}

TEST_F(InProcessNetServicesTest, BadArgumentsAreRefused) {
  struct Case {
    const char* what;
    std::string name;
    std::string type;
    Bytes txt;
  };
  const Case cases[] = {
      {"empty name", "", "_fotello._tcp.", {}},
      {"name of 64 bytes", std::string(64, 'n'), "_fotello._tcp.", {}},
      {"type without protocol", "Kitchen", "_fotello.", {}},
      {"type without underscore", "Kitchen", "fotello._tcp.", {}},
      {"TXT item past the end", "Kitchen", "_fotello._tcp.", {2, 'a'}},
  };
  auto host = network_.newHost();
  for (const Case& c : cases) {
    Recorder events;
    auto registration = host->newRegistration(c.name, c.type, 1, c.txt, &events);
    ASSERT_TRUE(waitFor([&] { return !events.notPublished.empty(); })) << c.what;
    EXPECT_EQ(events.notPublished[0].code(), NetServices::kBadArgumentError) << c.what;
    EXPECT_TRUE(events.published.empty()) << c.what;
  }
  Recorder events;
  auto browser = host->newBrowser("_fotello", &events);
  ASSERT_TRUE(waitFor([&] { return !events.notSearched.empty(); }));
  EXPECT_EQ(events.notSearched[0].code(), NetServices::kBadArgumentError);

  // A name of exactly 63 bytes is the longest that may be published.
  Recorder longest;
  auto registration = host->newRegistration(std::string(63, 'n'), NetServices::serviceType(), 1, {}, &longest);
  EXPECT_TRUE(waitFor([&] { return longest.published.size() == 1; }));
}

TEST_F(InProcessNetServicesTest, ObjectsLetGoOfSayNothingMore) {
  auto host = network_.newHost();
  Recorder events;
  auto registration = host->newRegistration("Kitchen", NetServices::serviceType(), 1, {}, &events);
  auto browser = host->newBrowser(NetServices::serviceType(), &events);
  registration.reset();  // published and found were posted but not delivered yet
  browser.reset();
  settle();
  EXPECT_TRUE(events.published.empty());
  EXPECT_TRUE(events.found.empty());
  EXPECT_TRUE(events.removed.empty());
}

TEST(NetServicesTest, TXTRecordForm) {
  struct Case {
    Bytes data;
    bool valid;
  };
  const Case cases[] = {
      {{}, true},  {{0}, true},         {{0, 0}, true}, {{1, 'a'}, true}, {{3, 'a', 'b', 'c', 0}, true},
      {{1}, false}, {{2, 'a'}, false}, {{0, 2, 'a'}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(NetServices::isValidTXTRecordData(c.data), c.valid) << c.data.size();
  EXPECT_EQ(NetServices::serviceType(), "_fotello._tcp.");
  EXPECT_EQ(NetServices::domain(), "local.");
  EXPECT_EQ(NetServices::kResolveTimeout, 5s);
}

}  // namespace
