// The binary form of a date that may be absent: a boolean presence flag, then for a present date
// an Int64 count of milliseconds since 1970-01-01 00:00:00 UTC.
#pragma once

#include <optional>

#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/BufferedOutputStream.h"

namespace loomkit {

// Stateless. Dates are seconds since 1970-01-01 00:00:00 UTC; writing multiplies by 1000 and
// truncates toward zero (a value beyond the Int64 range is clamped, not-a-number is written as 0),
// reading divides by 1000. The reader clears the value to absent first.
class DateIO {
 public:
  static void write(std::optional<double> secondsSince1970, Bytes& to);
  static bool write(std::optional<double> secondsSince1970, BufferedOutputStream& to, Error* error = nullptr);
  static bool read(std::optional<double>& secondsSince1970, BufferedInputStream& from, Error* error = nullptr);
};

}  // namespace loomkit
