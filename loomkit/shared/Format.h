// printf-style formatting into a std::string.
#pragma once

#include <cstdarg>
#include <ctime>
#include <string>

namespace loomkit {

std::string strprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string vstrprintf(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// The system's text for an error number (strerror), thread-safe.
std::string systemErrorText(int errnum);

// "1,234,567": numbers shown to users are grouped by thousands.
std::string groupedNumber(long long value);

// The local date and time of the given moment in the user's locale, medium date and short time
// ("Dec 11, 2026, 4:05 PM" in English); falls back to "2026-12-11 16:05" when ICU cannot format.
std::string mediumDateShortTimeText(std::time_t when);

// "" for exactly 1, "s" otherwise.
inline const char* pluralSuffix(long long count) { return count == 1 ? "" : "s"; }

}  // namespace loomkit
