#include "loomkit/shared/Format.h"

#include <cstdio>
#include <cstring>

#include <unicode/udat.h>
#include <unicode/ustring.h>

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

std::string mediumDateShortTimeText(std::time_t when) {
  UErrorCode status = U_ZERO_ERROR;
  UDateFormat* format = udat_open(UDAT_SHORT, UDAT_MEDIUM, nullptr, nullptr, -1, nullptr, 0, &status);
  if (U_SUCCESS(status)) {
    UChar text[128];
    int32_t length = udat_format(format, static_cast<UDate>(when) * 1000.0, text, 128, nullptr, &status);
    udat_close(format);
    if (U_SUCCESS(status) && length > 0 && length < 128) {
      char utf8[512];
      int32_t utf8Length = 0;
      u_strToUTF8(utf8, sizeof utf8, &utf8Length, text, length, &status);
      if (U_SUCCESS(status) && utf8Length > 0 && static_cast<size_t>(utf8Length) < sizeof utf8) {
        return std::string(utf8, static_cast<size_t>(utf8Length));
      }
    }
  }
  std::tm local{};
  localtime_r(&when, &local);
  char fallback[64];
  std::strftime(fallback, sizeof fallback, "%Y-%m-%d %H:%M", &local);
  return fallback;
}

}  // namespace loomkit
