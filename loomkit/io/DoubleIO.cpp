#include "loomkit/io/DoubleIO.h"

#include <charconv>

#include "loomkit/io/StringIO.h"

namespace loomkit {

namespace {
// Room for "%f" of the largest double: 309 digits, sign, point and six decimals.
constexpr size_t kMaxText = 330;

// The "%f" text of value as the C locale writes it, including "inf", "-inf", "nan".
std::string_view format(double value, char (&buffer)[kMaxText]) {
  auto result = std::to_chars(buffer, buffer + kMaxText, value, std::chars_format::fixed, 6);
  return std::string_view(buffer, static_cast<size_t>(result.ptr - buffer));
}

// The decimal number at the start of text (after blanks and a plus sign), or 0.0.
double parse(std::string_view text) {
  size_t start = text.find_first_not_of(" \t\n\v\f\r");
  if (start == std::string_view::npos) return 0.0;
  text.remove_prefix(start);
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  double value = 0.0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  return result.ec == std::errc() ? value : 0.0;
}
}  // namespace

std::string_view DoubleIO::errorDomain() { return "DoubleIOErrorDomain"; }

void DoubleIO::write(double value, Bytes& to) {
  char buffer[kMaxText];
  StringIO::write(format(value, buffer), to);
}

bool DoubleIO::write(double value, BufferedOutputStream& to, Error* error) {
  char buffer[kMaxText];
  return StringIO::write(format(value, buffer), to, error);
}

bool DoubleIO::read(double& value, BufferedInputStream& from, Error* error) {
  value = 0.0;
  std::optional<std::string> text;
  if (!StringIO::read(text, from, error)) return false;
  if (!text) return setError(error, errorDomain(), -1, "nil string; expected a double");
  value = parse(*text);
  return true;
}

}  // namespace loomkit
