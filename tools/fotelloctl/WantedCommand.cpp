#include "tools/fotelloctl/WantedCommand.h"

#include <netdb.h>
#include <sys/socket.h>

#include <cstdlib>
#include <optional>

#include "loomkit/io/FileSystem.h"
#include "loomkit/shared/Format.h"
#include "protocol/AgentMissingPhotoFinder.h"
#include "protocol/AppConfig.h"
#include "protocol/SyncComputerRecord.h"
#include "tools/fotelloctl/JsonText.h"
#include "tools/fotelloctl/SelectionText.h"

namespace fotello {

namespace {

// A peer known only by its addresses, as given on the command line.
class AddressedPeer final : public RemoteComputer {
 public:
  AddressedPeer(std::vector<loomkit::ServiceAddress> addresses, std::string uuid, std::string computerName)
      : addresses_(std::move(addresses)), uuid_(std::move(uuid)), computerName_(std::move(computerName)) {}
  std::string uuid() const override { return uuid_; }
  std::string computerName() const override { return computerName_; }
  std::shared_ptr<loomkit::NetService> netService() const override { return nullptr; }
  std::vector<loomkit::ServiceAddress> addresses() const override { return addresses_; }

 private:
  std::vector<loomkit::ServiceAddress> addresses_;
  std::string uuid_;
  std::string computerName_;
};

// The addresses of "HOST:PORT" ("[v6]:PORT" for a numeric IPv6 address); nothing after saying why.
std::optional<std::vector<loomkit::ServiceAddress>> parseHostPort(const std::string& text) {
  size_t colon = text.rfind(':');
  std::string host = colon == std::string::npos ? "" : text.substr(0, colon);
  const std::string port = colon == std::string::npos ? "" : text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  char* end = nullptr;
  long number = std::strtol(port.c_str(), &end, 10);
  if (host.empty() || port.empty() || *end != '\0' || number < 1 || number > 65535) {
    std::fprintf(stderr, "fotelloctl: %s is not HOST:PORT\n", text.c_str());
    return std::nullopt;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    std::fprintf(stderr, "fotelloctl: %s: %s\n", host.c_str(), ::gai_strerror(rc));
    return std::nullopt;
  }
  std::vector<loomkit::ServiceAddress> addresses;
  for (addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_family == AF_INET) addresses.emplace_back(*reinterpret_cast<sockaddr_in*>(a->ai_addr));
    if (a->ai_family == AF_INET6) addresses.emplace_back(*reinterpret_cast<sockaddr_in6*>(a->ai_addr));
  }
  ::freeaddrinfo(found);
  return addresses;
}

// Text from a peer for a terminal: control characters (escape sequences among them) shown as "?".
std::string printable(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return out;
}

std::string albumsJSON(const std::set<int32_t>& ids) {
  std::string text = "[";
  for (int32_t id : ids) text += (text.size() > 1 ? "," : "") + std::to_string(id);
  return text + "]";
}

}  // namespace

void WantedCommand::printUsage() {
  std::fprintf(stderr,
               "  fotelloctl wanted HOST:PORT [--json]      the photos this computer would pull from the\n"
               "                                            agent at HOST:PORT under its saved settings\n");
}

int WantedCommand::run(const std::vector<std::string>& args) {
  const bool json = args.size() == 2 && args[1] == "--json";
  if (!(args.size() == 1 || json) || args[0].starts_with("--")) {
    printUsage();
    return 2;
  }
  auto addresses = parseHostPort(args[0]);
  if (!addresses) return 2;

  AppConfig config;
  loomkit::Error error;
  if (!config.loadWithCreateNew(false, &error)) {
    std::fprintf(stderr, "fotelloctl: cannot read the configuration %s: %s\n", config.appConfigPath().c_str(),
                 error.description().c_str());
    return 1;
  }
  if (!config.iPhotoLibraryPath()) {
    std::fprintf(stderr, "fotelloctl: no photo library is configured\n");
    return 1;
  }
  AddressedPeer peer(std::move(*addresses), "", args[0]);
  return show(PeerDataSource::peerRequestSource(), peer, *config.iPhotoLibraryPath(), json, stdout);
}

int WantedCommand::show(PeerDataSource& source, const RemoteComputer& peer, const std::string& iPhotoLibraryPath,
                        bool json, std::FILE* out) {
  loomkit::Error error;
  auto status = source.statusFromRemoteComputer(peer, &error);
  if (!status) {
    std::fprintf(stderr, "fotelloctl: cannot read the status of %s: %s\n", peer.computerName().c_str(),
                 error.description().c_str());
    return 1;
  }
  auto identified = std::make_shared<AddressedPeer>(peer.addresses(), status->uuid(), status->computerName());
  const std::string uuid = JsonText::string(status->uuid());
  const std::string name = JsonText::string(status->computerName());

  std::optional<SyncComputerRecord> record;
  if (auto path = SyncComputerRecord::pathForUUID(status->uuid())) {
    if (loomkit::FileSystem::exists(*path)) {
      record = SyncComputerRecord::initFromFile(*path, &error);
      if (!record) {
        std::fprintf(stderr, "fotelloctl: cannot read %s: %s\n", path->c_str(), error.description().c_str());
        return 1;
      }
    }
  }
  std::optional<SavedComputer> saved = record ? SavedComputer::fromRecord(*record) : std::nullopt;
  if (!saved) {
    if (json) {
      std::fprintf(out, "{\"uuid\":%s,\"computerName\":%s,\"automatic\":false,\"photos\":[]}\n", uuid.c_str(),
                   name.c_str());
    } else {
      std::fprintf(out, "%s (%s) is not an automatic peer: nothing would be pulled\n",
                   printable(status->computerName()).c_str(), printable(status->uuid()).c_str());
    }
    return 0;
  }

  AgentMissingPhotoFinder finder(iPhotoLibraryPath, identified, *saved, source);
  auto wanted = finder.sortedWantedRemotePhotos(&error);
  if (!wanted) {
    std::fprintf(stderr, "fotelloctl: cannot work out the wanted photos of %s: %s\n",
                 printable(status->computerName()).c_str(), error.description().c_str());
    return 1;
  }

  const int32_t selection = saved->autoImportSelectionIndex();
  if (json) {
    std::fprintf(out, "{\"uuid\":%s,\"computerName\":%s,\"automatic\":true,\"selection\":%d,\"albums\":%s,\"photos\":[",
                 uuid.c_str(), name.c_str(), selection, albumsJSON(saved->iPhotoIdsOfCheckedAlbums()).c_str());
    const char* separator = "\n";
    for (const Photo* p : *wanted) {
      std::fprintf(out, "%s{\"key\":%s,\"originalSHA1\":%s,\"modifiedSHA1\":%s,\"dateTaken\":%s,\"caption\":%s,"
                   "\"rollId\":%llu}",
                   separator, JsonText::optional(p->iPhotoKey()).c_str(), JsonText::optional(p->originalSHA1()).c_str(),
                   JsonText::optional(p->modifiedSHA1()).c_str(), JsonText::number(p->dateTaken()).c_str(),
                   JsonText::optional(p->caption()).c_str(), static_cast<unsigned long long>(p->rollId()));
      separator = ",\n";
    }
    std::fprintf(out, "]}\n");
    return 0;
  }
  std::string albums;
  for (int32_t id : saved->iPhotoIdsOfCheckedAlbums()) albums += (albums.empty() ? "" : ",") + std::to_string(id);
  std::fprintf(out, "%s (%s): selection %d (%s), albums %s\n", printable(status->computerName()).c_str(),
               printable(status->uuid()).c_str(), selection, selectionText(selection),
               albums.empty() ? "none" : albums.c_str());
  std::fprintf(out, "%zu photo%s would be pulled\n", wanted->size(),
               loomkit::pluralSuffix(static_cast<long long>(wanted->size())));
  for (const Photo* p : *wanted) {
    std::fprintf(out, "  %s  %s  %s  %s\n", JsonText::dateText(p->dateTaken()).c_str(),
                 printable(p->originalSHA1().value_or("-")).c_str(), printable(p->iPhotoKey().value_or("(no key)")).c_str(),
                 printable(p->caption().value_or("")).c_str());
  }
  return 0;
}

}  // namespace fotello
