#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/message_window.h"
#include "platform/worker.h"

namespace kdx {
namespace {

using namespace std::chrono_literals;

constexpr UINT kMsg = WM_USER + 0x457, kDone = WM_USER + 0x458;
constexpr auto kPatience = 10s;  // only ever reached when something is broken

// Each sender, a detached worker, posts its sequence, then sends once and must get the
// handler's answer back with the handler's writes visible to it; then it fails, which ends
// only that worker. Workers count as running until their captures are gone.
TEST(MessageThreads, PostsArriveInPerSenderOrderAndSendsBlockUntilHandled) {
  constexpr int kSenders = 8, kEach = 300;
  auto& loop = MessageLoop::ForCurrentThread();
  MessageWindow w;
  std::array<LPARAM, kSenders> next{};
  std::array<bool, kSenders> sent{};  // plain: the send must order it for the sender
  int received = 0, outOfOrder = 0;
  std::atomic<int> answered{0}, wrong{0};
  auto owned = std::make_shared<int>(1);
  w.OnMessage(kMsg, [&](WPARAM sender, LPARAM seq) { return LRESULT{(outOfOrder += next[sender]++ != seq, ++received)}; });
  w.OnMessage(kDone, [&](WPARAM sender, LPARAM) { return sent[sender] = true, static_cast<LRESULT>(sender * 3 + 1); });
  for (int s = 0; s < kSenders; ++s)
    ASSERT_TRUE(StartWorker([&, h = w.Handle(), s, owned] {
      for (int i = 0; i < kEach; ++i) wrong += !h.PostMessage(kMsg, s, i);
      LRESULT r = 0;
      wrong += !h.SendMessage(kDone, s, 0, &r) || r != s * 3 + 1 || !sent[s];
      ++answered;
      loop.Wake();
      throw std::runtime_error("worker fault");
    }));
  // None can finish before this thread handles its send.
  EXPECT_FALSE(RunningWorkers() != std::size_t{kSenders} || WaitForWorkers(1ms) || StartWorker(nullptr));
  EXPECT_TRUE(loop.RunUntil([&] { return answered == kSenders && received == kSenders * kEach; }, kPatience));
  EXPECT_TRUE(WaitForWorkers(kPatience) && owned.use_count() == 1 && RunningWorkers() == 0u);
  EXPECT_EQ(std::tuple(received, outOfOrder, wrong.load(), loop.QueuedCount()), std::tuple(kSenders * kEach, 0, 0, 0u));
}

// The HTTP reply path: the worker owns a buffer, passes it by pointer, and frees it itself
// when the send reports that nothing was delivered. Posts carry their own drop handlers.
TEST(MessageThreads, SendsAndPostsRacingDestroyAreDeliveredOrDroppedExactlyOnce) {
  constexpr int kPosts = 20;
  auto& loop = MessageLoop::ForCurrentThread();
  std::mt19937 rng(20240611);
  for (int i = 0; i < 200; ++i) {
    auto w = std::make_unique<MessageWindow>();
    int handled = 0, sentHandled = 0;
    std::array<std::atomic<int>, kPosts> drops{};
    w->OnMessage(kMsg, [&](WPARAM wp, LPARAM) { return ++sentHandled, LRESULT{*reinterpret_cast<int*>(wp)}; });
    w->OnMessage(kDone, [&](WPARAM, LPARAM) { return LRESULT{++handled}; });
    const bool race = i % 2;  // else gone while the calls wait
    const WindowHandle h = w->Handle();
    bool delivered = false;
    std::thread worker([&, pause = std::chrono::microseconds(rng() % 80)] {
      std::this_thread::sleep_for(pause);
      for (int p = 0; p < kPosts; ++p) h.PostMessage(kDone, p, 0, [&drops, p] { ++drops[p]; });
      auto body = std::make_unique<int>(i);
      LRESULT r = -1;
      delivered = h.SendMessage(kMsg, reinterpret_cast<WPARAM>(body.get()), 0, &r);
      EXPECT_EQ(r, delivered ? i : -1);
    });
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 80));
    for (int k = 0; k < 3 && race; ++k) loop.RunPending();
    w.reset();
    worker.join();
    int dropped = 0, twice = 0;
    for (auto& d : drops) dropped += d, twice += d > 1;
    EXPECT_EQ(std::tuple(handled + dropped, twice, sentHandled, race || !delivered),
              std::tuple(kPosts, 0, static_cast<int>(delivered), true)) << "iteration " << i;
  }
}

// A post or a send from another thread wakes a pump asleep on an empty queue (the pause only
// makes it likely that the pump is asleep by then). A sent message overtakes posted ones
// already queued; its handler throwing must not strand the sender. A window whose thread
// ends drops what waits for it there, then refuses posts and sends at once.
TEST(MessageThreads, CrossThreadCallsWakeThePumpOvertakePostsAndEndWithTheWindowsThread) {
  auto& loop = MessageLoop::ForCurrentThread();
  MessageWindow w;
  std::string order;
  std::thread sender;
  std::atomic<int> dropped{0};
  w.OnMessage(kMsg, [&](WPARAM wp, LPARAM) -> LRESULT {
    order += static_cast<char>(wp);
    if (wp == 'S') throw std::runtime_error("handler fault");
    if (wp == 'A') sender = std::thread([h = w.Handle()] {
      LRESULT r = -1;
      EXPECT_TRUE(h.SendMessage(kMsg, 'S', 0, &r) && r == 0);
    });
    while (wp == 'A' && loop.QueuedCount() < 2) std::this_thread::yield();  // B and S both waiting
    return 0;
  });
  for (char wp : {'p', 's'}) {
    std::thread other([h = w.Handle(), wp] {
      std::this_thread::sleep_for(20ms);
      EXPECT_TRUE(wp == 's' ? h.SendMessage(kMsg, wp, 0) : h.PostMessage(kMsg, wp, 0));
    });
    EXPECT_TRUE(loop.RunUntil([&] { return order.ends_with(wp); }, kPatience));
    other.join();
  }
  EXPECT_TRUE(w.PostMessage(kMsg, 'A', 0) && w.PostMessage(kMsg, 'B', 0));
  EXPECT_THROW(loop.RunPending(), std::runtime_error);
  sender.join();
  EXPECT_TRUE(loop.RunPending() && order == "psASB") << order;

  std::unique_ptr<MessageWindow> orphan;
  std::thread([&] {
    orphan = std::make_unique<MessageWindow>();
    EXPECT_TRUE(orphan->Handle().PostMessage(kMsg, 0, 0, [&] { ++dropped; }));
  }).join();
  EXPECT_FALSE(dropped != 1 || orphan->IsWindow() || orphan->Handle().SendMessage(kMsg, 0, 0) ||
               orphan->Handle().PostMessage(kMsg, 0, 0, [&] { ++dropped; }));
  EXPECT_TRUE(dropped == 2 && order == "psASB");
}

}  // namespace
}  // namespace kdx
