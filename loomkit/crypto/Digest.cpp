#include "loomkit/crypto/Digest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>

namespace loomkit {

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "%s failed\n", what);
  std::abort();
}

const EVP_MD* fetch(const char* name) {
  EVP_MD* algorithm = EVP_MD_fetch(nullptr, name, nullptr);
  if (!algorithm) fail("EVP_MD_fetch");
  return algorithm;  // kept for the life of the process
}

// The calling thread's reusable context and whether a Digest is using it.
struct ThreadContext {
  EVP_MD_CTX* context = nullptr;
  bool busy = false;
  ~ThreadContext() { EVP_MD_CTX_free(context); }
};
thread_local ThreadContext threadContext;

EVP_MD_CTX* newContext() {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (!context) fail("EVP_MD_CTX_new");
  return context;
}

}  // namespace

const EVP_MD* Digest::sha1() {
  static const EVP_MD* algorithm = fetch("SHA1");
  return algorithm;
}

const EVP_MD* Digest::md5() {
  static const EVP_MD* algorithm = fetch("MD5");
  return algorithm;
}

std::string Digest::textOf(const EVP_MD* algorithm, const void* bytes, size_t length) {
  Digest digest(algorithm);
  digest.update(bytes, length);
  return digest.finishText();
}

Digest::Digest(const EVP_MD* algorithm) : ownsContext_(threadContext.busy) {
  if (ownsContext_) {
    context_ = newContext();
  } else {
    if (!threadContext.context) threadContext.context = newContext();
    context_ = threadContext.context;
    threadContext.busy = true;
  }
  if (EVP_DigestInit_ex(context_, algorithm, nullptr) != 1) fail("EVP_DigestInit_ex");
}

Digest::~Digest() {
  if (ownsContext_) EVP_MD_CTX_free(context_);
  else threadContext.busy = false;
}

void Digest::update(const void* bytes, size_t length) {
  if (EVP_DigestUpdate(context_, bytes, length) != 1) fail("EVP_DigestUpdate");
}

std::string Digest::finishText() {
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_, value, &length) != 1) fail("EVP_DigestFinal_ex");
  static const char hex[] = "0123456789abcdef";
  std::string text(2 * length, '\0');
  for (unsigned int i = 0; i < length; ++i) {
    text[2 * i] = hex[value[i] >> 4];
    text[2 * i + 1] = hex[value[i] & 0xF];
  }
  return text;
}

}  // namespace loomkit
