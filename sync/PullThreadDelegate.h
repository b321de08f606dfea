// The receiver of the pull loop's reports: which peer it works on, each photo pulled, the end of a
// peer's downloads and of a whole pass, and its failures.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace fotello {

class RemoteComputer;

// Every report runs on the main thread while the pull thread waits for it to return, so reports
// never overlap.
class PullThreadDelegate {
 public:
  virtual ~PullThreadDelegate() = default;
  // A peer's pass starts.
  virtual void pullThreadWillProcessComputer(const std::string& computerName) = 0;
  // Photo index (from 0) of total was pulled from the peer.
  virtual void pullThreadPulled(uint64_t index, uint64_t total, const RemoteComputer& computer) = 0;
  // The peer's downloads ended.
  virtual void pullThreadDidProcessComputer(const std::string& computerName) = 0;
  // A pass ended: the photos imported from each peer, by peer name.
  virtual void pullThreadComputersWereProcessed(const std::map<std::string, uint64_t>& photosByComputerName) = 0;
  // The peer refused the password.
  virtual void pullThreadAccessWasDeniedTo(const std::string& computerName) = 0;
  // A pull or an import failed.
  virtual void pullThreadError(const std::string& message) = 0;
};

}  // namespace fotello
