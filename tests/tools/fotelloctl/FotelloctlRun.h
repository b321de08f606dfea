// Runs the built fotelloctl as a child process and collects what it printed.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace fotello::test {

struct CommandResult {
  int status = -1;
  std::string output;  // standard output and standard error together
};

// Runs fotelloctl with the given arguments.
inline CommandResult runFotelloctl(std::vector<std::string> args) {
  args.insert(args.begin(), programPath("tools/fotelloctl"));
  ChildProcess child(args, {{"FOTELLO_HOME", "/nonexistent-fotello-home"}});
  std::optional<int> status = child.wait(std::chrono::seconds(60));
  EXPECT_TRUE(status) << "fotelloctl did not finish";
  return {status.value_or(-1), child.output()};
}

// Runs a shell command line with "$0" set to the fotelloctl program (for redirections).
inline CommandResult runShell(const std::string& commandLine, const std::vector<std::string>& args = {}) {
  std::vector<std::string> argv = {"/bin/sh", "-c", commandLine, programPath("tools/fotelloctl")};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess child(argv, {});
  std::optional<int> status = child.wait(std::chrono::seconds(60));
  EXPECT_TRUE(status) << "the shell did not finish";
  return {status.value_or(-1), child.output()};
}

}  // namespace fotello::test
