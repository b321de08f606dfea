// Reads a sequence of typed values from arbitrary bytes, the way the catalog reader does. Each
// step takes one byte from the stream to choose the next type, then reads a value of that type.
// A value that reads back must re-encode to exactly the bytes it came from (for the types whose
// form is canonical). Run with -malloc_limit_mb=256: no read may allocate for a length that the
// input does not hold.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "loomkit/io/BooleanIO.h"
#include "loomkit/io/DataIO.h"
#include "loomkit/io/DataInputStream.h"
#include "loomkit/io/DateIO.h"
#include "loomkit/io/DoubleIO.h"
#include "loomkit/io/IntegerIO.h"
#include "loomkit/io/StringIO.h"

using namespace loomkit;

namespace {

// The input bytes a read consumed must equal the value's own encoding.
void expectCanonical(const Bytes& input, uint64_t from, uint64_t to, const Bytes& encoded) {
  if (to - from != encoded.size() || std::memcmp(input.data() + from, encoded.data(), encoded.size()) != 0) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes input(data, data + size);
  BufferedInputStream in(std::make_unique<DataInputStream>(input));
  for (;;) {
    uint8_t op;
    if (!in.readExactly(1, &op)) break;
    const uint64_t start = in.bytesReceived();
    Error error;
    Bytes encoded;
    bool ok = false;
    switch (op % 9) {
      case 0: {
        bool v;
        ok = BooleanIO::read(v, in, &error);
        break;
      }
      case 1: {
        int32_t v;
        if ((ok = IntegerIO::readInt32(v, in, &error))) IntegerIO::writeInt32(v, encoded);
        break;
      }
      case 2: {
        uint32_t v;
        if ((ok = IntegerIO::readUInt32(v, in, &error))) IntegerIO::writeUInt32(v, encoded);
        break;
      }
      case 3: {
        int64_t v;
        if ((ok = IntegerIO::readInt64(v, in, &error))) IntegerIO::writeInt64(v, encoded);
        break;
      }
      case 4: {
        uint64_t v;
        if ((ok = IntegerIO::readUInt64(v, in, &error))) IntegerIO::writeUInt64(v, encoded);
        break;
      }
      case 5: {
        std::optional<std::string> v;
        ok = StringIO::read(v, in, &error);
        // A flag of 00 or 01 with a string that decoded has exactly one encoding.
        if (ok && input[start] <= 1 && (v || input[start] == 0)) StringIO::write(v, encoded);
        break;
      }
      case 6: {
        std::optional<double> v;
        ok = DateIO::read(v, in, &error);
        break;
      }
      case 7: {
        double v;
        ok = DoubleIO::read(v, in, &error);
        break;
      }
      case 8: {
        Bytes v;
        if ((ok = DataIO::read(v, in, &error))) DataIO::write(v, encoded);
        break;
      }
    }
    if (!ok) {
      if (error.empty()) std::abort();  // every failure explains itself
      break;
    }
    if (!encoded.empty()) expectCanonical(input, start, in.bytesReceived(), encoded);
  }
  return 0;
}
