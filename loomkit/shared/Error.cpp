#include "loomkit/shared/Error.h"

#include "loomkit/shared/Log.h"

namespace loomkit {

std::string Error::text() const {
  return description_ + " (" + domain_ + " " + std::to_string(code_) + ")";
}

bool setError(Error* out, std::string_view domain, int64_t code, std::string description,
              SourceLocation where) {
  if (Log::enabled(Log::kTrace)) {
    Log::write(Log::kTrace, nullptr, where.file_name(), static_cast<int>(where.line()), description);
  }
  if (out) *out = Error(std::string(domain), code, std::move(description));
  return false;
}

bool setUnixError(Error* out, int errnum, std::string description, SourceLocation where) {
  return setError(out, kUnixErrorDomain, errnum, std::move(description), where);
}

}  // namespace loomkit
