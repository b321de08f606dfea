#include "tests/support/LoopbackTcp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace fotello::test {

namespace {

int checked(int result, const char* what) {
  if (result < 0) throw std::runtime_error(what);
  return result;
}

}  // namespace

LoopbackTcpPair::LoopbackTcpPair() {
  int listener = checked(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), "socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  try {
    checked(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), "bind");
    checked(::listen(listener, 1), "listen");
    checked(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), "getsockname");
    client_ = checked(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), "socket");
    checked(::connect(client_, reinterpret_cast<sockaddr*>(&address), sizeof address), "connect");
    server_ = checked(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC), "accept");
  } catch (...) {
    ::close(listener);
    if (client_ >= 0) ::close(client_);
    throw;
  }
  ::close(listener);
}

LoopbackTcpPair::~LoopbackTcpPair() {
  if (client_ >= 0) ::close(client_);
  if (server_ >= 0) ::close(server_);
}

void LoopbackTcpPair::resetFromServer() {
  linger abort{1, 0};
  checked(::setsockopt(server_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort), "setsockopt");
  ::close(server_);
  server_ = -1;
  pollfd watch{client_, POLLIN, 0};
  checked(::poll(&watch, 1, 5000), "poll");
}

}  // namespace fotello::test
