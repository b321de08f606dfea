#include "protocol/RemoteAlbumDataSource.h"

#include "loomkit/shared/Log.h"

namespace fotello {

namespace {

class PeerRequestAlbumDataSource final : public RemoteAlbumDataSource {
 public:
  std::shared_ptr<const AlbumData> albumDataFromRemoteComputer(const RemoteComputer& peer,
                                                               loomkit::Error* error) override {
    LOG_DEBUG("getting /albumdata from %s", peer.computerName().c_str());
    // TODO(peer client): request "/albumdata" through the peer request client and load the body
    // with AlbumData::newFromData. Until the client is in, every fetch fails.
    loomkit::setError(error, kAlbumDataErrorDomain, -1, "the peer request client is not available");
    return nullptr;
  }
};

}  // namespace

RemoteAlbumDataSource& RemoteAlbumDataSource::peerRequestSource() {
  static PeerRequestAlbumDataSource source;
  return source;
}

}  // namespace fotello
