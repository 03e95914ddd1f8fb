// An X server for the window tests, and a second client on it that finds windows, types,
// clicks and looks at the screen as a user would.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/types.h"

namespace kdx::test {

// Starts a private Xvfb for this test program (display number chosen by the server, so
// parallel programs never collide) and points $DISPLAY at it; without Xvfb, uses $DISPLAY if it
// answers. Empty when a server is ready, else why not. Call from the main thread.
std::string EnsureXServer();

#define KDX_REQUIRE_X_SERVER()                                                     \
  if (const std::string why = ::kdx::test::EnsureXServer(); !why.empty()) GTEST_SKIP() << "no X server: " << why

struct WindowBox {
  int x = 0, y = 0, width = 0, height = 0;  // x, y on the root window
  friend bool operator==(const WindowBox&, const WindowBox&) = default;
};

// The first top-level window whose _NET_WM_NAME or WM_NAME is `utf8Title`, waiting for it to
// appear up to `timeout`; 0 if none did.
unsigned long FindWindowByTitle(const std::string& utf8Title, std::chrono::milliseconds timeout);
WindowBox Geometry(unsigned long window);
// A text property as is, or an atom list as names separated by spaces.
std::string Property(unsigned long window, const char* name);
// "min WxH max WxH" from the size hints.
std::string SizeLimits(unsigned long window);
int ScreenWidth();
int ScreenHeight();

// Synthetic input (XTest) to whichever window has the focus or lies under the pointer.
void SendKey(unsigned long keysym, bool shift);
void ClickAt(int rootX, int rootY, unsigned button = 1);
// What a window manager sends when the user closes the window.
void SendDeleteWindow(unsigned long window);
// Destroys the window from this client, as `xkill` would.
void DestroyWindow(unsigned long window);
// Makes the server drop the connection that owns the window.
void KillClient(unsigned long window);

struct Screenshot {
  int width = 0, height = 0;
  std::vector<COLORREF> pixels;
  COLORREF At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};
Screenshot Capture(unsigned long window);

}  // namespace kdx::test
