#include "platform/cstring.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <wctype.h>

#include <climits>
#include <functional>
#include <unordered_map>
#include <vector>

#include "platform/codepage.h"

namespace kdx {

void PrintTo(const CString& s, std::ostream* os) { *os << '"' << s.ToUtf8() << '"'; }

namespace {

using Op = std::function<CString(CString)>;

struct EditCase {
  const char* name;
  const char16_t* text;
  Op op;
  const char16_t* expected;
};

void RunEdits(const std::vector<EditCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.op(CString(c.text)), CString(c.expected));
  }
}

TEST(CString, ExtractionClampsLikeMfc) {
  RunEdits({
      {"Left negative", u"abcdef", [](CString s) { return s.Left(-1); }, u""},
      {"Left part", u"abcdef", [](CString s) { return s.Left(3); }, u"abc"},
      {"Left past end", u"abcdef", [](CString s) { return s.Left(99); }, u"abcdef"},
      {"Mid negative first", u"abcdef", [](CString s) { return s.Mid(-2); }, u"abcdef"},
      {"Mid INT_MIN", u"abcdef", [](CString s) { return s.Mid(INT_MIN); }, u"abcdef"},
      {"Mid tail", u"abcdef", [](CString s) { return s.Mid(2); }, u"cdef"},
      {"Mid INT_MAX", u"abcdef", [](CString s) { return s.Mid(INT_MAX); }, u""},
      {"Mid count", u"abcdef", [](CString s) { return s.Mid(2, 3); }, u"cde"},
      {"Mid negative first with count", u"abcdef", [](CString s) { return s.Mid(-1, 3); }, u"abc"},
      {"Mid count past end", u"abcdef", [](CString s) { return s.Mid(4, 99); }, u"ef"},
      {"Mid negative count", u"abcdef", [](CString s) { return s.Mid(2, -1); }, u""},
      {"Mid first past end", u"abcdef", [](CString s) { return s.Mid(7, 2); }, u""},
      {"Mid overflowing sum", u"abcdef", [](CString s) { return s.Mid(1, INT_MAX); }, u"bcdef"},
      {"Mid both huge", u"abcdef", [](CString s) { return s.Mid(INT_MAX, INT_MAX); }, u""},
      {"Mid Chinese", u"委託成功", [](CString s) { return s.Mid(1, 2); }, u"託成"},
      {"Right part", u"abcdef", [](CString s) { return s.Right(2); }, u"ef"},
      {"Right negative", u"abcdef", [](CString s) { return s.Right(-1); }, u""},
      {"SpanIncluding", u"abcdef", [](CString s) { return s.SpanIncluding(u"bax"); }, u"ab"},
      {"SpanIncluding empty set", u"abcdef", [](CString s) { return s.SpanIncluding(u""); }, u""},
      {"SpanExcluding", u"abcdef", [](CString s) { return s.SpanExcluding(u"dx"); }, u"abc"},
      {"SpanExcluding null set", u"abcdef", [](CString s) { return s.SpanExcluding(nullptr); }, u"abcdef"},
  });
}

TEST(CString, FindFamily) {
  struct Row {
    const char* name;
    int got;
    int expected;
  };
  const CString s(u"abcabc"), zh(u"委託成功委託");
  const Row rows[] = {
      {"char", s.Find(u'c'), 2},
      {"char from start", s.Find(u'c', 3), 5},
      {"char at last index", s.Find(u'c', 5), 5},
      {"char start at length", s.Find(u'a', 6), -1},
      {"char negative start", s.Find(u'a', -1), -1},
      {"char NUL", s.Find(u'\0'), -1},
      {"text", s.Find(u"ca"), 2},
      {"text from start", s.Find(u"bc", 2), 4},
      {"text start at length", s.Find(u"c", 6), -1},
      {"text past end", s.Find(u"abc", 7), -1},
      {"text negative start", s.Find(u"a", -1), -1},
      {"empty text gives start", s.Find(u"", 3), 3},
      {"empty text at length", s.Find(u"", 6), 6},
      {"empty text past end", s.Find(u"", 7), -1},
      {"null text gives start", s.Find(static_cast<const char16_t*>(nullptr), 1), 1},
      {"Chinese text", zh.Find(u"成功"), 2},
      {"Chinese text from start", zh.Find(u"委託", 1), 4},
      {"ReverseFind", s.ReverseFind(u'a'), 3},
      {"ReverseFind absent", s.ReverseFind(u'z'), -1},
      {"ReverseFind NUL", s.ReverseFind(u'\0'), -1},
      {"ReverseFind empty", CString().ReverseFind(u'a'), -1},
      {"FindOneOf", s.FindOneOf(u"xc"), 2},
      {"FindOneOf empty set", s.FindOneOf(u""), -1},
  };
  for (const auto& r : rows) EXPECT_EQ(r.got, r.expected) << r.name;
}

TEST(CString, TokenizeWalksAndEnds) {
  struct Row {
    const char16_t* text;
    const char16_t* delimiters;
    int start;
    const char* expected;  // "token:start " per call, until start is -1
  };
  const Row rows[] = {
      {u"a,b;;c", u",;", 0, "a:2 b:4 c:7 :-1 "},
      {u",,a,,", u",", 0, "a:4 :-1 "},
      {u"a,b", u",", 2, "b:4 :-1 "},
      {u"", u",", 0, ":-1 "},
      {u",,,", u",", 0, ":-1 "},
      {u"abc", u",", -5, ":-1 "},
      {u"abc", u",", 99, ":-1 "},
      {u"abc", u"", 1, "bc:4 :-1 "},  // no delimiters: the rest, then the end
      {u"委託,成功", u",", 0, "委託:3 成功:6 :-1 "},
  };
  for (const auto& r : rows) {
    const CString s(r.text);
    int start = r.start;
    std::string log;
    for (int call = 0; call < 10; ++call) {
      const CString token = s.Tokenize(r.delimiters, start);
      log += token.ToUtf8() + ":" + std::to_string(start) + " ";
      if (start == -1) break;
    }
    EXPECT_EQ(log, r.expected) << CString(r.text).ToUtf8();
  }
}

TEST(CString, TrimSets) {
  RunEdits({
      {"white space", u" \t\r\n\v\fab c\u3000\u00A0\u2003", [](CString s) { return s.Trim(); }, u"ab c"},
      {"left", u"  a  ", [](CString s) { return s.TrimLeft(); }, u"a  "},
      {"right", u"  a  ", [](CString s) { return s.TrimRight(); }, u"  a"},
      {"zero-width space is no space", u"\u200Ba", [](CString s) { return s.Trim(); }, u"\u200Ba"},
      {"char", u"xxaxbxx", [](CString s) { return s.Trim(u'x'); }, u"axb"},
      {"char right", u"xxaxbxx", [](CString s) { return s.TrimRight(u'x'); }, u"xxaxb"},
      {"set", u"xyaxyb yx", [](CString s) { return s.Trim(u"xy"); }, u"axyb "},
      {"set right", u"12.500", [](CString s) { return s.TrimRight(u"0").TrimRight(u"."); }, u"12.5"},
      {"set right to dot", u"16.000", [](CString s) { return s.TrimRight(u"0").TrimRight(u"."); }, u"16"},
      {"empty set", u" a ", [](CString s) { return s.Trim(u""); }, u" a "},
      {"null set", u" a ", [](CString s) { return s.Trim(static_cast<const char16_t*>(nullptr)); }, u" a "},
      {"Chinese set", u"「委託」", [](CString s) { return s.Trim(u"「」"); }, u"委託"},
  });
}

TEST(CString, ReplaceAndRemoveCount) {
  struct Row {
    const char16_t* text;
    const char16_t* from;
    const char16_t* to;
    const char16_t* expected;
    int count;
  };
  const Row rows[] = {
      {u"aaa", u"aa", u"x", u"xa", 1},
      {u"aaaa", u"aa", u"x", u"xx", 2},
      {u"abab", u"ab", u"", u"", 2},
      {u"aa", u"a", u"aa", u"aaaa", 2},
      {u"abc", u"", u"x", u"abc", 0},
      {u"abc", nullptr, u"x", u"abc", 0},
      {u"abc", u"z", u"x", u"abc", 0},
      {u"abc", u"b", nullptr, u"ac", 1},
      {u"a,b,c", u",", u"%$&", u"a%$&b%$&c", 2},
      {u"%$&x%$&", u"%$&", u",", u",x,", 2},
      {u"委託委託", u"委託", u"成功", u"成功成功", 2},
  };
  for (const auto& r : rows) {
    CString s(r.text);
    EXPECT_EQ(s.Replace(r.from, r.to), r.count) << CString(r.text).ToUtf8();
    EXPECT_EQ(s, r.expected);
  }
  CString s(u"banana");
  EXPECT_EQ(s.Replace(u'a', u'a'), 0);
  EXPECT_EQ(s.Replace(u'a', u'o'), 3);
  EXPECT_EQ(s, u"bonono");
  EXPECT_EQ(s.Remove(u'o'), 3);
  EXPECT_EQ(s, u"bnn");
  EXPECT_EQ(s.Remove(u'z'), 0);
}

TEST(CString, InsertDeleteTruncateClamp) {
  struct Row {
    const char* name;
    std::function<int(CString&)> op;
    const char16_t* expected;
    int result;  // returned length; -1 for Truncate
  };
  const Row rows[] = {
      {"insert before start", [](CString& s) { return s.Insert(-5, u"x"); }, u"xabc", 4},
      {"insert past end", [](CString& s) { return s.Insert(99, u"xy"); }, u"abcxy", 5},
      {"insert null", [](CString& s) { return s.Insert(1, static_cast<const char16_t*>(nullptr)); }, u"abc", 3},
      {"delete one", [](CString& s) { return s.Delete(1); }, u"ac", 2},
      {"delete negative index", [](CString& s) { return s.Delete(-1, 2); }, u"c", 1},
      {"delete past end", [](CString& s) { return s.Delete(2, 99); }, u"ab", 2},
      {"delete index past end", [](CString& s) { return s.Delete(5, 1); }, u"abc", 3},
      {"delete negative count", [](CString& s) { return s.Delete(1, -1); }, u"abc", 3},
      {"delete all", [](CString& s) { return s.Delete(0, INT_MAX); }, u"", 0},
      {"delete huge sum", [](CString& s) { return s.Delete(INT_MAX, INT_MAX); }, u"abc", 3},
      {"truncate", [](CString& s) { s.Truncate(1); return -1; }, u"a", -1},
      {"truncate longer", [](CString& s) { s.Truncate(5); return -1; }, u"abc", -1},
      {"truncate negative", [](CString& s) { s.Truncate(-1); return -1; }, u"abc", -1},
  };
  for (const auto& r : rows) {
    CString s(u"abc");
    EXPECT_EQ(r.op(s), r.result) << r.name;
    EXPECT_EQ(s, r.expected) << r.name;
  }
}

TEST(CString, ConstructionAndIndexing) {
  EXPECT_TRUE(CString(static_cast<const char16_t*>(nullptr)).IsEmpty());
  EXPECT_EQ(CString(u"abc", 2), u"ab");
  EXPECT_TRUE(CString(u"abc", -1).IsEmpty());
  EXPECT_TRUE(CString(nullptr, 5).IsEmpty());
  EXPECT_EQ(CString(u'x', 3), u"xxx");
  EXPECT_TRUE(CString(u'x', -2).IsEmpty());
  CString s(u"委託");
  EXPECT_EQ(s.GetLength(), 2);
  EXPECT_EQ(s.GetAt(1), u'託');
  EXPECT_EQ(s[0], u'委');
  EXPECT_EQ(s.GetAt(-1), 0);
  EXPECT_EQ(s.GetAt(2), 0);
  s.SetAt(2, u'x');
  s.SetAt(-1, u'x');
  s.SetAt(0, u'受');
  EXPECT_EQ(s, u"受託");
  EXPECT_EQ(s.GetString()[2], 0);
}

// The tables are checked against the C library's Unicode case data over the ranges they cover.
TEST(CString, CaseMappingMatchesUnicode) {
  const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  if (!utf8) GTEST_SKIP() << "no C.UTF-8 locale";
  const std::pair<char16_t, char16_t> ranges[] = {{0x0000, 0x017F}, {0x0370, 0x052F}, {0xFF00, 0xFF5F}};
  int checked = 0;
  for (auto [first, last] : ranges) {
    for (char32_t c = first; c <= last; ++c, ++checked) {
      EXPECT_EQ(ToUpperChar(static_cast<char16_t>(c)), static_cast<char16_t>(towupper_l(c, utf8))) << std::hex << static_cast<unsigned>(c);
      EXPECT_EQ(ToLowerChar(static_cast<char16_t>(c)), static_cast<char16_t>(towlower_l(c, utf8))) << std::hex << static_cast<unsigned>(c);
    }
  }
  freelocale(utf8);
  EXPECT_EQ(checked, 0x180 + 0x1C0 + 0x60);
}

TEST(CString, MakeUpperAndLower) {
  RunEdits({
      {"Latin-1 up", u"àéîõüýþÿ µ ß", [](CString s) { return s.MakeUpper(); }, u"ÀÉÎÕÜÝÞŸ Μ ß"},
      {"Extended-A up", u"ĳ ž ı ſ ŉ", [](CString s) { return s.MakeUpper(); }, u"Ĳ Ž I S ŉ"},
      {"Extended-A down", u"Ĳ Ž İ Ÿ", [](CString s) { return s.MakeLower(); }, u"ĳ ž i ÿ"},
      {"Greek down", u"ΑΒΓ ϴ Σ", [](CString s) { return s.MakeLower(); }, u"αβγ θ σ"},
      {"full-width", u"ＡＢＣａｂｃ", [](CString s) { return s.MakeLower(); }, u"ａｂｃａｂｃ"},
      {"Chinese untouched", u"roc委託a1", [](CString s) { return s.MakeUpper(); }, u"ROC委託A1"},
  });
}

TEST(CString, CompareAndCompareNoCase) {
  struct Row {
    const char16_t* a;
    const char16_t* b;
    int compare;
    int noCase;
  };
  const Row rows[] = {
      {u"abc", u"abc", 0, 0},       {u"abc", u"ABC", 1, 0},       {u"abc", u"abd", -1, -1},
      {u"ab", u"abc", -1, -1},      {u"", u"", 0, 0},             {u"", nullptr, 0, 0},
      {u"Ä", u"ä", -1, 0},          {u"ΑΒΓ", u"αβγ", -1, 0},      {u"ＡＢＣ", u"ａｂｃ", -1, 0},
      {u"_", u"A", 1, -1},          {u"委託", u"委託", 0, 0},      {u"委", u"託", -1, -1},
      {u"\uFFFF", u"a", 1, 1},      {u"rocid", u"ROCID2", 1, -1},
  };
  for (const auto& r : rows) {
    const CString a(r.a);
    EXPECT_EQ(a.Compare(r.b), r.compare) << a.ToUtf8() << " / " << CString(r.b).ToUtf8();
    EXPECT_EQ(a.CompareNoCase(r.b), r.noCase) << a.ToUtf8() << " / " << CString(r.b).ToUtf8();
  }
}

TEST(CString, OperatorsAcceptEveryTextForm) {
  const CString s(u"ab");
  const std::u16string u(u"ab");
  const std::u16string_view v(u"ab");
  const char16_t* p = u"ab";
  EXPECT_TRUE(s == CString(u"ab") && s == p && s == u && s == v && s == u"ab");
  EXPECT_TRUE(p == s && u == s && v == s && u"ab" == s);
  EXPECT_TRUE(s != u"abc" && u"b" != s && s != static_cast<const char16_t*>(nullptr));
  EXPECT_TRUE(CString() == static_cast<const char16_t*>(nullptr));
  EXPECT_TRUE(s < u"b" && u"a" < s && s < std::u16string(u"abc") && !(s < v) && s < CString(u"b"));
  EXPECT_EQ(s + s, u"abab");
  EXPECT_EQ(s + u"c" + u'd', u"abcd");
  EXPECT_EQ(u"x" + s, u"xab");
  EXPECT_EQ(u'x' + s, u"xab");
  EXPECT_EQ(u + s + v, u"ababab");
  EXPECT_EQ(s + static_cast<const char16_t*>(nullptr), u"ab");
  CString t;
  t += s;
  t += u"-";
  t += u;
  t += v;
  t += u'!';
  t += static_cast<const char16_t*>(nullptr);
  EXPECT_EQ(t, u"ab-abab!");
  std::unordered_map<CString, int> map{{CString(u"委託"), 1}, {CString(u"成功"), 2}};
  EXPECT_EQ(map.at(CString(u"成功")), 2);
  EXPECT_EQ(map.count(CString(u"委")), 0u);
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

TEST(CString, Utf8AndAnsiRoundTrips) {
  struct Row {
    const char16_t* text;
    std::string utf8;
    std::string big5;
  };
  const Row rows[] = {
      {u"委託成功", "\xE5\xA7\x94\xE8\xA8\x97\xE6\x88\x90\xE5\x8A\x9F", "\xA9\x65\xB0\x55\xA6\xA8\xA5\x5C"},
      {u"TXO 平盤價", "TXO \xE5\xB9\xB3\xE7\x9B\xA4\xE5\x83\xB9", "TXO \xA5\xAD\xBD\x4C\xBB\xF9"},
      {u"", "", ""},
  };
  ASSERT_EQ(AnsiCodePage(), 950u);
  for (const auto& r : rows) {
    const CString text(r.text);
    EXPECT_EQ(text.ToUtf8(), r.utf8);
    EXPECT_EQ(CString::FromUtf8(r.utf8), text);
    EXPECT_EQ(text.ToAnsi(), r.big5);
    EXPECT_EQ(CString::FromAnsi(r.big5), text);
  }
  EXPECT_EQ(CString::FromUtf8("a\xE5\xA7"), u"a\uFFFD\uFFFD");
  EXPECT_EQ(CString(u"\u0E01").ToAnsi(), "?");
}

}  // namespace
}  // namespace kdx
