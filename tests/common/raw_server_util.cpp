#include "common/raw_server_util.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kdx::test {
namespace {

int ListenLoopback(uint16_t* port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd, 64) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    return close(fd), -1;
  *port = ntohs(addr.sin_port);
  return fd;
}

}  // namespace

RawHttpServer::RawHttpServer(std::string response, bool holdOpen, std::chrono::milliseconds pace)
    : listenFd_(ListenLoopback(&port_)), thread_(&RawHttpServer::Serve, this, std::move(response), holdOpen, pace) {}

RawHttpServer::~RawHttpServer() {
  stopping_ = true;
  shutdown(listenFd_, SHUT_RDWR);  // ends the accept
  thread_.join();
  close(listenFd_);
}

std::vector<std::string> RawHttpServer::Requests() const {
  std::lock_guard lock(mu_);
  return requests_;
}

void RawHttpServer::Serve(std::string response, bool holdOpen, std::chrono::milliseconds pace) {
  const std::size_t paced = pace.count() > 0 ? response.find("\r\n\r\n") + 4 : response.size();  // the head at once
  std::vector<int> held;
  for (int fd; (fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
    std::string head;
    char buffer[4096];
    for (ssize_t n; head.find("\r\n\r\n") == std::string::npos && (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
      head.append(buffer, static_cast<std::size_t>(n));
    std::unique_lock lock(mu_);
    requests_.push_back(std::move(head));
    lock.unlock();
    bool sending = send(fd, response.data(), paced, MSG_NOSIGNAL) == static_cast<ssize_t>(paced);  // all or failed
    for (std::size_t i = paced; sending && i < response.size(); ++i) {
      std::this_thread::sleep_for(pace);
      sending = !stopping_ && send(fd, &response[i], 1, MSG_NOSIGNAL) == 1;
    }
    holdOpen ? held.push_back(fd) : void(close(fd));
  }
  for (int fd : held) close(fd);
}

uint16_t ClosedPort() {
  uint16_t port = 0;
  close(ListenLoopback(&port));
  return port;
}

}  // namespace kdx::test
