#include "platform/cstring.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <wctype.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <tuple>

#include "platform/codepage.h"

namespace kdx {

inline void PrintTo(const CString& s, std::ostream* os) { *os << '"' << s.ToUtf8() << '"'; }

namespace {

const char16_t* const kNull = nullptr;

// Results computed in the table and the texts they must be.
void Check(std::initializer_list<std::pair<CString, const char16_t*>> rows) {
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows.begin()[i].first, rows.begin()[i].second) << "row " << i;
}

// An edit of `text`: "<what it returned> <the text after>".
template <class Edit>
CString Edited(const char16_t* text, Edit edit) {
  CString s(text), n;
  if constexpr (std::is_void_v<decltype(edit(s))>) edit(s);
  else n.Format(u"%d", edit(s));
  return n + u" " + s;
}
#define EDIT(text, ...) Edited(text, [](CString& e) { return __VA_ARGS__; })

// Each token and the start after it, until start is -1.
CString Tokens(const CString& text, const char16_t* delimiters, int start) {
  CString log;
  for (int call = 0; call < 10 && (call == 0 || start != -1); ++call) {
    log += text.Tokenize(delimiters, start);
    log.AppendFormat(u":%d ", start);
  }
  return log;
}

TEST(CString, EditsExtractsAndTrimsClampLikeMfc) {
  using S = CString;
  using V = std::u16string_view;
  const CString s(u"abcdef");
  Check({
      {s.Left(-1), u""}, {s.Left(3), u"abc"}, {s.Left(99), u"abcdef"}, {s.Mid(-2), u"abcdef"}, {s.Mid(2), u"cdef"},
      {s.Mid(INT_MIN), u"abcdef"}, {s.Mid(INT_MAX), u""}, {s.Mid(2, 3), u"cde"}, {s.Mid(-1, 3), u"abc"},
      {s.Mid(4, 99), u"ef"}, {s.Mid(2, -1), u""}, {s.Mid(7, 2), u""}, {s.Mid(1, INT_MAX), u"bcdef"},
      {s.Mid(INT_MAX, INT_MAX), u""}, {s.Right(2), u"ef"}, {s.Right(-1), u""},
      {EDIT(u"abc", e.Insert(-5, u"x")), u"4 xabc"}, {EDIT(u"abc", e.Insert(99, u'x')), u"4 abcx"},
      {EDIT(u"abc", e.Insert(1, kNull)), u"3 abc"}, {EDIT(u"abc", e.Truncate(1)), u" a"},
      {EDIT(u"abc", e.Truncate(5)), u" abc"}, {EDIT(u"abc", e.Truncate(-1)), u" abc"},
      {EDIT(u"aaa", e.Replace(u"aa", u"x")), u"1 xa"}, {EDIT(u"%$&x%$&", e.Replace(u"%$&", u",")), u"2 ,x,"},
      {EDIT(u"aa", e.Replace(u"a", u"aa")), u"2 aaaa"},
      {EDIT(u"abc", e.Replace(u"", u"x") + e.Replace(u"z", u"x")), u"0 abc"},
      {EDIT(u"banana", e.Replace(u'a', u'o') * 10 + e.Replace(u'o', u'o')), u"30 bonono"},
      // Arguments that point into the string being edited are read before it changes.
      {EDIT(u"abcabc", e.Replace(V(e).substr(0, 2), V(e).substr(2, 4))), u"2 cabcccabcc"},
      {EDIT(u"xyz", e += e, e += V(e).substr(1), 0), u"0 xyzxyzyzxyz"},
      {EDIT(u"ab", e.Format(u"%s-%s", e, e), e.AppendFormat(e, 1)), u" ab-abab-ab"},
      {Tokens(u"a,b;;c", u",;", 0), u"a:2 b:4 c:7 :-1 "}, {Tokens(u",,a,,", u",", 0), u"a:4 :-1 "},
      {Tokens(u"a,b", u",", 2), u"b:4 :-1 "}, {Tokens(u"abc", u",", -5), u":-1 "}, {Tokens(u"abc", u",", 99), u":-1 "},
      {Tokens(u"abc", u"", 1), u"bc:4 :-1 "},  // no delimiters: the rest, then the end
      {S(u" \t\r\n\v\fab c\u3000\u00A0\u2003").Trim(), u"ab c"}, {S(u"  a  ").TrimLeft(), u"a  "},
      {S(u"  a  ").TrimRight(), u"  a"}, {S(u"\u200Ba\x08").Trim(), u"\u200Ba\x08"}, {S(u"xxaxbxx").TrimLeft(u'x'), u"axbxx"},
      {S(u"xxaxbxx").TrimRight(u'x'), u"xxaxb"}, {S(u"àÿ µ ß ı ſ roc委託a1").MakeUpper(), u"ÀŸ Μ ß I S ROC委託A1"},
      {S(kNull) + S(nullptr, 5) + S(u"abc", -1) + S(u'x', -2), u""}, {S(u"abc", 2) + S(u'x', 2), u"abxx"},
      {u'x' + S(u"受") + u'd' + kNull + u"!", u"x受d!"},  // null text is empty text
      {EDIT(u"受", e += u'!', e += kNull, e += S(u"?"), 0), u"0 受!?"},
      // The conversions themselves are tested with the code pages; these use the right ones.
      {S::FromAnsi("TXO \xA5\xAD\xBD\x4C\xBB\xF9"), u"TXO 平盤價"}, {S::FromUtf8("\xE5\xB9\xB3\xE5\xA7"), u"平\uFFFD\uFFFD"},
  });
  EXPECT_EQ(std::tuple(AnsiCodePage(), S(u"TXO 平盤價").ToAnsi(), S(u"平").ToUtf8()),
            std::tuple(950u, std::string("TXO \xA5\xAD\xBD\x4C\xBB\xF9"), std::string("\xE5\xB9\xB3")));
}

TEST(CString, FindAndCompare) {
  const CString s(u"abcabc"), ab(u"ab");
  const std::pair<int, int> rows[] = {
      {s.Find(u'c', 3), 5}, {s.Find(u'c', 5), 5}, {s.Find(u'a', 6), -1}, {s.Find(u'a', -1), -1}, {s.Find(u'\0'), -1},
      {s.Find(u"bc", 2), 4}, {s.Find(u"c", 6), -1}, {s.Find(u"abc", 7), -1}, {s.Find(u"a", -1), -1}, {s.Find(u"", 6), 6},
      {s.Find(u"", 7), -1}, {s.Find(kNull, 1), 1}, {CString().CompareNoCase(kNull), 0}, {ab.CompareNoCase(u"AB"), 0},
      {ab.CompareNoCase(u"aBc"), -1}, {ab.CompareNoCase(u"a"), 1}, {CString(u"Ä").CompareNoCase(u"ä"), 0},
      {CString(u"_").CompareNoCase(u"A"), -1}, {CString(u"\uFFFF").CompareNoCase(u"a"), 1}, {ab.Compare(u"ab"), 0},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(rows[i].first, rows[i].second) << "row " << i;
  EXPECT_TRUE(s != kNull && CString() == kNull && u"ab" < s && s < std::u16string(u"abcabcx"));
}

// The tables are checked against the C library's Unicode case data over the ranges they cover.
TEST(CString, CaseMappingMatchesUnicode) {
  const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  if (!utf8) GTEST_SKIP() << "no C.UTF-8 locale";
  for (auto [first, last] : {std::pair(0x0000, 0x017F), std::pair(0x0370, 0x052F), std::pair(0xFF00, 0xFF5F)})
    for (char16_t c = first; c <= last; ++c)
      EXPECT_TRUE(ToUpperChar(c) == char16_t(towupper_l(c, utf8)) && ToLowerChar(c) == char16_t(towlower_l(c, utf8)))
          << std::hex << int(c);
  freelocale(utf8);
}

enum class Side { Buy = 1, Sell = 2 };

// A conversion without a fitting argument writes nothing, and still uses its argument.
TEST(CStringFormat, Directives) {
  const auto F = [](const char16_t* format, const auto&... args) { return FormatString(format, args...); };
  Check({
      {F(u"%I64d|%d|%ld %hhd %I32d %zd", INT64_MIN, ~uint64_t{0}, 1, 2, 3, 4),
       u"-9223372036854775808|18446744073709551615|1 2 3 4"},
      {F(u"[%5d][%-5d]%05d %05d[%-05d][%05.3d]", 42, 42, 42, -42, 42, 7), u"[   42][42   ]00042 -0042[42   ][  007]"},
      {F(u"%u %x %i %x %X %.2x", -1, static_cast<signed char>(-1), -2, 255, 255, uint8_t{5}), u"4294967295 ff -2 ff FF 05"},
      {F(u"%d%d %d %d %c", true, false, Side::Sell, u'A', u'委'), u"10 2 65 委"},
      {F(u"%s|%s|%s", CString(u"委託"), std::u16string(u"成功"), std::u16string_view(u"abc")), u"委託|成功|abc"},
      {F(u"[%s][%-5s][%05s][%4.2s][%.0s]", kNull, u"ab", u"ab", u"委託成功", u"ab"), u"[][ab   ][   ab][  委託][]"},
      // Exact halves round to even, as printf does.
      {F(u"100%% %%d %d %.0f %.0f %.0f %.3f", 5, 0.5, 1.5, 2.5, 3.14159), u"100% %d 5 0 2 2 3.142"},
      {F(u"%.1f %.1f %.2f %-6.1f|%08.2f", 3, uint64_t{4}, 0.25f, -2.0, -3.14159), u"3.0 4.0 0.25 -2.0  |-0003.14"},
      {F(u"%d %d %x", 3.99, -3.99, 255.9), u"3 -3 ff"},
      {F(u"[%5d][%s%s][%c%c][%f][%d%d]|%s", u"abc", 5, u'x', 1.5, u"x", u"1.5", std::nan(""), 1e30, u"y"),
       u"[][][][][]|y"},
      {F(u"%d and %s.", 5) + F(u"[%d]") + F(u"%d", 1, 2, u"three"), u"5 and .[]1"},
      {F(u"%q%d %n%d %*d", 5, 6, 7) + F(u"abc%") + F(u"abc%-5.2l", 1) + F(kNull, 1), u"%q5 %n6 %*dabc%abc%-5.2l"},
  });
  // Width and precision are bounded, so a hostile format cannot allocate gigabytes.
  EXPECT_EQ(std::tuple(F(u"%99999999999d", 1).GetLength(), F(u"%.99999999999d", 1).GetLength(),
                       F(u"%.4096f", 1e308).GetLength()), std::tuple(4096, 4096, 309 + 1 + 4096));
}

}  // namespace
}  // namespace kdx
