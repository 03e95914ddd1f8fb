// The confirmation dialog's fixed pixel geometry, which grows by 30 pixels a row, and the
// order in which its skin bitmaps are looked for on disk.
#pragma once

#include <string>
#include <vector>

namespace kdx {

struct ConfirmRect {
  int left = 0, top = 0, width = 0, height = 0;
  friend bool operator==(const ConfirmRect&, const ConfirmRect&) = default;
};

// Client-area geometry for `rows` rows, as the first paint lays the window out.
struct ConfirmLayout {
  explicit ConfirmLayout(int rows);
  ConfirmRect window;      // the window's size with its frame (left and top 0)
  ConfirmRect client;      // the client area inside that frame
  ConfirmRect orderButton, cancelButton;
  ConfirmRect middle;      // filled with the middle background
  ConfirmRect top;         // filled with the top background
  ConfirmRect bottom;      // where the 293 x 82 bottom bitmap is copied
  ConfirmRect panel;       // the row panel
  int firstRowTop = 105;   // rows start here; each is at least 30 high before wrapping
  // The frame around the client area: 3 pixels at the sides and bottom, 22 at the top.
  static constexpr int kFrameSide = 3, kFrameTop = 22;
  static constexpr int kLabelLeft = 47, kLabelRight = 124, kValueLeft = 125, kValueRight = 248;
};

// The top background's file for a dialog kind (1 cancel, 2 reduce, 4 price change, else new
// order), and the one used when that is missing.
const char* ConfirmTopImage(int kind);
inline constexpr const char* kConfirmTopFallback = "ConfirmBackTop.bmp";

// The image folder as the dialog uses it: "\" read as "/", then one trailing "\" and one
// trailing "/" removed (so "skins//" becomes "skins").
std::string ConfirmImageDirectory(std::u16string_view imageDirectory);

// Where skin `name` is looked for, in order: the executable's folder + "Images/" + language +
// "/OrderPrompt/", "Images/Default/OrderPrompt/", "Images/OrderPrompt/", then the image folder.
// The language is key "Language" of section "TEMPLATE" of "Configs/System.ini" beside the
// executable ("Default" without one).
std::vector<std::string> ConfirmSkinCandidates(const std::string& name, std::u16string_view imageDirectory);

}  // namespace kdx
