// The agent as a process: single instance, configuration rules, live log level, self-removal.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "protocol/AppConfig.h"
#include "tests/support/TestSupport.h"

using fotello::test::ChildProcess;
using namespace std::chrono_literals;

namespace {

class AgentStartupTest : public ::testing::Test {
 protected:
  // A configuration the agent can load, written the way the desktop application writes it.
  void writeConfig(int logLevel) {
    fotello::test::ScopedEnv env("FOTELLO_HOME", home_.path());
    fotello::AppConfig config;
    ASSERT_TRUE(config.loadWithCreateNew(true));
    config.setTzLogLevel(logLevel);
  }
  std::unique_ptr<ChildProcess> startAgent(const std::string& program = fotello::test::programPath("agent/fotello-agent")) {
    return std::make_unique<ChildProcess>(std::vector<std::string>{program},
                                          std::map<std::string, std::string>{{"FOTELLO_HOME", home_.path()},
                                                                             {"DISPLAY", ""},
                                                                             {"WAYLAND_DISPLAY", ""}});
  }

  fotello::test::TempDir home_;
  std::string configPath_ = home_.file("config/app_config.plist");
};

TEST_F(AgentStartupTest, WithoutConfigurationExitsWithErrorAndCreatesNone) {
  auto agent = startAgent();
  auto status = agent->wait(10s);
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  EXPECT_NE(agent->output().find("ERROR [thread "), std::string::npos);
  EXPECT_NE(agent->output().find("error loading config: " + configPath_ + " not found"), std::string::npos)
      << agent->output();
  EXPECT_FALSE(fotello::test::fileExists(configPath_));
}

TEST_F(AgentStartupTest, StartLineAndSecondInstanceRefused) {
  writeConfig(3);
  auto first = startAgent();
  ASSERT_TRUE(first->waitForOutput(" started from ", 10s)) << first->output();
  EXPECT_NE(first->output().find("Fotello Agent version "), std::string::npos);
  // The lock is taken right after the start line; give the first agent a moment to hold it.
  std::this_thread::sleep_for(300ms);

  auto second = startAgent();
  auto status = second->wait(10s);
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  EXPECT_NE(second->output().find("Fotello Agent is already running"), std::string::npos) << second->output();
  EXPECT_TRUE(first->running());
}

TEST_F(AgentStartupTest, LogLevelFollowsTheConfigurationFile) {
  writeConfig(3);
  auto agent = startAgent();
  ASSERT_TRUE(agent->waitForOutput(" started from ", 10s));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(agent->output().find("DEBUG [thread"), std::string::npos);

  // Another program raises the level: the agent reports it and then logs debug lines, such as
  // the one each reload of the configuration writes.
  writeConfig(5);
  ASSERT_TRUE(agent->waitForOutput("log level set to Trace", 3s)) << agent->output();
  writeConfig(5);
  EXPECT_TRUE(agent->waitForOutput("DEBUG [thread", 3s)) << agent->output();

  // Lowered to errors only: nothing more of lower levels appears.
  writeConfig(1);
  std::this_thread::sleep_for(2500ms);
  size_t before = agent->output().size();
  writeConfig(1);
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(agent->output().size(), before) << agent->output().substr(before);
  EXPECT_TRUE(agent->running());
}

TEST_F(AgentStartupTest, EndsWhenItsExecutableIsDeleted) {
  writeConfig(3);
  std::string copy = home_.file("bin/fotello-agent");
  std::filesystem::create_directories(home_.file("bin"));
  std::filesystem::copy_file(fotello::test::programPath("agent/fotello-agent"), copy);
  auto agent = startAgent(copy);
  ASSERT_TRUE(agent->waitForOutput(" started from " + copy, 10s)) << agent->output();
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(agent->running());
  auto removed = std::chrono::steady_clock::now();
  std::filesystem::remove(copy);
  // The agent notices within one 2-second check; how long the process then takes to tear down
  // (much longer under the sanitizers) is not the agent's decision, so time the notice.
  ASSERT_TRUE(agent->waitForOutput("Fotello application was deleted", 5s)) << agent->output();
  EXPECT_LT(std::chrono::steady_clock::now() - removed, 3s);
  auto status = agent->wait(20s);
  ASSERT_TRUE(status.has_value()) << agent->output();
  EXPECT_EQ(*status, 0);
}

TEST_F(AgentStartupTest, VersionAndHelp) {
  auto version = std::make_unique<ChildProcess>(
      std::vector<std::string>{fotello::test::programPath("agent/fotello-agent"), "--version"},
      std::map<std::string, std::string>{});
  EXPECT_EQ(version->wait(10s), 0);
  EXPECT_EQ(version->output().rfind("Fotello Agent ", 0), 0u);
  auto help = std::make_unique<ChildProcess>(
      std::vector<std::string>{fotello::test::programPath("agent/fotello-agent"), "--bogus"},
      std::map<std::string, std::string>{});
  EXPECT_EQ(help->wait(10s), 2);
  EXPECT_NE(help->output().find("Usage: fotello-agent"), std::string::npos);
}

}  // namespace
