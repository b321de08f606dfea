// The error object every fallible operation reports: a domain, a signed code and a description.
#pragma once

#include <cstdint>
#include <source_location>
#include <string>
#include <string_view>

namespace loomkit {

#if defined(__cpp_lib_source_location)
using SourceLocation = std::source_location;
#else
// clang before 15 over libstdc++ (the fuzzing build) has no std::source_location; the two members
// the log uses, from the compiler's builtins.
class SourceLocation {
 public:
  static constexpr SourceLocation current(const char* file = __builtin_FILE(), unsigned line = __builtin_LINE()) {
    return SourceLocation(file, line);
  }
  constexpr const char* file_name() const { return file_; }
  constexpr unsigned line() const { return line_; }

 private:
  constexpr SourceLocation(const char* file, unsigned line) : file_(file), line_(line) {}
  const char* file_;
  unsigned line_;
};
#endif

// Domain of errors that carry a system error number (errno) as their code.
inline constexpr std::string_view kUnixErrorDomain = "UnixErrorDomain";

// A plain value; copy it freely between threads.
class Error {
 public:
  Error() = default;
  Error(std::string domain, int64_t code, std::string description)
      : domain_(std::move(domain)), code_(code), description_(std::move(description)) {}

  const std::string& domain() const { return domain_; }
  int64_t code() const { return code_; }
  const std::string& description() const { return description_; }

  // True when this error has the given domain and code.
  bool is(std::string_view domain, int64_t code) const { return domain_ == domain && code_ == code; }
  // True for a default-constructed (empty) error.
  bool empty() const { return domain_.empty() && code_ == 0 && description_.empty(); }

  // "description (domain code)", for logs and command-line messages.
  std::string text() const;

  bool operator==(const Error&) const = default;

 private:
  std::string domain_;
  int64_t code_ = 0;
  std::string description_;
};

// Creates an error, logs it once at TRACE with its description, and stores it in *out when out is
// given. Always returns false, so a failing operation can end with `return setError(...)`.
bool setError(Error* out, std::string_view domain, int64_t code, std::string description,
              SourceLocation where = SourceLocation::current());

// The same for a system failure: "UnixErrorDomain" with errnum as the code.
bool setUnixError(Error* out, int errnum, std::string description,
                  SourceLocation where = SourceLocation::current());

// Stores an error that was made (and logged) elsewhere; returns false.
inline bool passError(Error* out, const Error& error) {
  if (out) *out = error;
  return false;
}

}  // namespace loomkit
