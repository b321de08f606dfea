#include "protocol/RemoteComputer.h"

namespace fotello {

std::vector<loomkit::ServiceAddress> RemoteComputer::addresses() const {
  std::shared_ptr<loomkit::NetService> service = netService();
  if (!service) {
    return {};
  }
  return service->addresses();
}

}  // namespace fotello
