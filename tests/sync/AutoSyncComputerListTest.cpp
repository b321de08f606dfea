#include "sync/AutoSyncComputerList.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "loomkit/http/InProcessNetServices.h"
#include "loomkit/shared/PollMainLoop.h"
#include "protocol/SyncComputerRecord.h"
#include "tests/support/NetServiceEvents.h"
#include "tests/support/TestSupport.h"

using namespace std::chrono_literals;
using fotello::AutoSyncComputer;
using fotello::AutoSyncComputerList;
using fotello::SyncComputerRecord;
using loomkit::Bytes;
using loomkit::NetServices;

namespace {

const std::string kKitchen = "0B5D2F7A-1C3E-4D5F-9A8B-7C6D5E4F3A2B";
const std::string kOffice = "11111111-2222-4333-8444-555555555555";

Bytes statusTXT(const std::string& uuid, const std::string& name, uint64_t current = 0) {
  return fotello::IQVAgentStatus(std::nullopt, std::nullopt, std::nullopt, current, 10, uuid, name, "ann")
      .txtRecordData();
}

// Well-formed TXT records that are no status record.
Bytes badTXT(char c) { return Bytes{3, 'x', 'y', static_cast<uint8_t>(c)}; }

void saveRecord(const std::string& uuid, int32_t selection, std::set<int32_t> albums) {
  SyncComputerRecord record;
  record.setUuid(uuid);
  record.setComputerName("Kitchen");
  record.setAutomatic(true);
  record.setAutoImportSelectionIndex(selection);
  record.setCheckedAlbumIPhotoIds(std::move(albums));
  ASSERT_TRUE(record.saveToFile());
}

// Every event of the list as "added UUID", "removed UUID", "config UUID", "txt UUID".
struct Events : fotello::AutoSyncComputerListDelegate {
  std::vector<std::string> events;
  std::vector<std::string> notifications;
  std::vector<std::string> names;

  void record(const char* what, const AutoSyncComputer& c) {
    events.push_back(std::string(what) + " " + c.uuid());
    names.push_back(c.computerName());
  }
  void autoSyncComputerWasAdded(const AutoSyncComputer& c) override { record("added", c); }
  void autoSyncComputerWasRemoved(const AutoSyncComputer& c) override { record("removed", c); }
  void autoSyncComputerConfigDidChange(const AutoSyncComputer& c) override { record("config", c); }
  void autoSyncComputerTXTRecordDidChange(const AutoSyncComputer& c) override { record("txt", c); }
  void autoSyncComputerListShouldNotify(const std::string& title, const std::string& description,
                                        const std::string& name) override {
    notifications.push_back(name + ": " + title + ": " + description);
  }
};

using Strings = std::vector<std::string>;

class AutoSyncComputerListTest : public ::testing::Test {
 protected:
  AutoSyncComputerListTest() { loomkit::MainLoop::setMain(&loop_); }
  ~AutoSyncComputerListTest() override {
    list_.reset();
    registrations_.clear();
    loomkit::MainLoop::setMain(nullptr);
  }

  loomkit::ServiceRegistration& publish(const std::string& name, const Bytes& txt) {
    registrations_.push_back(peers_->newRegistration(name, NetServices::serviceType(), 17600, txt, &publisher_));
    return *registrations_.back();
  }
  void start() {
    list_ = std::make_unique<AutoSyncComputerList>(*self_, &events_);
    list_->start();
  }
  bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 3s) {
    return loop_.runUntil(pred, timeout);
  }
  bool waitForEvents(size_t count) { return waitFor([&] { return events_.events.size() >= count; }); }
  // Runs what is due without waiting for anything in particular.
  void settle(std::chrono::milliseconds time = 100ms) { loop_.runUntil([] { return false; }, time); }

  fotello::test::TempDir home_;
  fotello::test::ScopedEnv env_{"FOTELLO_HOME", home_.path()};
  loomkit::PollMainLoop loop_;
  loomkit::InProcessNetServices network_;
  std::unique_ptr<loomkit::DNSServiceRegistry> self_ = network_.newHost();
  std::unique_ptr<loomkit::DNSServiceRegistry> peers_ = network_.newHost({"10.0.0.7", "fe80::7%lo"});
  fotello::test::NetServiceEvents publisher_;
  std::vector<std::unique_ptr<loomkit::ServiceRegistration>> registrations_;
  Events events_;
  std::unique_ptr<AutoSyncComputerList> list_;
};

}  // namespace

TEST_F(AutoSyncComputerListTest, ASavedPeerThatAppearsIsAddedThenHeardFromUntilItGoesAway) {
  saveRecord(kKitchen, 0, {});
  fotello::test::LogCapture log(loomkit::Log::kDebug);
  start();
  settle();
  EXPECT_TRUE(events_.events.empty()) << "a saved peer that is not on the network is not automatic";

  auto& kitchen = publish("Kitchen", statusTXT(kKitchen, "Kitchen"));
  publish("Office", statusTXT(kOffice, "Office"));  // live, but not saved
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_EQ(events_.events, Strings({"added " + kKitchen, "txt " + kKitchen}));
  EXPECT_EQ(events_.names[0], "Kitchen");
  ASSERT_TRUE(waitFor([&] { return list_->liveComputersByUUID().size() == 2; }));
  EXPECT_TRUE(log.contains("new LiveComputer: netServiceName=Kitchen ipv4=10.0.0.7 port=17600"));
  EXPECT_TRUE(log.contains("new LiveComputer: netServiceName=Kitchen ipv6=fe80::7%lo port=17600"));
  EXPECT_TRUE(log.contains("started monitoring of Kitchen"));

  // A later status is a TXT change; the name stays the one first read.
  ASSERT_TRUE(kitchen.setTXTRecordData(statusTXT(kKitchen, "Renamed", 3)));
  ASSERT_TRUE(waitForEvents(3));
  EXPECT_EQ(events_.events.back(), "txt " + kKitchen);
  EXPECT_EQ(events_.names.back(), "Kitchen");
  ASSERT_TRUE(list_->savedComputerForUUID(kKitchen));
  EXPECT_FALSE(list_->savedComputerForUUID(kOffice));

  registrations_.clear();  // both peers leave
  ASSERT_TRUE(waitForEvents(4));
  ASSERT_TRUE(waitFor([&] { return list_->liveComputersByUUID().empty(); }));
  settle();
  EXPECT_EQ(events_.events, Strings({"added " + kKitchen, "txt " + kKitchen, "txt " + kKitchen,
                                     "removed " + kKitchen}));
  EXPECT_EQ(list_->netServiceCount(), 0u);
  EXPECT_FALSE(log.contains("not found in liveComputersByUUID"));
}

TEST_F(AutoSyncComputerListTest, RecordChangesOfALivePeerAreReportedWithinASecond) {
  publish("Kitchen", statusTXT(kKitchen, "Kitchen"));
  start();
  ASSERT_TRUE(waitFor([&] { return list_->liveComputersByUUID().size() == 1; }));
  EXPECT_TRUE(events_.events.empty());

  auto written = std::chrono::steady_clock::now();
  saveRecord(kKitchen, 1, {5});
  ASSERT_TRUE(waitForEvents(1));
  EXPECT_LT(std::chrono::steady_clock::now() - written, 1500ms);
  EXPECT_EQ(events_.events, Strings({"added " + kKitchen}));
  EXPECT_EQ(list_->savedComputerForUUID(kKitchen)->iPhotoIdsOfCheckedAlbums(), std::set<int32_t>({5}));

  // Steps one after another, each given more than the watch's latency.
  struct Step {
    const char* what;
    std::function<void()> change;
    Strings expected;  // the events the step adds
  };
  const std::vector<Step> steps = {
      {"only the checked albums change", [] { saveRecord(kKitchen, 1, {5, 9}); }, {"config " + kKitchen}},
      {"an unchanged rewrite", [] { saveRecord(kKitchen, 1, {9, 5}); }, {}},
      {"the selection changes", [] { saveRecord(kKitchen, 2, {5, 9}); }, {"config " + kKitchen}},
      {"a record of a peer that is not live", [] { saveRecord(kOffice, 0, {}); }, {}},
      {"the record is deleted", [] { ASSERT_TRUE(SyncComputerRecord::deleteFileForUUID(kKitchen)); },
       {"removed " + kKitchen}},
  };
  for (const Step& step : steps) {
    const size_t before = events_.events.size();
    step.change();
    settle(1300ms);
    Strings added(events_.events.begin() + static_cast<long>(before), events_.events.end());
    EXPECT_EQ(added, step.expected) << step.what;
  }
  EXPECT_FALSE(list_->savedComputerForUUID(kKitchen));
  EXPECT_TRUE(list_->savedComputerForUUID(kOffice));
}

TEST_F(AutoSyncComputerListTest, UnreadableStatusNotifiesOncePerStreak) {
  saveRecord(kKitchen, 0, {});
  start();
  fotello::test::LogCapture log(loomkit::Log::kError);
  auto& kitchen = publish("Kitchen", badTXT('a'));
  ASSERT_TRUE(waitFor([&] { return log.count("error parsing TXT record: ") == 1; }));
  for (char c : {'b', 'c'}) {
    ASSERT_TRUE(kitchen.setTXTRecordData(badTXT(c)));
    ASSERT_TRUE(waitFor([&] { return log.count("error parsing TXT record: ") == static_cast<size_t>(c - 'a' + 1); }));
  }
  ASSERT_EQ(events_.notifications.size(), 1u);
  EXPECT_TRUE(events_.notifications[0].starts_with("StatusReadError: Communication error: Error reading status "
                                                   "from Kitchen: "))
      << events_.notifications[0];
  EXPECT_TRUE(events_.events.empty());

  ASSERT_TRUE(kitchen.setTXTRecordData(statusTXT(kKitchen, "Kitchen")));
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_EQ(events_.events, Strings({"added " + kKitchen, "txt " + kKitchen}));
  ASSERT_TRUE(kitchen.setTXTRecordData(badTXT('d')));
  ASSERT_TRUE(waitFor([&] { return events_.notifications.size() == 2; }));
  settle();
  EXPECT_EQ(events_.events.size(), 2u) << "an unreadable record leaves the peer as it was";
}

TEST_F(AutoSyncComputerListTest, ServicesWithoutAStatusNeverBecomeLive) {
  saveRecord(kKitchen, 0, {});
  fotello::test::LogCapture log(loomkit::Log::kDebug);
  start();
  publish("Empty", {});  // shows the one-byte empty record
  ASSERT_TRUE(waitFor([&] { return log.contains("ignoring 1-byte TXT record"); }));
  ASSERT_TRUE(waitFor([&] { return log.contains("started monitoring of Empty"); }));
  EXPECT_EQ(list_->netServiceCount(), 1u);

  // No bytes at all are dropped without a word.
  fotello::test::NetServiceEvents browsing;
  auto browser = self_->newBrowser(NetServices::serviceType(), &browsing);
  ASSERT_TRUE(waitFor([&] { return browsing.foundNamed("Empty") != nullptr; }));
  log.clear();
  list_->netServiceDidUpdateTXTRecordData(browsing.foundNamed("Empty"), Bytes{});
  EXPECT_EQ(log.lines().size(), 1u);  // only the DEBUG line of the update itself
  EXPECT_TRUE(list_->liveComputersByUUID().empty());

  registrations_.clear();
  ASSERT_TRUE(waitFor([&] { return log.contains("net service Empty not found in liveComputersByUUID!"); }));
  EXPECT_EQ(list_->netServiceCount(), 0u);
  EXPECT_TRUE(events_.events.empty());
  EXPECT_TRUE(events_.notifications.empty());
}

TEST_F(AutoSyncComputerListTest, AServiceThatDoesNotResolveIsDropped) {
  network_.setResolveFailure(NetServices::kNotFoundError);
  fotello::test::LogCapture log(loomkit::Log::kError);
  start();
  publish("Kitchen", statusTXT(kKitchen, "Kitchen"));
  ASSERT_TRUE(waitFor([&] { return log.contains("error resolving net service 'Kitchen': error domain="); }));
  EXPECT_EQ(list_->netServiceCount(), 0u);
  EXPECT_TRUE(list_->liveComputersByUUID().empty());
}

TEST_F(AutoSyncComputerListTest, TheRecordsDirectoryIsWatchedAgainAfterItIsReplaced) {
  publish("Kitchen", statusTXT(kKitchen, "Kitchen"));
  start();
  ASSERT_TRUE(waitFor([&] { return list_->liveComputersByUUID().size() == 1; }));
  const std::string dir = SyncComputerRecord::configuredSyncComputersDir();
  ASSERT_EQ(::rmdir(dir.c_str()), 0);
  settle(1300ms);
  saveRecord(kKitchen, 0, {});
  ASSERT_TRUE(waitForEvents(1));
  EXPECT_EQ(events_.events, Strings({"added " + kKitchen}));
}
