#include "platform/AvahiRegistration.h"

#include <avahi-common/error.h>

#include "loomkit/http/NetServices.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"
#include "platform/AvahiErrors.h"
#include "platform/AvahiNames.h"
#include "platform/AvahiTXTRecord.h"

namespace fotello {

using loomkit::NetServices;
using loomkit::strprintf;

AvahiRegistration::AvahiRegistration(AvahiConnection& connection, const std::string& name, const std::string& type,
                                     uint16_t port, const loomkit::Bytes& txtRecordData,
                                     loomkit::ServiceRegistrationDelegate* delegate)
    : ServiceRegistration(name, type, port, delegate),
      connection_(connection),
      avahiType_(avahi_names::withoutFinalDot(type)),
      txt_(txtRecordData) {
  connection_.addUser(this);
  loomkit::Error error;
  if (!AvahiTXTRecord::stringListFor(txt_, &error)) {
    state_ = State::kFailed;
    deliverNotPublished(error);
    return;
  }
  if (AvahiClient* client = connection_.runningClient()) start(client);
}

AvahiRegistration::~AvahiRegistration() {
  freeGroup();
  connection_.removeUser(this);
}

void AvahiRegistration::start(AvahiClient* client) {
  if (!group_) group_ = avahi_entry_group_new(client, groupCallback, this);
  if (!group_) {
    fail(avahi_client_errno(client));
    return;
  }
  std::optional<AvahiTXTRecord::StringList> list = AvahiTXTRecord::stringListFor(txt_);
  // No service cookie: the TXT record holds exactly the caller's items.
  int result = avahi_entry_group_add_service_strlst(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AVAHI_PUBLISH_NO_COOKIE,
                                                    name().c_str(), avahiType_.c_str(), avahi_names::kDomain, nullptr,
                                                    port(), list->get());
  if (result >= 0) result = avahi_entry_group_commit(group_);
  if (result < 0) {
    fail(result);
    return;
  }
  LOG_DEBUG("DNS-SD: registering '%s' (%s) on port %u", name().c_str(), avahiType_.c_str(), unsigned{port()});
  state_ = State::kRegistering;
}

void AvahiRegistration::fail(int avahiError) {
  state_ = State::kFailed;
  loomkit::Error error;
  AvahiErrors::setError(&error, avahiError, strprintf("publishing '%s'", name().c_str()));
  deliverNotPublished(error);
  // An entry group may be in the middle of calling us back: free it once that is over.
  AvahiEntryGroup* group = group_;
  tasks_.post([this, group] {
    if (group_ == group) freeGroup();
  });
}

void AvahiRegistration::groupCallback(AvahiEntryGroup* group, AvahiEntryGroupState state, void* userdata) {
  static_cast<AvahiRegistration*>(userdata)->groupStateChanged(group, state);
}

void AvahiRegistration::groupStateChanged(AvahiEntryGroup* group, AvahiEntryGroupState state) {
  switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
      if (state_ != State::kRegistering) return;
      state_ = State::kPublished;
      LOG_DEBUG("DNS-SD: '%s' is published", name().c_str());
      deliverPublished();
      return;
    case AVAHI_ENTRY_GROUP_COLLISION:
      // Another computer announced the name while (or after) we probed for it.
      if (state_ == State::kRegistering || state_ == State::kPublished) fail(AVAHI_ERR_COLLISION);
      return;
    case AVAHI_ENTRY_GROUP_FAILURE: {
      AvahiClient* client = avahi_entry_group_get_client(group);
      // A lost daemon is the connection's business: the registration comes back with it.
      if (AvahiConnection::hasLostDaemon(client)) return;
      if (state_ == State::kRegistering || state_ == State::kPublished) fail(avahi_client_errno(client));
      return;
    }
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
      return;
  }
}

bool AvahiRegistration::setTXTRecordData(const loomkit::Bytes& data, loomkit::Error* error) {
  std::optional<AvahiTXTRecord::StringList> list = AvahiTXTRecord::stringListFor(data, error);
  if (!list) return false;
  if (state_ == State::kFailed || state_ == State::kStopped) {
    return NetServices::setError(error, NetServices::kNotReadyError, strprintf("'%s' is not registered", name().c_str()));
  }
  txt_ = data;
  if (state_ == State::kWaiting) return true;  // announced with the service when the daemon is back
  int result = avahi_entry_group_update_service_txt_strlst(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                           AVAHI_PUBLISH_NO_COOKIE, name().c_str(), avahiType_.c_str(),
                                                           avahi_names::kDomain, list->get());
  if (result < 0) return AvahiErrors::setError(error, result, strprintf("setting the TXT record of '%s'", name().c_str()));
  return true;
}

void AvahiRegistration::stop() {
  if (state_ == State::kFailed || state_ == State::kStopped) return;
  bool wasPublished = state_ == State::kPublished;
  freeGroup();
  state_ = State::kStopped;
  if (wasPublished) deliverStopped();
}

void AvahiRegistration::withdraw() {
  bool wasPublished = state_ == State::kPublished;
  if (state_ == State::kRegistering || state_ == State::kPublished) state_ = State::kWaiting;
  if (wasPublished) deliverStopped();
}

void AvahiRegistration::avahiClientDidStart(AvahiClient* client) {
  if (state_ == State::kWaiting) start(client);
}

void AvahiRegistration::avahiClientDidPause() {
  if (group_) avahi_entry_group_reset(group_);
  withdraw();
}

void AvahiRegistration::avahiClientWillEnd() {
  freeGroup();
  withdraw();
}

void AvahiRegistration::freeGroup() {
  if (group_) avahi_entry_group_free(group_);
  group_ = nullptr;
}

}  // namespace fotello
