#include "tools/fotelloctl/AutoCommand.h"

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>

#include "loomkit/shared/Log.h"
#include "loomkit/shared/PollMainLoop.h"
#include "platform/AvahiServiceRegistry.h"
#include "protocol/SyncComputerRecord.h"
#include "tools/fotelloctl/NetworkPeerLookup.h"
#include "tools/fotelloctl/SelectionText.h"

namespace fotello {

using namespace std::chrono_literals;

namespace {

// How long "auto add" looks for a peer given by name.
constexpr auto kLookupTimeout = 5s;

bool parseInt32(const std::string& text, int32_t* value) {
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

std::string albumsText(const std::set<int32_t>& ids) {
  if (ids.empty()) return "none";
  std::string text;
  for (int32_t id : ids) text += (text.empty() ? "" : ",") + std::to_string(id);
  return text;
}

int list() {
  loomkit::Error error;
  auto records = SyncComputerRecord::storedRecords(&error);
  if (!records) {
    std::fprintf(stderr, "fotelloctl: cannot list %s: %s\n", SyncComputerRecord::configuredSyncComputersDir().c_str(),
                 error.description().c_str());
    return 1;
  }
  if (records->empty()) std::printf("no automatic peers\n");
  for (const SyncComputerRecord& r : *records) {
    std::printf("%s  %s  user %s  selection %d (%s)  albums %s\n", r.uuid().value_or("(no uuid)").c_str(),
                r.computerName().value_or("(no name)").c_str(), r.userName().value_or("(unknown)").c_str(),
                r.autoImportSelectionIndex(), selectionText(r.autoImportSelectionIndex()),
                albumsText(r.checkedAlbumIPhotoIds()).c_str());
  }
  return 0;
}

// The saved records whose identifier or computer name is peer (without regard to case).
std::vector<SyncComputerRecord> savedRecordsNamed(const std::string& peer) {
  std::vector<SyncComputerRecord> found;
  auto records = SyncComputerRecord::storedRecords();
  if (!records) return found;
  for (SyncComputerRecord& r : *records) {
    auto same = [&](const std::optional<std::string>& s) {
      return s && s->size() == peer.size() && ::strcasecmp(s->c_str(), peer.c_str()) == 0;
    };
    if (same(r.uuid()) || same(r.computerName())) found.push_back(std::move(r));
  }
  return found;
}

// Who peer is: an identifier is taken as it stands; anything else is looked up on the network.
std::optional<NetworkPeerLookup::Peer> resolvePeer(const std::string& peer) {
  if (SyncComputerRecord::isValidUUID(peer)) {
    // Agents announce their identifiers in upper case, and the agent matches them exactly.
    std::string uuid = peer;
    for (char& c : uuid) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return NetworkPeerLookup::Peer{uuid, "", "", ""};
  }
  loomkit::PollMainLoop loop;
  loomkit::MainLoop::setMain(&loop);
  std::vector<NetworkPeerLookup::Peer> found;
  {
    AvahiServiceRegistry registry;
    NetworkPeerLookup lookup(registry, loop);
    found = lookup.find(peer, kLookupTimeout);
  }
  loomkit::MainLoop::setMain(nullptr);
  if (found.empty()) {
    std::fprintf(stderr, "fotelloctl: no Fotello agent named %s found on the network within %lld seconds\n",
                 peer.c_str(), static_cast<long long>(kLookupTimeout.count()));
    return std::nullopt;
  }
  if (found.size() > 1) {
    std::fprintf(stderr, "fotelloctl: %s names more than one computer; give its identifier instead:\n", peer.c_str());
    for (const auto& p : found) std::fprintf(stderr, "  %s  %s\n", p.uuid.c_str(), p.computerName.c_str());
    return std::nullopt;
  }
  if (!SyncComputerRecord::isValidUUID(found[0].uuid)) {
    std::fprintf(stderr, "fotelloctl: %s announces an invalid computer identifier\n", peer.c_str());
    return std::nullopt;
  }
  return found[0];
}

int add(const std::vector<std::string>& args) {
  std::optional<int32_t> selection;
  std::optional<std::set<int32_t>> albums;
  std::string peer;
  for (size_t i = 1; i < args.size(); ++i) {
    int32_t n = 0;
    if (args[i] == "--selection" && i + 1 < args.size()) {
      if (!parseInt32(args[++i], &n) || n < 0 || n > 6) {
        std::fprintf(stderr, "fotelloctl: --selection takes 0 to 6\n");
        return 2;
      }
      selection = n;
    } else if (args[i] == "--album" && i + 1 < args.size()) {
      if (!parseInt32(args[++i], &n)) {
        std::fprintf(stderr, "fotelloctl: --album takes an album id\n");
        return 2;
      }
      if (!albums) albums.emplace();
      albums->insert(n);
    } else if (peer.empty() && !args[i].starts_with("--")) {
      peer = args[i];
    } else {
      AutoCommand::printUsage();
      return 2;
    }
  }
  if (peer.empty()) {
    AutoCommand::printUsage();
    return 2;
  }

  auto found = resolvePeer(peer);
  if (!found) return 1;

  // An existing record keeps what this call does not set.
  SyncComputerRecord record;
  const std::string path = *SyncComputerRecord::pathForUUID(found->uuid);
  loomkit::Error error;
  if (auto existing = SyncComputerRecord::initFromFile(path, &error)) record = std::move(*existing);
  record.setUuid(found->uuid);
  if (!found->computerName.empty()) record.setComputerName(found->computerName);
  if (!found->userName.empty()) record.setUserName(found->userName);
  record.setAutomatic(true);
  if (selection) record.setAutoImportSelectionIndex(*selection);
  if (albums) record.setCheckedAlbumIPhotoIds(*albums);
  if (!record.saveToFile(&error)) {
    std::fprintf(stderr, "fotelloctl: cannot save %s: %s\n", path.c_str(), error.description().c_str());
    return 1;
  }
  std::printf("%s  %s  selection %d (%s)  albums %s\n", found->uuid.c_str(),
              record.computerName().value_or("(no name)").c_str(), record.autoImportSelectionIndex(),
              selectionText(record.autoImportSelectionIndex()), albumsText(record.checkedAlbumIPhotoIds()).c_str());
  return 0;
}

int remove(const std::string& peer) {
  std::vector<SyncComputerRecord> found = savedRecordsNamed(peer);
  if (found.empty()) {
    std::fprintf(stderr, "fotelloctl: no automatic peer %s\n", peer.c_str());
    return 1;
  }
  if (found.size() > 1) {
    std::fprintf(stderr, "fotelloctl: %s names more than one saved peer; give its identifier instead\n", peer.c_str());
    return 1;
  }
  loomkit::Error error;
  if (!SyncComputerRecord::deleteFileForUUID(found[0].uuid().value_or(""), &error)) {
    std::fprintf(stderr, "fotelloctl: cannot remove %s: %s\n", peer.c_str(), error.description().c_str());
    return 1;
  }
  std::printf("removed %s  %s\n", found[0].uuid()->c_str(), found[0].computerName().value_or("(no name)").c_str());
  return 0;
}

}  // namespace

void AutoCommand::printUsage() {
  std::fprintf(stderr,
               "  fotelloctl auto list                      the peers the agent pulls from automatically\n"
               "  fotelloctl auto add PEER [--selection N] [--album ID]...\n"
               "                                            pull from PEER (its identifier, or its computer\n"
               "                                            name as seen on the network): N 0 all photos,\n"
               "                                            1 checked albums only, 2..6 taken in the last\n"
               "                                            30/60/90/180/365 days or in a checked album\n"
               "  fotelloctl auto remove PEER               stop pulling from PEER\n");
}

int AutoCommand::run(const std::vector<std::string>& args) {
  if (args.size() == 1 && args[0] == "list") return list();
  if (!args.empty() && args[0] == "add") return add(args);
  if (args.size() == 2 && args[0] == "remove") return remove(args[1]);
  printUsage();
  return 2;
}

}  // namespace fotello
