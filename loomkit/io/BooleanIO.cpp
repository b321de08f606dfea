#include "loomkit/io/BooleanIO.h"

namespace loomkit {

void BooleanIO::write(bool value, Bytes& to) { to.push_back(value ? 1 : 0); }

bool BooleanIO::write(bool value, BufferedOutputStream& to, Error* error) {
  uint8_t byte = value ? 1 : 0;
  return to.writeExactly(&byte, 1, error);
}

bool BooleanIO::read(bool& value, BufferedInputStream& from, Error* error) {
  value = false;
  uint8_t byte;
  if (!from.readExactly(1, &byte, error)) return false;
  value = byte != 0;
  return true;
}

}  // namespace loomkit
