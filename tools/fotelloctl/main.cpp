// fotelloctl: inspect and control Fotello from a terminal.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/fotelloctl/AutoCommand.h"
#include "tools/fotelloctl/CatalogCommand.h"
#include "tools/fotelloctl/ConfigCommand.h"
#include "tools/fotelloctl/HashCommand.h"
#include "tools/fotelloctl/PasswordCommand.h"
#include "tools/fotelloctl/PeersCommand.h"
#include "tools/fotelloctl/PeerCommand.h"
#include "tools/fotelloctl/ScanCommand.h"
#include "tools/fotelloctl/WantedCommand.h"

namespace {

void printUsage() {
  std::fprintf(stderr, "Usage: fotelloctl COMMAND ...\n\nCommands:\n");
  fotello::ConfigCommand::printUsage();
  fotello::HashCommand::printUsage();
  fotello::CatalogCommand::printUsage();
  fotello::PasswordCommand::printUsage();
  fotello::PeersCommand::printUsage();
  fotello::ScanCommand::printUsage();
  fotello::AutoCommand::printUsage();
  fotello::WantedCommand::printUsage();
  fotello::PeerCommand::printUsage();
  std::fprintf(stderr, "  fotelloctl --version\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    printUsage();
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "--version") {
    std::printf("fotelloctl %s\n", FOTELLO_VERSION);
    return 0;
  }
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "config") return fotello::ConfigCommand::run(rest);
  if (args[0] == "hash") return fotello::HashCommand::run(rest);
  if (args[0] == "catalog") return fotello::CatalogCommand::run(rest);
  if (args[0] == "password") return fotello::PasswordCommand::run(rest);
  if (args[0] == "peers") return fotello::PeersCommand::run(rest);
  if (args[0] == "scan") return fotello::ScanCommand::run(rest);
  if (args[0] == "auto") return fotello::AutoCommand::run(rest);
  if (args[0] == "wanted") return fotello::WantedCommand::run(rest);
  if (args[0] == "get") return fotello::PeerCommand::runGet(rest);
  if (args[0] == "status") return fotello::PeerCommand::runStatus(rest);
  std::fprintf(stderr, "fotelloctl: unknown command %s\n", args[0].c_str());
  printUsage();
  return 2;
}
