#include "ui/ConfirmView.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "common/host_util.h"
#include "platform/system.h"
#include "ui/ConfirmDialog.h"

namespace kdx {
namespace {

namespace fs = std::filesystem;
using T = WindowEvent::Type;

const std::map<std::string, COLORREF> kSkin = {
    {"ConfirmBackTopOrder.bmp", RGB(10, 20, 30)},    {"ConfirmBackTopCancel.bmp", RGB(200, 0, 0)},
    {"ConfirmBackTopReduce.bmp", RGB(200, 100, 0)},  {"ConfirmBackTopModify.bmp", RGB(100, 0, 200)},
    {"ConfirmBackTop.bmp", RGB(90, 90, 90)},         {"ConfirmBackMiddle.bmp", RGB(0, 0, 200)},
    {"ConfirmBackBottom.bmp", RGB(0, 150, 0)},       {"ConfirmOkUp.bmp", RGB(0, 200, 200)},
    {"ConfirmOkDown.bmp", RGB(0, 100, 100)},         {"ConfirmCancelUp.bmp", RGB(200, 200, 0)},
    {"ConfirmCancelDown.bmp", RGB(100, 100, 0)},
};

void WriteBmp(const fs::path& file, COLORREF colour, int width = 16, int height = 16) {
  fs::create_directories(file.parent_path());
  CBitmap bitmap;
  bitmap.CreateCompatibleBitmap(width, height);
  CDC dc;
  dc.SelectObject(&bitmap);
  dc.FillSolidRect({0, 0, width, height}, colour);
  ASSERT_TRUE(bitmap.SaveBmp(file.string()));
}

ConfirmRequest SixRows(const fs::path& skins, int kind = 0, const char16_t* wrapped = u"1,000") {
  ConfirmRequest request{CString(u"確認證券下單"), kind, {}, CString::FromUtf8(skins.string() + "\\")};
  for (const char16_t* value : {u"9A95-1234567", u"2330", u"買進", u"580.00", wrapped, u"ROD"}) {
    request.rows.push_back({CString(u"帳號"), kConfirmLabelColour, CString(value),
                            request.rows.size() == 2 ? kConfirmBuyColour : kConfirmValueColour});
  }
  return request;
}

CBitmap Paint(ConfirmView& view, const DialogInput& input) {
  CBitmap client;
  PaintConfirmClient(view, input, client);
  return client;
}

CBitmap Paint(const ConfirmRequest& request, const std::vector<WindowEvent>& events = {}) {
  ConfirmView view(request);
  view.OnInitDialog();
  DialogInput input = MakeConfirmInput(view.Layout());
  for (const auto& e : events) input.OnEvent(e);
  return Paint(view, input);
}

// Rows of column x painted in `colour` (within `slack`, summed over the channels: smoothed
// text is never quite its colour), between the panel's top and the bottom image.
std::vector<int> RowsOf(const CBitmap& image, int x, COLORREF colour, int slack = 0) {
  std::vector<int> rows;
  for (int y = 95; y < image.Height() - 82; ++y) {
    const COLORREF p = image.GetPixel(x, y);
    int distance = 0;
    for (int shift : {0, 8, 16}) distance += std::abs(int((p >> shift) & 0xFF) - int((colour >> shift) & 0xFF));
    if (distance <= slack) rows.push_back(y);
  }
  return rows;
}

class ConfirmViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetModuleFileNameOverride(CString::FromUtf8((exe_.path() / "host").string()).str());
    for (const auto& [name, colour] : kSkin) WriteBmp(skins_.path() / name, colour);
  }
  void TearDown() override { SetModuleFileNameOverride(std::nullopt); }
  test::TempFolder exe_, skins_;
};

TEST_F(ConfirmViewTest, PaintsEachAreaFromItsSkin) {
  for (const auto& [kind, top] : {std::pair(0, "ConfirmBackTopOrder.bmp"), std::pair(1, "ConfirmBackTopCancel.bmp"),
                                  std::pair(2, "ConfirmBackTopReduce.bmp"), std::pair(3, "ConfirmBackTopOrder.bmp"),
                                  std::pair(4, "ConfirmBackTopModify.bmp")}) {
    EXPECT_EQ(Paint(SixRows(skins_.path(), kind)).GetPixel(10, 10), kSkin.at(top)) << kind;
  }
  const CBitmap image = Paint(SixRows(skins_.path()));
  EXPECT_EQ(image.Width(), 293);
  EXPECT_EQ(image.Height(), 377);
  EXPECT_EQ(image.GetPixel(10, 100), kSkin.at("ConfirmBackMiddle.bmp"));
  EXPECT_EQ(image.GetPixel(280, 290), kSkin.at("ConfirmBackMiddle.bmp"));
  EXPECT_EQ(image.GetPixel(40, 98), kConfirmPanelColour);
  EXPECT_EQ(image.GetPixel(256, 294), kConfirmPanelColour);
  EXPECT_EQ(image.GetPixel(10, 296), kSkin.at("ConfirmBackBottom.bmp"));
  EXPECT_EQ(image.GetPixel(87, 335), kSkin.at("ConfirmOkUp.bmp"));
  EXPECT_EQ(image.GetPixel(207, 335), kSkin.at("ConfirmCancelUp.bmp"));
  EXPECT_EQ(image.GetPixel(165, 335), kSkin.at("ConfirmBackBottom.bmp"));  // between the buttons
}

TEST_F(ConfirmViewTest, MissingSkinsLeaveTheirAreasToTheFaceColour) {
  fs::remove(skins_.path() / "ConfirmBackTopCancel.bmp");
  EXPECT_EQ(Paint(SixRows(skins_.path(), 1)).GetPixel(10, 10), kSkin.at("ConfirmBackTop.bmp"));
  const CBitmap bare = Paint(SixRows(exe_.path() / "none"));
  for (const auto& [x, y] : {std::pair(10, 10), std::pair(10, 100), std::pair(0, 296), std::pair(87, 335)}) {
    EXPECT_EQ(bare.GetPixel(x, y), kDialogFaceColour) << x << "," << y;
  }
  EXPECT_EQ(bare.GetPixel(40, 98), kConfirmPanelColour);
}

TEST_F(ConfirmViewTest, RowsShowTheirColoursAndSeparators) {
  const CBitmap image = Paint(SixRows(skins_.path()));
  const auto separators = RowsOf(image, 47, kConfirmSeparatorColour);
  ASSERT_EQ(separators.size(), 5u);
  EXPECT_EQ(RowsOf(image, 247, kConfirmSeparatorColour), separators);
  EXPECT_EQ(RowsOf(image, 248, kConfirmSeparatorColour), std::vector<int>{});  // the end point is left out
  EXPECT_EQ(separators[1] - separators[0], separators[4] - separators[3]);
  const auto count = [&](int left, int right, COLORREF colour) {
    int n = 0;
    for (int x = left; x < right; ++x) n += static_cast<int>(RowsOf(image, x, colour, 40).size());
    return n;
  };
  EXPECT_GT(count(47, 124, kConfirmLabelColour), 0);
  EXPECT_EQ(count(125, 248, kConfirmLabelColour), 0);
  EXPECT_GT(count(125, 248, kConfirmValueColour), 0);
  EXPECT_GT(count(125, 248, kConfirmBuyColour), 0);

  // A value that wraps makes its row taller; the window still grows 30 pixels a row.
  const CBitmap wrapped = Paint(SixRows(skins_.path(), 0, u"1,000 shares at the market price, rest of day"));
  const auto moved = RowsOf(wrapped, 47, kConfirmSeparatorColour);
  ASSERT_EQ(moved.size(), 5u);
  EXPECT_EQ(moved[3], separators[3]);
  EXPECT_GT(moved[4] - moved[3], separators[4] - separators[3] + 10);
  EXPECT_EQ(wrapped.Height(), image.Height());
}

TEST_F(ConfirmViewTest, ButtonsShowPressAndFocus) {
  const COLORREF up = kSkin.at("ConfirmOkUp.bmp");
  const struct { std::vector<WindowEvent> events; COLORREF centre, focusCorner; } cases[] = {
      {{}, up, ~up & 0xFFFFFF},  // focused: the inverted dotted rectangle
      {{{T::kKeyDown, 0, 0, WindowKey::kTab}}, up, up},
      {{{T::kKeyDown, 0, 0, WindowKey::kSpace}}, kSkin.at("ConfirmOkDown.bmp"), kSkin.at("ConfirmOkDown.bmp")},
  };
  for (const auto& c : cases) {
    const CBitmap image = Paint(SixRows(skins_.path()), c.events);
    EXPECT_EQ(image.GetPixel(87, 335), c.centre);
    EXPECT_EQ(image.GetPixel(49, 322), c.focusCorner);  // 3 pixels inside the 82 x 32 button
    EXPECT_EQ(image.GetPixel(124, 347), c.focusCorner);
  }
}

TEST_F(ConfirmViewTest, LooksForEachSkinInItsFoldersInOrder) {
  fs::create_directories(exe_.path() / "Configs");
  std::ofstream(exe_.path() / "Configs" / "System.ini") << "[TEMPLATE]\nLanguage=Big5\n";
  const fs::path folders[] = {exe_.path() / "Images" / "Big5" / "OrderPrompt", exe_.path() / "Images" / "Default" / "OrderPrompt",
                              exe_.path() / "Images" / "OrderPrompt"};
  for (int i = 0; i < 3; ++i) WriteBmp(folders[i] / "ConfirmBackMiddle.bmp", RGB(1, 2, 3 + i));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Paint(SixRows(skins_.path())).GetPixel(10, 100), RGB(1, 2, 3 + i)) << folders[i];
    fs::remove(folders[i] / "ConfirmBackMiddle.bmp");
  }
  EXPECT_EQ(Paint(SixRows(skins_.path())).GetPixel(10, 100), kSkin.at("ConfirmBackMiddle.bmp"));
}

TEST_F(ConfirmViewTest, ScriptedPresenterSavesEachDialogAsAnImage) {
  auto presenter = std::make_shared<ScriptedConfirmPresenter>(std::deque<int>{IDCANCEL});
  presenter->SaveImagesTo(exe_.path().string());
  SetConfirmPresenter(presenter);
  for (int rows : {6, 1}) {
    ConfirmDialog dialog;
    dialog.SetImageDirectory(CString::FromUtf8(skins_.path().string()));
    dialog.SetTitle(u"確認期貨刪單", ConfirmDialog::kCancel);
    for (int i = 0; i < rows; ++i) dialog.AddRow(u"a", kConfirmLabelColour, u"b", kConfirmValueColour);
    EXPECT_EQ(dialog.DoModal(), rows == 6 ? IDCANCEL : IDOK);
  }
  SetConfirmPresenter(nullptr);
  for (const auto& [file, height] : {std::pair("confirm-1.png", 402), std::pair("confirm-2.png", 252)}) {
    CBitmap saved;
    ASSERT_TRUE(saved.LoadFromFile((exe_.path() / file).string())) << file;
    EXPECT_EQ(saved.Width(), 299);
    EXPECT_EQ(saved.Height(), height);
    // The client area sits inside the frame.
    EXPECT_EQ(saved.GetPixel(3 + 10, 22 + 10), kSkin.at("ConfirmBackTopCancel.bmp"));
    EXPECT_NE(saved.GetPixel(1, 1), kSkin.at("ConfirmBackTopCancel.bmp"));
  }
}

TEST(DialogInput, AnswersClicksKeysAndClosing) {
  const ConfirmLayout layout(6);
  const WindowEvent spaceDown{T::kKeyDown, 0, 0, WindowKey::kSpace}, spaceUp{T::kKeyUp, 0, 0, WindowKey::kSpace};
  const WindowEvent tab{T::kKeyDown, 0, 0, WindowKey::kTab}, backTab{T::kKeyDown, 0, 0, WindowKey::kTab, true};
  const auto at = [](T type, const ConfirmRect& r) { return WindowEvent{type, r.left + r.width - 1, r.top}; };
  const struct { std::vector<WindowEvent> events; std::optional<int> answer; } cases[] = {
      {{spaceDown, spaceUp}, IDOK},
      {{tab, spaceDown, spaceUp}, IDCANCEL},
      {{tab, tab, spaceDown, spaceUp}, IDOK},
      {{backTab, spaceDown, spaceUp}, IDCANCEL},
      {{spaceUp}, std::nullopt},
      {{{T::kKeyDown, 0, 0, WindowKey::kEnter}, {T::kKeyUp, 0, 0, WindowKey::kEnter}}, std::nullopt},
      {{{T::kKeyDown, 0, 0, WindowKey::kEscape}}, IDCANCEL},
      {{{T::kClose}}, IDCANCEL},
      {{{T::kLost}}, IDCANCEL},
      {{at(T::kMouseDown, layout.cancelButton), at(T::kMouseUp, layout.cancelButton)}, IDCANCEL},
      {{at(T::kMouseDown, layout.orderButton), at(T::kMouseUp, layout.cancelButton)}, std::nullopt},
      {{at(T::kMouseDown, layout.orderButton), {T::kMouseUp, 0, 0}}, std::nullopt},
      {{{T::kMouseDown, 10, 10}, at(T::kMouseUp, layout.orderButton)}, std::nullopt},
      {{spaceDown, at(T::kMouseUp, layout.orderButton), spaceUp}, IDOK},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    DialogInput input = MakeConfirmInput(layout);
    std::optional<int> answer;
    for (const auto& e : cases[i].events) {
      if (!answer) answer = input.OnEvent(e);
    }
    EXPECT_EQ(answer, cases[i].answer) << "case " << i;
  }
  DialogInput yesNo({{IDYES, layout.orderButton}, {IDNO, layout.cancelButton}}, 0, IDNO);
  EXPECT_EQ(yesNo.OnEvent({T::kKeyDown, 0, 0, WindowKey::kEscape}), std::nullopt);
  EXPECT_EQ(yesNo.OnEvent({T::kClose}), std::nullopt);
  EXPECT_EQ(yesNo.OnEvent({T::kLost}), IDNO);
}

}  // namespace
}  // namespace kdx
