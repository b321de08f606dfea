// Where what a peer's agent tells about itself comes from: its "/status" and "/albumdata"
// answers. The wanted-photo computation and the tools take a source, so that they can be run
// against a catalog at hand as well as against the network.
#pragma once

#include <memory>

#include "catalog/AlbumData.h"
#include "loomkit/shared/Error.h"
#include "protocol/IQVAgentStatus.h"
#include "protocol/RemoteComputer.h"

namespace fotello {

// Implementations say which threads may call them; peerRequestSource() may be called from any.
class PeerDataSource {
 public:
  virtual ~PeerDataSource() = default;

  // The peer's catalog (without a library path), or nothing with the error of the fetch or load.
  virtual std::shared_ptr<const AlbumData> albumDataFromRemoteComputer(const RemoteComputer& peer,
                                                                       loomkit::Error* error = nullptr) = 0;
  // The peer's status record, or nothing with the error of the fetch or parse.
  virtual std::unique_ptr<IQVAgentStatus> statusFromRemoteComputer(const RemoteComputer& peer,
                                                                   loomkit::Error* error = nullptr) = 0;

  // The source that asks the peer's agent through the peer request client.
  static PeerDataSource& peerRequestSource();
};

}  // namespace fotello
