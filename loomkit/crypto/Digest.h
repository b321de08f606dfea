// One running SHA-1 or MD5 computation over OpenSSL's EVP digest interface.
#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <string>

namespace loomkit {

// Used by one thread. Each thread keeps one digest context for reuse, so hashing many files
// allocates nothing per file; a Digest made while another one of the same thread is alive gets a
// context of its own. OpenSSL failures here are environment faults and stop the program.
class Digest {
 public:
  // The algorithms, fetched from the default provider once per process.
  static const EVP_MD* sha1();
  static const EVP_MD* md5();

  // The lower-case hexadecimal text ("%02x" per byte) of the digest of the given bytes.
  static std::string textOf(const EVP_MD* algorithm, const void* bytes, size_t length);

  // Starts a computation of the given algorithm over no bytes.
  explicit Digest(const EVP_MD* algorithm);
  ~Digest();
  Digest(const Digest&) = delete;
  Digest& operator=(const Digest&) = delete;

  void update(const void* bytes, size_t length);
  // The lower-case hexadecimal text of everything fed; the Digest is not used afterwards.
  std::string finishText();

 private:
  EVP_MD_CTX* context_;
  bool ownsContext_;
};

}  // namespace loomkit
