// A loopback HTTP server that answers every connection with fixed bytes, for faults that a
// real server library will not produce (short bodies, cuts, silence, trickles), and that
// keeps the request heads it received.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kdx::test {

class RawHttpServer {
 public:
  // Per connection, one at a time: read the request head, send `response` (with a pace, the
  // bytes after its head one per pace), then close the connection, or, with holdOpen, keep
  // it open and silent until the server is destroyed.
  explicit RawHttpServer(std::string response, bool holdOpen = false, std::chrono::milliseconds pace = {});
  ~RawHttpServer();  // not copyable: it owns a thread

  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  std::vector<std::string> Requests() const;  // request heads, in arrival order

 private:
  void Serve(std::string response, bool holdOpen, std::chrono::milliseconds pace);

  uint16_t port_ = 0;  // before listenFd_, which sets it
  int listenFd_ = -1;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mu_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A loopback port that nothing listens on (bound once, then released).
uint16_t ClosedPort();

}  // namespace kdx::test
