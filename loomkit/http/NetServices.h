// What the system fixes about its DNS-SD service, whatever implements it: the service type, the
// domain, the resolve time-out, the TXT record form and the error codes.
//
// The DNS-SD interface is a handful of small interfaces, all in this folder:
//   DNSServiceRegistry   makes registrations and browsers (one per process; the platform's
//                        responder in the programs, InProcessNetServices in tests)
//   ServiceRegistration  one published service; its TXT record can be replaced
//   ServiceBrowser       a search for a type in "local."; it hands out NetService handles
//   NetService           a service that was found: resolve it, monitor its TXT record, read its
//                        addresses; the handle is the service's identity until it is removed
// Every delegate callback runs on the main loop (MainLoop::main()), always later than the call
// that caused it, never inside it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "loomkit/io/Bytes.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// Class operations only; no state.
class NetServices {
 public:
  // The error codes of the DNS-SD layer, in the domain errorDomain().
  enum Code : int64_t {
    kUnknownError = -72000,      // nothing better is known
    kCollisionError = -72001,    // the name is in use, here or on another computer
    kNotFoundError = -72002,     // the service is not (or no longer) on the network
    kNotReadyError = -72003,     // the DNS-SD service cannot take the request now
    kBadArgumentError = -72004,  // a name, type, port or TXT record is not acceptable
    kCancelledError = -72005,    // the request was cancelled
    kInvalidError = -72006,      // the DNS-SD service is not configured properly
    kTimeoutError = -72007,      // a resolve did not finish in its time
  };

  // "_fotello._tcp.": the type every agent registers and every browser looks for.
  static const std::string& serviceType();
  // "local.": the only domain the system uses.
  static const std::string& domain();
  // "NetServicesErrorDomain".
  static const std::string& errorDomain();
  // The time a resolve gets unless its caller says otherwise.
  static constexpr std::chrono::milliseconds kResolveTimeout{5000};

  // Makes an error of errorDomain() (logged once at TRACE); always returns false.
  static bool setError(Error* out, Code code, std::string description);
  // True when error is the DNS-SD layer's name collision.
  static bool isCollision(const Error& error);

  // True when bytes are a well-formed TXT record: items of one length byte and that many bytes,
  // the last one ending exactly at the end. An empty buffer (no record at all) is well-formed.
  static bool isValidTXTRecordData(const Bytes& bytes);
  // The record a service without TXT data shows to browsers: one empty item, the single byte 0.
  static const Bytes& emptyTXTRecordData();
};

}  // namespace loomkit
