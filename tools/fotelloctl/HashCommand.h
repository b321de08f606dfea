// "fotelloctl hash [--plain] FILE...": the digests that identify photo files.
#pragma once

#include <string>
#include <vector>

namespace fotello {

// Runs on the calling thread; writes digests to standard output and problems to standard error.
class HashCommand {
 public:
  // args: the words after "hash". One line per file, "DIGEST  PATH"; the photo digest unless
  // --plain asks for the digest of the whole file. Returns 0, 1 when a file could not be read
  // (the others are still digested), or 2 for bad usage.
  static int run(const std::vector<std::string>& args);
  static void printUsage();
};

}  // namespace fotello
