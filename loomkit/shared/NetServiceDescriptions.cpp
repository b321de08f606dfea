#include "loomkit/shared/NetServiceDescriptions.h"

namespace loomkit {

std::string_view NetServiceDescriptions::descriptionForNetServicesError(int64_t code) {
  switch (code) {
    case kNetServicesUnknownError: return "An unknown error occurred.";
    case kNetServicesCollisionError:
      return "The service could not be published because the name is already in use. The name could be in use "
             "locally or on another system.";
    case kNetServicesNotFoundError: return "The service could not be found on the network.";
    case kNetServicesActivityInProgress:
      return "The net service cannot process the request at this time. No additional information about the network "
             "state is known.";
    case kNetServicesBadArgumentError: return "An invalid argument was used when creating the NSNetService object.";
    case kNetServicesCancelledError: return "The client canceled the action.";
    case kNetServicesInvalidError: return "The net service was improperly configured.";
    case kNetServicesTimeoutError: return "The net service has timed out.";
    default: return "unknown NSNetService error";
  }
}

}  // namespace loomkit
