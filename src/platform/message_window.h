// The control's window and its thread's message pump: the stand-in for an HWND,
// PostMessageW, SendMessageW and the host's message loop.
//
// Each thread has one MessageLoop. A MessageWindow belongs to the thread that created
// it and its messages are delivered only by that thread's loop. Other threads reach a
// window through a WindowHandle, which stays safe to use after the window is gone.
//
// Cross-thread SendMessage is meant for worker -> user-interface thread only. A thread
// blocked in SendMessage does not pump its own loop, so two user-interface threads
// sending to each other would deadlock, as they would without Windows' special care.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

#include "platform/types.h"

namespace kdx {

namespace detail {
struct LoopState;
struct WindowState;
}  // namespace detail

inline constexpr UINT WM_USER = 0x0400;

class MessageLoop {
 public:
  static MessageLoop& ForCurrentThread();

  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;
  ~MessageLoop();

  // Runs every posted message queued before the call (those posted meanwhile wait
  // for the next pump) and every sent message waiting, sent ones first, as Windows
  // does. Returns whether any ran.
  // Owner thread only (returns false elsewhere).
  bool RunPending();

  // Pumps, sleeping while the queue is empty, until done() is true (checked first and
  // after each message) or the time-out passes; returns done()'s last value.
  // Handlers may call it again (a modal dialog inside a handler): nested pumps take
  // messages from the same queue, so none runs twice and posted order holds.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  // An eventfd that is readable while anything is queued for this thread or a Wake is
  // pending, for embedding in poll/GLib/X11 loops; pumping drains it. -1 if the
  // descriptor could not be created, and always on Windows, which has no such
  // descriptor (the loop still works, only not embeddable).
  int WaitFd() const;

  // Any thread: makes a waiting RunUntil re-check its condition.
  void Wake();

  // Messages queued and not yet taken by a pump (diagnostics and tests).
  std::size_t QueuedCount() const;

 private:
  MessageLoop();
  friend class MessageWindow;
  std::shared_ptr<detail::LoopState> state_;
};

// The HWND stand-in: copyable, usable from any thread, never dangles.
class WindowHandle {
 public:
  WindowHandle() = default;

  // True for a handle that never named a window (a null HWND).
  bool IsNull() const;
  // False once the window is destroyed or its thread has ended.
  bool IsWindow() const;

  // Queues the message; false when the window is gone.
  bool PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) const;
  // As above, for messages that carry owned resources: onDropped is called exactly
  // once if the message is never delivered - at once (on this thread) when the post
  // fails, or on the destroying thread when the window goes before a pump takes it.
  // A message handed to the window's procedure counts as delivered even when no
  // handler is registered for it.
  bool PostMessage(UINT msg, WPARAM wParam, LPARAM lParam,
                   std::function<void()> onDropped) const;

  // From the owner thread: calls the handler directly. From another thread: queues
  // the message and blocks until the owner thread has handled it. Returns false - at
  // once, never hanging - when the window is gone before the call or is destroyed
  // while the message waits; then nothing was delivered and the sender keeps
  // ownership of whatever it passed.
  bool SendMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result = nullptr) const;

  friend bool operator==(const WindowHandle& a, const WindowHandle& b);

 private:
  friend class MessageWindow;
  explicit WindowHandle(std::weak_ptr<detail::WindowState> window);
  std::weak_ptr<detail::WindowState> window_;
};

class MessageWindow {
 public:
  using Handler = std::function<LRESULT(WPARAM, LPARAM)>;

  // Belongs to the calling thread.
  MessageWindow();
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  // The message map; owner thread only. Unhandled messages return 0 (DefWindowProc).
  // Replacing a handler while it runs is safe: the running call finishes first.
  void OnMessage(UINT msg, Handler handler);

  bool PostMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  // 0 when the window is gone.
  LRESULT SendMessage(UINT msg, WPARAM wParam, LPARAM lParam);

  // From then on nothing more is delivered: queued posts are dropped (their onDropped
  // run here) and blocked senders return false. Safe from inside the window's own
  // handler. Meant for the owner thread.
  void Destroy();

  bool IsWindow() const;
  WindowHandle Handle() const;

 private:
  std::shared_ptr<detail::WindowState> state_;
};

}  // namespace kdx
