#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace kdx {
namespace {

// The last row is past U+10FFFF.
TEST(CodePage, Utf8FollowsWindowsReplacementRules) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"a\xE5\xA7", u"a\uFFFD\uFFFD"}, {"\x84\x80\x80\x80x", u"\uFFFD\uFFFD\uFFFD\uFFFDx"},  // cut short, strays
      {"\xC0\xAF", u"\uFFFD\uFFFD"},            {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},  // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // a surrogate
      {"\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF", u"\u0080\u07FF\u0800\uFFFF"},  // each length's first and last
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF"}, {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}};
  for (const auto& [bytes, text] : cases) {
    EXPECT_EQ(MultiByteToWide(CP_UTF8, bytes), text) << bytes;
    if (text.find(u'\uFFFD') == std::u16string::npos) { EXPECT_EQ(Utf16ToUtf8(text), bytes); }
  }
  EXPECT_EQ(WideToMultiByte(CP_UTF8, u"a\xD800" u"b\xDFFF"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");  // lone surrogates
}

// Thai has no Big5 form; a lead byte alone is no character.
TEST(CodePage, AnsiIsBig5UnlessSetOtherwise) {
  const std::string big5 = "\xA9\x65\xB0\x55\xA6\xA8\xA5\x5C";
  EXPECT_TRUE(AnsiCodePage() == 950u && WideToMultiByte(CP_ACP, u"委託成功") == big5);
  EXPECT_EQ(MultiByteToWide(CP_ACP, big5) + MultiByteToWide(CP_ACP, "\xA4"), u"委託成功\uFFFD");
  EXPECT_EQ(WideToMultiByte(CP_ACP, u"\u0E01"), "?");
  SetAnsiCodePage(936);
  EXPECT_EQ(MultiByteToWide(CP_ACP, "\xCE\xAF\xCD\xD0"), u"委托");
  SetAnsiCodePage(CP_ACP);
  EXPECT_FALSE(TryMultiByteToWide(12345, "x") || TryWideToMultiByte(12345, u"x"));  // no converter
}

// KDX_ANSI_CODEPAGE is read once per process, so each value is tried in a fresh one; there
// CP_ACP restores it after a host's setting.
TEST(CodePage, AnsiCodePageFromTheEnvironment) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const auto& [value, expected] : {std::pair{"936", "936"}, {"65001", "65001"}, {"936x", "950"}, {"0", "950"},
                                        {"99999", "950"}, {"4295033801", "950"}}) {  // the last is 65001 wrapped
    setenv("KDX_ANSI_CODEPAGE", value, 1);
    EXPECT_EXIT((SetAnsiCodePage(1252), SetAnsiCodePage(CP_ACP), std::fprintf(stderr, "cp=%u;", AnsiCodePage()),
                 std::exit(0)), ::testing::ExitedWithCode(0), std::string("cp=") + expected + ";") << value;
  }
  unsetenv("KDX_ANSI_CODEPAGE");
}

}  // namespace
}  // namespace kdx
