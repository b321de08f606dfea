// "fotelloctl password ...": store and remove the local password and the passwords for peers.
#pragma once

#include <string>
#include <vector>

namespace fotello {

// Runs on the calling thread; reads a new password from standard input (without echo on a
// terminal), writes problems to standard error.
class PasswordCommand {
 public:
  // args: the words after "password". Returns the process exit status.
  static int run(const std::vector<std::string>& args);
  static void printUsage();
};

}  // namespace fotello
