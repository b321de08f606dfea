// The peer request client: fetches one resource from another computer's agent, with the protocol
// headers, trying the peer's addresses in turn and turning error answers into errors.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "loomkit/io/Bytes.h"
#include "loomkit/shared/Error.h"
#include "protocol/RemoteComputer.h"

namespace fotello {

// Stateless; callable from any thread. Each call blocks its thread until it returns; requests run
// on the calling thread through its pool of the HTTP client.
class IQVData {
 public:
  // "NSDataIQVErrorDomain": -1 for every failure but the 403 and 404 answers.
  static std::string_view errorDomain() { return "NSDataIQVErrorDomain"; }
  // "HTTPErrorDomain", with the status as the code, for 403 and 404 answers.
  static std::string_view httpErrorDomain() { return "HTTPErrorDomain"; }
  // The three protocol headers.
  static constexpr const char* kComputerNameHeader = "X-QV-ComputerName";
  static constexpr const char* kVersionHeader = "X-QV-Version";
  static constexpr const char* kPasswordMD5Header = "X-QV-PasswordMD5";

  using Headers = std::vector<std::pair<std::string, std::string>>;

  // "X-QV-ComputerName" (this computer's name), "X-QV-Version" ("2") and, when a password is
  // stored for the peer's identifier, "X-QV-PasswordMD5" with its MD5 digest in lower-case
  // hexadecimal. No password stored adds nothing and logs nothing; another store failure adds
  // nothing and is logged at DEBUG as "error reading password for %@: %@".
  static Headers requestHeadersForRemoteComputer(const RemoteComputer& peer);
  // The same with the password given (none: no digest), for the tools.
  static Headers requestHeadersWithPassword(const std::optional<std::string>& password);

  // One URL per usable address of the peer, in the order listed: "http://%s:%d%@" for IPv4,
  // "http://[%s]:%d%@" for IPv6. Addresses of other families, without a numeric form or with
  // port 0 are skipped.
  static std::vector<std::string> urlsForRemoteComputer(const RemoteComputer& peer, const std::string& path);

  // The body of path ("/status", "/albumdata", ...) from the first address that answers,
  // decoded. A transport failure is logged at WARN as "%@ failed: %@" (URL, description) and the
  // next address is tried; the first answer is final: 200 gives the body; 403 fails with
  // httpErrorDomain() 403 "Access denied"; any other status with the body as description when
  // the "Content-Type" begins with "text" (else "HTTP error %d"), in httpErrorDomain() 404 for a
  // 404 and errorDomain() -1 otherwise. No answer at all: errorDomain() -1 "failed to get %@".
  // contentEncoding, when given, is left as it is: the body always arrives decoded.
  static std::optional<loomkit::Bytes> dataFromRemoteComputer(const RemoteComputer& peer, const std::string& uri,
                                                              std::optional<std::string>* contentEncoding,
                                                              loomkit::Error* error = nullptr);
  // The same with the request headers given. When no address answered, lastTransportError (if
  // given) receives the transport failure of the last address tried, which the "failed to get"
  // error does not show: the status fetch retries on a reset connection by it.
  static std::optional<loomkit::Bytes> dataFromRemoteComputer(const RemoteComputer& peer, const std::string& uri,
                                                              const Headers& headers,
                                                              std::optional<std::string>* contentEncoding,
                                                              loomkit::Error* lastTransportError,
                                                              loomkit::Error* error = nullptr);
};

}  // namespace fotello
