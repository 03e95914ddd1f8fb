// What a CBitmap holds on Windows, shared by the painting layer and the window that shows its
// frames. Include platform/win32/win32.h first.
#pragma once

#include <cstdint>

namespace kdx::detail {

// One 32-bit top-down DIB section (pixels 0x00RRGGBB, rows of width * 4 bytes), owned; a
// pattern brush's copy also owns the brush made from it.
struct Surface {
  Surface(HBITMAP b, std::uint32_t* p, int w, int h) : bitmap(b), pixels(p), width(w), height(h) {}
  ~Surface() {
    if (brush != nullptr) ::DeleteObject(brush);
    ::DeleteObject(bitmap);
  }
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;
  HBITMAP bitmap;
  std::uint32_t* pixels;
  int width, height;
  HBRUSH brush = nullptr;
};

// How a Surface's pixels (or their first `height` rows) are laid out, for the DIB calls.
inline BITMAPINFO TopDown32(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // rows from the top down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;  // and BI_RGB
  return info;
}

}  // namespace kdx::detail
