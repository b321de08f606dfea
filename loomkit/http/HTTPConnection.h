// What callers ask of an HTTP request object: set headers, execute, read the status and headers.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "loomkit/io/Bytes.h"
#include "loomkit/io/InputStream.h"
#include "loomkit/io/OutputStream.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

class HTTPConnection;

// Hears of body bytes as they arrive, on the executing thread. Optional; nobody in the programs
// needs one yet.
class HTTPConnectionDelegate {
 public:
  virtual ~HTTPConnectionDelegate() = default;
  virtual void httpConnectionDidReceiveBytes(HTTPConnection& connection, uint64_t count) = 0;
};

// A request object is used on the thread that made it; it runs one execution at a time and may
// be executed again (the response state is reset).
class HTTPConnection {
 public:
  virtual ~HTTPConnection() = default;

  // Sets the request header of that name (exact spelling), replacing an earlier value of it.
  virtual void setRequestHeader(const std::string& value, const std::string& name) = 0;

  // Sends the request and returns the whole response body, decoded, as a stream over memory;
  // nothing on a transport failure. Any status counts as an answer: read responseCode().
  virtual std::unique_ptr<InputStream> executeRequest(Error* error = nullptr) = 0;
  // The same with a request body (sent with its Content-Length); nullptr for none.
  virtual std::unique_ptr<InputStream> executeRequestWithBody(const Bytes* body, Error* error = nullptr) = 0;

  // The status of the last response; 0 before one arrived.
  virtual int responseCode() const = 0;
  // A header of the last response, by name in any case; absent when it had none.
  virtual std::optional<std::string> responseHeaderForKey(std::string_view name) const = 0;
};

}  // namespace loomkit
