// Parses arbitrary bytes as the head of an HTTP response, the way the client reads an agent's
// answers, then frames and decodes the body as the client would. A head that parses has a status
// from 100 to 999, at most 100 headers and names without blanks; failures explain themselves.
#include <cstdint>
#include <cstdlib>

#include "loomkit/http/HTTPResponseHead.h"
#include "loomkit/io/ChunkedInputStream.h"
#include "loomkit/io/DataInputStream.h"
#include "loomkit/io/GzipInputStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  loomkit::BufferedInputStream in(std::make_unique<loomkit::DataInputStream>(loomkit::Bytes(data, data + size)));
  loomkit::HTTPResponseHead head;
  loomkit::Error error;
  if (!head.read(in, &error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  if (head.statusCode() < 100 || head.statusCode() > 999) std::abort();
  if (head.headers().size() > loomkit::HTTPResponseHead::kMaxHeaderCount) std::abort();
  for (const auto& [name, value] : head.headers()) {
    if (name.empty() || name.find_first_of(" \t:\r\n") != std::string::npos) std::abort();
  }
  if (in.bytesReceived() > size) std::abort();
  // The body as the client decodes it, bounded like a body kept in memory.
  auto transfer = head.headerForKey("Transfer-Encoding");
  std::unique_ptr<loomkit::InputStream> body;
  if (transfer && *transfer == "chunked") {
    body = std::make_unique<loomkit::ChunkedInputStream>(in);
  } else {
    body = std::make_unique<loomkit::DataInputStream>(in.readExactly(std::min<uint64_t>(in.bufferedByteCount(), 65536)).value_or(loomkit::Bytes()));
  }
  if (head.headerForKey("Content-Encoding") == "gzip") body = std::make_unique<loomkit::GzipInputStream>(std::move(body), 1 << 20);
  uint8_t buffer[4096];
  while (body->read(buffer, sizeof buffer) > 0) {
  }
  return 0;
}
