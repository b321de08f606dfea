#include "tools/fotelloctl/PeersCommand.h"

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "loomkit/http/NetService.h"
#include "loomkit/http/NetServices.h"
#include "loomkit/http/ServiceBrowser.h"
#include "loomkit/shared/PollMainLoop.h"
#include "platform/AvahiServiceRegistry.h"
#include "platform/AvahiTXTRecord.h"
#include "protocol/IQVAgentStatus.h"

namespace fotello {

namespace {

using loomkit::NetService;

// Browses, resolves every agent found and monitors its record. Main thread only.
class PeerWatch final : public loomkit::ServiceBrowserDelegate, public loomkit::NetServiceDelegate {
 public:
  explicit PeerWatch(bool watch) : watch_(watch) {}

  struct Peer {
    std::string line;  // empty until resolved with a record that decodes
  };
  std::map<std::string, Peer>& peers() { return peers_; }
  std::vector<std::shared_ptr<NetService>> services;

  void serviceBrowserDidFindService(const std::shared_ptr<NetService>& service) override {
    services.push_back(service);
    service->setDelegate(this);
    service->resolveWithTimeout();
  }
  void serviceBrowserDidRemoveService(const std::shared_ptr<NetService>& service) override {
    service->setDelegate(nullptr);
    std::erase(services, service);
    if (peers_.erase(service->name()) && watch_) {
      std::printf("removed %s\n", service->name().c_str());
      std::fflush(stdout);
    }
  }
  void serviceBrowserDidNotSearch(const loomkit::Error& error) override {
    std::fprintf(stderr, "fotelloctl: DNS-SD search failed: %s\n", error.text().c_str());
    failed = true;
  }
  void netServiceDidResolveAddress(const std::shared_ptr<NetService>& service) override {
    update(*service, service->txtRecordData(), "added");
    service->startMonitoring();
  }
  void netServiceDidNotResolve(const std::shared_ptr<NetService>& service, const loomkit::Error& error) override {
    if (watch_) std::fprintf(stderr, "fotelloctl: %s did not resolve: %s\n", service->name().c_str(), error.text().c_str());
  }
  void netServiceDidUpdateTXTRecordData(const std::shared_ptr<NetService>& service,
                                        const loomkit::Bytes& data) override {
    update(*service, data, "changed");
  }

  bool failed = false;

 private:
  void update(const NetService& service, const loomkit::Bytes& txt, const char* event) {
    // A record of at most one byte is the empty record: no status yet.
    if (txt.size() <= 1) return;
    loomkit::Error error;
    auto status = IQVAgentStatus::newWithTXTRecordData(txt, &error);
    std::string address;
    for (const auto& a : service.addresses()) address += (address.empty() ? "" : ",") + a.numericHost();
    if (address.empty()) address = "-";
    std::string line = service.name() + "\taddress=" + address + " port=" + std::to_string(service.port()) + " " +
                       (status ? PeersCommand::describe(*status) : "unreadable=" + error.description());
    bool known = peers_.count(service.name()) && !peers_[service.name()].line.empty();
    peers_[service.name()].line = line;
    if (watch_) {
      std::printf("%s %s\n", known ? "changed" : event, line.c_str());
      std::fflush(stdout);
    }
  }

  const bool watch_;
  std::map<std::string, Peer> peers_;
};

loomkit::PollMainLoop* interruptedLoop = nullptr;

void onInterrupt(int) {
  if (interruptedLoop) interruptedLoop->quit(0);
}

}  // namespace

void PeersCommand::printUsage() {
  std::fprintf(stderr,
               "  fotelloctl peers [--watch] [--wait SECONDS]\n"
               "                                     list the agents on the network and their status\n"
               "  fotelloctl peers --decode TXT      decode a TXT record as avahi-browse -p prints it\n");
}

std::string PeersCommand::describe(const IQVAgentStatus& status) {
  std::string out = "computer=" + status.computerName();
  out += " photos=" + (status.albumDataSHA1() ? std::to_string(status.totalPhotos()) : std::string("-"));
  out += " digest=" + status.albumDataSHA1().value_or("-");
  out += " progress=" + std::to_string(status.currentPhoto()) + "/" + std::to_string(status.totalPhotos());
  if (status.scanError()) out += " error=" + status.scanError()->description();
  return out;
}

std::optional<loomkit::Bytes> PeersCommand::txtRecordFromBrowseField(const std::string& field) {
  std::vector<loomkit::Bytes> items;
  size_t i = 0;
  while (i < field.size()) {
    if (field[i] == ' ') {
      ++i;
      continue;
    }
    if (field[i] != '"') return std::nullopt;
    ++i;
    loomkit::Bytes item;
    for (;;) {
      if (i >= field.size()) return std::nullopt;
      char c = field[i];
      if (c == '"') {
        ++i;
        break;
      }
      if (c == '\\') {
        if (i + 3 < field.size() && std::isdigit(static_cast<unsigned char>(field[i + 1])) &&
            std::isdigit(static_cast<unsigned char>(field[i + 2])) &&
            std::isdigit(static_cast<unsigned char>(field[i + 3]))) {
          int value = (field[i + 1] - '0') * 100 + (field[i + 2] - '0') * 10 + (field[i + 3] - '0');
          if (value > 255) return std::nullopt;
          item.push_back(static_cast<uint8_t>(value));
          i += 4;
          continue;
        }
        if (i + 1 >= field.size()) return std::nullopt;
        item.push_back(static_cast<uint8_t>(field[i + 1]));
        i += 2;
        continue;
      }
      item.push_back(static_cast<uint8_t>(c));
      ++i;
    }
    if (item.size() > 255) return std::nullopt;
    items.push_back(std::move(item));
  }
  // avahi-browse prints the items last first. The wire form: each item's length, then its bytes.
  loomkit::Bytes wire;
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    wire.push_back(static_cast<uint8_t>(it->size()));
    wire.insert(wire.end(), it->begin(), it->end());
  }
  return AvahiTXTRecord::fromWireForm(wire.data(), wire.size());
}

int PeersCommand::run(const std::vector<std::string>& args) {
  bool watch = false;
  double waitSeconds = 3;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--watch") {
      watch = true;
    } else if (args[i] == "--wait" && i + 1 < args.size()) {
      char* end = nullptr;
      waitSeconds = std::strtod(args[++i].c_str(), &end);
      if (!end || *end || waitSeconds < 0 || waitSeconds > 3600) {
        std::fprintf(stderr, "fotelloctl: bad --wait value %s\n", args[i].c_str());
        return 2;
      }
    } else if (args[i] == "--decode" && i + 1 < args.size() && args.size() == 2) {
      std::optional<loomkit::Bytes> record = txtRecordFromBrowseField(args[i + 1]);
      loomkit::Error error;
      auto status = record ? IQVAgentStatus::newWithTXTRecordData(*record, &error) : nullptr;
      if (!status) {
        std::fprintf(stderr, "fotelloctl: %s\n", record ? error.description().c_str() : "not a TXT field of avahi-browse -p");
        return 1;
      }
      std::printf("%s\n", describe(*status).c_str());
      return 0;
    } else {
      printUsage();
      return 2;
    }
  }

  loomkit::PollMainLoop loop;
  loomkit::MainLoop::setMain(&loop);
  int status = 0;
  {
    AvahiServiceRegistry registry;
    PeerWatch peers(watch);
    auto browser = registry.newBrowser(loomkit::NetServices::serviceType(), &peers);
    auto waitTime = std::chrono::milliseconds(static_cast<int64_t>(waitSeconds * 1000));
    if (watch) {
      interruptedLoop = &loop;
      std::signal(SIGINT, onInterrupt);
      std::signal(SIGTERM, onInterrupt);
      if (!loop.runUntil([&] { return registry.isConnected(); }, std::chrono::seconds(5))) {
        std::fprintf(stderr, "fotelloctl: waiting for avahi-daemon\n");
      }
      status = loop.run();
      interruptedLoop = nullptr;
    } else {
      loop.runUntil([&] { return peers.failed; }, waitTime);
      if (!registry.isConnected()) {
        std::fprintf(stderr, "fotelloctl: avahi-daemon is not running (or not on this system bus)\n");
        status = 1;
      } else {
        for (const auto& [name, peer] : peers.peers()) {
          if (!peer.line.empty()) std::printf("%s\n", peer.line.c_str());
        }
        if (peers.failed) status = 1;
      }
    }
    browser.reset();
    for (auto& service : peers.services) service->setDelegate(nullptr);
  }
  loomkit::MainLoop::setMain(nullptr);
  return status;
}

}  // namespace fotello
