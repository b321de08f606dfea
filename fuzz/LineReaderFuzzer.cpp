// Reads CR LF lines from arbitrary bytes, the way the server reads request and header lines.
// The first byte picks the maximum line length; every line returned must end in CR LF, stay
// within the maximum and be valid UTF-8, and the lines plus what is left must be the input.
#include <cstdint>
#include <cstdlib>

#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/DataInputStream.h"
#include "loomkit/io/InputStreams.h"
#include "loomkit/io/Utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint64_t maxLength = data[0];
  loomkit::Bytes input(data + 1, data + size);
  loomkit::BufferedInputStream in(std::make_unique<loomkit::DataInputStream>(input));
  uint64_t consumed = 0;
  for (;;) {
    loomkit::Error error;
    auto line = loomkit::InputStreams::readLineWithCRLF(in, maxLength, &error);
    if (!line) {
      if (error.empty()) std::abort();  // every failure explains itself
      break;
    }
    if (line->size() < 2 || line->size() > maxLength || line->compare(line->size() - 2, 2, "\r\n") != 0 ||
        line->find("\r\n") != line->size() - 2 || !loomkit::Utf8::isValid(*line)) {
      std::abort();
    }
    if (line->compare(0, line->size(), reinterpret_cast<const char*>(input.data() + consumed), line->size()) != 0) {
      std::abort();
    }
    consumed += line->size();
  }
  if (in.bytesReceived() > input.size()) std::abort();
  return 0;
}
