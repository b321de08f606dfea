// printf-style formatting into a std::string.
#pragma once

#include <cstdarg>
#include <string>

namespace loomkit {

std::string strprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string vstrprintf(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// The system's text for an error number (strerror), thread-safe.
std::string systemErrorText(int errnum);

// "1,234,567": numbers shown to users are grouped by thousands.
std::string groupedNumber(long long value);

// "" for exactly 1, "s" otherwise.
inline const char* pluralSuffix(long long count) { return count == 1 ? "" : "s"; }

}  // namespace loomkit
