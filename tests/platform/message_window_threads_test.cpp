#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <memory>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/message_window.h"
#include "platform/worker.h"

namespace kdx {
namespace {

using namespace std::chrono_literals;

constexpr UINT kMsg = WM_USER + 0x457;
constexpr UINT kDone = WM_USER + 0x458;
constexpr auto kPatience = 10s;  // only ever reached when something is broken

TEST(MessageThreads, PostsFromManyThreadsAllArriveInPerSenderOrder) {
  constexpr int kSenders = 8, kEach = 500;
  auto& loop = MessageLoop::ForCurrentThread();
  MessageWindow w;
  std::array<LPARAM, kSenders> next{};
  int received = 0, outOfOrder = 0;
  w.OnMessage(kMsg, [&](WPARAM sender, LPARAM seq) {
    if (next[sender]++ != seq) ++outOfOrder;
    ++received;
    return LRESULT{0};
  });
  std::vector<std::thread> senders;
  for (int s = 0; s < kSenders; ++s) {
    senders.emplace_back([h = w.Handle(), s] {
      for (int i = 0; i < kEach; ++i) EXPECT_TRUE(h.PostMessage(kMsg, s, i));
    });
  }
  EXPECT_TRUE(loop.RunUntil([&] { return received == kSenders * kEach; }, kPatience));
  for (auto& t : senders) t.join();
  EXPECT_EQ(outOfOrder, 0);
  EXPECT_EQ(loop.QueuedCount(), 0u);
}

TEST(MessageThreads, ConcurrentWorkerSendsBlockUntilHandledAndGetTheirResult) {
  constexpr int kWorkers = 50;
  auto& loop = MessageLoop::ForCurrentThread();
  MessageWindow w;
  std::array<bool, kWorkers> handled{};  // plain: the send must order it for the worker
  w.OnMessage(kMsg, [&](WPARAM i, LPARAM) {
    handled[i] = true;
    return static_cast<LRESULT>(i * 3 + 1);
  });
  std::atomic<int> answered{0}, wrong{0};
  for (int i = 0; i < kWorkers; ++i) {
    ASSERT_TRUE(StartWorker([&, h = w.Handle(), i] {
      LRESULT r = 0;
      if (!h.SendMessage(kMsg, i, 0, &r) || r != i * 3 + 1 || !handled[i]) ++wrong;
      ++answered;
      loop.Wake();
    }));
  }
  EXPECT_TRUE(loop.RunUntil([&] { return answered == kWorkers; }, kPatience));
  EXPECT_TRUE(WaitForWorkers(kPatience));
  EXPECT_EQ(RunningWorkers(), 0u);
  EXPECT_EQ(wrong, 0);
}

// The HTTP reply path: the worker owns a buffer, passes it by pointer, and frees it
// itself when the send reports that nothing was delivered.
TEST(MessageThreads, SendRacingDestroyNeverHangsLeaksOrDoubleFrees) {
  auto& loop = MessageLoop::ForCurrentThread();
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> pause(0, 80);
  for (int i = 0; i < 200; ++i) {
    auto w = std::make_unique<MessageWindow>();
    int handled = 0;
    w->OnMessage(kMsg, [&](WPARAM wp, LPARAM) {
      ++handled;
      return static_cast<LRESULT>(*reinterpret_cast<int*>(wp));
    });
    const int mode = i % 3;  // 0: gone before the call; 1: gone while waiting; 2: race
    const WindowHandle h = w->Handle();
    if (mode == 0) w.reset();
    bool delivered = false;
    const auto workerPause = std::chrono::microseconds(pause(rng));
    std::thread worker([&] {
      std::this_thread::sleep_for(workerPause);
      auto body = std::make_unique<int>(i);
      LRESULT r = -1;
      delivered = h.SendMessage(kMsg, reinterpret_cast<WPARAM>(body.get()), 0, &r);
      EXPECT_EQ(r, delivered ? i : -1);
    });
    if (mode != 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(pause(rng)));
      if (mode == 2) loop.RunPending();
      w.reset();
    }
    worker.join();
    EXPECT_EQ(delivered, handled == 1) << "iteration " << i;
    EXPECT_TRUE(mode == 2 || !delivered) << "iteration " << i;
  }
}

TEST(MessageThreads, PostsRacingDestroyAreDeliveredOrDroppedExactlyOnce) {
  constexpr int kPosts = 40;
  auto& loop = MessageLoop::ForCurrentThread();
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> pause(0, 60);
  for (int i = 0; i < 50; ++i) {
    auto w = std::make_unique<MessageWindow>();
    int delivered = 0;
    std::atomic<int> dropped{0};
    std::array<std::atomic<int>, kPosts> dropsOf{};
    w->OnMessage(kMsg, [&](WPARAM, LPARAM) { return LRESULT{++delivered}; });
    std::thread poster([&, h = w->Handle()] {
      for (int p = 0; p < kPosts; ++p) {
        if (p % 10 == 9) std::this_thread::sleep_for(1us);  // spread posts over the pumps
        h.PostMessage(kMsg, p, 0, [&, p] { ++dropped, ++dropsOf[p]; });
      }
    });
    for (int pumps = static_cast<int>(rng() % 4); pumps >= 0; --pumps) {
      std::this_thread::sleep_for(std::chrono::microseconds(pause(rng)));
      if (pumps > 0) loop.RunPending();  // the last pause lets posts queue up for Destroy
    }
    w.reset();
    poster.join();
    EXPECT_EQ(delivered + dropped, kPosts);
    for (auto& d : dropsOf) EXPECT_LE(d.load(), 1);
  }
}

TEST(MessageThreads, SentMessagesOvertakePostedOnesAlreadyQueued) {
  auto& loop = MessageLoop::ForCurrentThread();
  MessageWindow w;
  std::vector<char> order;
  std::thread sender;
  w.OnMessage(kMsg, [&](WPARAM wp, LPARAM) {
    order.push_back(static_cast<char>(wp));
    if (wp == 'A') {
      sender = std::thread([h = w.Handle()] { EXPECT_TRUE(h.SendMessage(kMsg, 'S', 0)); });
      while (loop.QueuedCount() < 2) std::this_thread::yield();  // B and S both waiting
    }
    return LRESULT{0};
  });
  w.PostMessage(kMsg, 'A', 0);
  w.PostMessage(kMsg, 'B', 0);
  loop.RunPending();
  sender.join();
  EXPECT_EQ(order, (std::vector<char>{'A', 'S', 'B'}));
}

TEST(MessageThreads, NestedPumpHandlesWorkerSendsOnceEachInOrder) {
  auto& loop = MessageLoop::ForCurrentThread();
  MessageWindow w;
  std::vector<int> seen;
  bool finished = false;
  w.OnMessage(kMsg, [&](WPARAM wp, LPARAM) {
    seen.push_back(static_cast<int>(wp));
    if (wp == 0) {
      EXPECT_TRUE(StartWorker([h = w.Handle()] {
        for (int i = 1; i <= 5; ++i) EXPECT_TRUE(h.SendMessage(kMsg, i, 0));
        EXPECT_TRUE(h.PostMessage(kDone, 0, 0));
      }));
      EXPECT_TRUE(loop.RunUntil([&] { return finished; }, kPatience));
    }
    return LRESULT{0};
  });
  w.OnMessage(kDone, [&](WPARAM, LPARAM) { return LRESULT{finished = true}; });
  w.PostMessage(kMsg, 0, 0);
  EXPECT_TRUE(loop.RunUntil([&] { return finished; }, kPatience));
  EXPECT_TRUE(WaitForWorkers(kPatience));
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_FALSE(loop.RunPending());
}

TEST(MessageThreads, HandlerThrowingDoesNotStrandItsSender) {
  auto& loop = MessageLoop::ForCurrentThread();
  MessageWindow w;
  w.OnMessage(kMsg, [](WPARAM, LPARAM) -> LRESULT { throw std::runtime_error("boom"); });
  std::thread sender([h = w.Handle()] {
    LRESULT r = -1;
    EXPECT_TRUE(h.SendMessage(kMsg, 0, 0, &r));
    EXPECT_EQ(r, 0);
  });
  while (loop.QueuedCount() == 0) std::this_thread::yield();
  EXPECT_THROW(loop.RunPending(), std::runtime_error);
  sender.join();
}

TEST(MessageThreads, WorkersRunDetachedAndAreCountedUntilTheyEnd) {
  std::atomic<bool> release{false};
  auto owned = std::make_shared<int>(1);
  ASSERT_TRUE(StartWorker([&release, owned] {
    while (!release) std::this_thread::yield();
  }));
  EXPECT_EQ(RunningWorkers(), 1u);
  EXPECT_FALSE(WaitForWorkers(1ms));
  release = true;
  EXPECT_TRUE(WaitForWorkers(kPatience));
  EXPECT_EQ(owned.use_count(), 1);  // the job's captures are gone once it counts as ended
  EXPECT_FALSE(StartWorker(nullptr));
  EXPECT_EQ(RunningWorkers(), 0u);
}

}  // namespace
}  // namespace kdx
