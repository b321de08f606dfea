#include "tools/fotelloctl/JsonText.h"

#include <charconv>
#include <cmath>
#include <ctime>

#include "catalog/Roll.h"
#include "loomkit/io/Utf8.h"
#include "loomkit/shared/Format.h"

namespace fotello {

std::string JsonText::string(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (c < 0x20 || c == 0x7f) out += loomkit::strprintf("\\u%04x", c);
          else out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (length > 1 && i + length <= text.size() && loomkit::Utf8::isValid(text.data() + i, length)) {
      out.append(text, i, length);
      i += length;
    } else {
      out += "\\ufffd";
      ++i;
    }
  }
  return out + "\"";
}

std::string JsonText::optional(const std::optional<std::string_view>& text) { return text ? string(*text) : "null"; }

std::string JsonText::optional(const std::optional<std::string>& text) {
  return text ? string(std::string_view(*text)) : "null";
}

std::string JsonText::number(double value) {
  if (!std::isfinite(value)) return "null";
  char text[64];
  auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string JsonText::dateText(double since2001) {
  if (!std::isfinite(since2001)) return "(invalid date)";
  time_t t = static_cast<time_t>(std::floor(since2001 + Roll::kReferenceDateSince1970));
  struct tm parts;
  char text[64];
  if (!gmtime_r(&t, &parts) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts) == 0) {
    return loomkit::strprintf("%.0f seconds after 2001", since2001);
  }
  return text;
}

}  // namespace fotello
