#include "platform/AvahiErrors.h"

#include <avahi-common/error.h>

#include "loomkit/shared/Format.h"

namespace fotello {

using loomkit::NetServices;

NetServices::Code AvahiErrors::codeFor(int avahiError) {
  switch (avahiError) {
    case AVAHI_ERR_COLLISION:
      return NetServices::kCollisionError;
    case AVAHI_ERR_NOT_FOUND:
    case AVAHI_ERR_DNS_NXDOMAIN:
      return NetServices::kNotFoundError;
    case AVAHI_ERR_BAD_STATE:
    case AVAHI_ERR_NO_NETWORK:
    case AVAHI_ERR_TOO_MANY_CLIENTS:
    case AVAHI_ERR_TOO_MANY_OBJECTS:
    case AVAHI_ERR_TOO_MANY_ENTRIES:
    case AVAHI_ERR_DBUS_ERROR:
    case AVAHI_ERR_DISCONNECTED:
    case AVAHI_ERR_NO_DAEMON:
    case AVAHI_ERR_NO_MEMORY:
      return NetServices::kNotReadyError;
    case AVAHI_ERR_INVALID_HOST_NAME:
    case AVAHI_ERR_INVALID_DOMAIN_NAME:
    case AVAHI_ERR_INVALID_TTL:
    case AVAHI_ERR_IS_PATTERN:
    case AVAHI_ERR_INVALID_RECORD:
    case AVAHI_ERR_INVALID_SERVICE_NAME:
    case AVAHI_ERR_INVALID_SERVICE_TYPE:
    case AVAHI_ERR_INVALID_PORT:
    case AVAHI_ERR_INVALID_KEY:
    case AVAHI_ERR_INVALID_ADDRESS:
    case AVAHI_ERR_INVALID_OBJECT:
    case AVAHI_ERR_INVALID_INTERFACE:
    case AVAHI_ERR_INVALID_PROTOCOL:
    case AVAHI_ERR_INVALID_FLAGS:
    case AVAHI_ERR_INVALID_SERVICE_SUBTYPE:
    case AVAHI_ERR_INVALID_RDATA:
    case AVAHI_ERR_INVALID_DNS_CLASS:
    case AVAHI_ERR_INVALID_DNS_TYPE:
    case AVAHI_ERR_INVALID_ARGUMENT:
    case AVAHI_ERR_IS_EMPTY:
      return NetServices::kBadArgumentError;
    case AVAHI_ERR_INVALID_CONFIG:
    case AVAHI_ERR_VERSION_MISMATCH:
    case AVAHI_ERR_NOT_SUPPORTED:
    case AVAHI_ERR_ACCESS_DENIED:
    case AVAHI_ERR_NOT_PERMITTED:
      return NetServices::kInvalidError;
    case AVAHI_ERR_TIMEOUT:
      return NetServices::kTimeoutError;
    default:
      return NetServices::kUnknownError;
  }
}

bool AvahiErrors::setError(loomkit::Error* out, int avahiError, const std::string& what) {
  return NetServices::setError(out, codeFor(avahiError),
                               loomkit::strprintf("%s: %s", what.c_str(), avahi_strerror(avahiError)));
}

}  // namespace fotello
