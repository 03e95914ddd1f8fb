// A loopback HTTP server that answers every connection with fixed bytes, for faults that a
// real server library will not produce (short bodies, cuts, silence), and that keeps the
// request heads it received.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kdx::test {

class RawHttpServer {
 public:
  // Per connection: read the request head, send `response`, then close the connection, or,
  // with holdOpen, keep it open and silent until the server is destroyed.
  explicit RawHttpServer(std::string response, bool holdOpen = false);
  ~RawHttpServer();
  RawHttpServer(const RawHttpServer&) = delete;
  RawHttpServer& operator=(const RawHttpServer&) = delete;

  uint16_t Port() const { return port_; }
  std::string Url(std::string_view path) const;
  std::vector<std::string> Requests() const;  // request heads, in arrival order

 private:
  void Serve();

  std::string response_;
  bool holdOpen_;
  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::vector<int> held_;
  mutable std::mutex mu_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A loopback port that nothing listens on (bound once, then released).
uint16_t ClosedPort();

}  // namespace kdx::test
