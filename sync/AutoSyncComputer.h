// An automatic peer as the pull loop and the request client see it: its identifier, its name and
// its DNS-SD service.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "loomkit/http/NetService.h"
#include "protocol/RemoteComputer.h"

namespace fotello {

// Immutable: share and copy it freely between threads (the service handle is read-only here and
// its addresses may be read from any thread). Two are equal when their identifiers are.
class AutoSyncComputer final : public RemoteComputer {
 public:
  AutoSyncComputer(std::string uuid, std::string computerName, std::shared_ptr<loomkit::NetService> netService);

  std::string uuid() const override { return uuid_; }
  std::string computerName() const override { return computerName_; }
  std::shared_ptr<loomkit::NetService> netService() const override { return netService_; }

  bool isEqual(const AutoSyncComputer& other) const { return uuid_ == other.uuid_; }
  bool operator==(const AutoSyncComputer& other) const { return isEqual(other); }
  // The identifier's hash plus 31.
  size_t hash() const;

  // "<AutoSyncComputer: uuid=%@ computerName=%@>".
  std::string description() const;

 private:
  std::string uuid_;
  std::string computerName_;
  std::shared_ptr<loomkit::NetService> netService_;
};

}  // namespace fotello

template <>
struct std::hash<fotello::AutoSyncComputer> {
  size_t operator()(const fotello::AutoSyncComputer& computer) const { return computer.hash(); }
};
