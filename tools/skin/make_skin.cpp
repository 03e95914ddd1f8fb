// make_skin: draws the confirmation dialog's default skin (eleven 24-bit BMP files) into a folder.
// The dialog paints its row panel itself at (37, 95), 220 wide, between the top and bottom images
// and tiles the middle strip around it, so the images here frame that panel: the panel's border
// is the top image's last row, the strip's columns 36 and 257 and the bottom image's first row.
//
// Usage: make_skin OUTPUT_FOLDER. Same bytes on every run with the same fonts installed.
#include <cairo.h>
#include <pango/pangocairo.h>

#include <cmath>
#include <cstdint>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>

#include "platform/bmp_file.h"

namespace {

constexpr int kWidth = 293;
constexpr int kTopHeight = 95;
constexpr int kMiddleHeight = 30;
constexpr int kBottomHeight = 82;
constexpr int kButtonWidth = 82;
constexpr int kButtonHeight = 32;
constexpr int kButtonTop = 24;  // inside the bottom image; ORDER at x 46, CANCEL at x 166
constexpr int kPanelLeft = 36;  // the panel's border columns, one pixel outside the panel
constexpr int kPanelRight = 257;
constexpr char kFonts[] = "DejaVu Sans,Noto Sans,Sans";

struct Colour {
  double r, g, b;
};

constexpr Colour Hex(unsigned v) {
  return {((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0};
}

constexpr Colour kFrame = Hex(0xEFEDE2);
constexpr Colour kFrameDark = Hex(0xE3E0D2);
constexpr Colour kPanelBorder = Hex(0xCBC9B4);
constexpr Colour kFooterLine = Hex(0xC6C3AE);
constexpr Colour kHint = Hex(0x8C8870);

struct Kind {
  const char* file;
  const char* heading;
  const char* subtitle;
  Colour light, dark;
  char glyph;  // '+', 'x', '-', 'p' (price arrows), 'v' (check)
};

constexpr Kind kKinds[] = {
    {"ConfirmBackTopOrder.bmp", "ORDER CONFIRMATION", "New order", Hex(0x2F86CF), Hex(0x1A5C96), '+'},
    {"ConfirmBackTopCancel.bmp", "CANCEL ORDER", "Withdraw a working order", Hex(0xD9534F), Hex(0xA82A22), 'x'},
    {"ConfirmBackTopReduce.bmp", "REDUCE ORDER", "Lower the open quantity", Hex(0xE39B2D), Hex(0xB8740A), '-'},
    {"ConfirmBackTopModify.bmp", "CHANGE PRICE", "New price for a working order", Hex(0x8463C8), Hex(0x5A3C9C), 'p'},
    {"ConfirmBackTop.bmp", "CONFIRM", "Order request", Hex(0x62748A), Hex(0x3E4C5C), 'v'},
};

void SetColour(cairo_t* cr, Colour c, double alpha = 1.0) { cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha); }

void FillRect(cairo_t* cr, double x, double y, double w, double h, Colour c) {
  SetColour(cr, c);
  cairo_rectangle(cr, x, y, w, h);
  cairo_fill(cr);
}

void VerticalGradient(cairo_t* cr, double y0, double y1, Colour top, Colour bottom) {
  cairo_pattern_t* p = cairo_pattern_create_linear(0, y0, 0, y1);
  cairo_pattern_add_color_stop_rgb(p, 0, top.r, top.g, top.b);
  cairo_pattern_add_color_stop_rgb(p, 1, bottom.r, bottom.g, bottom.b);
  cairo_set_source(cr, p);
  cairo_pattern_destroy(p);
}

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

// Draws one line of text at (x, y), left-aligned or centred in `width`, cut with an ellipsis
// rather than overflowing when the installed font runs wider.
void Text(cairo_t* cr, const char* text, bool bold, double points, Colour c, double alpha, double x, double y,
          double width, bool centred = false) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
  PangoContext* context = pango_layout_get_context(layout);
  pango_cairo_context_set_font_options(context, options);
  pango_cairo_context_set_resolution(context, 96);  // the screen's, whatever the machine says
  pango_layout_context_changed(layout);
  cairo_font_options_destroy(options);
  PangoFontDescription* font = pango_font_description_from_string(kFonts);
  pango_font_description_set_weight(font, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_size(font, static_cast<int>(points * PANGO_SCALE));
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  pango_layout_set_width(layout, static_cast<int>(width * PANGO_SCALE));
  pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
  pango_layout_set_alignment(layout, centred ? PANGO_ALIGN_CENTER : PANGO_ALIGN_LEFT);
  pango_layout_set_text(layout, text, -1);
  SetColour(cr, c, alpha);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
}

// The kind's mark: a glyph stroked in white on a translucent disc centred at (cx, cy).
void Glyph(cairo_t* cr, char glyph, double cx, double cy) {
  const Colour white = Hex(0xFFFFFF);
  SetColour(cr, white, 0.20);
  cairo_arc(cr, cx, cy, 16, 0, 2 * M_PI);
  cairo_fill(cr);
  SetColour(cr, white, 0.55);
  cairo_set_line_width(cr, 1);
  cairo_arc(cr, cx, cy, 15.5, 0, 2 * M_PI);
  cairo_stroke(cr);
  SetColour(cr, white);
  cairo_set_line_width(cr, 2.6);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  switch (glyph) {
    case '+':
      cairo_move_to(cr, cx - 7, cy), cairo_line_to(cr, cx + 7, cy);
      cairo_move_to(cr, cx, cy - 7), cairo_line_to(cr, cx, cy + 7);
      break;
    case 'x':
      cairo_move_to(cr, cx - 5.5, cy - 5.5), cairo_line_to(cr, cx + 5.5, cy + 5.5);
      cairo_move_to(cr, cx + 5.5, cy - 5.5), cairo_line_to(cr, cx - 5.5, cy + 5.5);
      break;
    case '-':
      cairo_move_to(cr, cx - 7, cy), cairo_line_to(cr, cx + 7, cy);
      break;
    case 'p':  // price up and down
      cairo_move_to(cr, cx - 4, cy + 7), cairo_line_to(cr, cx - 4, cy - 6);
      cairo_move_to(cr, cx - 7.5, cy - 2.5), cairo_line_to(cr, cx - 4, cy - 6), cairo_line_to(cr, cx - 0.5, cy - 2.5);
      cairo_move_to(cr, cx + 4, cy - 7), cairo_line_to(cr, cx + 4, cy + 6);
      cairo_move_to(cr, cx + 0.5, cy + 2.5), cairo_line_to(cr, cx + 4, cy + 6), cairo_line_to(cr, cx + 7.5, cy + 2.5);
      break;
    default:  // check mark
      cairo_move_to(cr, cx - 6.5, cy + 0.5), cairo_line_to(cr, cx - 2, cy + 5), cairo_line_to(cr, cx + 7, cy - 5);
      break;
  }
  cairo_stroke(cr);
}

void DrawTop(cairo_t* cr, const Kind& kind) {
  constexpr int kBand = 62;
  FillRect(cr, 0, 0, kWidth, kTopHeight, kFrame);
  VerticalGradient(cr, 0, kBand, kind.light, kind.dark);
  cairo_rectangle(cr, 0, 0, kWidth, kBand);
  cairo_fill(cr);
  SetColour(cr, Hex(0xFFFFFF), 0.25);  // top highlight
  cairo_rectangle(cr, 0, 0, kWidth, 1);
  cairo_fill(cr);
  SetColour(cr, Hex(0x000000), 0.18);  // band's lower edge
  cairo_rectangle(cr, 0, kBand - 1, kWidth, 1);
  cairo_fill(cr);
  Glyph(cr, kind.glyph, 36, 31);
  Text(cr, kind.heading, true, 12, Hex(0xFFFFFF), 1.0, 62, 13, kWidth - 62 - 8);
  Text(cr, kind.subtitle, false, 8, Hex(0xFFFFFF), 0.82, 62, 34, kWidth - 62 - 8);
  Text(cr, "Please check the details below", false, 7.5, kHint, 1.0, 0, 70, kWidth, true);
  FillRect(cr, kPanelLeft, kTopHeight - 1, kPanelRight - kPanelLeft + 1, 1, kPanelBorder);
}

void DrawMiddle(cairo_t* cr) {
  FillRect(cr, 0, 0, kWidth, kMiddleHeight, kFrame);
  FillRect(cr, kPanelLeft, 0, 1, kMiddleHeight, kPanelBorder);
  FillRect(cr, kPanelRight, 0, 1, kMiddleHeight, kPanelBorder);
}

void DrawBottom(cairo_t* cr) {
  VerticalGradient(cr, 0, kBottomHeight, kFrame, kFrameDark);
  cairo_paint(cr);
  FillRect(cr, kPanelLeft, 0, kPanelRight - kPanelLeft + 1, 1, kPanelBorder);
  FillRect(cr, 0, kBottomHeight - 1, kWidth, 1, kFooterLine);
}

struct ButtonLook {
  Colour light, dark, border, text;
  double highlight;  // alpha of the inner top highlight
};

// A rounded button over the bottom image's pixels at its place, so the corners blend in.
void DrawButton(cairo_t* cr, cairo_surface_t* bottom, int x, const char* caption, const ButtonLook& look,
                bool down) {
  cairo_set_source_surface(cr, bottom, -x, -kButtonTop);
  cairo_paint(cr);
  const double bx = 1.5, by = 1.5, bw = kButtonWidth - 3, bh = kButtonHeight - 4, r = 5;
  if (!down) {  // soft drop shadow
    SetColour(cr, Hex(0x000000), 0.10);
    RoundedRect(cr, bx, by + 1.5, bw, bh, r);
    cairo_fill(cr);
  }
  VerticalGradient(cr, by, by + bh, down ? look.dark : look.light, down ? look.light : look.dark);
  RoundedRect(cr, bx, by + (down ? 1 : 0), bw, bh, r);
  cairo_fill_preserve(cr);
  SetColour(cr, look.border);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  if (!down && look.highlight > 0) {
    SetColour(cr, Hex(0xFFFFFF), look.highlight);
    cairo_move_to(cr, bx + r, by + 1), cairo_line_to(cr, bx + bw - r, by + 1);
    cairo_stroke(cr);
  }
  Text(cr, caption, true, 9, look.text, 1.0, 4, down ? 9 : 8, kButtonWidth - 8, true);
}

cairo_surface_t* NewSurface(int width, int height) {
  return cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
}

// Saves the surface as a 24-bit BMP.
bool Save(cairo_surface_t* surface, const std::filesystem::path& folder, const char* name) {
  cairo_surface_flush(surface);
  const std::string path = (folder / name).string();
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    std::cerr << "make_skin: " << path << ": " << cairo_status_to_string(cairo_surface_status(surface)) << "\n";
    return false;
  }
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  const std::string bytes = kdx::EncodeBmp24(width, height, cairo_image_surface_get_data(surface),
                                             cairo_image_surface_get_stride(surface));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::cerr << "make_skin: " << path << ": cannot write\n";
    return false;
  }
  return true;
}

// Draws one image with `draw` on a fresh surface and saves it; false on any failure.
template <typename Draw>
bool Make(const std::filesystem::path& folder, const char* name, int width, int height, Draw draw) {
  cairo_surface_t* surface = NewSurface(width, height);
  cairo_t* cr = cairo_create(surface);
  draw(cr);
  cairo_destroy(cr);
  const bool saved = Save(surface, folder, name);
  cairo_surface_destroy(surface);
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '\0') {
    std::cerr << "usage: make_skin OUTPUT_FOLDER\n";
    return 1;
  }
  const std::filesystem::path folder = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec || !std::filesystem::is_directory(folder)) {
    std::cerr << "make_skin: cannot create " << folder.string() << (ec ? ": " + ec.message() : "") << "\n";
    return 1;
  }
  bool ok = true;
  for (const Kind& kind : kKinds) {
    ok = Make(folder, kind.file, kWidth, kTopHeight, [&](cairo_t* cr) { DrawTop(cr, kind); }) && ok;
  }
  ok = Make(folder, "ConfirmBackMiddle.bmp", kWidth, kMiddleHeight, DrawMiddle) && ok;

  cairo_surface_t* bottom = NewSurface(kWidth, kBottomHeight);
  cairo_t* cr = cairo_create(bottom);
  DrawBottom(cr);
  cairo_destroy(cr);
  ok = Save(bottom, folder, "ConfirmBackBottom.bmp") && ok;

  const ButtonLook order{Hex(0x3BAA68), Hex(0x23804A), Hex(0x1E6E3F), Hex(0xFFFFFF), 0.35};
  const ButtonLook cancel{Hex(0xFFFFFF), Hex(0xE4E2D6), Hex(0xB3B09B), Hex(0x4A4A46), 0.0};
  const struct {
    const char* file;
    int x;
    const char* caption;
    const ButtonLook& look;
    bool down;
  } buttons[] = {
      {"ConfirmOkUp.bmp", 46, "ORDER", order, false},
      {"ConfirmOkDown.bmp", 46, "ORDER", order, true},
      {"ConfirmCancelUp.bmp", 166, "CANCEL", cancel, false},
      {"ConfirmCancelDown.bmp", 166, "CANCEL", cancel, true},
  };
  for (const auto& b : buttons) {
    ok = Make(folder, b.file, kButtonWidth, kButtonHeight,
              [&](cairo_t* c) { DrawButton(c, bottom, b.x, b.caption, b.look, b.down); }) &&
         ok;
  }
  cairo_surface_destroy(bottom);
  return ok ? 0 : 1;
}
