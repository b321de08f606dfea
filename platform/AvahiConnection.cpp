#include "platform/AvahiConnection.h"

#include <avahi-common/error.h>

#include <algorithm>

#include "loomkit/shared/Log.h"

namespace fotello {

using namespace std::chrono_literals;

namespace {
// How long to wait before trying again when not even a waiting client could be made (no bus).
constexpr std::chrono::milliseconds kRetryInterval = 5s;

long long retrySeconds() {
  return static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(kRetryInterval).count());
}
}  // namespace

AvahiConnection::AvahiConnection() : poll_(tasks_.loop()) { connect(); }

AvahiConnection::~AvahiConnection() {
  if (retryTimer_) tasks_.loop().cancel(retryTimer_);
  if (client_) avahi_client_free(client_);
}

void AvahiConnection::addUser(User* user) { users_.push_back(user); }

void AvahiConnection::removeUser(User* user) { std::erase(users_, user); }

template <typename Fn>
void AvahiConnection::forEachUser(Fn fn) {
  std::vector<User*> snapshot = users_;
  for (User* user : snapshot) {
    if (std::find(users_.begin(), users_.end(), user) != users_.end()) fn(user);
  }
}

void AvahiConnection::connect() {
  retryTimer_ = 0;
  ranSinceConnect_ = false;
  int error = 0;
  // With NO_FAIL the client waits for a daemon that is not (yet) on the bus.
  AvahiClient* client = avahi_client_new(poll_.api(), AVAHI_CLIENT_NO_FAIL, clientCallback, this, &error);
  if (!client) {
    client_ = nullptr;
    running_ = false;
    // Said once per outage, as a warning: the agent works on without DNS-SD and keeps trying, and
    // a box without a daemon would otherwise fill the log with a line every retry.
    if (!connectFailureLogged_) {
      LOG_WARN("DNS-SD: cannot connect to avahi-daemon (%s); trying again in %lld seconds", avahi_strerror(error),
                retrySeconds());
      connectFailureLogged_ = true;
    } else {
      LOG_DEBUG("DNS-SD: cannot connect to avahi-daemon (%s); trying again in %lld seconds", avahi_strerror(error),
                retrySeconds());
    }
    retryTimer_ = tasks_.loop().addTimer(kRetryInterval, false, [this] { connect(); });
    return;
  }
  client_ = client;
}

bool AvahiConnection::hasLostDaemon(AvahiClient* client) {
  AvahiClientState state = avahi_client_get_state(client);
  return state == AVAHI_CLIENT_FAILURE || state == AVAHI_CLIENT_CONNECTING;
}

void AvahiConnection::lose(const char* why) {
  running_ = false;
  if (lost_) return;
  lost_ = true;
  // A client that never ran is not retried at once, lest a broken bus make a busy loop.
  if (ranSinceConnect_) {
    LOG_WARN("DNS-SD: lost the connection to avahi-daemon (%s); reconnecting", why);
    tasks_.post([this] { reconnect(); });
  } else {
    LOG_WARN("DNS-SD: cannot use avahi-daemon (%s); trying again in %lld seconds", why, retrySeconds());
    retryTimer_ = tasks_.loop().addTimer(kRetryInterval, false, [this] { reconnect(); });
  }
}

void AvahiConnection::reconnect() {
  lost_ = false;
  retryTimer_ = 0;
  forEachUser([](User* user) { user->avahiClientWillEnd(); });
  if (client_) avahi_client_free(client_);
  client_ = nullptr;
  connect();
}

void AvahiConnection::clientCallback(AvahiClient* client, AvahiClientState state, void* userdata) {
  auto* self = static_cast<AvahiConnection*>(userdata);
  self->client_ = client;  // the first call comes from inside avahi_client_new()
  self->stateChanged(state);
}

void AvahiConnection::stateChanged(AvahiClientState state) {
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      if (running_) return;
      running_ = true;
      ranSinceConnect_ = true;
      waitingLogged_ = false;
      connectFailureLogged_ = false;
      LOG_INFO("DNS-SD: connected to %s as %s", avahi_client_get_version_string(client_),
               avahi_client_get_host_name_fqdn(client_));
      forEachUser([this](User* user) { user->avahiClientDidStart(client_); });
      return;
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION:
      if (!running_) return;
      running_ = false;
      LOG_INFO("DNS-SD: avahi-daemon is establishing its host name anew");
      forEachUser([](User* user) { user->avahiClientDidPause(); });
      return;
    case AVAHI_CLIENT_CONNECTING:
      // A client that ran and now waits again has lost its daemon, and its objects with it.
      if (ranSinceConnect_) {
        lose("the daemon left the bus");
      } else if (!waitingLogged_) {
        LOG_INFO("DNS-SD: waiting for avahi-daemon to appear on the system bus");
        waitingLogged_ = true;
      }
      return;
    case AVAHI_CLIENT_FAILURE:
      lose(avahi_strerror(avahi_client_errno(client_)));
      return;
  }
}

}  // namespace fotello
