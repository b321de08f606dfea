// A service handle of AvahiBrowser. avahi reports a service once per interface and protocol it
// is seen on; the handle stands for all of them. A resolve asks each of them (over IPv4 for the A
// record, over IPv6 for the AAAA record) and gathers the addresses. Monitoring browses the
// service's TXT record in the daemon's cache, which follows every announcement of the publisher
// without polling it, on one interface and protocol only: the caches of different interfaces
// learn of a change at different moments, and reading them all would report the old and new
// records by turns. When that interface loses the service, monitoring moves to another.
#pragma once

#include <avahi-client/lookup.h>

#include <optional>
#include <set>
#include <utility>

#include "loomkit/http/NetService.h"
#include "platform/AvahiConnection.h"

namespace fotello {

// Main thread only (the readers of NetService excepted). The browser that made it keeps it
// alive in its view (its connection pointer valid) until die().
class AvahiNetService final : public loomkit::NetService {
 public:
  AvahiNetService(AvahiConnection& connection, const std::string& name, const std::string& avahiType);
  ~AvahiNetService() override;

  void resolveWithTimeout(std::chrono::milliseconds timeout) override;
  void startMonitoring() override;
  void stop() override;

  // For the browser: the service is seen, or no longer seen, on an interface and protocol.
  void addInstance(AvahiIfIndex interface, AvahiProtocol protocol);
  void removeInstance(AvahiIfIndex interface, AvahiProtocol protocol);
  bool hasInstances() const { return !instances_.empty(); }
  // The service is gone from the browser's view: free everything; a running resolve fails with
  // kNotFoundError, and so does every later one.
  void die();

 private:
  // Starts one resolver of the running resolve for the given instance (main thread).
  void startResolver(AvahiIfIndex interface, AvahiProtocol protocol);
  static void resolverCallback(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol protocol,
                               AvahiResolverEvent event, const char* name, const char* type, const char* domain,
                               const char* hostName, const AvahiAddress* address, uint16_t port,
                               AvahiStringList* txt, AvahiLookupResultFlags flags, void* userdata);
  static void recordCallback(AvahiRecordBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                             AvahiBrowserEvent event, const char* name, uint16_t dnsClass, uint16_t dnsType,
                             const void* rdata, size_t size, AvahiLookupResultFlags flags, void* userdata);
  void resolverAnswered(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiResolverEvent event,
                        const AvahiAddress* address, uint16_t port, AvahiStringList* txt);
  void recordSeen(AvahiRecordBrowser* browser, AvahiBrowserEvent event, const void* rdata, size_t size);
  // Delivers data unless it is the record known already.
  void reportRecord(const loomkit::Bytes& data);
  // Browses the TXT record on one of the instances (IPv4 preferred), if the client runs.
  void openRecordBrowser();
  void closeRecordBrowser();
  // Ends the resolve with what it found; timedOut when its time ran out.
  void finishResolve(bool timedOut);
  // Frees the resolvers and timers of a resolve; pending resolve events are dropped.
  void endResolve();
  void endMonitoring();
  loomkit::Error notFound() const;

  AvahiConnection* connection_;  // nullptr once dead
  const std::string avahiType_;
  std::set<std::pair<AvahiIfIndex, AvahiProtocol>> instances_;
  loomkit::GuardedPoster tasks_;

  // The resolve in progress.
  bool resolving_ = false;
  std::vector<AvahiServiceResolver*> resolvers_;
  std::vector<loomkit::ServiceAddress> found_;
  std::optional<loomkit::Bytes> foundTXT_;
  int lastError_ = 0;
  loomkit::MainLoop::Id timeoutTimer_ = 0;
  loomkit::MainLoop::Id graceTimer_ = 0;

  // Monitoring.
  bool monitoring_ = false;
  AvahiRecordBrowser* recordBrowser_ = nullptr;
  std::pair<AvahiIfIndex, AvahiProtocol> monitoredInstance_{AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC};
  std::vector<loomkit::Bytes> cachedRecords_;  // the TXT records the record browser holds now
  bool cacheRead_ = false;                     // its first look into the cache is over
  loomkit::Bytes lastKnownTXT_;  // as resolved or last seen, compared before delivering
};

}  // namespace fotello
