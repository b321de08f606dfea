// Connected TCP sockets on 127.0.0.1 for tests of socket code.
#pragma once

namespace fotello::test {

// Both ends of one accepted TCP connection on loopback; closes whatever is still open.
class LoopbackTcpPair {
 public:
  // Listens on an ephemeral loopback port, connects and accepts; throws std::runtime_error on failure.
  LoopbackTcpPair();
  ~LoopbackTcpPair();
  LoopbackTcpPair(const LoopbackTcpPair&) = delete;
  LoopbackTcpPair& operator=(const LoopbackTcpPair&) = delete;

  int client() const { return client_; }
  int server() const { return server_; }
  // Closes the server end so that the client receives a reset (SO_LINGER with time 0), and waits up
  // to 5 s until the client sees it.
  void resetFromServer();

 private:
  int client_ = -1;
  int server_ = -1;
};

}  // namespace fotello::test
