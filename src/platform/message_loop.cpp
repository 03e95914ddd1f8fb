// The per-thread message loop: one queue for all windows of a thread, pumped by
// RunPending / RunUntil, observable through a wait descriptor where the platform has one.
#include <limits>

#include "platform/message_queue.h"
#include "platform/message_window.h"

namespace kdx {
namespace detail {

LoopState::LoopState(std::thread::id ownerThread)
    : owner(ownerThread), efd(OpenWaitFd()) {
  native.reset(OpenNativeLoop(*this));
}

LoopState::~LoopState() { CloseWaitFd(efd); }

void LoopState::SyncFdLocked() {
  const bool want = HasWorkLocked();
  if (native) SignalNativeLoop(*native, want);
  if (efd < 0 || want == fdSignalled) return;
  if (SetWaitFd(efd, want)) fdSignalled = want;
}

void LoopState::PurgeLocked(const WindowState* window, std::vector<Message>& dropped) {
  auto purge = [&](std::deque<Message>& queue) {
    std::deque<Message> kept;
    for (auto& m : queue) {
      if (window != nullptr && m.window.get() != window) {
        kept.push_back(std::move(m));
      } else {
        if (m.sent) {
          m.sent->status = SentMessage::Status::Dropped;
          m.sent->finished.notify_all();
        }
        dropped.push_back(std::move(m));
      }
    }
    queue.swap(kept);
  };
  purge(sent);
  purge(posted);
  SyncFdLocked();
}

LRESULT CallHandler(WindowState& window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto it = window.handlers.find(msg);
  if (it == window.handlers.end() || !it->second || !*it->second) return 0;
  const auto handler = it->second;  // survives Destroy or replacement inside the call
  return (*handler)(wParam, lParam);
}

void Deliver(Message& m) {
  if (!m.sent) {
    CallHandler(*m.window, m.msg, m.wParam, m.lParam);
    return;
  }
  struct Completion {
    Message& m;
    LRESULT result = 0;
    ~Completion() {
      std::lock_guard lock(m.window->loop->mu);
      m.sent->result = result;
      m.sent->status = SentMessage::Status::Done;
      m.sent->finished.notify_all();
    }
  } completion{m};
  completion.result = CallHandler(*m.window, m.msg, m.wParam, m.lParam);
}

namespace {

// Takes the next message and delivers it with no lock held: any waiting sent message
// first (its sender is blocked), else the oldest posted one queued before `limit`.
bool DispatchOne(LoopState& s, std::uint64_t limit) {
  Message m;
  {
    std::lock_guard lock(s.mu);
    std::deque<Message>* queue = nullptr;
    if (!s.sent.empty()) {
      queue = &s.sent;
    } else if (!s.posted.empty() && s.posted.front().seq < limit) {
      queue = &s.posted;
    } else {
      return false;
    }
    m = std::move(queue->front());
    queue->pop_front();
    s.SyncFdLocked();
  }
  Deliver(m);
  return true;
}

}  // namespace
}  // namespace detail

MessageLoop::MessageLoop()
    : state_(std::make_shared<detail::LoopState>(std::this_thread::get_id())) {}

MessageLoop::~MessageLoop() {
  // The thread is ending: nothing queued can be delivered any more.
  std::vector<detail::Message> dropped;
  {
    std::lock_guard lock(state_->mu);
    state_->closed = true;
    state_->PurgeLocked(nullptr, dropped);
  }
  for (auto& m : dropped) {
    if (m.onDropped) m.onDropped();
  }
  detail::EndNativeLoop(*state_);
}

bool MessageLoop::RunPending() {
  auto& s = *state_;
  if (!s.OnOwnerThread()) return false;
  std::uint64_t limit;
  {
    std::lock_guard lock(s.mu);
    limit = s.nextSeq;
    s.wakePending = false;
    s.SyncFdLocked();
  }
  bool ran = false;
  while (detail::DispatchOne(s, limit)) ran = true;
  return ran;
}

bool MessageLoop::RunUntil(const std::function<bool()>& done,
                           std::chrono::milliseconds timeout) {
  auto& s = *state_;
  if (!s.OnOwnerThread()) return done();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  constexpr auto kAll = std::numeric_limits<std::uint64_t>::max();
  for (;;) {
    {
      // Cleared before done() is read, so a Wake racing with the check is not lost.
      std::lock_guard lock(s.mu);
      s.wakePending = false;
      s.SyncFdLocked();
    }
    if (done()) return true;
    while (detail::DispatchOne(s, kAll)) {
      if (done()) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
    }
    const bool woken = detail::WaitForWork(s, deadline);
    // A stream of Wakes must not keep the loop past its time-out.
    if (!woken || std::chrono::steady_clock::now() >= deadline) return done();
  }
}

int MessageLoop::WaitFd() const { return state_->efd; }

void MessageLoop::Wake() {
  std::lock_guard lock(state_->mu);
  state_->wakePending = true;
  state_->SyncFdLocked();
  state_->ready.notify_all();
}

std::size_t MessageLoop::QueuedCount() const {
  std::lock_guard lock(state_->mu);
  return state_->sent.size() + state_->posted.size();
}

}  // namespace kdx
