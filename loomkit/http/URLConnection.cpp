#include "loomkit/http/URLConnection.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>

#include "loomkit/io/ChunkedInputStream.h"
#include "loomkit/io/DataInputStream.h"
#include "loomkit/io/GzipInputStream.h"
#include "loomkit/io/SocketInputStream.h"
#include "loomkit/io/Streams.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {

// 2001-01-01 00:00:00 UTC in seconds since 1970.
constexpr double kReferenceDateSince1970 = 978307200.0;
// A redirect's or an unwanted answer's body is read (and the connection kept) up to this length.
constexpr uint64_t kMaxDiscardedBody = 64 * 1024;
constexpr uint64_t kCollectStep = 64 * 1024;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

double secondsSince2001() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count() - kReferenceDateSince1970;
}

bool isRedirect(int code) { return code == 301 || code == 302 || code == 303 || code == 307 || code == 308; }

// A failure of a reused connection before any byte of the answer came: the server closed it
// while it was idle, and the request may be sent again on a new one.
bool isClosedWhileIdle(const Error& error) {
  return error.is(kUnixErrorDomain, ECONNRESET) || error.is(kUnixErrorDomain, EPIPE) ||
         error.is(BufferedInputStream::errorDomain(), BufferedInputStream::kEndOfStreamCode);
}

}  // namespace

// The body of one response as it arrives from the socket: framed by its length, by chunks or by
// the end of the connection, then decompressed when the server compressed it. Tells its request
// object when the body was read to its end, so that the socket can carry the next request.
class URLConnection::BodyStream final : public InputStream {
 public:
  enum class Framing { kNone, kLength, kChunked, kUntilClose };

  BodyStream(URLConnection& owner, std::shared_ptr<HTTPClientSocket> socket, Framing framing, uint64_t length,
             bool reusable, bool compressed)
      : owner_(owner), generation_(owner.generation_), socket_(std::move(socket)), framing_(framing),
        remaining_(length), reusable_(reusable), raw_(*this) {
    if (framing_ == Framing::kChunked) chunked_ = std::make_unique<ChunkedInputStream>(socket_->input());
    if (compressed) gzip_ = std::make_unique<GzipInputStream>(raw_);
  }

  int64_t read(void* buffer, uint64_t capacity, Error* error) override {
    if (owner_.generation_ != generation_) {
      setError(error, URLConnection::errorDomain(), kBodyGoneCode,
               strprintf("the body of %s is no longer readable", owner_.description().c_str()));
      return -1;
    }
    if (ended_) return 0;
    Error local;
    int64_t n = gzip_ ? gzip_->read(buffer, capacity, &local) : raw_.read(buffer, capacity, &local);
    if (n < 0) {
      owner_.fail(local, error);
      return -1;
    }
    if (n == 0 && capacity > 0) {
      ended_ = true;
      owner_.bodyDidEnd(generation_, reusable_ && rawEnded_);
      return 0;
    }
    if (n > 0) {
      LOG_TRACE("received %lu bytes", static_cast<unsigned long>(n));
      if (owner_.delegate_) owner_.delegate_->httpConnectionDidReceiveBytes(owner_, static_cast<uint64_t>(n));
    }
    return n;
  }

  std::string description() const override {
    return strprintf("<response body of %s>", owner_.description().c_str());
  }

  // A known length of the body as it is handed out, when it is neither chunked nor compressed.
  std::optional<uint64_t> knownLength() const {
    if (gzip_) return std::nullopt;
    if (framing_ == Framing::kNone) return 0;
    if (framing_ == Framing::kLength) return remaining_;
    return std::nullopt;
  }

 private:
  // The framed bytes, before decompression.
  class Raw final : public InputStream {
   public:
    explicit Raw(BodyStream& body) : body_(body) {}
    int64_t read(void* buffer, uint64_t capacity, Error* error) override { return body_.readRaw(buffer, capacity, error); }
    std::string description() const override { return body_.socket_->input().description(); }

   private:
    BodyStream& body_;
  };

  int64_t readRaw(void* buffer, uint64_t capacity, Error* error) {
    if (rawEnded_ || capacity == 0) return 0;
    BufferedInputStream& in = socket_->input();
    int64_t n;
    switch (framing_) {
      case Framing::kNone:
        rawEnded_ = true;
        return 0;
      case Framing::kLength:
        if (remaining_ == 0) {
          rawEnded_ = true;
          return 0;
        }
        n = in.read(buffer, std::min(capacity, remaining_), error);
        if (n == 0) {
          setError(error, BufferedInputStream::errorDomain(), BufferedInputStream::kEndOfStreamCode,
                   strprintf("EOF on %s after %lu of %lu bytes received", in.description().c_str(),
                             static_cast<unsigned long>(received_), static_cast<unsigned long>(received_ + remaining_)));
          return -1;
        }
        if (n > 0) {
          remaining_ -= static_cast<uint64_t>(n);
          received_ += static_cast<uint64_t>(n);
        }
        return n;
      case Framing::kChunked:
        n = chunked_->read(buffer, capacity, error);
        if (n == 0) rawEnded_ = true;
        return n;
      case Framing::kUntilClose:
        n = in.read(buffer, capacity, error);
        if (n == 0) rawEnded_ = true;
        return n;
    }
    return 0;
  }

  URLConnection& owner_;
  const uint64_t generation_;
  std::shared_ptr<HTTPClientSocket> socket_;
  const Framing framing_;
  uint64_t remaining_;
  uint64_t received_ = 0;
  const bool reusable_;
  bool rawEnded_ = false;
  bool ended_ = false;
  Raw raw_;
  std::unique_ptr<ChunkedInputStream> chunked_;
  std::unique_ptr<GzipInputStream> gzip_;
};

URLConnection::URLConnection(std::string url, std::string method, HTTPConnectionDelegate* delegate)
    : url_(std::move(url)), method_(std::move(method)), delegate_(delegate), finalURL_(url_),
      creatorThread_(std::this_thread::get_id()), createTime_(secondsSince2001()),
      createdAt_(std::chrono::steady_clock::now()) {}

URLConnection::~URLConnection() = default;

void URLConnection::setRequestHeader(const std::string& value, const std::string& name) {
  LOG_TRACE_OBJ(this, "request header %s = %s", name.c_str(), value.c_str());
  for (auto& [key, field] : requestHeaders_) {
    if (key == name) {
      field = value;
      return;
    }
  }
  requestHeaders_.emplace_back(name, value);
}

std::optional<std::string> URLConnection::responseHeaderForKey(std::string_view name) const {
  if (!head_) return std::nullopt;
  return head_->headerForKey(name);
}

const RFC2616DateFormatter& URLConnection::dateFormatter() {
  if (!dateFormatter_) dateFormatter_ = std::make_unique<RFC2616DateFormatter>();
  return *dateFormatter_;
}

std::string URLConnection::description() const {
  return strprintf("<URLConnection: %s %s>", method_.c_str(), url_.c_str());
}

std::shared_ptr<HTTPClientSocket> URLConnection::takeIdleSocket() {
  if (!socket_ || !socketIdle_ || !socket_->isOpen()) return nullptr;
  socketIdle_ = false;
  return std::move(socket_);
}

void URLConnection::adoptIdleSocket(std::shared_ptr<HTTPClientSocket> socket) {
  if (socket_ || !socket) return;
  socket_ = std::move(socket);
  socketIdle_ = true;
}

void URLConnection::bodyDidEnd(uint64_t generation, bool reusable) {
  if (generation != generation_) return;
  if (reusable) {
    socketIdle_ = true;
  } else if (socket_) {
    socket_->close();
    socket_.reset();
  }
}

bool URLConnection::fail(const Error& error, Error* out) {
  errorOccurred_ = true;
  error_ = error;
  LOG_TRACE_OBJ(this, "%s %s: %s", method_.c_str(), url_.c_str(), error.description().c_str());
  if (socket_) {
    socket_->close();
    socket_.reset();
  }
  socketIdle_ = false;
  return passError(out, error);
}

bool URLConnection::sendRequest(HTTPClientSocket& socket, const URL& url, const Bytes* body, Error* error) {
  auto isSet = [&](std::string_view name) {
    return std::any_of(requestHeaders_.begin(), requestHeaders_.end(),
                       [&](const auto& header) { return equalsIgnoringCase(header.first, name); });
  };
  std::string head = method_ + " " + url.target() + " HTTP/1.1\r\n";
  if (!isSet("Host")) {
    head += "Host: " + url.hostForHeader();
    if (url.port() != 80) head += ":" + std::to_string(url.port());
    head += "\r\n";
  }
  for (const auto& [name, value] : requestHeaders_) head += name + ": " + value + "\r\n";
  if (!isSet("Accept-Encoding")) head += "Accept-Encoding: gzip\r\n";
  if (body && !isSet("Content-Length")) head += "Content-Length: " + std::to_string(body->size()) + "\r\n";
  head += "\r\n";
  if (body && body->size() <= 16384) {
    head.append(reinterpret_cast<const char*>(body->data()), body->size());
    body = nullptr;
  }
  if (!Streams::writeFully(socket.output(), head.data(), head.size(), error)) return false;
  totalSent_ += head.size();
  if (body) {
    if (!Streams::writeFully(socket.output(), body->data(), body->size(), error)) return false;
    totalSent_ += body->size();
  }
  return true;
}

bool URLConnection::exchange(const URL& url, const Bytes* body, Error* error) {
  if (url.scheme() != "http") {
    return setError(error, errorDomain(), kInvalidURLCode, strprintf("unsupported URL scheme %s", url.scheme().c_str()));
  }
  const std::string endpoint = url.host() + ":" + std::to_string(url.port());
  bool reuse = socket_ && socketIdle_ && socket_->endpoint() == endpoint && socket_->looksReusable();
  for (int attempt = 0;; ++attempt) {
    if (!reuse) {
      socket_.reset();
      socket_ = HTTPClientSocket::connect(url.host(), url.port(), SocketInputStream::readTimeoutSeconds(), error);
      if (!socket_) return false;
    }
    reusedConnection_ = reuse;
    socketIdle_ = false;
    const uint64_t before = socket_->input().bytesReceived();
    Error local;
    bool ok = sendRequest(*socket_, url, body, &local);
    while (ok) {
      head_.emplace();
      ok = head_->read(socket_->input(), &local);
      if (!ok) head_.reset();
      // Interim answers (100 Continue and the like) precede the real one.
      if (!ok || head_->statusCode() >= 200 || head_->statusCode() == 101) break;
    }
    if (ok && head_->statusCode() == 101) {
      head_.reset();
      ok = setError(&local, errorDomain(), kInvalidURLCode, "the server switched protocols");
    }
    if (ok) return true;
    if (reuse && attempt == 0 && socket_->input().bytesReceived() == before && isClosedWhileIdle(local)) {
      LOG_TRACE_OBJ(this, "kept connection to %s was closed by the server; connecting again", endpoint.c_str());
      reuse = false;
      continue;
    }
    return passError(error, local);
  }
}

std::unique_ptr<URLConnection::BodyStream> URLConnection::newBodyStream(Error* error) {
  const int code = head_->statusCode();
  const bool keepAlive = head_->version() == "1.1" ? !head_->headerHasToken("Connection", "close")
                                                   : head_->headerHasToken("Connection", "keep-alive");
  if (equalsIgnoringCase(method_, "HEAD") || code == 204 || code == 304) {
    LOG_TRACE_OBJ(this, "%s: empty response body", description().c_str());
    return std::make_unique<BodyStream>(*this, socket_, BodyStream::Framing::kNone, 0, keepAlive, false);
  }
  std::optional<std::string> transferEncoding = head_->headerForKey("Transfer-Encoding");
  LOG_TRACE_OBJ(this, "Content-Length = %s", head_->headerForKey("Content-Length").value_or("(null)").c_str());
  LOG_TRACE_OBJ(this, "Transfer-Encoding = %s", transferEncoding.value_or("(null)").c_str());
  BodyStream::Framing framing;
  uint64_t length = 0;
  bool reusable = keepAlive;
  if (!transferEncoding || equalsIgnoringCase(*transferEncoding, "identity")) {
    if (head_->contentLength()) {
      framing = BodyStream::Framing::kLength;
      length = *head_->contentLength();
    } else {
      LOG_TRACE_OBJ(this, "%s: response body with no content-length", description().c_str());
      framing = BodyStream::Framing::kUntilClose;
      reusable = false;
    }
  } else if (equalsIgnoringCase(*transferEncoding, "chunked")) {
    LOG_TRACE_OBJ(this, "%s: chunked response body", description().c_str());
    framing = BodyStream::Framing::kChunked;
    // A length beside chunks is a sign of a confused server: do not trust where the body ends.
    if (head_->contentLength()) reusable = false;
  } else {
    Error local;
    setError(&local, "StreamErrorDomain", -1, strprintf("unknown Transfer-Encoding '%s'", transferEncoding->c_str()));
    fail(local, error);
    return nullptr;
  }
  bool compressed = false;
  if (std::optional<std::string> contentEncoding = head_->headerForKey("Content-Encoding")) {
    if (equalsIgnoringCase(*contentEncoding, "gzip") || equalsIgnoringCase(*contentEncoding, "x-gzip") ||
        equalsIgnoringCase(*contentEncoding, "deflate")) {
      compressed = true;
    } else if (!equalsIgnoringCase(*contentEncoding, "identity")) {
      Error local;
      setError(&local, "StreamErrorDomain", -1, strprintf("unknown Content-Encoding '%s'", contentEncoding->c_str()));
      fail(local, error);
      return nullptr;
    }
  }
  return std::make_unique<BodyStream>(*this, socket_, framing, length, reusable, compressed);
}

bool URLConnection::discardBody(Error* error) {
  std::unique_ptr<BodyStream> body = newBodyStream(error);
  return body && discard(*body, error);
}

bool URLConnection::discard(InputStream& body, Error* error) {
  uint8_t scrap[8192];
  uint64_t discarded = 0;
  for (;;) {
    int64_t n = body.read(scrap, sizeof scrap, error);
    if (n < 0) return false;
    if (n == 0) return true;
    discarded += static_cast<uint64_t>(n);
    if (discarded > kMaxDiscardedBody) {
      // Not worth reading to its end: the next request gets a new connection.
      if (socket_) socket_->close();
      socket_.reset();
      socketIdle_ = false;
      return true;
    }
  }
}

std::unique_ptr<InputStream> URLConnection::execute(const Bytes* body, Error* error) {
  if (std::this_thread::get_id() != creatorThread_) {
    LOG_ERROR("must be on same thread!");
    std::abort();
  }
  LOG_TRACE_OBJ(this, "%s %s", method_.c_str(), url_.c_str());
  for (const auto& [name, value] : requestHeaders_) LOG_TRACE_OBJ(this, "  %s: %s", name.c_str(), value.c_str());
  ++generation_;
  totalSent_ = 0;
  head_.reset();
  if (socket_ && !socketIdle_) {
    // The last body was not read to its end: its rest would be taken for the next answer.
    socket_->close();
    socket_.reset();
  }
  std::optional<URL> url = URL::parse(url_);
  if (!url) {
    Error local;
    setError(&local, errorDomain(), kInvalidURLCode, strprintf("invalid URL %s", url_.c_str()));
    fail(local, error);
    return nullptr;
  }
  for (int redirects = 0;; ++redirects) {
    Error local;
    if (!exchange(*url, body, &local)) {
      fail(local, error);
      return nullptr;
    }
    std::optional<std::string> location = head_->headerForKey("Location");
    if (!isRedirect(head_->statusCode()) || !location || redirects == kMaxRedirects) break;
    std::optional<URL> next = url->resolve(*location);
    if (!next) {
      setError(&local, errorDomain(), kInvalidURLCode, strprintf("unusable redirect to %s", location->c_str()));
      fail(local, error);
      return nullptr;
    }
    LOG_TRACE_OBJ(this, "%d: redirected to %s", head_->statusCode(), next->text().c_str());
    if (!discardBody(&local)) {
      fail(local, error);
      return nullptr;
    }
    if (head_->statusCode() == 303) body = nullptr;
    url = std::move(next);
    ++generation_;
  }
  finalURL_ = url->text();
  return newBodyStream(error);
}

std::unique_ptr<InputStream> URLConnection::executeRequestStreamingBody(Error* error) { return execute(nullptr, error); }

std::unique_ptr<InputStream> URLConnection::executeRequest(Error* error) { return executeRequestWithBody(nullptr, error); }

std::unique_ptr<InputStream> URLConnection::executeRequestWithBody(const Bytes* requestBody, Error* error) {
  std::unique_ptr<InputStream> stream = execute(requestBody, error);
  if (!stream) return nullptr;
  auto* body = static_cast<BodyStream*>(stream.get());
  auto tooLong = [&] {
    Error local;
    setError(&local, errorDomain(), kBodyTooLongCode,
             strprintf("response body of %s exceeds %llu bytes", description().c_str(),
                       static_cast<unsigned long long>(maxBodyLength_)));
    fail(local, error);
    return nullptr;
  };
  std::optional<uint64_t> known = body->knownLength();
  if (known && *known > maxBodyLength_) return tooLong();
  Bytes data;
  // An announced length is only a promise: reserve no more than a first step of it.
  if (known) data.reserve(std::min<uint64_t>(*known, 1024 * 1024));
  for (;;) {
    const size_t size = data.size();
    // One byte beyond the bound is room enough to see that the body is too long.
    uint64_t step = std::min<uint64_t>(std::max<uint64_t>(kCollectStep, size / 2), maxBodyLength_ + 1 - size);
    data.resize(size + step);
    int64_t n = body->read(data.data() + size, step, error);
    if (n < 0) return nullptr;
    data.resize(size + static_cast<size_t>(n));
    if (n == 0) break;
    if (data.size() > maxBodyLength_) return tooLong();
  }
  return std::make_unique<DataInputStream>(std::move(data));
}

bool URLConnection::executeRequestWritingBodyTo(OutputStream& out, uint64_t& bytesWritten, Error* error) {
  std::unique_ptr<InputStream> body = execute(nullptr, error);
  if (!body) return false;
  if (responseCode() != 200) {
    Error local;
    if (!discard(*body, &local)) LOG_TRACE_OBJ(this, "dropping the answer's body: %s", local.description().c_str());
    return true;
  }
  Error local;
  if (!Streams::transferFrom(*body, out, bytesWritten, &local)) {
    // A failed read already failed this request; a failed write leaves the body unread.
    if (!errorOccurred_ || error_ != local) fail(local, nullptr);
    return passError(error, local);
  }
  return true;
}

}  // namespace loomkit
