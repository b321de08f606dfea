// The process's connection to avahi-daemon (avahi-client over the D-Bus system bus, the one
// DBUS_SYSTEM_BUS_ADDRESS names when set). It waits for a daemon that is not there yet, and when
// the daemon goes away it tells the objects that use it, frees the client and connects anew, so
// that registrations and browsers come back with the daemon.
#pragma once

#include <avahi-client/client.h>

#include <vector>

#include "loomkit/http/GuardedPoster.h"
#include "platform/MainLoopAvahiPoll.h"

namespace fotello {

// Main thread only, like the avahi objects of its users. It must outlive its users.
class AvahiConnection {
 public:
  // An object that owns avahi objects made from the client.
  class User {
   public:
    virtual ~User() = default;
    // The client runs (at first or again): make the avahi objects you lack.
    virtual void avahiClientDidStart(AvahiClient* client) = 0;
    // The daemon is establishing its host name anew: withdraw your entries until the next start.
    virtual void avahiClientDidPause() = 0;
    // The client is about to be freed, with every avahi object made from it: free yours now.
    virtual void avahiClientWillEnd() = 0;
  };

  // Starts connecting at once (on the installed main loop).
  AvahiConnection();
  ~AvahiConnection();
  AvahiConnection(const AvahiConnection&) = delete;
  AvahiConnection& operator=(const AvahiConnection&) = delete;

  // The client while it runs, nullptr while connecting, pausing or reconnecting.
  AvahiClient* runningClient() const { return running_ ? client_ : nullptr; }
  // True when client has lost its daemon: its objects' failures are then the connection's
  // business (it reconnects), not failures of what they do.
  static bool hasLostDaemon(AvahiClient* client);
  // Adds or removes a user (not owned). A user added while the client runs starts on its own.
  void addUser(User* user);
  void removeUser(User* user);

 private:
  static void clientCallback(AvahiClient* client, AvahiClientState state, void* userdata);
  void stateChanged(AvahiClientState state);
  void connect();
  // Logs the loss and frees the client soon (not inside its own callback), then connects anew.
  void lose(const char* why);
  void reconnect();
  // Calls fn for every user, also when fn adds or removes users.
  template <typename Fn>
  void forEachUser(Fn fn);

  loomkit::GuardedPoster tasks_;
  MainLoopAvahiPoll poll_;
  AvahiClient* client_ = nullptr;
  bool running_ = false;
  bool lost_ = false;            // a reconnect is under way
  bool ranSinceConnect_ = false;  // the current client reached RUNNING at least once
  bool waitingLogged_ = false;
  bool connectFailureLogged_ = false;  // the warning of a failing connect was written this outage
  loomkit::MainLoop::Id retryTimer_ = 0;
  std::vector<User*> users_;
};

}  // namespace fotello
