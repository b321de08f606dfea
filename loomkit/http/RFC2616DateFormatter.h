// Dates in the form of HTTP headers: "Sun, 06 Nov 1994 08:49:37 GMT".
#pragma once

#include <memory>
#include <optional>
#include <string>


#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class SimpleDateFormat;
U_NAMESPACE_END

namespace loomkit {

// Pattern "EEE, dd MMM yyyy HH:mm:ss z" in GMT with the locale en_US; without that locale the
// default locale is used and "no en_US locale installed" logged at WARN. One formatter is used by
// one thread at a time.
class RFC2616DateFormatter {
 public:
  RFC2616DateFormatter();
  ~RFC2616DateFormatter();
  RFC2616DateFormatter(const RFC2616DateFormatter&) = delete;
  RFC2616DateFormatter& operator=(const RFC2616DateFormatter&) = delete;

  // secondsSince2001: seconds since 2001-01-01 00:00:00 UTC.
  std::string stringFromDate(double secondsSince2001) const;
  // The date of a text in the pattern; nothing for any other text.
  std::optional<double> dateFromString(const std::string& text) const;

 private:
  std::unique_ptr<icu::SimpleDateFormat> format_;
};

}  // namespace loomkit
