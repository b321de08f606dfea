#include "loomkit/io/DateIO.h"

#include <cmath>
#include <limits>

#include "loomkit/io/BooleanIO.h"
#include "loomkit/io/IntegerIO.h"

namespace loomkit {

namespace {
int64_t millisecondsFor(double seconds) {
  double ms = std::trunc(seconds * 1000.0);
  if (std::isnan(ms)) return 0;
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (ms >= kLimit) return std::numeric_limits<int64_t>::max();
  if (ms < -kLimit) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(ms);
}
}  // namespace

void DateIO::write(std::optional<double> secondsSince1970, Bytes& to) {
  BooleanIO::write(secondsSince1970.has_value(), to);
  if (secondsSince1970) IntegerIO::writeInt64(millisecondsFor(*secondsSince1970), to);
}

bool DateIO::write(std::optional<double> secondsSince1970, BufferedOutputStream& to, Error* error) {
  if (!BooleanIO::write(secondsSince1970.has_value(), to, error)) return false;
  return !secondsSince1970 || IntegerIO::writeInt64(millisecondsFor(*secondsSince1970), to, error);
}

bool DateIO::read(std::optional<double>& secondsSince1970, BufferedInputStream& from, Error* error) {
  secondsSince1970.reset();
  bool present;
  int64_t ms;
  if (!BooleanIO::read(present, from, error)) return false;
  if (!present) return true;
  if (!IntegerIO::readInt64(ms, from, error)) return false;
  secondsSince1970 = static_cast<double>(ms) / 1000.0;
  return true;
}

}  // namespace loomkit
