// JSON texts of the values fotelloctl prints.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fotello {

// Stateless; any thread.
class JsonText {
 public:
  // A string with quotes, backslashes and control characters escaped, and every byte that is not
  // part of well-formed UTF-8 replaced by U+FFFD; null when absent.
  static std::string string(std::string_view text);
  static std::string optional(const std::optional<std::string_view>& text);
  static std::string optional(const std::optional<std::string>& text);
  // The shortest decimal form that reads back as the same double; null for infinities and NaN.
  static std::string number(double value);
  // "2001-01-01 00:01:40 UTC" for seconds since 2001-01-01 UTC.
  static std::string dateText(double since2001);
};

}  // namespace fotello
