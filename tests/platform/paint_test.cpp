#include "platform/paint.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/host_util.h"

namespace kdx {
namespace {

namespace fs = std::filesystem;

CBitmap Filled(int width, int height, COLORREF colour) {
  CBitmap bitmap;
  bitmap.CreateCompatibleBitmap(width, height);
  CDC dc;
  dc.SelectObject(&bitmap);
  dc.FillSolidRect({0, 0, width, height}, colour);
  return bitmap;
}

TEST(Paint, BitmapFilesRoundTripAndHostileOnesAreRefused) {
  test::TempFolder folder;
  CBitmap two = Filled(3, 2, RGB(1, 2, 3));  // 3 pixels: rows padded in the file
  CDC dc;
  dc.SelectObject(&two);
  dc.FillSolidRect({2, 1, 3, 2}, RGB(250, 128, 7));
  const std::string good = (folder.path() / "good.bmp").string();
  ASSERT_TRUE(two.SaveBmp(good));
  CBitmap loaded;
  ASSERT_TRUE(loaded.LoadFromFile(good));
  EXPECT_EQ(loaded.Width(), 3);
  EXPECT_EQ(loaded.GetPixel(0, 0), RGB(1, 2, 3));
  EXPECT_EQ(loaded.GetPixel(2, 1), RGB(250, 128, 7));

  // A skin as wide as the limit still loads.
  const std::string widest = (folder.path() / "widest.bmp").string();
  ASSERT_TRUE(Filled(CBitmap::kMaxSide, 1, RGB(9, 9, 9)).SaveBmp(widest));
  ASSERT_TRUE(loaded.LoadFromFile(widest));
  EXPECT_EQ(loaded.Width(), CBitmap::kMaxSide);

  std::string bytes;
  std::ifstream(good, std::ios::binary) >> std::noskipws >> bytes;
  std::string huge = bytes;
  huge[18] = huge[22] = '\x00', huge[20] = huge[24] = '\x01';  // 65536 x 65536
  std::ofstream(folder.path() / "huge.bmp", std::ios::binary) << huge;
  std::ofstream(folder.path() / "cut.bmp", std::ios::binary) << bytes.substr(0, 40);
  std::ofstream(folder.path() / "noise.bmp", std::ios::binary) << "BM not really a bitmap";
  std::ofstream(folder.path() / "big.bmp", std::ios::binary) << bytes;
  fs::resize_file(folder.path() / "big.bmp", CBitmap::kMaxFileBytes + 1);
  for (const char* name : {"huge.bmp", "cut.bmp", "noise.bmp", "big.bmp", "missing.bmp", "."}) {
    EXPECT_FALSE(loaded.LoadFromFile((folder.path() / name).string())) << name;
    EXPECT_TRUE(loaded.IsNull()) << name;
  }
}

TEST(Paint, PatternBrushesTileFromTheOrigin) {
  CBitmap pattern = Filled(2, 1, RGB(255, 0, 0));
  CDC pdc;
  pdc.SelectObject(&pattern);
  pdc.FillSolidRect({1, 0, 2, 1}, RGB(0, 0, 255));
  CBrush brush;
  ASSERT_TRUE(brush.CreatePatternBrush(pattern));
  pdc.FillSolidRect({0, 0, 2, 1}, 0);  // the brush keeps its own copy
  CBitmap target = Filled(8, 2, 0);
  CDC dc;
  dc.SelectObject(&target);
  dc.FillRect({1, 0, 5, 1}, &brush);
  dc.SetViewportOrg(1, 1);
  dc.FillRect({0, 0, 2, 1}, &brush);
  const COLORREF expected[2][6] = {{0, RGB(0, 0, 255), RGB(255, 0, 0), RGB(0, 0, 255), RGB(255, 0, 0), 0},
                                   {0, RGB(255, 0, 0), RGB(0, 0, 255), 0, 0, 0}};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 6; ++x) EXPECT_EQ(target.GetPixel(x, y), expected[y][x]) << x << "," << y;
  }
}

TEST(Paint, TextIsMeasuredWrappedAndClipped) {
  CFont font;
  ASSERT_TRUE(font.CreatePointFont(90, CString(u"Tahoma")));
  CBitmap target = Filled(200, 100, RGB(255, 255, 255));
  CDC dc;
  dc.SelectObject(&target);
  dc.SelectObject(&font);
  const CString text(u"委託價格 limit price for the whole day");
  RECT line{10, 10, 60, 10}, wrapped = line, empty = line;
  const int lineHeight = dc.DrawText(CString(u"價"), &line, DT_CALCRECT);
  const int height = dc.DrawText(text, &wrapped, DT_CALCRECT | DT_WORDBREAK);
  EXPECT_GE(lineHeight, 12);
  EXPECT_GE(height, 3 * lineHeight);
  EXPECT_EQ(wrapped, (RECT{10, 10, 60, 10 + height}));
  EXPECT_EQ(dc.DrawText(CString(), &empty, DT_CALCRECT), 0);
  EXPECT_EQ(target.GetPixel(30, 15), RGB(255, 255, 255));  // measuring draws nothing

  RECT box{10, 10, 60, 10 + lineHeight};
  dc.SetBkMode(TRANSPARENT);
  dc.DrawText(text, &box, DT_WORDBREAK);
  int inside = 0, outside = 0;
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 200; ++x) {
      if (target.GetPixel(x, y) == RGB(255, 255, 255)) continue;
      (x >= 10 && x < 60 && y >= 10 && y < box.bottom ? inside : outside)++;
    }
  }
  EXPECT_GT(inside, 0);
  EXPECT_EQ(outside, 0);
}

}  // namespace
}  // namespace kdx
