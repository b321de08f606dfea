// A peer seen on the network whose status could be read: its service and who it said it is.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "loomkit/http/NetService.h"
#include "protocol/IQVAgentStatus.h"

namespace fotello {

// Main thread only, owned by AutoSyncComputerList. The identifier and name are those of the first
// status read; later statuses do not change them.
class LiveComputer {
 public:
  // Logs each resolved address of the service at DEBUG.
  LiveComputer(std::shared_ptr<loomkit::NetService> netService, const IQVAgentStatus& status);

  const std::shared_ptr<loomkit::NetService>& netService() const { return netService_; }
  const std::string& uuid() const { return uuid_; }
  const std::string& computerName() const { return computerName_; }
  uint16_t port() const { return netService_->port(); }

 private:
  std::shared_ptr<loomkit::NetService> netService_;
  std::string uuid_;
  std::string computerName_;
};

}  // namespace fotello
