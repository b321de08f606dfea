#include "loomkit/httpserver/ServerHTTPRequest.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <array>
#include <cstdlib>
#include <memory>

#include "loomkit/io/InputStreams.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {

// The CR and LF in the patterns are the literal characters.
constexpr char16_t kStartLineWithQuery[] = u"^(\\w+)\\s+([^\\?]+)\\?(\\S*)\\s+HTTP/(1.\\d)\r\n$";
constexpr char16_t kStartLineWithoutQuery[] = u"^(\\w+)\\s+(\\S*)\\s+HTTP/(1.\\d)\r\n$";
constexpr char16_t kHeaderLine[] = u"^([^:]+):\\s+(.+)\r\n$";

// Compiled once per process; a pattern is shared by every thread, each match has a matcher of
// its own. The patterns are constants, so a failure to compile them is a programming error.
const icu::RegexPattern& compiled(const char16_t* text) {
  UParseError where;
  UErrorCode status = U_ZERO_ERROR;
  icu::RegexPattern* pattern = icu::RegexPattern::compile(icu::UnicodeString(text), 0, where, status);
  if (U_FAILURE(status)) {
    LOG_ERROR("cannot compile request pattern: %s", u_errorName(status));
    std::abort();
  }
  return *pattern;
}

const icu::RegexPattern& startLineWithQuery() {
  static const icu::RegexPattern& pattern = compiled(kStartLineWithQuery);
  return pattern;
}
const icu::RegexPattern& startLineWithoutQuery() {
  static const icu::RegexPattern& pattern = compiled(kStartLineWithoutQuery);
  return pattern;
}
const icu::RegexPattern& headerLine() {
  static const icu::RegexPattern& pattern = compiled(kHeaderLine);
  return pattern;
}

// The patterns' overlapping white-space loops backtrack quadratically on long runs of white space:
// unbounded, one 8 KiB line would cost about a second of processor time. A matcher gives up after
// this many units of its engine (10,000 saved states each, a few tenths of a millisecond), about
// three times what the longest well-formed line needs; a line it gives up on is refused.
constexpr int32_t kMatchTimeLimit = 3;

// The first N capture groups of a match of pattern in line (valid UTF-8), or nothing.
template <size_t N>
std::optional<std::array<std::string, N>> match(const icu::RegexPattern& pattern, const std::string& line) {
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(line);
  std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(text, status));
  if (U_FAILURE(status)) return std::nullopt;
  matcher->setTimeLimit(kMatchTimeLimit, status);
  if (!matcher->find(status) || U_FAILURE(status)) {
    if (status == U_REGEX_TIME_OUT) LOG_DEBUG("gave up matching a %zu-byte request line", line.size());
    return std::nullopt;
  }
  std::array<std::string, N> groups;
  for (size_t i = 0; i < N; ++i) {
    matcher->group(static_cast<int32_t>(i + 1), status).toUTF8String(groups[i]);
  }
  if (U_FAILURE(status)) return std::nullopt;
  return groups;
}

bool isEndOfHeaders(const std::string& line) { return line == "\r\n"; }

}  // namespace

std::string ServerHTTPRequest::lowercaseName(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

bool ServerHTTPRequest::read(uint64_t maxLength, Error* error) {
  LOG_TRACE("reading request start line");
  Error failure;
  std::optional<std::string> line = InputStreams::readLineWithCRLF(is_, maxLength, &failure);
  if (!line) {
    LOG_TRACE("error reading request start line: %s", failure.description().c_str());
    return passError(error, failure);
  }
  if (!parseStartLine(*line, error)) return false;
  uint64_t used = line->size();
  for (;;) {
    line = InputStreams::readLineWithCRLF(is_, maxLength - used, error);
    if (!line) return false;
    used += line->size();
    LOG_TRACE("got header line: %s", line->c_str());
    if (isEndOfHeaders(*line)) return true;
    if (!parseHeaderLine(*line, error)) return false;
  }
}

bool ServerHTTPRequest::parseStartLine(const std::string& line, Error* error) {
  // Only a target with "?" can have a query string.
  if (auto parts = line.find('?') == std::string::npos ? std::nullopt : match<4>(startLineWithQuery(), line)) {
    method_ = std::move((*parts)[0]);
    pathInfo_ = std::move((*parts)[1]);
    queryString_ = std::move((*parts)[2]);
    protocol_ = std::move((*parts)[3]);
    return true;
  }
  if (auto parts = match<3>(startLineWithoutQuery(), line)) {
    method_ = std::move((*parts)[0]);
    pathInfo_ = std::move((*parts)[1]);
    protocol_ = std::move((*parts)[2]);
    return true;
  }
  return setError(error, startLineErrorDomain(), -1, strprintf("invalid response line: %s", line.c_str()));
}

bool ServerHTTPRequest::parseHeaderLine(const std::string& line, Error* error) {
  auto parts = match<2>(headerLine(), line);
  if (!parts) return setError(error, headerErrorDomain(), -1, strprintf("invalid response header: %s", line.c_str()));
  std::string name = lowercaseName((*parts)[0]);
  auto present = headers_.find(name);
  if (present != headers_.end()) {
    LOG_WARN("dumping request header %s = %s", name.c_str(), present->second.c_str());
    present->second = std::move((*parts)[1]);
    return true;
  }
  if (headers_.size() == kMaxHeaderCount) return setError(error, headerErrorDomain(), -1, "too many request headers");
  headers_.emplace(std::move(name), std::move((*parts)[1]));
  return true;
}

std::optional<std::string> ServerHTTPRequest::headerForKey(std::string_view name) const {
  auto found = headers_.find(lowercaseName(name));
  if (found == headers_.end()) return std::nullopt;
  return found->second;
}

std::string ServerHTTPRequest::description() const {
  return strprintf("<ServerHTTPRequest %s %s%s>", method_.c_str(), pathInfo_.c_str(),
                   queryString_.value_or("").c_str());
}

}  // namespace loomkit
