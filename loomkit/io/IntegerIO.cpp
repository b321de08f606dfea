#include "loomkit/io/IntegerIO.h"

namespace loomkit {

namespace {

template <class U>
void encode(U value, uint8_t (&out)[sizeof(U)]) {
  for (size_t i = 0; i < sizeof(U); ++i) out[i] = static_cast<uint8_t>(value >> (8 * (sizeof(U) - 1 - i)));
}

template <class U>
U decode(const uint8_t (&in)[sizeof(U)]) {
  U value = 0;
  for (size_t i = 0; i < sizeof(U); ++i) value = static_cast<U>(value << 8) | in[i];
  return value;
}

template <class U>
void append(U value, Bytes& to) {
  uint8_t bytes[sizeof(U)];
  encode(value, bytes);
  to.insert(to.end(), bytes, bytes + sizeof(U));
}

template <class U>
bool put(U value, BufferedOutputStream& to, Error* error) {
  uint8_t bytes[sizeof(U)];
  encode(value, bytes);
  return to.writeExactly(bytes, sizeof(U), error);
}

template <class U>
bool get(U& value, BufferedInputStream& from, Error* error) {
  value = 0;
  uint8_t bytes[sizeof(U)];
  if (!from.readExactly(sizeof(U), bytes, error)) return false;
  value = decode<U>(bytes);
  return true;
}

}  // namespace

void IntegerIO::writeInt32(int32_t value, Bytes& to) { append(static_cast<uint32_t>(value), to); }
void IntegerIO::writeUInt32(uint32_t value, Bytes& to) { append(value, to); }
void IntegerIO::writeInt64(int64_t value, Bytes& to) { append(static_cast<uint64_t>(value), to); }
void IntegerIO::writeUInt64(uint64_t value, Bytes& to) { append(value, to); }

bool IntegerIO::writeInt32(int32_t value, BufferedOutputStream& to, Error* error) {
  return put(static_cast<uint32_t>(value), to, error);
}
bool IntegerIO::writeUInt32(uint32_t value, BufferedOutputStream& to, Error* error) { return put(value, to, error); }
bool IntegerIO::writeInt64(int64_t value, BufferedOutputStream& to, Error* error) {
  return put(static_cast<uint64_t>(value), to, error);
}
bool IntegerIO::writeUInt64(uint64_t value, BufferedOutputStream& to, Error* error) { return put(value, to, error); }

bool IntegerIO::readInt32(int32_t& value, BufferedInputStream& from, Error* error) {
  uint32_t bits;
  bool ok = get(bits, from, error);
  value = static_cast<int32_t>(bits);
  return ok;
}
bool IntegerIO::readUInt32(uint32_t& value, BufferedInputStream& from, Error* error) { return get(value, from, error); }
bool IntegerIO::readInt64(int64_t& value, BufferedInputStream& from, Error* error) {
  uint64_t bits;
  bool ok = get(bits, from, error);
  value = static_cast<int64_t>(bits);
  return ok;
}
bool IntegerIO::readUInt64(uint64_t& value, BufferedInputStream& from, Error* error) { return get(value, from, error); }

}  // namespace loomkit
