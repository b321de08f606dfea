#include "loomkit/plist/RealNode.h"

#include <locale.h>
#include <stdlib.h>
#include <strings.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>

namespace loomkit {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

size_t skipDigits(std::string_view text, size_t i) {
  while (i < text.size() && isDigit(text[i])) ++i;
  return i;
}

bool startsWithWord(std::string_view text, size_t i, std::string_view word) {
  return text.size() - i >= word.size() && ::strncasecmp(text.data() + i, word.data(), word.size()) == 0;
}

// The length of the number at the start of text (sign, decimal digits with fraction and exponent,
// or inf/infinity/nan); 0 when there is none.
size_t numberLength(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  for (std::string_view word : {"infinity", "inf", "nan"}) {
    if (startsWithWord(text, i, word)) return i + word.size();
  }
  size_t intEnd = skipDigits(text, i);
  size_t end = intEnd;
  if (end < text.size() && text[end] == '.') end = skipDigits(text, end + 1);
  if (end - i - (end > intEnd ? 1 : 0) == 0) return 0;  // no digit before or after the point
  if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
    size_t e = end + 1;
    if (e < text.size() && (text[e] == '+' || text[e] == '-')) ++e;
    if (e < text.size() && isDigit(text[e])) end = skipDigits(text, e);
  }
  return end;
}

// The number at the start of text (after white space); nullopt when there is none.
std::optional<double> scanDouble(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && isBlank(text[start])) ++start;
  text.remove_prefix(start);
  size_t length = numberLength(text);
  if (length == 0) return std::nullopt;
  // strtod in the C locale rounds correctly and turns overflow into infinity and underflow into
  // zero; the text handed to it is already known to be a plain decimal number.
  static const locale_t cLocale = ::newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
  std::string number(text.substr(0, length));
  return ::strtod_l(number.c_str(), nullptr, cLocale);
}

}  // namespace

std::unique_ptr<RealNode> RealNode::newWithString(std::string_view text, Error* error) {
  std::optional<double> value = scanDouble(text);
  if (!value) {
    setError(error, kPListErrorDomain, -1, "string does not contain a double: " + std::string(text));
    return nullptr;
  }
  return std::make_unique<RealNode>(*value);
}

std::string RealNode::textForValue(double value) {
  char buffer[400];  // the largest double has 309 integer digits
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  return std::string(buffer, result.ptr);
}

bool RealNode::isEqualToRealNode(const RealNode& other) const {
  return value_ == other.value_ || (std::isnan(value_) && std::isnan(other.value_));
}

bool RealNode::isEqual(const PListNode& other) const {
  if (this == &other) return true;
  const auto* node = dynamic_cast<const RealNode*>(&other);
  return node && isEqualToRealNode(*node);
}

size_t RealNode::hash() const {
  // Converting an out-of-range double to an integer is undefined, so saturate first; negative
  // values wrap as their signed truncation does.
  uint64_t truncated;
  if (std::isnan(value_)) {
    truncated = 0;
  } else if (value_ >= 18446744073709551616.0) {
    truncated = UINT64_MAX;
  } else if (value_ >= 0) {
    truncated = static_cast<uint64_t>(value_);
  } else if (value_ > -9223372036854775808.0) {
    truncated = static_cast<uint64_t>(static_cast<int64_t>(value_));
  } else {
    truncated = static_cast<uint64_t>(INT64_MIN);
  }
  return static_cast<size_t>(truncated + 31);
}

}  // namespace loomkit
