#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace kdx {
namespace {

struct Utf8Case {
  const char* name;
  std::string bytes;
  std::u16string text;
  friend void PrintTo(const Utf8Case& c, std::ostream* os) { *os << c.name; }
};

class Utf8Decode : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Decode, MatchesWindowsReplacementRules) {
  const auto& c = GetParam();
  EXPECT_EQ(MultiByteToWide(CP_UTF8, c.bytes), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Decode,
    ::testing::Values(Utf8Case{"ascii", "ab", u"ab"},
                      Utf8Case{"chinese", "\xE5\xA7\x94\xE8\xA8\x97", u"委託"},
                      Utf8Case{"astral", "\xF0\x9F\x98\x80", u"\U0001F600"},
                      Utf8Case{"truncated", "a\xE5\xA7", u"a\uFFFD\uFFFD"},
                      Utf8Case{"overlong", "\xC0\xAF", u"\uFFFD\uFFFD"},
                      Utf8Case{"surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
                      Utf8Case{"stray continuation", "\x80x", u"\uFFFDx"},
                      Utf8Case{"empty", "", u""}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (auto& ch : n) if (ch == ' ') ch = '_';
      return n;
    });

TEST(CodePage, AnsiDefaultsToBig5AndRoundTrips) {
  EXPECT_EQ(AnsiCodePage(), 950u);
  const std::u16string text = u"委託成功";
  const std::string big5 = WideToMultiByte(CP_ACP, text);
  EXPECT_EQ(big5, "\xA9\x65\xB0\x55\xA6\xA8\xA5\x5C");
  EXPECT_EQ(MultiByteToWide(CP_ACP, big5), text);
}

TEST(CodePage, SettableAnsiCodePage) {
  SetAnsiCodePage(936);
  EXPECT_EQ(MultiByteToWide(CP_ACP, "\xCE\xAF\xCD\xD0"), u"委托");
  SetAnsiCodePage(950);
  EXPECT_EQ(WideToMultiByte(CP_ACP, u"\u0E01"), "?");  // Thai has no Big5 form
}

TEST(CodePage, Utf16ToUtf8ReplacesLoneSurrogates) {
  EXPECT_EQ(WideToMultiByte(CP_UTF8, std::u16string(u"a") + char16_t(0xD800) + u"b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace kdx
