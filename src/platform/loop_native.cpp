// The message loop's platform side on Linux: the loop of each thread, and the wait
// descriptor, an eventfd whose counter is 0 or 1.
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "platform/message_queue.h"
#include "platform/message_window.h"

namespace kdx {

MessageLoop& MessageLoop::ForCurrentThread() {
  thread_local MessageLoop loop;
  return loop;
}

namespace detail {

// Linux needs nothing besides the condition variable and the eventfd.
struct NativeLoop {};
void NativeLoopDeleter::operator()(NativeLoop* native) const { delete native; }
NativeLoop* OpenNativeLoop(LoopState&) { return nullptr; }
void EndNativeLoop(LoopState&) {}
void SignalNativeLoop(NativeLoop&, bool) {}

bool WaitForWork(LoopState& loop, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(loop.mu);
  return loop.ready.wait_until(lock, deadline, [&] { return loop.HasWorkLocked(); });
}

int OpenWaitFd() { return eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

void CloseWaitFd(int fd) {
  if (fd >= 0) close(fd);
}

bool SetWaitFd(int fd, bool signalled) {
  std::uint64_t value = 1;
  // The counter only ever holds 0 or 1 here, so neither call can block or overflow.
  const ssize_t n = signalled ? write(fd, &value, sizeof value) : read(fd, &value, sizeof value);
  return n == static_cast<ssize_t>(sizeof value);
}

}  // namespace detail
}  // namespace kdx
