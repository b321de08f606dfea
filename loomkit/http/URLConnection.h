// One HTTP/1.1 request and its response, carried over our own client socket.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "loomkit/http/HTTPClientSocket.h"
#include "loomkit/http/HTTPConnection.h"
#include "loomkit/http/HTTPResponseHead.h"
#include "loomkit/http/RFC2616DateFormatter.h"
#include "loomkit/http/URL.h"

namespace loomkit {

// Made by HTTPConnectionFactory (or directly) and then used on the thread that made it only:
// executing it elsewhere stops the program with "must be on same thread!". An execution blocks
// that thread until the response head (and, for executeRequest, the whole body) has arrived.
// Holds at most one TCP connection to the server, kept open between executions when the server
// allows it; the pool hands it on to the next request object for the same server on the same
// thread. Redirects are followed (at most kMaxRedirects), nothing is cached, a body sent with
// "Content-Encoding" gzip (or deflate) is handed on decompressed. Only http URLs are supported.
class URLConnection final : public HTTPConnection {
 public:
  // Bodies collected in memory are at most this long unless setMaxBodyLength says otherwise:
  // the bound of every decompressed catalog (Gzip::kMaxInflatedLength).
  static constexpr uint64_t kDefaultMaxBodyLength = 512ull * 1024 * 1024;
  static constexpr int kMaxRedirects = 10;
  // "URLConnectionErrorDomain": -1 invalid or unsupported URL, an unusable redirect, a host that
  // cannot be resolved; -2 a body beyond the in-memory bound; -3 a streamed body no longer
  // readable. Malformed bodies fail in "StreamErrorDomain" -1 (unknown transfer encoding,
  // chunk errors), malformed heads in HTTPResponseHead::errorDomain(). A reset connection
  // fails in "UnixErrorDomain" with ECONNRESET, a response that ends early with
  // BufferedInputStream's kEndOfStreamCode.
  static std::string_view errorDomain() { return "URLConnectionErrorDomain"; }
  static constexpr int64_t kInvalidURLCode = -1;
  static constexpr int64_t kBodyTooLongCode = -2;
  static constexpr int64_t kBodyGoneCode = -3;

  URLConnection(std::string url, std::string method, HTTPConnectionDelegate* delegate = nullptr);
  ~URLConnection() override;
  URLConnection(const URLConnection&) = delete;
  URLConnection& operator=(const URLConnection&) = delete;

  // Logs "request header %@ = %@" at TRACE. "Host" and "Content-Length" are written by the
  // connection unless set here; "Accept-Encoding: gzip" too.
  void setRequestHeader(const std::string& value, const std::string& name) override;

  // The whole body, decoded, in memory; a body longer than maxBodyLength() fails with
  // kBodyTooLongCode "response body of %@ exceeds %qu bytes" before more than that is held.
  std::unique_ptr<InputStream> executeRequest(Error* error = nullptr) override;
  std::unique_ptr<InputStream> executeRequestWithBody(const Bytes* body, Error* error = nullptr) override;

  // Sends the request and returns once the final response head has arrived; the body is then
  // read from the returned stream as it arrives (decoded), with fixed buffers whatever its
  // length. The stream reads this connection's socket: it must not outlive this object and stops
  // working (kBodyGoneCode) at the next execution. The TCP connection is reused afterwards only
  // when the body was read to its end.
  std::unique_ptr<InputStream> executeRequestStreamingBody(Error* error = nullptr);
  // Executes; when the status is 200, copies the body into out as it arrives (paced like every
  // copy, see Streams) and adds its length to bytesWritten; any other status leaves out untouched.
  // Fails with the transport's or the copy's error; true means an answer came and, for 200, all
  // of its body reached out.
  bool executeRequestWritingBodyTo(OutputStream& out, uint64_t& bytesWritten, Error* error = nullptr);

  int responseCode() const override { return head_ ? head_->statusCode() : 0; }
  std::optional<std::string> responseHeaderForKey(std::string_view name) const override;
  // The last response's head; null before one arrived.
  const HTTPResponseHead* responseHead() const { return head_ ? &*head_ : nullptr; }

  const std::string& url() const { return url_; }
  const std::string& method() const { return method_; }
  HTTPConnectionDelegate* delegate() const { return delegate_; }
  // The URL of the last response, after redirects.
  const std::string& finalURL() const { return finalURL_; }
  // True once an execution failed; such a request object is dropped from its pool.
  bool errorOccurred() const { return errorOccurred_; }
  const Error& lastError() const { return error_; }
  std::thread::id creatorThread() const { return creatorThread_; }
  // Seconds since 2001-01-01 00:00:00 UTC.
  double createTime() const { return createTime_; }
  std::chrono::steady_clock::time_point createdAt() const { return createdAt_; }
  // The formatter of an optional "Date" request header.
  const RFC2616DateFormatter& dateFormatter();

  uint64_t maxBodyLength() const { return maxBodyLength_; }
  void setMaxBodyLength(uint64_t length) { maxBodyLength_ = length; }

  // True when the last execution reused a TCP connection that an earlier one had opened.
  bool reusedConnection() const { return reusedConnection_; }

  // For the pool: the open TCP connection, when it is idle and the server keeps it open, leaving
  // this object without one; and the reverse, for a request object that has none yet.
  std::shared_ptr<HTTPClientSocket> takeIdleSocket();
  void adoptIdleSocket(std::shared_ptr<HTTPClientSocket> socket);

  // "<URLConnection: %@ %@>" (method, URL).
  std::string description() const;

  // Internal: the response body stream reports its end here.
  void bodyDidEnd(uint64_t generation, bool reusable);

 private:
  class BodyStream;

  std::unique_ptr<InputStream> execute(const Bytes* body, Error* error);
  bool fail(const Error& error, Error* out);
  // Sends the request for url on a socket to its server and reads the response head.
  bool exchange(const URL& url, const Bytes* body, Error* error);
  bool sendRequest(HTTPClientSocket& socket, const URL& url, const Bytes* body, Error* error);
  std::unique_ptr<BodyStream> newBodyStream(Error* error);
  // Reads a body that nobody wants, up to a small bound; beyond it the connection is closed.
  bool discardBody(Error* error);
  bool discard(InputStream& body, Error* error);

  const std::string url_;
  const std::string method_;
  HTTPConnectionDelegate* const delegate_;
  std::vector<std::pair<std::string, std::string>> requestHeaders_;
  std::shared_ptr<HTTPClientSocket> socket_;
  bool socketIdle_ = false;  // the socket carries no unfinished exchange
  std::optional<HTTPResponseHead> head_;
  std::string finalURL_;
  std::unique_ptr<RFC2616DateFormatter> dateFormatter_;
  uint64_t totalSent_ = 0;
  uint64_t generation_ = 0;  // counts executions; a body stream of an older one is dead
  bool errorOccurred_ = false;
  bool reusedConnection_ = false;
  Error error_;
  uint64_t maxBodyLength_ = kDefaultMaxBodyLength;
  const std::thread::id creatorThread_;
  const double createTime_;
  const std::chrono::steady_clock::time_point createdAt_;
};

}  // namespace loomkit
