#include "loomkit/httpserver/ServerHTTPConnection.h"

#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {

// The buffered stream's source: the socket, kept alive by the stream as well.
class SharedSocketInputStream final : public InputStream {
 public:
  explicit SharedSocketInputStream(std::shared_ptr<ServerSocket> socket) : socket_(std::move(socket)) {}
  int64_t read(void* buffer, uint64_t capacity, Error* error) override { return socket_->read(buffer, capacity, error); }
  std::string description() const override { return socket_->description(); }

 private:
  std::shared_ptr<ServerSocket> socket_;
};

}  // namespace

ServerHTTPConnection::ServerHTTPConnection(std::shared_ptr<ServerSocket> socket)
    : socket_(std::move(socket)), is_(std::make_unique<BufferedInputStream>(std::make_unique<SharedSocketInputStream>(socket_))) {}

void ServerHTTPConnection::close() {
  if (!socket_) return;
  Error error;
  if (!socket_->shutdownWrite(&error)) LOG_ERROR("shutdown: %s", error.description().c_str());
  is_.reset();
  socket_.reset();
}

std::unique_ptr<ServerHTTPRequest> ServerHTTPConnection::requestWithMaxLength(uint64_t maxLength, Error* error) {
  auto request = std::make_unique<ServerHTTPRequest>(*is_);
  if (!request->read(maxLength, error)) return nullptr;
  return request;
}

std::unique_ptr<ServerHTTPResponse> ServerHTTPConnection::responseWithCode(int code) {
  return std::make_unique<ServerHTTPResponse>(code, *socket_);
}

}  // namespace loomkit
