// A DNS-SD registration as an avahi entry group with one service, its TXT record escaped as
// AvahiTXTRecord describes. It publishes again when the daemon comes back.
#pragma once

#include <avahi-client/publish.h>

#include "loomkit/http/ServiceRegistration.h"
#include "platform/AvahiConnection.h"

namespace fotello {

// Main thread only. The connection must outlive it.
class AvahiRegistration final : public loomkit::ServiceRegistration, private AvahiConnection::User {
 public:
  AvahiRegistration(AvahiConnection& connection, const std::string& name, const std::string& type, uint16_t port,
                    const loomkit::Bytes& txtRecordData, loomkit::ServiceRegistrationDelegate* delegate);
  ~AvahiRegistration() override;

  bool setTXTRecordData(const loomkit::Bytes& data, loomkit::Error* error = nullptr) override;
  void stop() override;

 private:
  enum class State {
    kWaiting,      // for the daemon (at first, or after it went away or paused)
    kRegistering,  // the group is committed and probing
    kPublished,    // the group is established
    kFailed,       // collision or failure: given up for good
    kStopped,      // stop() was called
  };

  void avahiClientDidStart(AvahiClient* client) override;
  void avahiClientDidPause() override;
  void avahiClientWillEnd() override;

  static void groupCallback(AvahiEntryGroup* group, AvahiEntryGroupState state, void* userdata);
  void groupStateChanged(AvahiEntryGroup* group, AvahiEntryGroupState state);
  void start(AvahiClient* client);
  // Gives up with avahiError; the group is freed soon (perhaps from inside its own callback now).
  void fail(int avahiError);
  // Ends an announcement that the caller did not end: the delegate hears it stopped.
  void withdraw();
  void freeGroup();

  AvahiConnection& connection_;
  const std::string avahiType_;
  loomkit::Bytes txt_;
  State state_ = State::kWaiting;
  AvahiEntryGroup* group_ = nullptr;
  loomkit::GuardedPoster tasks_;
};

}  // namespace fotello
