// The dialog window on Win32 (built for Windows only), fed the messages the system would send.
#include "platform/win32/win32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "platform/message_window.h"
#include "platform/window.h"

namespace kdx {
namespace {

using Type = WindowEvent::Type;

HWND Hwnd(const ModalWindow& window) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window.NativeId())); }

TEST(Win32Window, OpensCentredOnTopWithItsTitleAndAFixedSize) {
  ModalWindow window;
  ASSERT_TRUE(window.Open(u"確認證券下單", 240, 160));
  const HWND hwnd = Hwnd(window);
  wchar_t title[16] = {};
  GetWindowTextW(hwnd, title, 16);
  EXPECT_EQ(std::wstring(title), L"確認證券下單");
  ::RECT client{}, outer{}, moved{};
  GetClientRect(hwnd, &client), GetWindowRect(hwnd, &outer);
  EXPECT_EQ(client.right * 1000 + client.bottom, 240160);
  EXPECT_LE(std::abs(outer.left + outer.right - GetSystemMetrics(SM_CXSCREEN)), 1);
  EXPECT_LE(std::abs(outer.top + outer.bottom - GetSystemMetrics(SM_CYSCREEN)), 1);
  EXPECT_EQ(GetWindowLongW(hwnd, GWL_STYLE) & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_CAPTION), WS_CAPTION);
  EXPECT_NE(GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  window.Resize(300, 200);
  window.Resize(0, 10);  // refused
  GetClientRect(hwnd, &client), GetWindowRect(hwnd, &moved);
  EXPECT_EQ(client.right * 1000 + client.bottom, 300200);
  EXPECT_EQ(moved.left * 1000 + moved.top, outer.left * 1000 + outer.top);
  EXPECT_FALSE(ModalWindow().Open(u"x", 16385, 9));
}

// Input arrives as the header's events while the thread's messages run; a handler may open a
// second window, which makes the first one wait; a window destroyed elsewhere ends the events.
TEST(Win32Window, MapsInputAndRunsTheThreadsMessagesMeanwhile) {
  ModalWindow window;
  ASSERT_TRUE(window.Open(u"outer", 100, 80));
  const HWND hwnd = Hwnd(window);
  MessageWindow messages;
  std::string waited;
  messages.OnMessage(WM_USER, [&](WPARAM, LPARAM) {
    ModalWindow inner;
    waited += inner.Open(u"inner", 40, 40) && IsWindowEnabled(hwnd) == FALSE ? "waited" : "not";
    inner.Close();
    waited += IsWindowEnabled(hwnd) ? " back" : "";
    const ::UINT input[][3] = {{WM_KEYDOWN, VK_TAB, 0}, {WM_KEYUP, VK_SPACE, 0}, {WM_KEYDOWN, VK_RETURN, 0},
                               {WM_KEYDOWN, VK_ESCAPE, 0}, {WM_KEYDOWN, 'A', 0}, {WM_RBUTTONDOWN, 0, 0},
                               {WM_LBUTTONDOWN, MK_SHIFT, 0x29001E}, {WM_LBUTTONUP, 0, 0xFFFF0002}, {WM_CLOSE, 0, 0}};
    for (const auto& m : input) PostMessageW(hwnd, m[0], m[1], static_cast<::LPARAM>(static_cast<std::int32_t>(m[2])));
    return LRESULT{0};
  });
  messages.PostMessage(WM_USER, 0, 0);
  std::string events;
  for (WindowEvent e; e.type != Type::kClose && events.size() < 200;) {
    if ((e = window.NextEvent()).type == Type::kExpose) continue;
    events += std::to_string(int(e.type) * 10 + int(e.key)) + (e.shift ? "+" : " ") + std::to_string(e.x) + "," +
              std::to_string(e.y) + ";";
  }
  EXPECT_EQ(waited, "waited back");
  EXPECT_EQ(events, "31 0,0;43 0,0;32 0,0;34 0,0;30 0,0;10+30,41;20 2,-1;50 0,0;");
  DestroyWindow(hwnd);
  EXPECT_EQ(window.NextEvent().type, Type::kLost);
  EXPECT_EQ(window.NativeId(), 0u);
}

}  // namespace
}  // namespace kdx
