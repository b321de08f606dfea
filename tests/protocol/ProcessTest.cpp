#include "protocol/Process.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <thread>

#include "tests/support/TestSupport.h"

using fotello::Process;
using fotello::test::ChildProcess;

namespace {

// Polls the condition for up to 10 seconds.
template <class Condition>
bool eventually(Condition condition) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace

TEST(ProcessTest, FindsAndKillsAProcessByItsExecutableName) {
  // A copy of sleep under a name no other process has.
  fotello::test::TempDir dir;
  const std::string name = "fotello-sleeper";
  std::filesystem::copy_file("/bin/sleep", dir.file(name));
  ChildProcess child({dir.file(name), "60"}, {});
  ASSERT_TRUE(eventually([&] { return Process::isProcessRunningWithBundleIdentifier(name); }));
  EXPECT_TRUE(Process::isProcessRunningWithBundleName(name));
  loomkit::Error error;
  EXPECT_EQ(Process::pidOfProcessRunningWithBundleIdentifier(name, &error), child.pid());
  EXPECT_TRUE(error.empty());

  ASSERT_TRUE(Process::killProcessWithBundleIdentifier(name, &error)) << error.text();
  // The killed child is not reaped yet: an ended process no longer counts as running.
  EXPECT_TRUE(eventually([&] { return !Process::isProcessRunningWithBundleIdentifier(name); }));
  EXPECT_EQ(child.wait(std::chrono::seconds(10)), 128 + SIGKILL);
}

TEST(ProcessTest, NoSuchProcessIsMinusOneWithoutAnError) {
  fotello::test::LogCapture log;
  loomkit::Error error;
  EXPECT_FALSE(Process::isProcessRunningWithBundleIdentifier("no-such-program-here"));
  EXPECT_TRUE(log.contains("Process with ExecutableName = no-such-program-here is not running"));
  EXPECT_EQ(Process::pidOfProcessRunningWithBundleIdentifier("no-such-program-here", &error), -1);
  EXPECT_TRUE(log.contains("Process with ExecutableName = no-such-program-here pid = -1"));
  EXPECT_FALSE(Process::killProcessWithBundleIdentifier("no-such-program-here", &error));
  EXPECT_TRUE(error.empty()) << error.text();
  EXPECT_FALSE(Process::isProcessRunningWithKey("SomeOtherKey", "sleep"));
}

TEST(ProcessTest, ResultCodeTexts) {
  const std::pair<int, const char*> cases[] = {
      {0, "No error"},
      {-600, "No eligible process with specified process serial number."},
      {-606, "Application runs in background only."},
      {-877, "This application will not (or should not) run in Classic."},
      {-1, "Unknown error"},
      {600, "Unknown error"},
  };
  for (const auto& [code, text] : cases) EXPECT_STREQ(Process::descriptionForResultCode(code), text) << code;
}
