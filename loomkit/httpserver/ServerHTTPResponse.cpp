#include "loomkit/httpserver/ServerHTTPResponse.h"

#include <cstdlib>
#include <memory>

#include "loomkit/httpserver/ServerSocket.h"
#include "loomkit/io/Streams.h"
#include "loomkit/io/Writer.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {

// Lets the writer's buffer sit in front of a stream that the response does not own.
class BorrowedOutputStream final : public OutputStream {
 public:
  explicit BorrowedOutputStream(OutputStream& os) : os_(os) {}
  int64_t write(const void* bytes, uint64_t length, Error* error) override { return os_.write(bytes, length, error); }
  uint64_t bytesWritten() const override { return os_.bytesWritten(); }
  std::string description() const override { return os_.description(); }

 private:
  OutputStream& os_;
};

void logBody(uint64_t length) { LOG_TRACE("wrote %llu-byte body", static_cast<unsigned long long>(length)); }

}  // namespace

// The status line and header block in the writer's buffer; the body follows it.
class ServerHTTPResponse::Head {
 public:
  explicit Head(ServerHTTPResponse& response) : writer_(std::make_unique<BorrowedOutputStream>(response.os_)) {
    std::string statusLine = strprintf("HTTP/1.1 %d %s\r\n", response.code_, response.textForCode().c_str());
    LOG_TRACE("writing response %s", statusLine.c_str());
    ok_ = writer_.write(statusLine, &error_);
    for (const auto& [name, value] : response.headers_) {
      LOG_TRACE("writing %s: %s\\r\\n", name.c_str(), value.c_str());
      ok_ = ok_ && writer_.write(name, &error_) && writer_.write(": ", &error_) && writer_.write(value, &error_) &&
            writer_.write("\r\n", &error_);
    }
    LOG_TRACE("writing \\r\\n");
    ok_ = ok_ && writer_.write("\r\n", &error_);
  }

  // Adds bytes behind the header block (straight to the stream when they do not fit the buffer).
  bool append(std::span<const uint8_t> bytes) {
    return ok_ = ok_ && writer_.outputStream().writeExactly(bytes.data(), bytes.size(), &error_);
  }
  // Sends everything buffered; false with the first failure's error.
  bool flush(Error* error) {
    ok_ = ok_ && writer_.flush(&error_);
    return ok_ || passError(error, error_);
  }

 private:
  Writer writer_;
  Error error_;
  bool ok_ = true;
};

ServerHTTPResponse::ServerHTTPResponse(int code, ServerSocket& socket) : os_(socket), socket_(&socket), code_(code) {}

void ServerHTTPResponse::setHeader(std::string value, const std::string& name) {
  for (auto& [present, presentValue] : headers_) {
    if (present == name) {
      presentValue = std::move(value);
      return;
    }
  }
  headers_.emplace_back(name, std::move(value));
}

std::string ServerHTTPResponse::textForCode() const {
  switch (code_) {
    case 200: return "OK";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Unknown";
  }
}

bool ServerHTTPResponse::writeFullyWithBody(InputStream* body, Error* error) {
  if (!Head(*this).flush(error)) return false;
  if (!body) return true;
  uint64_t written = 0;
  if (!Streams::transferFrom(*body, os_, written, error)) return false;
  logBody(written);
  return true;
}

bool ServerHTTPResponse::writeFullyWithBytes(std::span<const uint8_t> body, Error* error) {
  Head head(*this);
  head.append(body);
  if (!head.flush(error)) return false;
  logBody(body.size());
  return true;
}

bool ServerHTTPResponse::writeFullyWithFile(int fileFD, uint64_t offset, uint64_t length, Error* error) {
  if (!socket_) {
    LOG_ERROR("writeFullyWithFile: response has no socket");
    std::abort();
  }
  // Corked, the header block and the file's first bytes share their segments.
  socket_->setCorked(true);
  bool ok = Head(*this).flush(error) && socket_->sendFile(fileFD, offset, length, error);
  socket_->setCorked(false);
  if (ok) logBody(length);
  return ok;
}

}  // namespace loomkit
