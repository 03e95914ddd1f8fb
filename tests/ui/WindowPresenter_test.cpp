#include "ui/WindowPresenter.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "common/control_util.h"
#include "common/xvfb_util.h"
#include "ui/ConfirmView.h"

namespace kdx::test {
namespace {

constexpr UINT kMarker = WM_USER + 21;

// The user: waits for the window, makes sure the host's messages still run while it is up,
// looks at it, then types or clicks. Runs on its own thread while the test thread is inside
// the modal window.
class User {
 public:
  User(std::string title, std::function<void(unsigned long, const Screenshot&)> act)
      : target_((owner_.OnMessage(kMarker, [this](WPARAM, LPARAM) -> LRESULT { return pumped_ = true; }),
                 owner_.Handle())),
        thread_([this, title = std::move(title), act = std::move(act)] {
          const unsigned long window = FindWindowByTitle(title, 10s);
          if (window == 0) return;
          target_.PostMessage(kMarker, 0, 0);
          for (int i = 0; i < 1000 && !pumped_; ++i) std::this_thread::sleep_for(10ms);
          if (!pumped_) return KillClient(window);  // the dialog froze the host: fail, not hang
          act(window, Capture(window));
        }) {}
  ~User() { thread_.join(); }
  bool Pumped() const { return pumped_; }

 private:
  std::atomic<bool> pumped_{false};
  MessageWindow owner_;
  WindowHandle target_;
  std::thread thread_;
};

void Keys(std::initializer_list<unsigned long> keys, bool shift = false) {
  for (unsigned long k : keys) SendKey(k, shift);
}

class WindowPresenterTest : public ControlTest {
 protected:
  void SetUp() override {
    KDX_REQUIRE_X_SERVER();
    ControlTest::SetUp();
    LogIn();
    ctrl->m_bOrderPrompt = 1;
    previous_ = SetConfirmPresenter(std::make_shared<WindowConfirmPresenter>());
  }
  void TearDown() override {
    if (!previous_) return;  // skipped
    SetConfirmPresenter(previous_);
    ControlTest::TearDown();
  }
  long Order() {
    for (const auto& [field, text] : {std::pair(0, u"S"), std::pair(1, kAccount), std::pair(2, u"ORV.TWS.2330"),
                                      std::pair(3, u"N"), std::pair(4, u"B"), std::pair(5, u"L")}) {
      Call(u"SetOrderInfoString", {VARIANT(field), VARIANT(text)});
    }
    Call(u"SetOrderInfoValue", {VARIANT(6), VARIANT(600.5)});
    Call(u"SetOrderInfoValue", {VARIANT(7), VARIANT(2.0)});
    return Call(u"ProcessOrder").lVal;
  }
  std::shared_ptr<ConfirmPresenter> previous_;
};

TEST_F(WindowPresenterTest, TheUserAnswersTheDialogWithKeysOrTheMouse) {
  const struct {
    const char* name;
    std::function<void(unsigned long, const WindowBox&)> act;
    bool sent;
  } cases[] = {
      {"Space presses ORDER, which has the focus", [](auto, auto&) { Keys({XK_space}); }, true},
      {"Tab moves to CANCEL", [](auto, auto&) { Keys({XK_Tab, XK_space}); }, false},
      {"Shift+Tab from CANCEL back to ORDER", [](auto, auto&) { Keys({XK_Tab}), Keys({XK_Tab}, true), Keys({XK_space}); }, true},
      {"Enter is swallowed; Escape cancels", [](auto, auto&) { Keys({XK_Return, XK_Escape}); }, false},
      {"closing the window cancels", [](unsigned long w, auto&) { SendDeleteWindow(w); }, false},
      {"a click on ORDER", [](auto, const WindowBox& b) { ClickAt(b.x + 87, b.y + b.height - 42); }, true},
      {"a lost display cancels", [](unsigned long w, auto&) { KillClient(w); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t sent = Api().Orders().size();
    long result = 0;
    {
      User user("確認證券下單", [&](unsigned long window, const Screenshot& shot) {
        const WindowBox box = Geometry(window);
        EXPECT_EQ(box.width, 293);
        EXPECT_EQ(box.height, ConfirmLayout(8).client.height);  // the stock order's eight rows
        EXPECT_EQ(box.x, (ScreenWidth() - 293) / 2);
        EXPECT_EQ(shot.At(40, 98), kConfirmPanelColour);
        c.act(window, box);
      });
      result = Order();
      EXPECT_TRUE(user.Pumped());
    }
    EXPECT_EQ(Api().Orders().size(), sent + c.sent);
    EXPECT_EQ(result == -100, !c.sent) << result;
  }
}

TEST(WindowMessageBoxPresenter, AnswersWithTheButtonsOfItsType) {
  KDX_REQUIRE_X_SERVER();
  const struct {
    UINT type;
    std::function<void()> act;
    int answer;
  } cases[] = {
      {MB_OK | MB_ICONERROR, [] { Keys({XK_Escape}); }, IDOK},
      {MB_OKCANCEL, [] { Keys({XK_Escape}); }, IDCANCEL},
      {MB_OKCANCEL | MB_ICONQUESTION, [] { Keys({XK_space}); }, IDOK},
      {MB_YESNO, [] { Keys({XK_Escape, XK_Tab, XK_space}); }, IDNO},  // no Escape without Cancel
  };
  WindowMessageBoxPresenter presenter;
  for (const auto& c : cases) {
    User user("ERROR", [&](unsigned long, const Screenshot& shot) {
      EXPECT_EQ(shot.At(shot.width - 1, 0), RGB(255, 255, 255));
      c.act();
    });
    EXPECT_EQ(presenter.Show({}, {u"Day trading is not allowed for this account.", u"ERROR", c.type}), c.answer)
        << c.type;
  }
}

}  // namespace
}  // namespace kdx::test
