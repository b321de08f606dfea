// "fotelloctl scan LIBRARY [--sax]": catalog a photo library as the agent's rescan does.
#pragma once

#include <string>
#include <vector>

namespace fotello {

// Runs on the calling thread. The library's saved catalog, when there is one, is the previous
// catalog, so files that did not change are not hashed again; the new catalog and the library
// digest set are written under the data directory. Progress goes to standard error as a bar,
// the summary to standard output.
class ScanCommand {
 public:
  // args: the words after "scan". --sax picks the event reader, else the whole-document reader.
  // Returns 0, 1 when the scan failed (its error is printed), or 2 for bad usage.
  static int run(const std::vector<std::string>& args);
  static void printUsage();
};

}  // namespace fotello
