// Detached worker threads with a process-wide count of those still running.
#include "platform/worker.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace kdx {
namespace {

struct WorkerCount {
  std::mutex mu;
  std::condition_variable idle;
  std::size_t running = 0;
};

// Never destroyed: detached workers may still finish while static objects are torn
// down at exit.
WorkerCount& Workers() {
  static auto* count = new WorkerCount;
  return *count;
}

void WorkerFinished() {
  auto& w = Workers();
  std::lock_guard lock(w.mu);
  if (--w.running == 0) w.idle.notify_all();
}

}  // namespace

bool StartWorker(std::function<void()> job) {
  if (!job) return false;
  {
    auto& w = Workers();
    std::lock_guard lock(w.mu);
    ++w.running;  // counted before the thread exists, so no waiter can miss it
  }
  try {
    std::thread([job = std::move(job)]() mutable {
      try {
        job();
      } catch (...) {
        // A detached thread has nobody to report to; ending it beats ending the host.
      }
      job = nullptr;  // free the captures before counting the worker as finished
      WorkerFinished();
    }).detach();
    return true;
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
  }
  WorkerFinished();
  return false;
}

std::size_t RunningWorkers() {
  auto& w = Workers();
  std::lock_guard lock(w.mu);
  return w.running;
}

bool WaitForWorkers(std::chrono::milliseconds timeout) {
  auto& w = Workers();
  std::unique_lock lock(w.mu);
  return w.idle.wait_for(lock, timeout, [&] { return w.running == 0; });
}

}  // namespace kdx
