#include "platform/AvahiErrors.h"

#include <avahi-common/error.h>
#include <gtest/gtest.h>

using fotello::AvahiErrors;
using loomkit::NetServices;

TEST(AvahiErrorsTest, AvahiErrorsMapOntoTheDNSSDCodes) {
  struct Case {
    int avahi;
    NetServices::Code code;
  };
  const Case cases[] = {
      {AVAHI_ERR_COLLISION, NetServices::kCollisionError},
      {AVAHI_ERR_NOT_FOUND, NetServices::kNotFoundError},
      {AVAHI_ERR_NO_DAEMON, NetServices::kNotReadyError},
      {AVAHI_ERR_DISCONNECTED, NetServices::kNotReadyError},
      {AVAHI_ERR_BAD_STATE, NetServices::kNotReadyError},
      {AVAHI_ERR_INVALID_SERVICE_NAME, NetServices::kBadArgumentError},
      {AVAHI_ERR_INVALID_SERVICE_TYPE, NetServices::kBadArgumentError},
      {AVAHI_ERR_INVALID_RECORD, NetServices::kBadArgumentError},
      {AVAHI_ERR_INVALID_CONFIG, NetServices::kInvalidError},
      {AVAHI_ERR_TIMEOUT, NetServices::kTimeoutError},
      {AVAHI_ERR_FAILURE, NetServices::kUnknownError},
      {AVAHI_ERR_DNS_SERVFAIL, NetServices::kUnknownError},
  };
  for (const Case& c : cases) EXPECT_EQ(AvahiErrors::codeFor(c.avahi), c.code) << avahi_strerror(c.avahi);

  loomkit::Error error;
  EXPECT_FALSE(AvahiErrors::setError(&error, AVAHI_ERR_COLLISION, "publishing 'Kitchen'"));
  EXPECT_TRUE(NetServices::isCollision(error));
  EXPECT_EQ(error.description(), "publishing 'Kitchen': Local name collision");
}
