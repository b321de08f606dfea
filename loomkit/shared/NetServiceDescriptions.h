// Readable texts for the error codes of the DNS-SD service operations.
#pragma once

#include <cstdint>
#include <string_view>

namespace loomkit {

// The error codes of the DNS-SD service layer; the layer maps its library's errors onto these.
enum NetServicesError : int64_t {
  kNetServicesUnknownError = -72000,
  kNetServicesCollisionError = -72001,
  kNetServicesNotFoundError = -72002,
  kNetServicesActivityInProgress = -72003,
  kNetServicesBadArgumentError = -72004,
  kNetServicesCancelledError = -72005,
  kNetServicesInvalidError = -72006,
  kNetServicesTimeoutError = -72007,
};

// Stateless; safe from any thread.
class NetServiceDescriptions {
 public:
  // The sentence for logs that describes a DNS-SD service error code; "unknown NSNetService error"
  // for a code outside the table.
  static std::string_view descriptionForNetServicesError(int64_t code);
};

}  // namespace loomkit
