#include "loomkit/http/RFC2616DateFormatter.h"

#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <cstring>

#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {

// 2001-01-01 00:00:00 UTC in seconds since 1970.
constexpr double kReferenceDateSince1970 = 978307200.0;

bool enUSInstalled() {
  int32_t count = 0;
  const icu::Locale* locales = icu::Locale::getAvailableLocales(count);
  for (int32_t i = 0; i < count; ++i) {
    if (std::strcmp(locales[i].getName(), "en_US") == 0) return true;
  }
  return false;
}

}  // namespace

RFC2616DateFormatter::RFC2616DateFormatter() {
  icu::Locale locale("en_US");
  if (!enUSInstalled()) {
    LOG_WARN("no en_US locale installed");
    locale = icu::Locale::getDefault();
  }
  UErrorCode status = U_ZERO_ERROR;
  format_ = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString("EEE, dd MMM yyyy HH:mm:ss z"), locale, status);
  if (U_FAILURE(status)) {
    LOG_ERROR("cannot create the HTTP date formatter: %s", u_errorName(status));
    format_.reset();
    return;
  }
  format_->adoptTimeZone(icu::TimeZone::createTimeZone("GMT"));
}

RFC2616DateFormatter::~RFC2616DateFormatter() = default;

std::string RFC2616DateFormatter::stringFromDate(double secondsSince2001) const {
  if (!format_) return "";
  icu::UnicodeString text;
  format_->format((secondsSince2001 + kReferenceDateSince1970) * 1000.0, text);
  std::string out;
  text.toUTF8String(out);
  return out;
}

std::optional<double> RFC2616DateFormatter::dateFromString(const std::string& text) const {
  if (!format_) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  icu::ParsePosition position(0);
  icu::UnicodeString input = icu::UnicodeString::fromUTF8(text);
  UDate date = format_->parse(input, position);
  (void)status;
  if (position.getErrorIndex() >= 0 || position.getIndex() != input.length()) return std::nullopt;
  return date / 1000.0 - kReferenceDateSince1970;
}

}  // namespace loomkit
