// Decodes arbitrary bytes as a chunked HTTP body, read in steps the first byte chooses. A failure
// must explain itself, the decoded body can never be longer than its encoding, and once the body
// ended every further read returns 0.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "loomkit/io/ChunkedInputStream.h"
#include "loomkit/io/DataInputStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint64_t step = static_cast<uint64_t>(data[0]) * 61 + 1;
  loomkit::Bytes input(data + 1, data + size);
  loomkit::ChunkedInputStream stream(std::make_unique<loomkit::BufferedInputStream>(
      std::make_unique<loomkit::DataInputStream>(input)));
  std::vector<uint8_t> buffer(step);
  uint64_t decoded = 0;
  for (;;) {
    loomkit::Error error;
    int64_t n = stream.read(buffer.data(), step, &error);
    if (n < 0) {
      if (error.empty()) std::abort();
      return 0;
    }
    if (n == 0) break;
    if (static_cast<uint64_t>(n) > step) std::abort();
    decoded += static_cast<uint64_t>(n);
    if (decoded > input.size()) std::abort();
  }
  if (!stream.atEnd() || stream.read(buffer.data(), step) != 0) std::abort();
  return 0;
}
