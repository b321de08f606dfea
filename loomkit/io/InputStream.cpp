#include "loomkit/io/InputStream.h"

namespace loomkit {

std::optional<Bytes> InputStream::slurp(Error* error) {
  Bytes out;
  uint8_t chunk[8192];
  for (;;) {
    int64_t n = read(chunk, sizeof chunk, error);
    if (n < 0) return std::nullopt;
    if (n == 0) return out;
    out.insert(out.end(), chunk, chunk + n);
  }
}

}  // namespace loomkit
