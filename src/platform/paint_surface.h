// What a CBitmap holds, shared by the painting layer and the window that shows its frames.
// Only platform/ sources include this (it brings in cairo).
#pragma once

#include <cairo.h>

namespace kdx::detail {

// One 32-bit image surface (CAIRO_FORMAT_RGB24), owned.
struct Surface {
  explicit Surface(cairo_surface_t* s) : surface(s) {}
  ~Surface() { cairo_surface_destroy(surface); }
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;
  cairo_surface_t* surface;
};

}  // namespace kdx::detail
