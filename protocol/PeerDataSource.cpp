#include "protocol/PeerDataSource.h"

#include "loomkit/shared/Log.h"

namespace fotello {

namespace {

// TODO(peer client): both requests go through the peer request client: "/albumdata" loaded with
// AlbumData::newFromData, "/status" parsed with IQVAgentStatus::newWithTXTRecordData. Until the
// client is in, every fetch fails with kNotAvailable.
constexpr int64_t kNotAvailable = -1;

class PeerRequestDataSource final : public PeerDataSource {
 public:
  std::shared_ptr<const AlbumData> albumDataFromRemoteComputer(const RemoteComputer& peer,
                                                               loomkit::Error* error) override {
    LOG_DEBUG("getting /albumdata from %s", peer.computerName().c_str());
    loomkit::setError(error, kAlbumDataErrorDomain, kNotAvailable, "the peer request client is not available");
    return nullptr;
  }

  std::unique_ptr<IQVAgentStatus> statusFromRemoteComputer(const RemoteComputer& peer,
                                                           loomkit::Error* error) override {
    LOG_DEBUG("getting agent status from %s", peer.computerName().c_str());
    loomkit::setError(error, IQVAgentStatus::errorDomain(), kNotAvailable, "the peer request client is not available");
    return nullptr;
  }
};

}  // namespace

PeerDataSource& PeerDataSource::peerRequestSource() {
  static PeerRequestDataSource source;
  return source;
}

}  // namespace fotello
