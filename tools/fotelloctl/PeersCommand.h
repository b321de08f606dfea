// "fotelloctl peers [--watch] [--wait SECONDS]": the agents DNS-SD finds on the network, with the
// status their TXT records announce; "fotelloctl peers --decode TXT" decodes a TXT record as
// `avahi-browse -p` prints it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "loomkit/io/Bytes.h"

namespace fotello {

class IQVAgentStatus;

// Runs a poll main loop on the calling thread with the avahi-daemon of the system bus
// (DBUS_SYSTEM_BUS_ADDRESS names another). One line per agent on standard output:
//   NAME<TAB>address=HOST[,HOST...] port=PORT computer=NAME photos=N digest=SHA1|- progress=CUR/TOTAL [error=TEXT]
// Without --watch: browses for --wait seconds (3 by default), prints the agents resolved by then
// sorted by name, and exits. With --watch: prints "added", "changed" and "removed" lines as they
// happen, until interrupted.
class PeersCommand {
 public:
  // Returns 0, 1 when DNS-SD is not available or a record does not decode, 2 for bad usage.
  static int run(const std::vector<std::string>& args);
  static void printUsage();

  // The record bytes of a TXT field of `avahi-browse -p` (quoted items, last item first,
  // separated by blanks, with \" \\ and \DDD escapes), the DNS-SD layer's item escaping undone;
  // nullopt when the text is not of that form.
  static std::optional<loomkit::Bytes> txtRecordFromBrowseField(const std::string& field);
  // The status part of an agent's line: "computer=... photos=... digest=... progress=...".
  static std::string describe(const IQVAgentStatus& status);
};

}  // namespace fotello
