#include "loomkit/shared/Format.h"

#include <cstdio>
#include <cstring>

namespace loomkit {

std::string vstrprintf(const char* format, va_list args) {
  char small[256];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n), '\0');
  std::vsnprintf(out.data(), out.size() + 1, format, args);
  return out;
}

std::string strprintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = vstrprintf(format, args);
  va_end(args);
  return out;
}

std::string systemErrorText(int errnum) {
  char buf[256];
  // GNU strerror_r returns a pointer that may or may not be buf.
  return std::string(strerror_r(errnum, buf, sizeof buf));
}

std::string groupedNumber(long long value) {
  std::string digits = std::to_string(value < 0 ? -(value + 1) + 1ULL : static_cast<unsigned long long>(value));
  std::string out;
  int count = 0;
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    if (count > 0 && count % 3 == 0) out.insert(out.begin(), ',');
    out.insert(out.begin(), *it);
    ++count;
  }
  if (value < 0) out.insert(out.begin(), '-');
  return out;
}

}  // namespace loomkit
