#include "platform/cstring.h"
#include "platform/cstring_rows.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <wctype.h>

#include <climits>
#include <tuple>
#include <type_traits>

#include "platform/codepage.h"

namespace kdx {

namespace {

using test::Check;
using test::Row;

const char16_t* const kNull = nullptr;

TEST(CString, ExtractionClampsLikeMfc) {
  const CString s(u"abcdef");
  Check({
      {"Left negative", s.Left(-1), u""},                {"Left part", s.Left(3), u"abc"},
      {"Left past end", s.Left(99), u"abcdef"},          {"Mid negative first", s.Mid(-2), u"abcdef"},
      {"Mid INT_MIN", s.Mid(INT_MIN), u"abcdef"},        {"Mid tail", s.Mid(2), u"cdef"},
      {"Mid INT_MAX", s.Mid(INT_MAX), u""},              {"Mid count", s.Mid(2, 3), u"cde"},
      {"Mid negative first, count", s.Mid(-1, 3), u"abc"}, {"Mid count past end", s.Mid(4, 99), u"ef"},
      {"Mid negative count", s.Mid(2, -1), u""},         {"Mid first past end", s.Mid(7, 2), u""},
      {"Mid overflowing sum", s.Mid(1, INT_MAX), u"bcdef"}, {"Mid both huge", s.Mid(INT_MAX, INT_MAX), u""},
      {"Right part", s.Right(2), u"ef"},                 {"Right negative", s.Right(-1), u""},
      {"SpanIncluding", s.SpanIncluding(u"bax"), u"ab"}, {"SpanIncluding empty set", s.SpanIncluding(u""), u""},
      {"SpanExcluding", s.SpanExcluding(u"dx"), u"abc"}, {"SpanExcluding null set", s.SpanExcluding(kNull), u"abcdef"},
  });
}

TEST(CString, FindFamily) {
  const CString s(u"abcabc");
  const std::tuple<const char*, int, int> rows[] = {
      {"char from start", s.Find(u'c', 3), 5},      {"char at last index", s.Find(u'c', 5), 5},
      {"char start at length", s.Find(u'a', 6), -1}, {"char negative start", s.Find(u'a', -1), -1},
      {"char NUL", s.Find(u'\0'), -1},              {"text from start", s.Find(u"bc", 2), 4},
      {"text start at length", s.Find(u"c", 6), -1}, {"text past end", s.Find(u"abc", 7), -1},
      {"text negative start", s.Find(u"a", -1), -1}, {"empty text at length", s.Find(u"", 6), 6},
      {"empty text past end", s.Find(u"", 7), -1},  {"null text gives start", s.Find(kNull, 1), 1},
      {"ReverseFind", s.ReverseFind(u'a'), 3},      {"ReverseFind absent", s.ReverseFind(u'z'), -1},
      {"ReverseFind NUL", s.ReverseFind(u'\0'), -1}, {"FindOneOf", s.FindOneOf(u"xc"), 2},
      {"FindOneOf empty set", s.FindOneOf(u""), -1},
  };
  for (const auto& [name, got, expected] : rows) EXPECT_EQ(got, expected) << name;
}

TEST(CString, TokenizeWalksAndEnds) {
  // Text, delimiters, first start, and "token:start " per call until start is -1.
  const std::tuple<const char16_t*, const char16_t*, int, const char*> rows[] = {
      {u"a,b;;c", u",;", 0, "a:2 b:4 c:7 :-1 "}, {u",,a,,", u",", 0, "a:4 :-1 "}, {u"a,b", u",", 2, "b:4 :-1 "},
      {u"", u",", 0, ":-1 "},                    {u",,,", u",", 0, ":-1 "},      {u"abc", u",", -5, ":-1 "},
      {u"abc", u",", 99, ":-1 "},
      {u"abc", u"", 1, "bc:4 :-1 "},  // no delimiters: the rest, then the end
  };
  for (const auto& [text, delimiters, first, expected] : rows) {
    int start = first;
    std::string log;
    for (int call = 0; call < 10 && (call == 0 || start != -1); ++call) {
      log += CString(text).Tokenize(delimiters, start).ToUtf8();
      log += ":" + std::to_string(start) + " ";
    }
    EXPECT_EQ(log, expected) << CString(text).ToUtf8();
  }
}

TEST(CString, TrimSets) {
  using S = CString;
  Check({
      {"white space", S(u" \t\r\n\v\fab c\u3000\u00A0\u2003").Trim(), u"ab c"},
      {"left", S(u"  a  ").TrimLeft(), u"a  "},          {"right", S(u"  a  ").TrimRight(), u"  a"},
      {"zero-width space is no space", S(u"\u200Ba").Trim(), u"\u200Ba"},
      {"char", S(u"xxaxbxx").Trim(u'x'), u"axb"},        {"char right", S(u"xxaxbxx").TrimRight(u'x'), u"xxaxb"},
      {"set", S(u"xyaxyb yx").Trim(u"xy"), u"axyb "},
      {"set right", S(u"16.000").TrimRight(u"0").TrimRight(u"."), u"16"},
      {"null set", S(u" a ").Trim(kNull), u" a "},
  });
}

TEST(CString, ReplaceAndRemoveCount) {
  const std::tuple<const char16_t*, const char16_t*, const char16_t*, const char16_t*, int> rows[] = {
      {u"aaa", u"aa", u"x", u"xa", 1},   {u"abab", u"ab", u"", u"", 2},        {u"aa", u"a", u"aa", u"aaaa", 2},
      {u"abc", u"", u"x", u"abc", 0},    {u"abc", u"z", u"x", u"abc", 0},      {u"abc", u"b", nullptr, u"ac", 1},
      {u"%$&x%$&", u"%$&", u",", u",x,", 2},
  };
  for (const auto& [text, from, to, expected, count] : rows) {
    CString s(text);
    EXPECT_EQ(s.Replace(from, to), count) << CString(text).ToUtf8();
    EXPECT_EQ(s, expected);
  }
  CString s(u"banana");
  EXPECT_EQ(s.Replace(u'a', u'a'), 0);
  EXPECT_EQ(s.Replace(u'a', u'o'), 3);
  EXPECT_EQ(s.Remove(u'o'), 3);
  EXPECT_EQ(s, u"bnn");
  EXPECT_EQ(s.Remove(u'z'), 0);
}

// "<returned length> <text>" after an edit of "abc"; Truncate returns nothing.
template <class Edit>
std::string EditAbc(Edit edit) {
  CString s(u"abc");
  std::string n;
  if constexpr (std::is_void_v<decltype(edit(s))>) edit(s);
  else n = std::to_string(edit(s));
  return n + " " + s.ToUtf8();
}

TEST(CString, InsertDeleteTruncateClamp) {
  const std::tuple<const char*, std::string, const char*> rows[] = {
      {"insert before start", EditAbc([](CString& s) { return s.Insert(-5, u"x"); }), "4 xabc"},
      {"insert past end", EditAbc([](CString& s) { return s.Insert(99, u"xy"); }), "5 abcxy"},
      {"insert null", EditAbc([](CString& s) { return s.Insert(1, kNull); }), "3 abc"},
      {"delete one", EditAbc([](CString& s) { return s.Delete(1); }), "2 ac"},
      {"delete negative index", EditAbc([](CString& s) { return s.Delete(-1, 2); }), "1 c"},
      {"delete past end", EditAbc([](CString& s) { return s.Delete(2, 99); }), "2 ab"},
      {"delete index past end", EditAbc([](CString& s) { return s.Delete(5, 1); }), "3 abc"},
      {"delete negative count", EditAbc([](CString& s) { return s.Delete(1, -1); }), "3 abc"},
      {"delete huge sum", EditAbc([](CString& s) { return s.Delete(INT_MAX, INT_MAX); }), "3 abc"},
      {"truncate", EditAbc([](CString& s) { s.Truncate(1); }), " a"},
      {"truncate longer", EditAbc([](CString& s) { s.Truncate(5); }), " abc"},
      {"truncate negative", EditAbc([](CString& s) { s.Truncate(-1); }), " abc"},
  };
  for (const auto& [name, got, expected] : rows) EXPECT_EQ(got, expected) << name;
}

TEST(CString, ConstructionIndexingAndOperatorsIgnoreWhatIsOutOfRange) {
  EXPECT_TRUE(CString(kNull).IsEmpty() && CString(nullptr, 5).IsEmpty() && CString(u"abc", -1).IsEmpty() &&
              CString(u'x', -2).IsEmpty());
  EXPECT_EQ(CString(u"abc", 2), u"ab");
  CString s(u"委託");
  EXPECT_EQ(s.GetAt(-1), 0);
  EXPECT_EQ(s.GetAt(2), 0);
  s.SetAt(2, u'x');
  s.SetAt(-1, u'x');
  s.SetAt(0, u'受');
  EXPECT_EQ(s, u"受託");
  EXPECT_EQ(s.GetString()[2], 0);
  // Operators take null text as empty text, and single characters.
  EXPECT_TRUE(s != kNull && CString() == kNull && u"受" < s && s < std::u16string(u"受託x"));
  EXPECT_EQ(u'x' + s + u'd' + kNull + u"!", u"x受託d!");
  s += u'!';
  s += kNull;
  EXPECT_EQ(s, u"受託!");
}

// The tables are checked against the C library's Unicode case data over the ranges they cover.
TEST(CString, CaseMappingMatchesUnicode) {
  const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  if (!utf8) GTEST_SKIP() << "no C.UTF-8 locale";
  for (auto [first, last] : {std::pair(0x0000, 0x017F), std::pair(0x0370, 0x052F), std::pair(0xFF00, 0xFF5F)}) {
    for (int c = first; c <= last; ++c) {
      const auto ch = static_cast<char16_t>(c);
      EXPECT_EQ(ToUpperChar(ch), static_cast<char16_t>(towupper_l(ch, utf8))) << std::hex << c;
      EXPECT_EQ(ToLowerChar(ch), static_cast<char16_t>(towlower_l(ch, utf8))) << std::hex << c;
    }
  }
  freelocale(utf8);
}

// The special cases hold even where the test above is skipped.
TEST(CString, MakeUpperAndLower) {
  CString up(u"àÿ µ ß ı ſ ŉ roc委託a1"), down(u"Ĳ İ Ÿ ΑΣ ϴ ＡＢ");
  EXPECT_EQ(up.MakeUpper(), u"ÀŸ Μ ß I S ŉ ROC委託A1");
  EXPECT_EQ(down.MakeLower(), u"ĳ i ÿ ασ θ ａｂ");
}

TEST(CString, CompareAndCompareNoCase) {
  const std::tuple<const char16_t*, const char16_t*, int, int> rows[] = {
      {u"abc", u"ABC", 1, 0}, {u"ab", u"abc", -1, -1}, {u"", nullptr, 0, 0},       {u"Ä", u"ä", -1, 0},
      {u"_", u"A", 1, -1},    {u"\uFFFF", u"a", 1, 1}, {u"rocid", u"ROCID2", 1, -1},
  };
  for (const auto& [a, b, compare, noCase] : rows) {
    EXPECT_EQ(CString(a).Compare(b), compare) << CString(a).ToUtf8() << " / " << CString(b).ToUtf8();
    EXPECT_EQ(CString(a).CompareNoCase(b), noCase) << CString(a).ToUtf8() << " / " << CString(b).ToUtf8();
  }
}

// Arguments that point into the string being edited are read before it changes.
TEST(CString, EditsTolerateArgumentsPointingIntoThemselves) {
  CString s(u"aab a");
  s.Trim(std::u16string_view(s).substr(0, 1));
  EXPECT_EQ(s, u"b ");
  s = u"abcabc";
  EXPECT_EQ(s.Replace(std::u16string_view(s).substr(0, 2), std::u16string_view(s).substr(2, 4)), 2);
  EXPECT_EQ(s, u"cabcccabcc");
  s = u"abcdefgh";
  s.Insert(2, std::u16string_view(s).substr(4));
  EXPECT_EQ(s, u"abefghcdefgh");
  s = u"xyz";
  s.Append(s).Append(std::u16string_view(s).substr(1));
  EXPECT_EQ(s, u"xyzxyzyzxyz");
  s = u"ab";
  s.Format(u"%s-%s", s, s);
  EXPECT_EQ(s, u"ab-ab");
  s.AppendFormat(s, 1);
  EXPECT_EQ(s, u"ab-abab-ab");
}

// The conversions themselves are tested with the code pages; these use the right ones.
TEST(CString, Utf8AndAnsiConversions) {
  ASSERT_EQ(AnsiCodePage(), 950u);
  EXPECT_EQ(CString(u"TXO 平盤價").ToAnsi(), "TXO \xA5\xAD\xBD\x4C\xBB\xF9");
  EXPECT_EQ(CString::FromAnsi("TXO \xA5\xAD\xBD\x4C\xBB\xF9"), u"TXO 平盤價");
  EXPECT_EQ(CString(u"平").ToUtf8(), "\xE5\xB9\xB3");
  EXPECT_EQ(CString::FromUtf8("\xE5\xB9\xB3\xE5\xA7"), u"平\uFFFD\uFFFD");
}

}  // namespace
}  // namespace kdx
