// "fotelloctl config ...": create, show and change the shared configuration file.
#pragma once

#include <string>
#include <vector>

namespace fotello {

// Runs on the calling thread; writes results to standard output and problems to standard error.
class ConfigCommand {
 public:
  // args: the words after "config". Returns the process exit status.
  static int run(const std::vector<std::string>& args);
  static void printUsage();
};

}  // namespace fotello
