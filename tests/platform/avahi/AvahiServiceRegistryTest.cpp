// DNS-SD against a real avahi-daemon. Run only as
//   tests/netns/with-avahi build/tests/avahi_tests
// which gives the process a network namespace of its own with a veth pair, a private system bus
// and a daemon that may use only that pair: nothing here reaches the machine's network.
#include "platform/AvahiServiceRegistry.h"

#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "loomkit/http/NetServices.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/PollMainLoop.h"
#include "tests/support/NetServiceEvents.h"
#include "tests/support/TestSupport.h"

using namespace std::chrono_literals;
using fotello::test::NetServiceEvents;
using loomkit::Bytes;
using loomkit::NetService;
using loomkit::NetServices;

namespace {

// An agent status record: absent values are zero-length items, here also two in a row and last.
const Bytes kStatusTXT = {1, '6', 9, '7', '9', '8', '7', '6', '5', '4', '3', '2', 0, 1, '0', 0, 0, 2, '1', '2', 2,
                          '1', '2', 4, 'u', 'u', 'i', 'd', 7, 'K', 'i', 't', 'c', 'h', 'e', 'n', 0};

// The IPv4 addresses of the namespace's interfaces (lo aside), and whether any has IPv6.
std::set<std::string> namespaceIPv4Addresses(bool* hasIPv6) {
  std::set<std::string> found;
  *hasIPv6 = false;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return found;
  for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || (entry->ifa_flags & IFF_LOOPBACK) || !(entry->ifa_flags & IFF_UP)) continue;
    if (entry->ifa_addr->sa_family == AF_INET) {
      found.insert(loomkit::ServiceAddress(*reinterpret_cast<sockaddr_in*>(entry->ifa_addr)).numericHost());
    } else if (entry->ifa_addr->sa_family == AF_INET6) {
      *hasIPv6 = true;
    }
  }
  ::freeifaddrs(list);
  return found;
}

class AvahiServiceRegistryTest : public ::testing::Test {
 protected:
  AvahiServiceRegistryTest() { loomkit::MainLoop::setMain(&loop_); }
  ~AvahiServiceRegistryTest() override {
    registry_.reset();
    loomkit::MainLoop::setMain(nullptr);
  }

  void SetUp() override {
    // Outside the harness these tests would talk to the machine's own daemon and network.
    ASSERT_NE(std::getenv("FOTELLO_NETNS"), nullptr) << "run as: tests/netns/with-avahi build/tests/avahi_tests";
    registry_ = std::make_unique<fotello::AvahiServiceRegistry>();
    ASSERT_TRUE(waitFor([&] { return registry_->isConnected(); })) << "no avahi-daemon on the private bus";
  }

  bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 10s) {
    return loop_.runUntil(pred, timeout);
  }
  void settle(std::chrono::milliseconds time) { loop_.runUntil([] { return false; }, time); }

  // A name no earlier test (or run) used, so that leftovers in the daemon's cache do not matter.
  static std::string uniqueName(const char* base) {
    static int counter = 0;
    return loomkit::strprintf("%s %d-%d", base, static_cast<int>(::getpid()), ++counter);
  }

  // Registers name and waits until it is published and browsing has found it.
  std::shared_ptr<NetService> publishAndFind(const std::string& name, const Bytes& txt, NetServiceEvents& publisher,
                                             NetServiceEvents& browsing,
                                             std::unique_ptr<loomkit::ServiceRegistration>& registration) {
    registration = registry_->newRegistration(name, NetServices::serviceType(), 17600, txt, &publisher);
    EXPECT_TRUE(waitFor([&] { return !publisher.published.empty() || !publisher.notPublished.empty(); }));
    EXPECT_EQ(publisher.published, std::vector<std::string>{name});
    EXPECT_TRUE(waitFor([&] { return browsing.foundNamed(name) != nullptr; })) << name;
    return browsing.foundNamed(name);
  }

  loomkit::PollMainLoop loop_;
  std::unique_ptr<fotello::AvahiServiceRegistry> registry_;
};

TEST_F(AvahiServiceRegistryTest, PublishedServicesAreFoundAndResolvedWithTheNamespaceAddresses) {
  const std::string name = uniqueName("Kitchen");
  const std::string bare = uniqueName("Bare");
  NetServiceEvents publisher, barePublisher, browsing;
  auto browser = registry_->newBrowser(NetServices::serviceType(), &browsing);
  std::unique_ptr<loomkit::ServiceRegistration> registration, bareRegistration;
  std::shared_ptr<NetService> service = publishAndFind(name, kStatusTXT, publisher, browsing, registration);
  std::shared_ptr<NetService> bareService = publishAndFind(bare, {}, barePublisher, browsing, bareRegistration);
  ASSERT_TRUE(service && bareService);
  EXPECT_EQ(service->type(), "_fotello._tcp.");
  EXPECT_EQ(service->domain(), "local.");

  service->setDelegate(&browsing);
  bareService->setDelegate(&browsing);
  service->resolveWithTimeout();
  bareService->resolveWithTimeout();
  ASSERT_TRUE(waitFor([&] { return browsing.resolved.size() + browsing.notResolved.size() == 2; }));
  ASSERT_TRUE(browsing.notResolved.empty()) << browsing.notResolved[0].text();

  bool hasIPv6 = false;
  std::set<std::string> expectedIPv4 = namespaceIPv4Addresses(&hasIPv6);
  std::set<std::string> resolvedIPv4;
  bool seenIPv6 = false;
  for (const loomkit::ServiceAddress& address : service->addresses()) {
    EXPECT_EQ(address.port(), 17600);
    if (address.family() == AF_INET) {
      EXPECT_FALSE(seenIPv6) << "IPv4 addresses come first";
      resolvedIPv4.insert(address.numericHost());
    } else {
      seenIPv6 = true;
      // Link-local addresses carry their interface, or they could not be reached.
      if (address.numericHost().starts_with("fe80:")) {
        EXPECT_NE(address.numericHost().find('%'), std::string::npos) << address.numericHost();
      }
    }
  }
  EXPECT_EQ(resolvedIPv4, expectedIPv4);
  EXPECT_EQ(seenIPv6, hasIPv6);
  EXPECT_EQ(service->port(), 17600);
  EXPECT_EQ(service->txtRecordData(), kStatusTXT) << "absent items travel, in their order";
  EXPECT_EQ(bareService->txtRecordData(), Bytes{0}) << "no TXT record reads as the empty record";
}

TEST_F(AvahiServiceRegistryTest, TXTRecordUpdatesReachAMonitor) {
  const std::string name = uniqueName("Monitored");
  NetServiceEvents publisher, browsing;
  auto browser = registry_->newBrowser(NetServices::serviceType(), &browsing);
  std::unique_ptr<loomkit::ServiceRegistration> registration;
  // Published without a record at first, as the agent does until it knows its status.
  std::shared_ptr<NetService> service = publishAndFind(name, {}, publisher, browsing, registration);
  ASSERT_TRUE(service);
  service->setDelegate(&browsing);
  service->resolveWithTimeout();
  ASSERT_TRUE(waitFor([&] { return browsing.resolved.size() == 1; }));
  EXPECT_EQ(service->txtRecordData(), Bytes{0});
  service->startMonitoring();

  // Items that need escaping on the way: empty, a lone zero byte, a zero byte in front.
  const Bytes second = {0, 1, 0, 2, 0, 'x', 3, 'a', 'b', 'c'};
  const Bytes third = kStatusTXT;
  ASSERT_TRUE(registration->setTXTRecordData(second));
  ASSERT_TRUE(waitFor([&] { return !browsing.txtUpdates.empty(); }));
  ASSERT_TRUE(registration->setTXTRecordData(third));
  ASSERT_TRUE(waitFor([&] { return browsing.txtUpdates.size() >= 2; }));
  settle(1500ms);  // the cache drops the old records about a second later: no event for that
  EXPECT_EQ(browsing.txtUpdates, (std::vector<Bytes>{second, third}));
  EXPECT_EQ(service->txtRecordData(), third);

  loomkit::Error error;
  EXPECT_FALSE(registration->setTXTRecordData({5, 'a'}, &error));
  EXPECT_EQ(error.code(), NetServices::kBadArgumentError);
}

TEST_F(AvahiServiceRegistryTest, TwoRegistrationsOfOneNameCollide) {
  // The same program twice, and two programs (two clients of the daemon).
  fotello::AvahiServiceRegistry otherProgram;
  ASSERT_TRUE(waitFor([&] { return otherProgram.isConnected(); }));
  loomkit::DNSServiceRegistry* seconds[] = {registry_.get(), &otherProgram};
  for (loomkit::DNSServiceRegistry* second : seconds) {
    const std::string name = uniqueName("Twice");
    NetServiceEvents first, copy;
    auto original = registry_->newRegistration(name, NetServices::serviceType(), 17600, {}, &first);
    ASSERT_TRUE(waitFor([&] { return first.published.size() == 1; }));
    auto duplicate = second->newRegistration(name, NetServices::serviceType(), 17601, {}, &copy);
    ASSERT_TRUE(waitFor([&] { return !copy.notPublished.empty(); }, 3s));
    EXPECT_TRUE(NetServices::isCollision(copy.notPublished[0])) << copy.notPublished[0].text();
    EXPECT_EQ(copy.notPublished[0].code(), NetServices::kCollisionError);
    EXPECT_TRUE(copy.published.empty());
    EXPECT_EQ(first.stopped, 0);
    EXPECT_FALSE(duplicate->setTXTRecordData({1, 'x'}));
  }
}

TEST_F(AvahiServiceRegistryTest, RemovalIsReportedWithTheHandleOfTheFind) {
  const std::string going = uniqueName("Going");
  const std::string staying = uniqueName("Staying");
  NetServiceEvents goingPublisher, stayingPublisher, browsing;
  auto browser = registry_->newBrowser(NetServices::serviceType(), &browsing);
  std::unique_ptr<loomkit::ServiceRegistration> goingRegistration, stayingRegistration;
  std::shared_ptr<NetService> goingService = publishAndFind(going, {}, goingPublisher, browsing, goingRegistration);
  std::shared_ptr<NetService> stayingService =
      publishAndFind(staying, {}, stayingPublisher, browsing, stayingRegistration);
  ASSERT_TRUE(goingService && stayingService);

  // Earlier tests' services may go away meanwhile too: removals are told apart by handle alone.
  auto removedCount = [&](const std::shared_ptr<NetService>& service) {
    return std::count(browsing.removed.begin(), browsing.removed.end(), service);
  };
  goingRegistration.reset();
  ASSERT_TRUE(waitFor([&] { return removedCount(goingService) == 1; }));
  goingService->setDelegate(&browsing);
  goingService->resolveWithTimeout();
  ASSERT_TRUE(waitFor([&] { return !browsing.notResolved.empty(); }, 1s));
  EXPECT_EQ(browsing.notResolved[0].code(), NetServices::kNotFoundError);
  EXPECT_EQ(removedCount(stayingService), 0);

  stayingRegistration->stop();
  ASSERT_TRUE(waitFor([&] { return stayingPublisher.stopped == 1 && removedCount(stayingService) == 1; }));
  EXPECT_EQ(goingPublisher.stopped, 0) << "destruction withdraws without a word";
}

TEST_F(AvahiServiceRegistryTest, BadArgumentsAreRefused) {
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
      {"malformed TXT record", "Kitchen", "_fotello._tcp.", {4, 'a'}},
  };
  for (const Case& c : cases) {
    NetServiceEvents events;
    auto registration = registry_->newRegistration(c.name, c.type, 17600, c.txt, &events);
    ASSERT_TRUE(waitFor([&] { return !events.notPublished.empty() || !events.published.empty(); })) << c.what;
    ASSERT_FALSE(events.notPublished.empty()) << c.what;
    EXPECT_EQ(events.notPublished[0].code(), NetServices::kBadArgumentError) << c.what;
  }
  NetServiceEvents events;
  auto browser = registry_->newBrowser("fotello", &events);
  ASSERT_TRUE(waitFor([&] { return !events.notSearched.empty(); }));
  EXPECT_EQ(events.notSearched[0].code(), NetServices::kBadArgumentError);
}

TEST_F(AvahiServiceRegistryTest, EverythingComesBackWhenTheDaemonRestarts) {
  const char* pidfile = std::getenv("FOTELLO_AVAHI_PIDFILE");
  ASSERT_NE(pidfile, nullptr);
  fotello::test::LogCapture log(loomkit::Log::kInfo);
  const std::string name = uniqueName("Phoenix");
  NetServiceEvents publisher, browsing;
  auto browser = registry_->newBrowser(NetServices::serviceType(), &browsing);
  std::unique_ptr<loomkit::ServiceRegistration> registration;
  std::shared_ptr<NetService> before = publishAndFind(name, {1, 'a'}, publisher, browsing, registration);
  ASSERT_TRUE(before);

  int pid = std::atoi(fotello::test::readFile(pidfile).c_str());
  ASSERT_GT(pid, 1);
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  ASSERT_TRUE(waitFor([&] {
    return publisher.stopped == 1 && std::count(browsing.removed.begin(), browsing.removed.end(), before) == 1;
  }));
  EXPECT_TRUE(log.contains("DNS-SD: lost the connection to avahi-daemon"));

  // The harness starts the daemon again; the registration and the browser come back with it.
  ASSERT_TRUE(waitFor([&] { return publisher.published.size() == 2; }, 20s));
  EXPECT_TRUE(log.contains("DNS-SD: connected to avahi"));
  ASSERT_TRUE(waitFor([&] {
    auto again = browsing.foundNamed(name);
    return again && again != before;
  }));
  std::shared_ptr<NetService> after = browsing.foundNamed(name);
  after->setDelegate(&browsing);
  after->resolveWithTimeout();
  ASSERT_TRUE(waitFor([&] { return !browsing.resolved.empty(); }));
  EXPECT_EQ(after->txtRecordData(), (Bytes{1, 'a'}));
}

}  // namespace
