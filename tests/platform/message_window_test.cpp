#include "platform/message_window.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kdx {
namespace {

constexpr UINT kMsgA = WM_USER + 1;
constexpr UINT kMsgB = WM_USER + 2;

// Handles kMsgA by appending wParam to `seen` and running `then`, if any.
void Record(MessageWindow& w, std::vector<int>& seen, std::function<void(WPARAM)> then = nullptr) {
  w.OnMessage(kMsgA, [&seen, then](WPARAM wp, LPARAM) {
    seen.push_back(static_cast<int>(wp));
    if (then) then(wp);
    return LRESULT{0};
  });
}

TEST(MessageWindow, PostsOfAllWindowsRunInFifoOrderAndSendsRunInPlace) {
  auto& loop = MessageLoop::ForCurrentThread();
  MessageWindow w1, w2;
  std::vector<int> seen;
  Record(w1, seen);
  Record(w2, seen, [&](WPARAM) { seen.push_back(-2); });
  EXPECT_FALSE(loop.RunPending());
  ASSERT_TRUE(w1.PostMessage(kMsgA, 1, 0));
  ASSERT_TRUE(w2.Handle().PostMessage(kMsgA, 2, 0));
  ASSERT_TRUE(w1.PostMessage(kMsgA, 3, 0));
  EXPECT_TRUE(seen.empty());  // posting never delivers in place
  EXPECT_TRUE(loop.RunPending());
  EXPECT_EQ(seen, (std::vector<int>{1, 2, -2, 3}));
  EXPECT_FALSE(loop.RunPending());

  w1.OnMessage(kMsgB, [](WPARAM wp, LPARAM lp) { return static_cast<LRESULT>(wp) + lp; });
  EXPECT_EQ(w1.SendMessage(kMsgB, 40, 2), 42);
  EXPECT_EQ(w2.SendMessage(kMsgB, 40, 2), 0);  // no handler: DefWindowProc's 0
  LRESULT result = -1;
  EXPECT_TRUE(w1.Handle().SendMessage(kMsgB, 1, 1, &result));
  EXPECT_EQ(result, 2);
  EXPECT_EQ(loop.QueuedCount(), 0u);
}

TEST(MessageLoop, PumpsStopWhereTheyShould) {
  auto& loop = MessageLoop::ForCurrentThread();
  MessageWindow w;
  std::vector<int> seen;
  // Re-posting itself must not spin RunPending forever: it waits for the next pump.
  Record(w, seen, [&](WPARAM wp) {
    if (wp == 0) w.PostMessage(kMsgA, 1, 0);
  });
  w.PostMessage(kMsgA, 0, 0);
  EXPECT_TRUE(loop.RunPending());
  EXPECT_EQ(seen.size(), 1u);
  for (int i = 0; i < 2; ++i) w.PostMessage(kMsgA, 2, 0);
  // RunUntil stops right after the message that satisfied it and returns the last value.
  EXPECT_TRUE(loop.RunUntil([&] { return seen.size() == 3; }, std::chrono::seconds(5)));
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2}));
  EXPECT_FALSE(loop.RunUntil([] { return false; }, std::chrono::milliseconds(10)));
  EXPECT_EQ(seen.size(), 4u);
}

TEST(MessageWindow, DestroyDropsQueuedPostsAndDeadHandlesRefuseEverything) {
  auto& loop = MessageLoop::ForCurrentThread();
  auto w = std::make_unique<MessageWindow>();
  std::vector<int> seen;
  Record(*w, seen);
  const WindowHandle h = w->Handle();
  int dropped = 0;
  // The log-in failure message pattern: a heap text the receiver would own.
  auto* text = new std::u16string(u"fail");
  ASSERT_TRUE(h.PostMessage(kMsgA, reinterpret_cast<WPARAM>(text), 0, [&, text] {
    ++dropped;
    delete text;
  }));
  w.reset();
  EXPECT_EQ(dropped, 1);
  EXPECT_FALSE(loop.RunPending());
  EXPECT_TRUE(seen.empty());

  EXPECT_FALSE(h.IsWindow());
  EXPECT_FALSE(h.IsNull());
  EXPECT_FALSE(h.PostMessage(kMsgA, 0, 0));
  EXPECT_FALSE(h.PostMessage(kMsgA, 0, 0, [&] { ++dropped; }));
  EXPECT_EQ(dropped, 2);  // a refused post reports the drop at once
  LRESULT result = 7;
  EXPECT_FALSE(h.SendMessage(kMsgA, 0, 0, &result));
  EXPECT_EQ(result, 7);
  EXPECT_TRUE(WindowHandle().IsNull());
  EXPECT_FALSE(WindowHandle().PostMessage(kMsgA, 0, 0));
}

TEST(MessageWindow, WindowDestroyedInsideItsOwnHandlerGetsNothingMore) {
  auto& loop = MessageLoop::ForCurrentThread();
  auto w = std::make_unique<MessageWindow>();
  MessageWindow other;
  std::vector<int> order;
  int dropped = 0;
  Record(*w, order, [&](WPARAM) {
    w.reset();  // the handler's own closure must survive this
    order.push_back(-1);
  });
  Record(other, order);
  const WindowHandle h = w->Handle();
  h.PostMessage(kMsgA, 1, 0);
  h.PostMessage(kMsgA, 2, 0, [&] { ++dropped; });
  other.PostMessage(kMsgA, 3, 0);
  loop.RunPending();
  EXPECT_EQ(order, (std::vector<int>{1, -1, 3}));
  EXPECT_EQ(dropped, 1);
  EXPECT_FALSE(h.IsWindow());
}

TEST(MessageWindow, NestedPumpInsideAHandlerKeepsOrderAndRunsNothingTwice) {
  auto& loop = MessageLoop::ForCurrentThread();
  MessageWindow w;
  std::vector<int> order;
  bool innerDone = false;
  Record(w, order, [&](WPARAM wp) {
    if (wp != 1) return;
    // A modal dialog: pumps the same loop until its answer arrives.
    EXPECT_TRUE(loop.RunUntil([&] { return innerDone; }, std::chrono::seconds(5)));
    order.push_back(-1);
  });
  w.OnMessage(kMsgB, [&](WPARAM, LPARAM) { return LRESULT{innerDone = true}; });
  for (WPARAM i = 1; i <= 3; ++i) w.PostMessage(kMsgA, i, 0);
  w.PostMessage(kMsgB, 0, 0);
  w.PostMessage(kMsgA, 4, 0);
  loop.RunPending();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, -1, 4}));
  EXPECT_FALSE(loop.RunPending());
}

TEST(MessageLoop, WaitFdIsReadableExactlyWhileSomethingWaits) {
  auto& loop = MessageLoop::ForCurrentThread();
  const int fd = loop.WaitFd();
  ASSERT_GE(fd, 0);
  auto readable = [fd] {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
  };
  loop.RunPending();
  EXPECT_FALSE(readable());
  MessageWindow w;
  w.PostMessage(kMsgA, 0, 0);
  w.PostMessage(kMsgA, 0, 0);
  EXPECT_TRUE(readable());
  EXPECT_TRUE(loop.RunPending());
  EXPECT_FALSE(readable());

  loop.Wake();
  EXPECT_TRUE(readable());
  EXPECT_FALSE(loop.RunPending());
  EXPECT_FALSE(readable());

  w.PostMessage(kMsgA, 0, 0);
  w.Destroy();  // purging the only message empties the queue
  EXPECT_FALSE(readable());
}

}  // namespace
}  // namespace kdx
