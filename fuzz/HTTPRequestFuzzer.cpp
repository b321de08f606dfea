// Parses arbitrary bytes as the requests of one connection, with the server's own parser and
// limit. Every request read must have taken at most the limit, hold a method, a path without
// white space (or, with a query string, without "?"), a 1.x version and lower-case header names
// that headerForKey finds in any case; every failure must explain itself.
#include <cstdint>
#include <cstdlib>

#include "loomkit/httpserver/ServerHTTPRequest.h"
#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/DataInputStream.h"

namespace {

constexpr uint64_t kMaxHeaderBytes = 8192;

void check(bool condition) {
  if (!condition) std::abort();
}

void checkRequest(const loomkit::ServerHTTPRequest& request) {
  check(!request.method().empty());
  check(request.protocol().size() >= 3 && request.protocol()[0] == '1');
  if (request.queryString()) {
    check(!request.pathInfo().empty() && request.pathInfo().find('?') == std::string::npos);
  } else {
    check(request.pathInfo().find_first_of(" \t\r\n") == std::string::npos);
  }
  check(request.headers().size() <= loomkit::ServerHTTPRequest::kMaxHeaderCount);
  for (const auto& [name, value] : request.headers()) {
    check(!name.empty() && !value.empty());
    check(loomkit::ServerHTTPRequest::lowercaseName(name) == name);
    std::string upper = name;
    for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    check(request.headerForKey(upper) == value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  loomkit::BufferedInputStream in(std::make_unique<loomkit::DataInputStream>(loomkit::Bytes(data, data + size)));
  for (;;) {
    const uint64_t before = in.bytesReceived();
    loomkit::ServerHTTPRequest request(in);
    loomkit::Error error;
    if (!request.read(kMaxHeaderBytes, &error)) {
      check(!error.empty());
      break;
    }
    check(in.bytesReceived() - before <= kMaxHeaderBytes);
    checkRequest(request);
  }
  check(in.bytesReceived() <= size);
  return 0;
}
