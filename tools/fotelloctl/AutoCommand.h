// "fotelloctl auto ...": the peers this computer's agent pulls from automatically, kept as the
// same saved records the desktop application writes.
#pragma once

#include <string>
#include <vector>

namespace fotello {

// Runs on the calling thread (a poll main loop while it browses the network); writes results to
// standard output and problems to standard error.
class AutoCommand {
 public:
  // args: the words after "auto". Returns the process exit status.
  static int run(const std::vector<std::string>& args);
  static void printUsage();
};

}  // namespace fotello
