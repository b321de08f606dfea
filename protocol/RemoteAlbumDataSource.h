// Where a peer's catalog comes from: the "/albumdata" answer of its agent. The wanted-photo
// computations take a source so that they can be run against a catalog at hand as well.
#pragma once

#include <memory>

#include "catalog/AlbumData.h"
#include "loomkit/shared/Error.h"
#include "protocol/RemoteComputer.h"

namespace fotello {

// Implementations say which threads may call them; peerRequestSource() may be called from any.
class RemoteAlbumDataSource {
 public:
  virtual ~RemoteAlbumDataSource() = default;

  // The peer's catalog (without a library path), or nothing with the error of the fetch or load.
  virtual std::shared_ptr<const AlbumData> albumDataFromRemoteComputer(const RemoteComputer& peer,
                                                                       loomkit::Error* error = nullptr) = 0;

  // The source that asks the peer's agent through the peer request client.
  static RemoteAlbumDataSource& peerRequestSource();
};

}  // namespace fotello
