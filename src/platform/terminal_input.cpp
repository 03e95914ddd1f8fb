// Waiting for terminal input with poll(), beside the message loop's descriptor.
#include "platform/terminal_input.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/message_window.h"

namespace kdx {

std::optional<std::string> TerminalLineReader::NextLine() {
  auto& loop = MessageLoop::ForCurrentThread();
  for (;;) {
    if (auto line = TakeLine()) return line;
    const int loopFd = loop.WaitFd();
    pollfd fds[2] = {{input_, POLLIN, 0}, {loopFd, POLLIN, 0}};
    // Without the loop's descriptor, look at the queue every 50 ms instead.
    const int ready = poll(fds, loopFd >= 0 ? 2 : 1, loopFd >= 0 ? -1 : 50);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (loopFd < 0 || (fds[1].revents & POLLIN) != 0) {
      loop.RunPending();
      // A handler may have read a line of its own meanwhile, and a loop that never empties
      // must not starve the input: look at the input again before reading.
      if (pending_.find('\n') != std::string::npos) continue;
      pollfd again{input_, POLLIN, 0};
      if (poll(&again, 1, 0) <= 0) continue;
      fds[0].revents = again.revents;
    }
    if ((fds[0].revents & POLLNVAL) != 0) return std::nullopt;
    if (fds[0].revents == 0) continue;
    char buffer[512];
    const ssize_t n = read(input_, buffer, sizeof buffer);
    if (n > 0) {
      pending_.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      return EndOfInput();
    } else if (errno != EINTR && errno != EAGAIN) {
      return std::nullopt;
    }
  }
}

}  // namespace kdx
