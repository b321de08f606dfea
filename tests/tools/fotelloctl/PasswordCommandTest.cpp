// fotelloctl password, run as a headless user would: the password comes through a pipe.
#include <gtest/gtest.h>

#include "protocol/IQVKeyChain.h"
#include "tests/support/TestSupport.h"

using fotello::IQVKeyChain;
using namespace std::chrono_literals;

namespace {

class PasswordCommandTest : public ::testing::Test {
 protected:
  struct Result {
    int status;
    std::string output;
  };
  // Runs "fotelloctl password ARGS" with input on its standard input.
  Result run(const std::string& args, const std::string& input) {
    fotello::test::ChildProcess child(
        {"/bin/sh", "-c", "printf '%s' \"$INPUT\" | \"$FOTELLOCTL\" password " + args},
        {{"FOTELLO_HOME", home_.path()},
         {"INPUT", input},
         {"FOTELLOCTL", fotello::test::programPath("tools/fotelloctl")}});
    auto status = child.wait(10s);
    return {status.value_or(-1), child.output()};
  }

  fotello::test::TempDir home_;
  fotello::test::ScopedEnv fotelloHome_{"FOTELLO_HOME", home_.path()};
};

TEST_F(PasswordCommandTest, SetsAndClearsTheLocalAndPeerPasswords) {
  EXPECT_EQ(run("set-local", "s\xc3\xa9" "cret\n").status, 0);
  EXPECT_EQ(IQVKeyChain::localPassword(), "s\xc3\xa9" "cret");
  EXPECT_EQ(run("set 1234-ABCD", "peer password\r\n").status, 0);  // a line end of either kind
  EXPECT_EQ(IQVKeyChain::passwordForUUID("1234-ABCD"), "peer password");
  EXPECT_EQ(run("set-local", "no line end").status, 0);
  EXPECT_EQ(IQVKeyChain::localPassword(), "no line end");

  EXPECT_EQ(run("clear 1234-ABCD", "").status, 0);
  loomkit::Error error;
  EXPECT_FALSE(IQVKeyChain::passwordForUUID("1234-ABCD", &error));
  EXPECT_EQ(error.code(), -2);
  EXPECT_EQ(IQVKeyChain::localPassword(), "no line end");
  EXPECT_EQ(run("clear-local", "").status, 0);
  EXPECT_FALSE(IQVKeyChain::localPassword());
  EXPECT_EQ(run("clear-local", "").status, 0);  // nothing left to clear
}

TEST_F(PasswordCommandTest, RefusesMissingOrUnusablePasswordsAndStoresNothing) {
  const struct {
    const char* args;
    std::string input;
    int status;
    const char* message;
  } cases[] = {
      {"set-local", "", 1, "no password on standard input"},
      {"set-local", "\n", 1, "the password is empty"},
      {"set-local", std::string(1025, 'x'), 1, "longer than 1024 bytes"},
      {"set-local", "\xff\xfe\n", 1, "not valid UTF-8"},
      {"set", "x\n", 2, "fotelloctl password set UUID"},
      {"forget", "", 2, "fotelloctl password clear-local"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    Result result = run(c.args, c.input);
    EXPECT_EQ(result.status, c.status);
    EXPECT_NE(result.output.find(c.message), std::string::npos) << result.output;
    EXPECT_FALSE(IQVKeyChain::localPassword());
  }
}

}  // namespace
