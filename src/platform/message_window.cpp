// Windows, their weak handles, and posting and sending to them.
#include "platform/message_window.h"

#include <new>

#include "platform/message_queue.h"

namespace kdx {
namespace detail {

bool PostTo(const std::shared_ptr<WindowState>& window, UINT msg, WPARAM wParam,
            LPARAM lParam, std::function<void()> onDropped) {
  bool queued = false;
  if (window) {
    Message m;
    m.window = window;
    m.msg = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    m.onDropped = std::move(onDropped);
    auto& loop = *window->loop;
    try {
      std::lock_guard lock(loop.mu);
      if (window->alive && !loop.closed) {
        m.seq = loop.nextSeq;
        // A failed push leaves m (and its onDropped) untouched.
        loop.posted.push_back(std::move(m));
        ++loop.nextSeq;
        queued = true;
        loop.SyncFdLocked();
        loop.ready.notify_all();
      }
    } catch (const std::bad_alloc&) {
    }
    if (!queued) onDropped = std::move(m.onDropped);
  }
  if (!queued && onDropped) onDropped();
  return queued;
}

bool SendTo(const std::shared_ptr<WindowState>& window, UINT msg, WPARAM wParam,
            LPARAM lParam, LRESULT* result) {
  if (!window) return false;
  auto& loop = *window->loop;
  if (loop.OnOwnerThread()) {
    {
      std::lock_guard lock(loop.mu);
      if (!window->alive || loop.closed) return false;
    }
    const LRESULT r = CallHandler(*window, msg, wParam, lParam);
    if (result != nullptr) *result = r;
    return true;
  }
  try {
    auto sent = std::make_shared<SentMessage>();
    std::unique_lock lock(loop.mu);
    if (!window->alive || loop.closed) return false;
    Message m;
    m.window = window;
    m.msg = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    m.seq = loop.nextSeq;
    m.sent = sent;
    loop.sent.push_back(std::move(m));
    ++loop.nextSeq;
    loop.SyncFdLocked();
    loop.ready.notify_all();
    sent->finished.wait(lock, [&] { return sent->status != SentMessage::Status::Waiting; });
    if (sent->status != SentMessage::Status::Done) return false;
    if (result != nullptr) *result = sent->result;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace detail

// --- WindowHandle ----------------------------------------------------------------

WindowHandle::WindowHandle(std::weak_ptr<detail::WindowState> window)
    : window_(std::move(window)) {}

bool WindowHandle::IsNull() const {
  // Owner-equivalent to an empty weak_ptr: never bound to any window.
  const std::weak_ptr<detail::WindowState> empty;
  return !window_.owner_before(empty) && !empty.owner_before(window_);
}

bool WindowHandle::IsWindow() const {
  const auto window = window_.lock();
  if (!window) return false;
  std::lock_guard lock(window->loop->mu);
  return window->alive && !window->loop->closed;
}

bool WindowHandle::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) const {
  return detail::PostTo(window_.lock(), msg, wParam, lParam, nullptr);
}

bool WindowHandle::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam,
                               std::function<void()> onDropped) const {
  return detail::PostTo(window_.lock(), msg, wParam, lParam, std::move(onDropped));
}

bool WindowHandle::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam,
                               LRESULT* result) const {
  return detail::SendTo(window_.lock(), msg, wParam, lParam, result);
}

bool operator==(const WindowHandle& a, const WindowHandle& b) {
  return !a.window_.owner_before(b.window_) && !b.window_.owner_before(a.window_);
}

// --- MessageWindow ---------------------------------------------------------------

MessageWindow::MessageWindow()
    : state_(std::make_shared<detail::WindowState>(MessageLoop::ForCurrentThread().state_)) {}

MessageWindow::~MessageWindow() { Destroy(); }

void MessageWindow::OnMessage(UINT msg, Handler handler) {
  if (!state_->loop->OnOwnerThread()) return;
  state_->handlers[msg] = std::make_shared<const Handler>(std::move(handler));
}

bool MessageWindow::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  return detail::PostTo(state_, msg, wParam, lParam, nullptr);
}

LRESULT MessageWindow::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  return detail::SendTo(state_, msg, wParam, lParam, &result) ? result : 0;
}

void MessageWindow::Destroy() {
  auto& loop = *state_->loop;
  std::vector<detail::Message> dropped;
  {
    std::lock_guard lock(loop.mu);
    if (!state_->alive) return;
    state_->alive = false;
    loop.PurgeLocked(state_.get(), dropped);
  }
  // Releases what the handlers captured; a handler running right now keeps its own
  // reference until it returns.
  if (loop.OnOwnerThread()) state_->handlers.clear();
  for (auto& m : dropped) {
    if (m.onDropped) m.onDropped();
  }
}

bool MessageWindow::IsWindow() const { return Handle().IsWindow(); }

WindowHandle MessageWindow::Handle() const { return WindowHandle(state_); }

}  // namespace kdx
