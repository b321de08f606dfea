// fotelloctl auto add finding its peer by name through a real avahi-daemon. Run only as
//   tests/netns/with-avahi build/tests/avahi_tests
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "loomkit/http/NetServices.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/PollMainLoop.h"
#include "platform/AvahiServiceRegistry.h"
#include "protocol/IQVAgentStatus.h"
#include "protocol/SyncComputerRecord.h"
#include "tests/support/NetServiceEvents.h"
#include "tests/support/TestSupport.h"

using namespace std::chrono_literals;
using fotello::SyncComputerRecord;

namespace {

const std::string kUuid = "0B5D2F7A-1C3E-4D5F-9A8B-7C6D5E4F3A2B";

class FotelloctlAutoTest : public ::testing::Test {
 protected:
  FotelloctlAutoTest() { loomkit::MainLoop::setMain(&loop_); }
  ~FotelloctlAutoTest() override {
    registration_.reset();
    registry_.reset();
    loomkit::MainLoop::setMain(nullptr);
  }

  void SetUp() override {
    ASSERT_NE(std::getenv("FOTELLO_NETNS"), nullptr) << "run as: tests/netns/with-avahi build/tests/avahi_tests";
    registry_ = std::make_unique<fotello::AvahiServiceRegistry>();
    ASSERT_TRUE(loop_.runUntil([&] { return registry_->isConnected(); }, 10s)) << "no avahi-daemon";
  }

  struct Result {
    int status;
    std::string output;
  };
  Result run(std::vector<std::string> args) {
    args.insert(args.begin(), {fotello::test::programPath("tools/fotelloctl"), "auto"});
    fotello::test::ChildProcess child(args, {{"FOTELLO_HOME", home_.path()}});
    auto status = child.wait(20s);
    return {status.value_or(-1), child.output()};
  }

  fotello::test::TempDir home_;
  fotello::test::ScopedEnv env_{"FOTELLO_HOME", home_.path()};
  loomkit::PollMainLoop loop_;
  std::unique_ptr<fotello::AvahiServiceRegistry> registry_;
  fotello::test::NetServiceEvents publisher_;
  std::unique_ptr<loomkit::ServiceRegistration> registration_;
};

}  // namespace

TEST_F(FotelloctlAutoTest, AddFindsThePeerByItsComputerNameOnTheNetwork) {
  // The computer name of the status differs from the service name; either finds the peer.
  const std::string computerName = loomkit::strprintf("Kitchen %d", static_cast<int>(::getpid()));
  const std::string serviceName = "svc " + computerName;
  fotello::IQVAgentStatus status(std::nullopt, std::nullopt, std::nullopt, 0, 0, kUuid, computerName, "ann");
  registration_ = registry_->newRegistration(serviceName, loomkit::NetServices::serviceType(), 17600,
                                             status.txtRecordData(), &publisher_);
  ASSERT_TRUE(loop_.runUntil([&] { return !publisher_.published.empty(); }, 10s));

  Result r = run({"add", computerName, "--selection", "2", "--album", "5"});
  ASSERT_EQ(r.status, 0) << r.output;
  auto record = SyncComputerRecord::initFromFile(*SyncComputerRecord::pathForUUID(kUuid));
  ASSERT_TRUE(record) << r.output;
  EXPECT_EQ(record->computerName(), computerName);
  EXPECT_EQ(record->userName(), "ann");
  EXPECT_TRUE(record->automatic());
  EXPECT_EQ(record->autoImportSelectionIndex(), 2);
  EXPECT_EQ(record->checkedAlbumIPhotoIds(), std::set<int32_t>({5}));

  r = run({"add", serviceName, "--selection", "4"});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(SyncComputerRecord::initFromFile(*SyncComputerRecord::pathForUUID(kUuid))->autoImportSelectionIndex(), 4);

  r = run({"add", "Nobody Here"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("no Fotello agent named Nobody Here found on the network"), std::string::npos) << r.output;
}
