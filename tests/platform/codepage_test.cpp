#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace kdx {
namespace {

TEST(CodePage, Utf8DecodingFollowsWindowsReplacementRules) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"\xE5\xA7\x94\xE8\xA8\x97", u"委託"}, {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"a\xE5\xA7", u"a\uFFFD\uFFFD"},       // truncated
      {"\xC0\xAF", u"\uFFFD\uFFFD"},         // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // surrogate
      {"\x80x", u"\uFFFDx"},                 // stray continuation
      {"", u""},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(MultiByteToWide(CP_UTF8, bytes), text) << bytes;
}

TEST(CodePage, AnsiIsBig5UnlessSetOtherwise) {
  EXPECT_EQ(AnsiCodePage(), 950u);
  const std::u16string text = u"委託成功";
  const std::string big5 = WideToMultiByte(CP_ACP, text);
  EXPECT_EQ(big5, "\xA9\x65\xB0\x55\xA6\xA8\xA5\x5C");
  EXPECT_EQ(MultiByteToWide(CP_ACP, big5), text);
  EXPECT_EQ(WideToMultiByte(CP_ACP, u"\u0E01"), "?");  // Thai has no Big5 form
  SetAnsiCodePage(936);
  EXPECT_EQ(MultiByteToWide(CP_ACP, "\xCE\xAF\xCD\xD0"), u"委托");
  SetAnsiCodePage(950);
}

TEST(CodePage, Utf16ToUtf8ReplacesLoneSurrogates) {
  EXPECT_EQ(WideToMultiByte(CP_UTF8, std::u16string(u"a") + char16_t(0xD800) + u"b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace kdx
