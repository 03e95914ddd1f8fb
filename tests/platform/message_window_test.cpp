#include "platform/message_window.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <memory>
#include <string>
#include <vector>

namespace kdx {
namespace {

constexpr UINT kMsgA = WM_USER + 1;
constexpr UINT kMsgB = WM_USER + 2;

bool FdReadable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

// Records "<window><msg>:<wParam>" for every delivery.
struct Recorder {
  std::vector<std::string> seen;
  void Watch(MessageWindow& w, const std::string& name) {
    for (UINT msg : {kMsgA, kMsgB}) {
      w.OnMessage(msg, [this, name, msg](WPARAM wp, LPARAM) {
        seen.push_back(name + (msg == kMsgA ? "A" : "B") + ":" + std::to_string(wp));
        return LRESULT{0};
      });
    }
  }
};

TEST(MessageWindow, PostedMessagesOfAllWindowsOfAThreadRunInFifoOrder) {
  auto& loop = MessageLoop::ForCurrentThread();
  MessageWindow w1, w2;
  Recorder r;
  r.Watch(w1, "1");
  r.Watch(w2, "2");
  EXPECT_FALSE(loop.RunPending());
  ASSERT_TRUE(w1.PostMessage(kMsgA, 1, 0));
  ASSERT_TRUE(w2.Handle().PostMessage(kMsgB, 2, 0));
  ASSERT_TRUE(w1.PostMessage(kMsgB, 3, 0));
  EXPECT_TRUE(r.seen.empty());  // posting never delivers in place
  EXPECT_TRUE(loop.RunPending());
  EXPECT_EQ(r.seen, (std::vector<std::string>{"1A:1", "2B:2", "1B:3"}));
  EXPECT_FALSE(loop.RunPending());
}

TEST(MessageWindow, RunPendingLeavesMessagesPostedByHandlersForTheNextPump) {
  auto& loop = MessageLoop::ForCurrentThread();
  MessageWindow w;
  int runs = 0;
  w.OnMessage(kMsgA, [&](WPARAM, LPARAM) {
    ++runs;
    w.PostMessage(kMsgA, 0, 0);  // re-posting itself must not spin RunPending forever
    return LRESULT{0};
  });
  w.PostMessage(kMsgA, 0, 0);
  EXPECT_TRUE(loop.RunPending());
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(loop.RunPending());
  EXPECT_EQ(runs, 2);
  w.Destroy();
  EXPECT_FALSE(loop.RunPending());
}

TEST(MessageWindow, SameThreadSendCallsTheHandlerDirectly) {
  MessageWindow w;
  w.OnMessage(kMsgA, [](WPARAM wp, LPARAM lp) { return static_cast<LRESULT>(wp) + lp; });
  EXPECT_EQ(w.SendMessage(kMsgA, 40, 2), 42);
  EXPECT_EQ(w.SendMessage(kMsgB, 40, 2), 0);  // no handler: DefWindowProc's 0
  LRESULT result = -1;
  EXPECT_TRUE(w.Handle().SendMessage(kMsgA, 1, 1, &result));
  EXPECT_EQ(result, 2);
  EXPECT_EQ(MessageLoop::ForCurrentThread().QueuedCount(), 0u);
}

TEST(MessageWindow, DestroyDropsQueuedPostsAndDeadHandlesRefuseEverything) {
  auto& loop = MessageLoop::ForCurrentThread();
  auto w = std::make_unique<MessageWindow>();
  int delivered = 0;
  w->OnMessage(kMsgA, [&](WPARAM, LPARAM) { return LRESULT{++delivered}; });
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
  EXPECT_EQ(delivered, 0);

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
  w->OnMessage(kMsgA, [&](WPARAM wp, LPARAM) {
    order.push_back(static_cast<int>(wp));
    w.reset();  // the handler's own closure must survive this
    order.push_back(-1);
    return LRESULT{0};
  });
  other.OnMessage(kMsgA, [&](WPARAM wp, LPARAM) {
    order.push_back(static_cast<int>(wp));
    return LRESULT{0};
  });
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
  w.OnMessage(kMsgA, [&](WPARAM wp, LPARAM) {
    order.push_back(static_cast<int>(wp));
    if (wp == 1) {
      // A modal dialog: pumps the same loop until its answer arrives.
      EXPECT_TRUE(loop.RunUntil([&] { return innerDone; }, std::chrono::seconds(5)));
      order.push_back(-1);
    }
    return LRESULT{0};
  });
  w.OnMessage(kMsgB, [&](WPARAM, LPARAM) {
    innerDone = true;
    return LRESULT{0};
  });
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
  loop.RunPending();
  EXPECT_FALSE(FdReadable(fd));
  MessageWindow w;
  w.PostMessage(kMsgA, 0, 0);
  w.PostMessage(kMsgA, 0, 0);
  EXPECT_TRUE(FdReadable(fd));
  EXPECT_TRUE(loop.RunPending());
  EXPECT_FALSE(FdReadable(fd));

  loop.Wake();
  EXPECT_TRUE(FdReadable(fd));
  EXPECT_FALSE(loop.RunPending());
  EXPECT_FALSE(FdReadable(fd));

  w.PostMessage(kMsgA, 0, 0);
  w.Destroy();  // purging the only message empties the queue
  EXPECT_FALSE(FdReadable(fd));
}

TEST(MessageLoop, RunUntilReturnsTheConditionsLastValue) {
  auto& loop = MessageLoop::ForCurrentThread();
  MessageWindow w;
  int count = 0;
  w.OnMessage(kMsgA, [&](WPARAM, LPARAM) { return LRESULT{++count}; });
  for (int i = 0; i < 3; ++i) w.PostMessage(kMsgA, 0, 0);
  EXPECT_TRUE(loop.RunUntil([&] { return count == 2; }, std::chrono::seconds(5)));
  EXPECT_EQ(count, 2);  // stops right after the message that satisfied it
  EXPECT_FALSE(loop.RunUntil([] { return false; }, std::chrono::milliseconds(10)));
  EXPECT_EQ(count, 3);
}

}  // namespace
}  // namespace kdx
