#include "sync/AutoSyncComputer.h"

#include <functional>

namespace fotello {

AutoSyncComputer::AutoSyncComputer(std::string uuid, std::string computerName,
                                   std::shared_ptr<loomkit::NetService> netService)
    : uuid_(std::move(uuid)), computerName_(std::move(computerName)), netService_(std::move(netService)) {}

size_t AutoSyncComputer::hash() const { return std::hash<std::string>()(uuid_) + 31; }

std::string AutoSyncComputer::description() const {
  return "<AutoSyncComputer: uuid=" + uuid_ + " computerName=" + computerName_ + ">";
}

}  // namespace fotello
