#include "platform/message_window.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <functional>
#include <memory>
#include <string>

namespace kdx {
namespace {

constexpr UINT kMsgA = WM_USER + 1, kMsgB = WM_USER + 2;

// Handles kMsgA by logging wParam and running `then`, if any.
void Record(MessageWindow& w, std::string& log, std::function<void(WPARAM)> then = nullptr) {
  w.OnMessage(kMsgA, [&log, then](WPARAM wp, LPARAM) {
    log += std::to_string(wp) + " ";
    if (then) then(wp);
    return LRESULT{0};
  });
}

// The wait descriptor (for embedding in poll loops) is readable exactly while something waits.
TEST(MessageLoop, PostsOfAllWindowsRunInFifoOrderAndSendsRunInPlace) {
  auto& loop = MessageLoop::ForCurrentThread();
  auto readable = [fd = loop.WaitFd()] {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
  };
  MessageWindow w1, w2;
  std::string log;
  bool answered = false;
  Record(w1, log, [&](WPARAM wp) {
    // Re-posting itself must not spin RunPending forever: it waits for the next pump.
    if (wp == 1) w1.PostMessage(kMsgA, 9, 0);
    // A modal dialog: pumps the same loop until its answer arrives; nothing runs twice.
    EXPECT_TRUE(wp != 4 || loop.RunUntil([&] { return answered; }, std::chrono::seconds(5)));
  });
  Record(w2, log, [&](WPARAM) { log += "w2 "; });
  w1.OnMessage(kMsgB, [&](WPARAM wp, LPARAM lp) { return answered = true, static_cast<LRESULT>(wp) + lp; });
  EXPECT_FALSE(loop.RunPending() || readable());
  EXPECT_TRUE(w1.PostMessage(kMsgA, 1, 0) && w2.Handle().PostMessage(kMsgA, 2, 0) && w1.PostMessage(kMsgA, 3, 0));
  EXPECT_TRUE(log.empty() && readable()) << "posting never delivers in place";
  EXPECT_TRUE(loop.RunPending() && log == "1 2 w2 3 " && readable());
  for (WPARAM wp : {4, 5, 6}) w1.PostMessage(kMsgA, wp, 0);
  EXPECT_TRUE(w1.PostMessage(kMsgB, 0, 0) && w1.PostMessage(kMsgA, 7, 0));
  // RunUntil stops right after the message that satisfied it and returns the last value.
  EXPECT_TRUE(loop.RunUntil([&] { return log.ends_with("6 "); }, std::chrono::seconds(5)));
  EXPECT_EQ(log, "1 2 w2 3 9 4 5 6 ");
  EXPECT_FALSE(loop.RunUntil([] { return false; }, std::chrono::milliseconds(10)) || loop.RunPending() || readable());
  EXPECT_EQ(log, "1 2 w2 3 9 4 5 6 7 ");
  LRESULT result = -1;
  EXPECT_TRUE(w1.Handle().SendMessage(kMsgB, 1, 1, &result) && result == 2 && loop.QueuedCount() == 0u);
  // No handler answers DefWindowProc's 0.
  EXPECT_EQ(std::tuple(w1.SendMessage(kMsgB, 40, 2), w2.SendMessage(kMsgB, 40, 2)), std::tuple(42, 0));
  loop.Wake();
  EXPECT_TRUE(readable() && !loop.RunPending() && !readable());
  // A message that keeps it busy past its time-out does not make RunUntil report success.
  loop.Wake();
  w1.PostMessage(kMsgA, 8, 0);
  EXPECT_TRUE(readable() && !loop.RunUntil([] { return false; }, std::chrono::milliseconds(0)) && !readable());
}

// The log-in failure message pattern: a heap text the receiver would own, freed by the
// drop handler when the window goes before any pump.
TEST(MessageWindow, DestroyRunsTheDropHandlersOfQueuedPostsAndDeadHandlesRefuseEverything) {
  auto& loop = MessageLoop::ForCurrentThread();
  auto w = std::make_unique<MessageWindow>(), other = std::make_unique<MessageWindow>();
  std::string log;
  for (auto* window : {w.get(), other.get()}) Record(*window, log);
  const WindowHandle h = w->Handle();
  int dropped = 0;
  auto* text = new std::u16string(u"fail");
  ASSERT_TRUE(h.PostMessage(kMsgA, reinterpret_cast<WPARAM>(text), 0, [&, text] { ++dropped, delete text; }));
  ASSERT_TRUE(other->PostMessage(kMsgA, 7, 0));
  w.reset();
  EXPECT_TRUE(dropped == 1 && loop.QueuedCount() == 1u) << "only the destroyed window's posts go";
  EXPECT_TRUE(loop.RunPending() && log == "7 ");
  LRESULT result = 7;
  EXPECT_FALSE(h.IsWindow() || h.IsNull() || h.SendMessage(kMsgA, 0, 0, &result) || result != 7);
  EXPECT_TRUE(!h.PostMessage(kMsgA, 0, 0, [&] { ++dropped; }) && dropped == 2) << "a refused post drops at once";
  EXPECT_TRUE(WindowHandle().IsNull() && other->IsWindow() && !other->Handle().IsNull());
  EXPECT_FALSE(WindowHandle().PostMessage(kMsgA, 0, 0) || WindowHandle().SendMessage(kMsgA, 0, 0));

  // Destroyed inside its own handler: the handler's closure survives, later posts drop.
  Record(*other, log, [&](WPARAM) { other.reset(), log += "gone "; });
  auto next = std::make_unique<MessageWindow>();
  Record(*next, log);
  const WindowHandle o = other->Handle();
  EXPECT_TRUE(o.PostMessage(kMsgA, 1, 0) && o.PostMessage(kMsgA, 2, 0, [&] { ++dropped; }) &&
              next->PostMessage(kMsgA, 3, 0));
  loop.RunPending();
  EXPECT_TRUE(log == "7 1 gone 3 " && dropped == 3) << log;
  EXPECT_FALSE(o.IsWindow() || o.SendMessage(kMsgA, 0, 0));
}

}  // namespace
}  // namespace kdx
