#include "loomkit/io/DataIO.h"

#include "loomkit/io/IntegerIO.h"

namespace loomkit {

void DataIO::write(std::span<const uint8_t> data, Bytes& to) {
  IntegerIO::writeUInt64(data.size(), to);
  to.insert(to.end(), data.begin(), data.end());
}

bool DataIO::read(Bytes& data, BufferedInputStream& from, Error* error) {
  data.clear();
  uint64_t count;
  if (!IntegerIO::readUInt64(count, from, error)) return false;
  return from.readExactlyAppending(count, data, error);
}

}  // namespace loomkit
