#include "loomkit/http/HTTPResponseHead.h"

#include <strings.h>

#include <algorithm>

#include "loomkit/io/InputStreams.h"
#include "loomkit/shared/Format.h"

namespace loomkit {

namespace {

std::string withoutCRLF(const std::string& line) { return line.substr(0, line.size() - 2); }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool isTokenCharacter(unsigned char c) {
  return c > 0x20 && c < 0x7f && c != ':' && c != '(' && c != ')' && c != '<' && c != '>' && c != '@' &&
         c != ',' && c != ';' && c != '\\' && c != '"' && c != '/' && c != '[' && c != ']' && c != '?' &&
         c != '=' && c != '{' && c != '}';
}

}  // namespace

bool HTTPResponseHead::read(BufferedInputStream& is, Error* error) {
  version_.clear();
  statusCode_ = 0;
  reasonPhrase_.clear();
  headers_.clear();
  contentLength_.reset();
  uint64_t remaining = kMaxHeadLength;
  bool first = true;
  for (;;) {
    if (remaining < 2) {
      return setError(error, errorDomain(), -1,
                      strprintf("response head exceeds %lu bytes", static_cast<unsigned long>(kMaxHeadLength)));
    }
    Error lineError;
    const uint64_t lineLimit = std::min<uint64_t>(remaining, kMaxLineLength);
    std::optional<std::string> line = InputStreams::readLineWithCRLF(is, lineLimit, &lineError);
    if (!line) {
      if (lineLimit < kMaxLineLength && lineError.is(kInputStreamErrorDomain, -1) &&
          lineError.description().rfind("exceeded maxLength", 0) == 0) {
        return setError(error, errorDomain(), -1,
                        strprintf("response head exceeds %lu bytes", static_cast<unsigned long>(kMaxHeadLength)));
      }
      return passError(error, lineError);
    }
    remaining -= line->size();
    if (first) {
      if (!parseStatusLine(*line, error)) return false;
      first = false;
      continue;
    }
    if (*line == "\r\n") return true;
    if (headers_.size() >= kMaxHeaderCount) return setError(error, errorDomain(), -1, "too many response headers");
    if (!parseHeaderLine(*line, error)) return false;
  }
}

bool HTTPResponseHead::parseStatusLine(const std::string& line, Error* error) {
  std::string text = withoutCRLF(line);
  auto invalid = [&] { return setError(error, errorDomain(), -1, strprintf("invalid status line: %s", text.c_str())); };
  // "HTTP/1.1 200 OK": the version, one blank, three digits, and a reason that may be empty.
  if (text.size() < 12 || text.compare(0, 7, "HTTP/1.") != 0 || (text[7] != '0' && text[7] != '1') ||
      text[8] != ' ') {
    return invalid();
  }
  for (int i = 9; i < 12; ++i) {
    if (text[i] < '0' || text[i] > '9') return invalid();
  }
  if (text[9] == '0') return invalid();
  if (text.size() > 12 && text[12] != ' ') return invalid();
  version_ = text.substr(5, 3);
  statusCode_ = (text[9] - '0') * 100 + (text[10] - '0') * 10 + (text[11] - '0');
  reasonPhrase_ = text.size() > 13 ? text.substr(13) : "";
  return true;
}

bool HTTPResponseHead::parseHeaderLine(const std::string& line, Error* error) {
  std::string text = withoutCRLF(line);
  size_t colon = text.find(':');
  bool validName = colon != std::string::npos && colon > 0;
  for (size_t i = 0; validName && i < colon; ++i) validName = isTokenCharacter(static_cast<unsigned char>(text[i]));
  if (!validName) {
    return setError(error, errorDomain(), -1, strprintf("invalid response header: %s", text.c_str()));
  }
  std::string name = text.substr(0, colon);
  std::string value(trimmed(std::string_view(text).substr(colon + 1)));
  if (equalsIgnoringCase(name, "Content-Length")) {
    bool digits = !value.empty() && value.size() <= 19 &&
                  std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits) return setError(error, errorDomain(), -1, strprintf("invalid Content-Length: %s", value.c_str()));
    uint64_t length = std::stoull(value);
    if (contentLength_ && *contentLength_ != length) {
      return setError(error, errorDomain(), -1, "conflicting Content-Length headers");
    }
    contentLength_ = length;
  }
  headers_.emplace_back(std::move(name), std::move(value));
  return true;
}

std::optional<std::string> HTTPResponseHead::headerForKey(std::string_view name) const {
  std::optional<std::string> value;
  for (const auto& [key, field] : headers_) {
    if (!equalsIgnoringCase(key, name)) continue;
    if (value) *value += ", " + field;
    else value = field;
  }
  return value;
}

bool HTTPResponseHead::headerHasToken(std::string_view name, std::string_view token) const {
  std::optional<std::string> value = headerForKey(name);
  if (!value) return false;
  std::string_view rest = *value;
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    if (equalsIgnoringCase(trimmed(rest.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace loomkit
