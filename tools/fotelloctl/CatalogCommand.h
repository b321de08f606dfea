// "fotelloctl catalog show [--json] FILE": decode a catalog file or a peer's catalog body;
// "fotelloctl catalog fetch [--json] HOST:PORT": load an agent's catalog over the network.
#pragma once

#include <string>
#include <vector>

namespace fotello {

// Runs on the calling thread; writes the catalog to standard output and problems to standard
// error.
class CatalogCommand {
 public:
  // args: the words after "catalog". FILE "-" reads standard input. Without --json a readable
  // summary, with it one JSON object. Returns 0, 1 when the input is unreadable or not a catalog
  // (the load error is printed), or 2 for bad usage.
  static int run(const std::vector<std::string>& args);
  static void printUsage();
};

}  // namespace fotello
