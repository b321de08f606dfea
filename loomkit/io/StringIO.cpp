#include "loomkit/io/StringIO.h"

#include "loomkit/io/BooleanIO.h"
#include "loomkit/io/IntegerIO.h"
#include "loomkit/io/Utf8.h"

namespace loomkit {

void StringIO::write(std::optional<std::string_view> value, Bytes& to) {
  BooleanIO::write(value.has_value(), to);
  if (!value) return;
  IntegerIO::writeUInt64(value->size(), to);
  to.insert(to.end(), value->begin(), value->end());
}

bool StringIO::write(std::optional<std::string_view> value, BufferedOutputStream& to, Error* error) {
  if (!value) return BooleanIO::write(false, to, error);
  return BooleanIO::write(true, to, error) && IntegerIO::writeUInt64(value->size(), to, error) &&
         to.writeExactly(value->data(), value->size(), error);
}

bool StringIO::read(std::optional<std::string>& value, BufferedInputStream& from, Error* error) {
  std::string text = value ? std::move(*value) : std::string();  // reuse the caller's capacity
  value.reset();
  bool present;
  uint64_t count;
  if (!BooleanIO::read(present, from, error)) return false;
  if (!present) return true;
  if (!IntegerIO::readUInt64(count, from, error)) return false;
  text.clear();
  if (!from.readExactlyAppending(count, text, error)) return false;
  if (Utf8::isValid(text)) value = std::move(text);
  return true;
}

bool StringIO::newString(std::unique_ptr<std::string>& value, BufferedInputStream& from, Error* error) {
  value.reset();
  std::optional<std::string> text;
  if (!read(text, from, error)) return false;
  if (text) value = std::make_unique<std::string>(std::move(*text));
  return true;
}

}  // namespace loomkit
