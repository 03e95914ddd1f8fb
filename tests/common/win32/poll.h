// poll() for the Windows build of the tests (see compat.h): there is no descriptor to wait on.
#pragma once

#include <cerrno>

struct pollfd {
  int fd;
  short events;
  short revents;
};

inline constexpr short POLLIN = 1;

inline int poll(pollfd*, unsigned long, int) {
  errno = ENOSYS;
  return -1;
}
