#include "protocol/PeerDataSource.h"

namespace fotello {

namespace {

// Both requests go through the peer request client on the calling thread; each logs its own
// DEBUG line ("getting /albumdata from %@", "getting agent status from %@").
class PeerRequestDataSource final : public PeerDataSource {
 public:
  std::shared_ptr<const AlbumData> albumDataFromRemoteComputer(const RemoteComputer& peer,
                                                               loomkit::Error* error) override {
    return AlbumData::newFromRemoteComputer(peer, error);
  }

  std::unique_ptr<IQVAgentStatus> statusFromRemoteComputer(const RemoteComputer& peer,
                                                           loomkit::Error* error) override {
    return IQVAgentStatus::newFromRemoteComputer(peer, error);
  }
};

}  // namespace

PeerDataSource& PeerDataSource::peerRequestSource() {
  static PeerRequestDataSource source;
  return source;
}

}  // namespace fotello
