// The painting layer on cairo and pango, with gdk-pixbuf reading image files.
#include "platform/paint.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <pango/pangocairo.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <utility>

#include "platform/bmp_file.h"
#include "platform/codepage.h"
#include "platform/paint_surface.h"

namespace kdx {
namespace detail {

struct DCState {
  cairo_t* cr = nullptr;
  int originX = 0, originY = 0;
  COLORREF textColour = 0;
  COLORREF bkColour = RGB(255, 255, 255);
  int bkMode = OPAQUE;
  int x = 0, y = 0;  // the current position, for LineTo
  ~DCState() {
    if (cr) cairo_destroy(cr);
  }
};

}  // namespace detail

namespace {

using detail::Surface;

std::shared_ptr<Surface> NewSurface(int width, int height) {
  if (width <= 0 || height <= 0) return nullptr;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  return std::make_shared<Surface>(s);
}

void SetSource(cairo_t* cr, COLORREF c) {
  cairo_set_source_rgb(cr, (c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, ((c >> 16) & 0xFF) / 255.0);
}

struct PixbufDeleter {
  void operator()(GdkPixbuf* p) const { g_object_unref(p); }
};
using PixbufPtr = std::unique_ptr<GdkPixbuf, PixbufDeleter>;

}  // namespace

bool CBitmap::LoadFromFile(const std::string& path) {
  surface_.reset();
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileBytes) {
    return false;
  }
  // The header's size is checked before any pixel memory is taken.
  int width = 0, height = 0;
  if (!gdk_pixbuf_get_file_info(path.c_str(), &width, &height) || width <= 0 || height <= 0 ||
      width > kMaxSide || height > kMaxSide) {
    return false;
  }
  GError* error = nullptr;
  PixbufPtr pixbuf(gdk_pixbuf_new_from_file(path.c_str(), &error));
  if (error) g_error_free(error);
  if (!pixbuf || gdk_pixbuf_get_colorspace(pixbuf.get()) != GDK_COLORSPACE_RGB ||
      gdk_pixbuf_get_bits_per_sample(pixbuf.get()) != 8) {
    return false;
  }
  width = gdk_pixbuf_get_width(pixbuf.get());
  height = gdk_pixbuf_get_height(pixbuf.get());
  if (width > kMaxSide || height > kMaxSide) return false;
  auto surface = NewSurface(width, height);
  if (!surface) return false;
  const int channels = gdk_pixbuf_get_n_channels(pixbuf.get());
  const int rowstride = gdk_pixbuf_get_rowstride(pixbuf.get());
  const guchar* src = gdk_pixbuf_read_pixels(pixbuf.get());
  cairo_surface_flush(surface->surface);
  unsigned char* dst = cairo_image_surface_get_data(surface->surface);
  const int stride = cairo_image_surface_get_stride(surface->surface);
  for (int y = 0; y < height; ++y) {
    const guchar* p = src + static_cast<std::ptrdiff_t>(y) * rowstride;
    auto* row = reinterpret_cast<uint32_t*>(dst + static_cast<std::ptrdiff_t>(y) * stride);
    for (int x = 0; x < width; ++x, p += channels) {
      row[x] = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    }
  }
  cairo_surface_mark_dirty(surface->surface);
  surface_ = std::move(surface);
  return true;
}

bool CBitmap::CreateCompatibleBitmap(int width, int height) {
  surface_ = NewSurface(width, height);
  return surface_ != nullptr;
}

int CBitmap::Width() const { return surface_ ? cairo_image_surface_get_width(surface_->surface) : 0; }
int CBitmap::Height() const { return surface_ ? cairo_image_surface_get_height(surface_->surface) : 0; }

COLORREF CBitmap::GetPixel(int x, int y) const {
  if (!surface_ || x < 0 || y < 0 || x >= Width() || y >= Height()) return 0;
  cairo_surface_flush(surface_->surface);
  const unsigned char* data = cairo_image_surface_get_data(surface_->surface);
  const int stride = cairo_image_surface_get_stride(surface_->surface);
  uint32_t p = 0;
  std::memcpy(&p, data + static_cast<std::ptrdiff_t>(y) * stride + x * 4, sizeof p);
  return RGB(static_cast<BYTE>(p >> 16), static_cast<BYTE>(p >> 8), static_cast<BYTE>(p));
}

bool CBitmap::SavePng(const std::string& path) const {
  return surface_ && cairo_surface_write_to_png(surface_->surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

bool CBitmap::SaveBmp(const std::string& path) const {
  if (!surface_) return false;
  cairo_surface_flush(surface_->surface);
  const std::string bytes = EncodeBmp24(Width(), Height(), cairo_image_surface_get_data(surface_->surface),
                                        cairo_image_surface_get_stride(surface_->surface));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

bool CBrush::CreatePatternBrush(const CBitmap& bitmap) {
  DeleteObject();
  if (bitmap.IsNull()) return false;
  // The brush keeps its own copy, so later drawing into the bitmap does not change it.
  auto copy = NewSurface(bitmap.Width(), bitmap.Height());
  if (!copy) return false;
  cairo_t* cr = cairo_create(copy->surface);
  cairo_set_source_surface(cr, bitmap.surface_->surface, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  pattern_ = std::move(copy);
  kind_ = Kind::kPattern;
  return true;
}

bool CFont::CreatePointFont(int pointSize, const CString& faceName) {
  if (pointSize <= 0) return false;
  PangoFontDescription* desc = pango_font_description_new();
  const std::string face = Utf16ToUtf8(faceName.str());
  pango_font_description_set_family(desc, face.empty() ? "Sans" : face.c_str());
  pango_font_description_set_size(desc, pointSize * PANGO_SCALE / 10);
  char* text = pango_font_description_to_string(desc);
  description_ = text;
  g_free(text);
  pango_font_description_free(desc);
  return true;
}

CDC::CDC() : state_(std::make_unique<detail::DCState>()) {
  defaultPen_.CreatePen(PS_SOLID, 1, 0);
  defaultFont_.CreatePointFont(90, CString(u"Sans"));
}

CDC::~CDC() = default;

CBitmap* CDC::SelectObject(CBitmap* bitmap) {
  CBitmap* previous = bitmap_;
  if (state_->cr) cairo_destroy(state_->cr);
  state_->cr = nullptr;
  bitmap_ = bitmap;
  if (bitmap && !bitmap->IsNull()) {
    state_->cr = cairo_create(bitmap->surface_->surface);
    // Pixel-exact fills and lines, as GDI draws them; text keeps its own smoothing.
    cairo_set_antialias(state_->cr, CAIRO_ANTIALIAS_NONE);
    cairo_translate(state_->cr, state_->originX, state_->originY);
  }
  return previous;
}

CPen* CDC::SelectObject(CPen* pen) { return std::exchange(pen_, pen); }
CFont* CDC::SelectObject(CFont* font) { return std::exchange(font_, font); }

void CDC::FillRect(const RECT& rect, const CBrush* brush) {
  cairo_t* cr = state_->cr;
  if (!cr || !brush || brush->IsNull() || rect.right <= rect.left || rect.bottom <= rect.top) return;
  cairo_save(cr);
  if (brush->kind_ == CBrush::Kind::kSolid) {
    SetSource(cr, brush->colour_);
  } else {
    // Tiles from the origin, as a brush's origin is the surface's top-left.
    cairo_set_source_surface(cr, brush->pattern_->surface, 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_REPEAT);
  }
  cairo_rectangle(cr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  cairo_fill(cr);
  cairo_restore(cr);
}

void CDC::BitBlt(int x, int y, int width, int height, const CDC& source, int sx, int sy) {
  cairo_t* cr = state_->cr;
  if (!cr || !source.bitmap_ || source.bitmap_->IsNull() || width <= 0 || height <= 0) return;
  cairo_save(cr);
  cairo_rectangle(cr, x, y, width, height);
  cairo_clip(cr);
  cairo_set_source_surface(cr, source.bitmap_->surface_->surface, x - sx, y - sy);
  cairo_paint(cr);
  cairo_restore(cr);
}

void CDC::MoveTo(int x, int y) {
  state_->x = x;
  state_->y = y;
}

void CDC::LineTo(int x, int y) {
  cairo_t* cr = state_->cr;
  const CPen& pen = pen_ ? *pen_ : defaultPen_;
  const int x0 = state_->x, y0 = state_->y;
  MoveTo(x, y);
  if (!cr || !pen.created_) return;
  cairo_save(cr);
  SetSource(cr, pen.colour_);
  const int w = pen.width_;
  // The end point is not drawn, as with GDI.
  if (y0 == y) {
    cairo_rectangle(cr, std::min(x0, x) + (x < x0 ? 1 : 0), y - (w - 1) / 2, std::abs(x - x0), w);
    cairo_fill(cr);
  } else if (x0 == x) {
    cairo_rectangle(cr, x - (w - 1) / 2, std::min(y0, y) + (y < y0 ? 1 : 0), w, std::abs(y - y0));
    cairo_fill(cr);
  } else {
    cairo_set_line_width(cr, w);
    cairo_move_to(cr, x0 + 0.5, y0 + 0.5);
    cairo_line_to(cr, x + 0.5, y + 0.5);
    cairo_stroke(cr);
  }
  cairo_restore(cr);
}

void CDC::DrawFocusRect(const RECT& rect) {
  cairo_t* cr = state_->cr;
  if (!cr || rect.right - rect.left < 2 || rect.bottom - rect.top < 2) return;
  cairo_save(cr);
  // Dotted and inverting, so it shows on any skin.
  cairo_set_operator(cr, CAIRO_OPERATOR_DIFFERENCE);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_set_line_width(cr, 1);
  const double dash[] = {1.0};
  cairo_set_dash(cr, dash, 1, 0);
  cairo_rectangle(cr, rect.left + 0.5, rect.top + 0.5, rect.right - rect.left - 1, rect.bottom - rect.top - 1);
  cairo_stroke(cr);
  cairo_restore(cr);
}

COLORREF CDC::SetTextColor(COLORREF colour) { return std::exchange(state_->textColour, colour); }
COLORREF CDC::SetBkColor(COLORREF colour) { return std::exchange(state_->bkColour, colour); }
int CDC::SetBkMode(int mode) { return std::exchange(state_->bkMode, mode); }

int CDC::DrawText(const CString& text, RECT* rect, UINT format) {
  if (!rect || text.IsEmpty()) {
    if (rect && (format & DT_CALCRECT)) rect->bottom = rect->top;
    return 0;
  }
  // Text is measured even with no bitmap selected, so a context can size before painting.
  cairo_surface_t* scratch = nullptr;
  cairo_t* cr = state_->cr;
  if (!cr) {
    scratch = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    cr = cairo_create(scratch);
  }
  PangoLayout* layout = pango_cairo_create_layout(cr);
  pango_cairo_context_set_resolution(pango_layout_get_context(layout), 96);
  pango_layout_context_changed(layout);
  const CFont& font = font_ && !font_->description_.empty() ? *font_ : defaultFont_;
  PangoFontDescription* desc = pango_font_description_from_string(font.description_.c_str());
  pango_layout_set_font_description(layout, desc);
  // Lines are as high as the selected font, whatever font a character is drawn from, as with
  // GDI's font linking: a fallback with a taller line (Noto CJK) must not stretch the rows.
  PangoFontMetrics* metrics =
      pango_context_get_metrics(pango_layout_get_context(layout), desc, pango_language_from_string("en"));
  const int ascent = PANGO_PIXELS(pango_font_metrics_get_ascent(metrics));
  const int lineHeight = ascent + PANGO_PIXELS(pango_font_metrics_get_descent(metrics));
  pango_font_metrics_unref(metrics);
  pango_font_description_free(desc);
  std::string utf8 = Utf16ToUtf8(text.str());
  if (format & DT_SINGLELINE) std::replace_if(utf8.begin(), utf8.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  pango_layout_set_text(layout, utf8.c_str(), static_cast<int>(utf8.size()));
  const int boxWidth = std::max<int>(rect->right - rect->left, 0);
  if ((format & DT_WORDBREAK) && !(format & DT_SINGLELINE)) {
    pango_layout_set_width(layout, boxWidth * PANGO_SCALE);
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  }
  int width = 0, unused = 0;
  pango_layout_get_pixel_size(layout, &width, &unused);
  const int lines = pango_layout_get_line_count(layout);
  const int height = lines * lineHeight;
  if (format & DT_CALCRECT) {
    rect->bottom = rect->top + height;
    if (!(format & DT_WORDBREAK) || (format & DT_SINGLELINE)) rect->right = rect->left + width;
  } else if (state_->cr) {
    int y = rect->top;
    if ((format & DT_VCENTER) && (format & DT_SINGLELINE)) y += (rect->bottom - rect->top - height) / 2;
    cairo_save(cr);
    cairo_rectangle(cr, rect->left, rect->top, boxWidth, std::max<int>(rect->bottom - rect->top, 0));
    cairo_clip(cr);
    for (int i = 0; i < lines; ++i, y += lineHeight) {
      PangoLayoutLine* line = pango_layout_get_line_readonly(layout, i);
      PangoRectangle logical;
      pango_layout_line_get_pixel_extents(line, nullptr, &logical);
      const int x = rect->left + ((format & DT_CENTER) ? (boxWidth - logical.width) / 2 : 0);
      if (state_->bkMode == OPAQUE) {
        SetSource(cr, state_->bkColour);
        cairo_rectangle(cr, x, y, logical.width, lineHeight);
        cairo_fill(cr);
      }
      SetSource(cr, state_->textColour);
      cairo_move_to(cr, x, y + ascent);
      pango_cairo_show_layout_line(cr, line);
    }
    cairo_restore(cr);
  }
  g_object_unref(layout);
  if (scratch) {
    cairo_destroy(cr);
    cairo_surface_destroy(scratch);
  }
  return height;
}

void CDC::SetViewportOrg(int x, int y) {
  state_->originX = x;
  state_->originY = y;
  if (state_->cr) {
    cairo_identity_matrix(state_->cr);
    cairo_translate(state_->cr, x, y);
  }
}

void CDC::IntersectClipRect(const RECT& rect) {
  if (!state_->cr) return;
  cairo_rectangle(state_->cr, rect.left, rect.top, std::max<int>(rect.right - rect.left, 0),
                  std::max<int>(rect.bottom - rect.top, 0));
  cairo_clip(state_->cr);
}

void CDC::SelectClipRgn(std::nullptr_t) {
  if (state_->cr) cairo_reset_clip(state_->cr);
}

}  // namespace kdx
