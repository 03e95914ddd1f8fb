// Shared state behind MessageLoop, MessageWindow and WindowHandle. Internal to
// platform/; everything here is held by shared_ptr so that handles and blocked
// senders never outlive what they point at.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/message_window.h"

namespace kdx::detail {

// A cross-thread SendMessage, shared by the blocked sender and the queue.
struct SentMessage {
  enum class Status { Waiting, Done, Dropped };
  Status status = Status::Waiting;  // guarded by the loop's mutex
  LRESULT result = 0;
  std::condition_variable finished;  // waited on with the loop's mutex
};

struct Message {
  std::shared_ptr<WindowState> window;
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::uint64_t seq = 0;
  std::function<void()> onDropped;    // posted messages
  std::shared_ptr<SentMessage> sent;  // sent messages
};

struct NativeLoop;
struct NativeLoopDeleter {
  void operator()(NativeLoop* native) const;
};

struct LoopState {
  explicit LoopState(std::thread::id ownerThread);
  ~LoopState();
  LoopState(const LoopState&) = delete;
  LoopState& operator=(const LoopState&) = delete;

  bool OnOwnerThread() const { return std::this_thread::get_id() == owner; }

  // Anything queued or a Wake pending; call with mu held.
  bool HasWorkLocked() const { return !sent.empty() || !posted.empty() || wakePending; }

  // Keeps the wait descriptor readable, and the backend's wake-up signalled, exactly while
  // something waits; call with mu held.
  void SyncFdLocked();

  // Takes every queued message for `window` (all of them when null) out of the queues:
  // blocked senders are released with Dropped, posted messages are moved to `dropped`
  // so their callbacks and references die after the caller unlocks. Call with mu held.
  void PurgeLocked(const WindowState* window, std::vector<Message>& dropped);

  const std::thread::id owner;
  int efd = -1;
  // The backend's own wake-up (Windows: a message-only window and an event); null where
  // there is none. Its members are guarded by mu.
  std::unique_ptr<NativeLoop, NativeLoopDeleter> native;

  mutable std::mutex mu;
  std::condition_variable ready;  // the owner thread sleeps on it in RunUntil
  std::deque<Message> sent;       // handled before posted ones
  std::deque<Message> posted;
  std::uint64_t nextSeq = 0;
  bool wakePending = false;
  bool fdSignalled = false;
  bool closed = false;  // the owner thread has ended
};

struct WindowState {
  explicit WindowState(std::shared_ptr<LoopState> l) : loop(std::move(l)) {}

  const std::shared_ptr<LoopState> loop;
  bool alive = true;  // guarded by loop->mu
  // Owner thread only. Handlers are shared so a running one survives being replaced.
  std::unordered_map<UINT, std::shared_ptr<const MessageWindow::Handler>> handlers;
};

// The loop's wait descriptor, from each platform's backend: -1 where there is none (the
// loop works without it, it only cannot be embedded in a poll loop).
int OpenWaitFd();
void CloseWaitFd(int fd);
// Makes fd readable (signalled) or not; false when that failed and the state is unchanged.
bool SetWaitFd(int fd, bool signalled);

// The backend's side of each loop: opened on the owner thread when the loop starts (null
// where the backend needs nothing), ended there when the loop ends, freed with the loop.
NativeLoop* OpenNativeLoop(LoopState& loop);
void EndNativeLoop(LoopState& loop);
// Tells the backend whether work is waiting; call with mu held, from any thread.
void SignalNativeLoop(NativeLoop& native, bool signalled);
// Owner thread, mu not held: sleeps until work is queued or a Wake is pending (true) or the
// deadline passes (false). Windows also dispatches its own messages meanwhile.
bool WaitForWork(LoopState& loop, std::chrono::steady_clock::time_point deadline);

// Calls the window's handler for msg on the owner thread; 0 when there is none.
LRESULT CallHandler(WindowState& window, UINT msg, WPARAM wParam, LPARAM lParam);

// Hands a message taken off the queue to its window; completes a blocked sender even
// when the handler throws, so the sender can never hang.
void Deliver(Message& m);

// Queue operations shared by MessageWindow and WindowHandle.
bool PostTo(const std::shared_ptr<WindowState>& window, UINT msg, WPARAM wParam,
            LPARAM lParam, std::function<void()> onDropped);
bool SendTo(const std::shared_ptr<WindowState>& window, UINT msg, WPARAM wParam,
            LPARAM lParam, LRESULT* result);

}  // namespace kdx::detail
