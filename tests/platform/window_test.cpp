#include "platform/window.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "common/xvfb_util.h"
#include "platform/message_window.h"

namespace kdx::test {
namespace {

using namespace std::chrono_literals;
using Type = WindowEvent::Type;
using Strings = std::vector<std::string>;
constexpr int kWidth = 240, kHeight = 160;
const std::string kTitle = "確認證券下單 window_test";

// "32+0": type * 10 + key, + with shift, place as x * 1000 + y.
std::string Text(const WindowEvent& e) {
  return std::to_string(int(e.type) * 10 + int(e.key)) + (e.shift ? "+" : " ") + std::to_string(e.x * 1000 + e.y);
}

class WindowTest : public testing::Test {
 protected:
  void SetUp() override {
    KDX_REQUIRE_X_SERVER();
    ASSERT_TRUE(ModalWindow::DisplayAvailable() && window.Open(CString::FromUtf8(kTitle), kWidth, kHeight));
    ASSERT_TRUE((id = FindWindowByTitle(kTitle, 5s)) != 0 && id == window.NativeId());
  }
  // Runs `input` on a second thread (the user) while this one takes `count` events other than
  // exposures, or up to kLost. A hang ends in kLost, not in a stuck test.
  Strings Drive(const std::function<void()>& input, std::size_t count) {
    std::promise<void> done;
    std::thread user([&, finished = done.get_future()] {
      if (input(), finished.wait_for(20s) == std::future_status::timeout) KillClient(id);
    });
    Strings events;
    for (WindowEvent e; events.size() < count && (events.empty() || e.type != Type::kLost);) {
      if ((e = window.NextEvent()).type != Type::kExpose) events.push_back(Text(e));
    }
    done.set_value();
    user.join();
    return events;
  }
  ModalWindow window;
  unsigned long id = 0;
};

TEST_F(WindowTest, OpensCentredAsAFixedSizeDialogAndResizesInPlace) {
  const WindowBox centred{(ScreenWidth() - kWidth) / 2, (ScreenHeight() - kHeight) / 2, kWidth, kHeight};
  EXPECT_EQ(Geometry(id), centred);
  const std::pair<const char*, std::string> properties[] = {
      {"WM_NAME", kTitle}, {"_NET_WM_NAME", kTitle}, {"WM_CLASS", std::string("kdx-bridge\0kdx-bridge\0", 22)},
      {"WM_PROTOCOLS", "WM_DELETE_WINDOW"}, {"_NET_WM_STATE", "_NET_WM_STATE_ABOVE"},
      {"_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DIALOG"}};
  for (const auto& [name, value] : properties) EXPECT_EQ(Property(id, name), value) << name;
  EXPECT_EQ(SizeLimits(id), "min 240x160 max 240x160");
  window.Resize(300, 200);
  window.Resize(0, 10);  // refused
  EXPECT_EQ(Geometry(id), (WindowBox{centred.x, centred.y, 300, 200}));
  EXPECT_EQ(SizeLimits(id), "min 300x200 max 300x200");
  const std::pair<int, int> sizes[] = {{0, 9}, {9, 0}, {16385, 9}, {9, 16385}, {1, 16384}, {16384, 1}};
  for (auto [w, h] : sizes) EXPECT_EQ(ModalWindow().Open(u"x", w, h), w * h == 16384) << w << "x" << h;
}

TEST_F(WindowTest, ShowsTheFrameClipped) {
  EXPECT_EQ(window.NextEvent().type, Type::kExpose) << "mapping exposes the window";
  CBitmap frame;  // null (shows nothing), then wider than the window and half as high, red then blue
  CDC dc;
  window.Present(frame);
  ASSERT_TRUE(frame.CreateCompatibleBitmap(kWidth + 40, kHeight / 2) && dc.SelectObject(&frame) == nullptr);
  dc.FillSolidRect({0, 0, kWidth + 40, kHeight}, RGB(10, 120, 250));
  dc.FillSolidRect({0, 0, kWidth / 2, kHeight}, RGB(200, 30, 60));
  auto shows = [&](int x, int y, COLORREF colour) { EXPECT_EQ(Capture(id).At(x, y), colour) << x << "," << y; };
  window.Present(frame);
  shows(5, 5, RGB(200, 30, 60));
  shows(kWidth - 1, kHeight / 2 - 1, RGB(10, 120, 250));
  shows(5, kHeight / 2, RGB(255, 255, 255));  // the window's background
  window.Resize(kWidth + 80, kHeight);
  window.Present(frame);
  shows(kWidth + 39, 0, RGB(10, 120, 250));
  shows(kWidth + 40, 0, RGB(255, 255, 255));
}

// The thread's messages run while the window waits for input; a handler may even open a second
// window, and closing it gives the keyboard back.
TEST_F(WindowTest, KeysArriveWithShiftWhileTheThreadsMessagesRun) {
  using enum WindowKey;
  const struct { unsigned long sym; bool shift; WindowKey key; } keys[] = {
      {XK_Tab, false, kTab},      {XK_Tab, true, kTab},          {XK_space, false, kSpace},
      {XK_Return, false, kEnter}, {XK_KP_Enter, true, kEnter}, {XK_Escape, false, kEscape}};
  MessageWindow messages;
  std::promise<void> innerClosed;
  Strings events, want;
  unsigned long innerId = 0;
  messages.OnMessage(WM_USER, [&](WPARAM, LPARAM) {
    ModalWindow inner;
    innerId = events.empty() && inner.Open(u"inner", 40, 40) ? inner.NativeId() : 0;  // before any key event
    inner.Close();  // before any key is typed
    innerClosed.set_value();
    return LRESULT{0};
  });
  events = Drive([&, handle = messages.Handle()] {
    ClickAt(0, 0, 2);  // the pointer leaves the window: keys reach it only through the focus
    handle.PostMessage(WM_USER, 0, 0);
    innerClosed.get_future().wait_for(20s);
    for (const auto& k : keys) SendKey(k.sym, k.shift);
  }, 2 * std::size(keys) + 4);
  EXPECT_TRUE(innerId != 0 && innerId != id);
  for (const auto& k : keys) {  // the shift key comes as a key of its own
    if (k.shift) want.push_back(Text({Type::kKeyDown}));
    want.insert(want.end(), {Text({Type::kKeyDown, 0, 0, k.key, k.shift}), Text({Type::kKeyUp, 0, 0, k.key, k.shift})});
    if (k.shift) want.push_back(Text({Type::kKeyUp, 0, 0, kOther, true}));
  }
  EXPECT_EQ(events, want);
}

// Only the left button counts; closing asks; a window destroyed by another client or a broken
// connection ends the events, and the window stays safe to use and close.
TEST_F(WindowTest, ClicksCloseRequestsAndLossesNeverFatal) {
  EXPECT_EQ(Drive([&, box = Geometry(id)] { ClickAt(box.x + 5, box.y + 6, 3), ClickAt(box.x + 30, box.y + 41); }, 2),
            (Strings{Text({Type::kMouseDown, 30, 41}), Text({Type::kMouseUp, 30, 41})}));
  EXPECT_EQ(Drive([&] { SendDeleteWindow(id); }, 1), Strings{Text({Type::kClose})});
  DestroyWindow(id);  // as another client may; what this one still asks of it fails harmlessly
  window.Resize(60, 60);
  EXPECT_EQ(window.NextEvent().type, Type::kLost);
  ASSERT_TRUE(window.Open(u"again", 50, 50) && (id = window.NativeId()) != 0);
  EXPECT_EQ(Drive([&] { KillClient(id); }, 1), Strings{Text({})});
  const std::string display = std::getenv("DISPLAY");
  setenv("DISPLAY", ":65535", 1);  // no server there
  EXPECT_FALSE(ModalWindow::DisplayAvailable() || window.Open(u"x", 9, 9) || window.NextEvent().type != Type::kLost);
  setenv("DISPLAY", display.c_str(), 1);
}

}  // namespace
}  // namespace kdx::test
