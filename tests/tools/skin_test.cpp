// The default skin generator: every image the confirmation dialog loads, as a 24-bit BMP of its
// size, the same bytes on every run, and a failure exit when it cannot write.
#include "common/host_util.h"  // first: glib's TRUE and FALSE macros would break the platform's constants
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace kdx::test {

static int MakeSkin(const std::filesystem::path& folder) {
  return std::system(("'" KDX_MAKE_SKIN "' '" + folder.string() + "' 2>/dev/null").c_str());
}

static std::string Bytes(const std::filesystem::path& file) {
  return {std::istreambuf_iterator<char>(std::ifstream(file, std::ios::binary).rdbuf()), {}};
}

TEST(SkinTest, WritesEveryImageAtItsSizeTheSameOnEveryRunOrFails) {
  TempFolder scratch;
  const auto first = scratch.path() / "new" / "folder", second = scratch.path() / "again";
  ASSERT_EQ(MakeSkin(first) | MakeSkin(second), 0);
  const struct { const char* name; int width, height; } images[] = {
      {"ConfirmBackTopOrder.bmp", 293, 95}, {"ConfirmBackTopCancel.bmp", 293, 95},
      {"ConfirmBackTopReduce.bmp", 293, 95}, {"ConfirmBackTopModify.bmp", 293, 95}, {"ConfirmBackTop.bmp", 293, 95},
      {"ConfirmOkUp.bmp", 82, 32}, {"ConfirmOkDown.bmp", 82, 32}, {"ConfirmCancelUp.bmp", 82, 32},
      {"ConfirmCancelDown.bmp", 82, 32}, {"ConfirmBackBottom.bmp", 293, 82}, {"ConfirmBackMiddle.bmp", 293, 30}};
  std::vector<std::string> files;
  for (const auto& image : images) {
    files.push_back(Bytes(first / image.name));
    EXPECT_EQ(files.back(), Bytes(second / image.name)) << image.name;
    EXPECT_TRUE(files.back().size() > 28 && files.back()[28] == 24) << image.name;  // bits per pixel
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file((first / image.name).c_str(), nullptr);
    ASSERT_NE(pixbuf, nullptr) << image.name;
    EXPECT_EQ(gdk_pixbuf_get_width(pixbuf) * 1000 + gdk_pixbuf_get_height(pixbuf), image.width * 1000 + image.height);
    g_object_unref(pixbuf);
  }
  for (int i = 0; i < 5; ++i)
    for (int j = i + 1; j < 5; ++j) EXPECT_NE(files[i], files[j]) << images[i].name << " " << images[j].name;
  EXPECT_TRUE(files[5] != files[6] && files[7] != files[8]);  // each button's up and down states
  std::filesystem::create_directories(scratch.path() / "blocked" / "ConfirmOkUp.bmp");  // where a file must go
  EXPECT_NE(MakeSkin(scratch.path() / "blocked"), 0);
  EXPECT_NE(MakeSkin(first / "ConfirmOkUp.bmp" / "below"), 0);  // a folder inside a file
}

}  // namespace kdx::test
