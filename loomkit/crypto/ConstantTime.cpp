#include "loomkit/crypto/ConstantTime.h"

#include <openssl/crypto.h>

namespace loomkit {

bool ConstantTime::equals(std::string_view a, std::string_view b) {
  // The length of a digest text is public (32 for MD5); only the contents must stay hidden.
  if (a.size() != b.size()) return false;
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace loomkit
