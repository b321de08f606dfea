#include "loomkit/crypto/MD5Hash.h"

#include "loomkit/crypto/Digest.h"

namespace loomkit {

std::string MD5Hash::hashString(std::string_view text) {
  return Digest::textOf(Digest::md5(), text.data(), text.size());
}

}  // namespace loomkit
