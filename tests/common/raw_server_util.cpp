#include "common/raw_server_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kdx::test {
namespace {

int ListenLoopback(uint16_t* port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 64) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return fd;
}

// The request head, read until its blank line (or 5 s of silence).
std::string ReadHead(int fd) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) break;
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    head.append(buffer, static_cast<std::size_t>(n));
  }
  return head;
}

}  // namespace

RawHttpServer::RawHttpServer(std::string response, bool holdOpen)
    : response_(std::move(response)), holdOpen_(holdOpen) {
  listenFd_ = ListenLoopback(&port_);
  if (listenFd_ < 0 || pipe2(wakeFds_, O_CLOEXEC) != 0) return;
  thread_ = std::thread([this] { Serve(); });
}

RawHttpServer::~RawHttpServer() {
  if (thread_.joinable()) {
    (void)!write(wakeFds_[1], "x", 1);
    thread_.join();
  }
  for (int fd : held_) close(fd);
  for (int fd : {listenFd_, wakeFds_[0], wakeFds_[1]})
    if (fd >= 0) close(fd);
}

std::string RawHttpServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<std::string> RawHttpServer::Requests() const {
  std::lock_guard lock(mu_);
  return requests_;
}

void RawHttpServer::Serve() {
  for (;;) {
    pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    if (poll(p, 2, -1) < 0 || (p[1].revents & POLLIN)) return;
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::string head = ReadHead(fd);
    {
      std::lock_guard lock(mu_);
      requests_.push_back(std::move(head));
    }
    for (std::size_t sent = 0; sent < response_.size();) {
      ssize_t n = send(fd, response_.data() + sent, response_.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    if (holdOpen_)
      held_.push_back(fd);
    else
      close(fd);
  }
}

uint16_t ClosedPort() {
  uint16_t port = 0;
  int fd = ListenLoopback(&port);
  if (fd >= 0) close(fd);
  return port;
}

}  // namespace kdx::test
