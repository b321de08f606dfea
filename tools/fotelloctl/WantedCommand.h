// "fotelloctl wanted HOST:PORT [--json]": the photos this computer's agent would pull from the
// agent at that address under the peer's saved settings.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "protocol/PeerDataSource.h"
#include "protocol/RemoteComputer.h"

namespace fotello {

// Runs on the calling thread; writes the list to standard output (or out) and problems to
// standard error.
class WantedCommand {
 public:
  // args: the words after "wanted". Returns the process exit status: 0, 1 when the configuration,
  // the peer or a digest set cannot be read, 2 for bad usage.
  static int run(const std::vector<std::string>& args);
  static void printUsage();

  // The list for peer from source: its status says who it is, its saved record (if any) which
  // photos are pulled, and the digest sets of the library what is here already. A peer without a
  // record gets nothing pulled.
  static int show(PeerDataSource& source, const RemoteComputer& peer, const std::string& iPhotoLibraryPath,
                  bool json, std::FILE* out);
};

}  // namespace fotello
