// What only the Windows backend adds: a host's own message loop drives ours, and objects
// made per thread are destroyed when their thread ends.
#ifdef _WIN32
#include "platform/win32/win32.h"
#endif

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/message_window.h"
#include "platform/thread_object.h"

namespace kdx {
namespace {

struct Counted {
  static inline int alive = 0;
  Counted() { ++alive; }
  Counted(Counted&&) = delete;
  ~Counted() { --alive; }
};

TEST(ThreadObject, IsOnePerThreadAndDiesWithItsThread) {
  auto make = [] { return Counted(); };
  Counted* mine = &ThreadObject<Counted>(make);
  std::thread([&] {
    EXPECT_NE(&ThreadObject<Counted>(make), mine);
    EXPECT_EQ(Counted::alive, 2);
  }).join();
  EXPECT_TRUE(Counted::alive == 1 && &ThreadObject<Counted>(make) == mine);
}

#ifdef _WIN32
TEST(NativeLoop, TheHostsGetMessageLoopRunsPostsAndAQuitEndsRunUntil) {
  auto& loop = MessageLoop::ForCurrentThread();
  MessageWindow w;
  std::string log;
  w.OnMessage(WM_USER + 1, [&](WPARAM wp, LPARAM) { return log += std::to_string(wp), LRESULT{0}; });
  std::thread([h = w.Handle()] { h.PostMessage(WM_USER + 1, 1, 0), h.PostMessage(WM_USER + 1, 2, 0); }).join();
  ::PostQuitMessage(0);
  EXPECT_FALSE(loop.RunUntil([] { return false; }, std::chrono::seconds(30))) << "ended by the quit, not the time-out";
  EXPECT_EQ(log, "12");
  // A plain Windows loop, as a host runs it, delivers ours with no call into it.
  w.PostMessage(WM_USER + 1, 3, 0);
  ::PostQuitMessage(0);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  EXPECT_TRUE(log == "123" && loop.QueuedCount() == 0u);
}
#endif

}  // namespace
}  // namespace kdx
