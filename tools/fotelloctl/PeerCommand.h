// "fotelloctl get HOST:PORT PATH" and "fotelloctl status HOST:PORT": probe any agent from a
// terminal with the protocol headers.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "protocol/IQVData.h"

namespace fotello {

// Runs on the calling thread; prints to standard output, problems to standard error.
class PeerCommand {
 public:
  // get HOST:PORT PATH [--password P] [--uuid UUID] [-o FILE]: prints the status code on one
  // line, then the body (or writes the body to FILE as it arrives). Returns 0 for a 200 answer, 1
  // for any other answer or when no address answered, 2 for bad usage.
  static int runGet(const std::vector<std::string>& args);
  // status HOST:PORT [--password P] [--uuid UUID]: the peer's status record as one JSON object.
  // Returns 0, 1 when it could not be fetched or read, 2 for bad usage.
  static int runStatus(const std::vector<std::string>& args);
  static void printUsage();

  // The request headers for the options: the digest of --password, else the password stored for
  // --uuid, else none. Shared with "catalog fetch".
  struct PeerOptions {
    std::string address;
    std::optional<std::string> password;
    std::string uuid;
    IQVData::Headers headers() const;
  };
  // Takes --password and --uuid out of args; false when one lacks its value.
  static bool takePeerOptions(std::vector<std::string>& args, PeerOptions& options);
};

}  // namespace fotello
