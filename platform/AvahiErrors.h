// avahi's error numbers as the DNS-SD layer's errors (NetServices::Code).
#pragma once

#include <string>

#include "loomkit/http/NetServices.h"
#include "loomkit/shared/Error.h"

namespace fotello {

// Class operations only; no state.
class AvahiErrors {
 public:
  // The DNS-SD code for an avahi error number (AVAHI_ERR_...): collisions are kCollisionError,
  // invalid names, types, ports and records kBadArgumentError, a missing or busy daemon
  // kNotReadyError, configuration trouble kInvalidError, time-outs kTimeoutError, absent records
  // kNotFoundError, and everything else kUnknownError.
  static loomkit::NetServices::Code codeFor(int avahiError);
  // Makes the error of NetServices::errorDomain() for avahiError, described as
  // "<what>: <avahi's text>" (logged once at TRACE); always returns false.
  static bool setError(loomkit::Error* out, int avahiError, const std::string& what);
};

}  // namespace fotello
