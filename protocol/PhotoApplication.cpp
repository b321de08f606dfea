#include "protocol/PhotoApplication.h"

#include <charconv>

namespace fotello {

std::optional<int> PhotoApplication::majorVersion(std::string_view version) {
  size_t digits = 0;
  while (digits < version.size() && version[digits] >= '0' && version[digits] <= '9') ++digits;
  if (digits == 0 || digits == version.size() || version[digits] != '.') return std::nullopt;
  int major = 0;
  auto result = std::from_chars(version.data(), version.data() + digits, major);
  if (result.ec != std::errc()) return std::nullopt;
  return major;
}

}  // namespace fotello
