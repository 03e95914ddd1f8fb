#include "platform/window.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <thread>

#include "common/xvfb_util.h"
#include "platform/message_window.h"

namespace kdx::test {
namespace {

using namespace std::chrono_literals;
using Type = WindowEvent::Type;
constexpr int kWidth = 240, kHeight = 160;
const std::string kTitle = "確認證券下單 window_test";

class WindowTest : public testing::Test {
 protected:
  void SetUp() override {
    KDX_REQUIRE_X_SERVER();
    ASSERT_TRUE(ModalWindow::DisplayAvailable() && window.Open(CString::FromUtf8(kTitle), kWidth, kHeight));
    id = FindWindowByTitle(kTitle, 5s);
    ASSERT_TRUE(id != 0 && id == window.NativeId());
  }
  // Runs `input` on a second thread (as the user) while this one takes events other than
  // exposures, until `count` or the connection is lost. A hang ends in kLost, not a stuck test.
  std::vector<WindowEvent> Drive(const std::function<void()>& input, std::size_t count) {
    std::promise<void> done;
    std::thread user([&, finished = done.get_future()] {
      input();
      if (finished.wait_for(20s) == std::future_status::timeout) KillClient(id);
    });
    std::vector<WindowEvent> events;
    while (events.size() < count && (events.empty() || events.back().type != Type::kLost)) {
      const WindowEvent e = window.NextEvent();
      if (e.type != Type::kExpose) events.push_back(e);
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
  for (auto [w, h] : {std::pair{0, 10}, {10, 0}, {16385, 10}, {10, 16385}}) EXPECT_FALSE(ModalWindow().Open(u"x", w, h));
}

TEST_F(WindowTest, ShowsTheFrameClippedAndAgainAfterAnExposure) {
  EXPECT_EQ(window.NextEvent().type, Type::kExpose) << "mapping exposes the window";
  CBitmap frame;
  CDC dc;
  ASSERT_TRUE(frame.CreateCompatibleBitmap(kWidth + 40, kHeight / 2));
  dc.SelectObject(&frame);
  constexpr COLORREF kRed = RGB(200, 30, 60), kBlue = RGB(10, 120, 250), kWhite = RGB(255, 255, 255);
  dc.FillSolidRect({0, 0, kWidth / 2, kHeight}, kRed);
  dc.FillSolidRect({kWidth / 2, 0, kWidth + 40, kHeight}, kBlue);
  window.Present(frame);
  auto shows = [&](int x, int y, COLORREF colour) { EXPECT_EQ(Capture(id).At(x, y), colour) << x << "," << y; };
  shows(5, 5, kRed);
  shows(kWidth - 1, kHeight / 2 - 1, kBlue);
  shows(5, kHeight / 2, kWhite);  // below a short frame the window keeps its background
  window.Resize(kWidth + 80, kHeight);
  window.Present(frame);
  shows(kWidth + 39, 0, kBlue);
  shows(kWidth + 40, 0, kWhite);
  {
    ModalWindow cover;  // hides the middle of the window, then uncovers it
    ASSERT_TRUE(cover.Open(u"cover", 100, 100));
  }
  const int middleX = ScreenWidth() / 2 - Geometry(id).x + 10, middleY = kHeight / 2 - 20;
  EXPECT_EQ(window.NextEvent().type, Type::kExpose);
  shows(middleX, middleY, kBlue);
}

// The thread's messages run while the window waits for input; a handler may even open a second
// window, and closing it gives the keyboard back.
TEST_F(WindowTest, KeysArriveWithShiftWhileTheThreadsMessagesRun) {
  const struct { unsigned long sym; bool shift; WindowKey key; } keys[] = {
      {XK_Tab, false, WindowKey::kTab},      {XK_Tab, true, WindowKey::kTab},    {XK_space, false, WindowKey::kSpace},
      {XK_Return, false, WindowKey::kEnter}, {XK_KP_Enter, true, WindowKey::kEnter}, {XK_Escape, false, WindowKey::kEscape},
      {XK_a, false, WindowKey::kOther}};
  MessageWindow messages;
  std::promise<void> innerClosed;
  std::size_t seenByHandler = 99;
  std::vector<WindowEvent> events;
  unsigned long innerId = 0;
  messages.OnMessage(WM_USER, [&](WPARAM, LPARAM) {
    seenByHandler = events.size();
    ModalWindow inner;
    innerId = inner.Open(u"inner", 40, 40) ? inner.NativeId() : 0;
    inner.Close();  // gives the keyboard back to the outer window
    innerClosed.set_value();
    return LRESULT{0};
  });
  events = Drive([&, handle = messages.Handle()] {
    ClickAt(0, 0, 2);  // the pointer leaves the window: keys reach it only through the focus
    handle.PostMessage(WM_USER, 0, 0);
    innerClosed.get_future().wait_for(20s);
    for (const auto& k : keys) SendKey(k.sym, k.shift);
  }, 2 * std::size(keys) + 4);
  EXPECT_TRUE(seenByHandler == 0 && innerId != 0 && innerId != id);
  // The shift key comes as a key of its own.
  auto text = [](Type type, WindowKey key, bool shift) {
    return std::to_string(static_cast<int>(type)) + "/" + std::to_string(static_cast<int>(key)) + (shift ? "+" : "");
  };
  std::vector<std::string> want, got;
  for (const auto& k : keys) {
    if (k.shift) want.push_back(text(Type::kKeyDown, WindowKey::kOther, false));
    want.push_back(text(Type::kKeyDown, k.key, k.shift));
    want.push_back(text(Type::kKeyUp, k.key, k.shift));
    if (k.shift) want.push_back(text(Type::kKeyUp, WindowKey::kOther, true));
  }
  for (const auto& e : events) got.push_back(text(e.type, e.key, e.shift));
  EXPECT_EQ(got, want);
}

TEST_F(WindowTest, LeftClicksArriveInClientCoordinates) {
  const WindowBox box = Geometry(id);
  const auto events = Drive([&] { ClickAt(box.x + 5, box.y + 6, 3), ClickAt(box.x + 30, box.y + 41); }, 2);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_TRUE(events[0].type == Type::kMouseDown && events[0].x == 30 && events[0].y == 41);
  EXPECT_TRUE(events[1].type == Type::kMouseUp && events[1].x == 30 && events[1].y == 41);
}

// Closing asks; a window destroyed by another client or a broken connection ends the events,
// and the window stays safe to use and close.
TEST_F(WindowTest, CloseRequestsAndLossesAreReportedNeverFatal) {
  for (auto [act, type] : {std::pair{&SendDeleteWindow, Type::kClose}, {&DestroyWindow, Type::kLost}}) {
    EXPECT_EQ(Drive([&, act = act] { act(id); }, 1).at(0).type, type);
  }
  ASSERT_TRUE(window.Open(u"again", 50, 50));
  id = window.NativeId();
  EXPECT_EQ(Drive([&] { KillClient(id); }, 1).at(0).type, Type::kLost);
  window.Present(CBitmap());
  window.Resize(60, 60);
  EXPECT_EQ(window.NextEvent().type, Type::kLost);
  window.Close();
  EXPECT_EQ(window.NativeId(), 0u);
}

}  // namespace
}  // namespace kdx::test
