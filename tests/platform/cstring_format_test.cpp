#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/cstring.h"
#include "platform/cstring_rows.h"

namespace kdx {
namespace {

using test::Check;
using test::Row;

enum class Side { Buy = 1, Sell = 2 };

TEST(CStringFormat, Integers) {
  Check({
      {"I64d min", FormatString(u"%I64d", std::numeric_limits<int64_t>::min()), u"-9223372036854775808"},
      {"d of uint64 max", FormatString(u"%d", std::numeric_limits<uint64_t>::max()), u"18446744073709551615"},
      {"modifiers ignored", FormatString(u"%ld %lld %hd %hhd %I32d %Id %zd", 1, 2, 3, 4, 5, 6, 7),
       u"1 2 3 4 5 6 7"},
      {"width", FormatString(u"[%5d]", 42), u"[   42]"},     {"left", FormatString(u"[%-5d]", 42), u"[42   ]"},
      {"zero pad", FormatString(u"%05d", 42), u"00042"},
      {"zero pad negative", FormatString(u"%05d", -42), u"-0042"},
      {"zero ignored with left", FormatString(u"[%-05d]", 42), u"[42   ]"},
      {"plus", FormatString(u"%+d %+d", 42, -1), u"+42 -1"}, {"precision", FormatString(u"%.3d", 7), u"007"},
      {"width and precision", FormatString(u"[%5.3d]", -7), u"[ -007]"},
      {"zero ignored with precision", FormatString(u"[%05.3d]", 7), u"[  007]"},
      {"zero precision of zero", FormatString(u"[%.0d]", 0), u"[]"},
      {"u and x of negatives", FormatString(u"%u %x", -1, static_cast<signed char>(-1)), u"4294967295 ff"},
      {"x", FormatString(u"%x %X %.2x", 255, 255, uint8_t{5}), u"ff FF 05"},
      {"alt x", FormatString(u"%#x %#X %#x", 255, 255, 0), u"0xff 0XFF 0"},
      {"alt x zero pad", FormatString(u"%#06x", 255), u"0x00ff"},
      {"o", FormatString(u"%o %#o %#o", 8, 8, 0), u"10 010 0"},
      {"bool, enum, char16_t", FormatString(u"%d%d %d %d", true, false, Side::Sell, u'A'), u"10 2 65"},
  });
}

TEST(CStringFormat, TextAndCharacters) {
  const CString cs(u"委託");
  Check({
      {"text forms", FormatString(u"%s|%s|%s|%s", cs, u"lit", std::u16string(u"成功"), std::u16string_view(u"abc")),
       u"委託|lit|成功|abc"},
      {"null pointer", FormatString(u"[%s]", static_cast<const char16_t*>(nullptr)), u"[]"},
      {"left", FormatString(u"[%-5s]", u"ab"), u"[ab   ]"},
      {"zero flag pads with spaces", FormatString(u"[%05s]", u"ab"), u"[   ab]"},
      {"precision and width", FormatString(u"[%4.2s]", u"委託成功"), u"[  委託]"},
      {"modifiers ignored", FormatString(u"%ls%hs%S%ws", u"a", u"b", u"c", u"d"), u"abcd"},
      {"c", FormatString(u"%c%c%C%c", u'委', 65, u'z', 'q'), u"委Azq"},
      {"c width", FormatString(u"[%3c][%-3c]", u'x', u'y'), u"[  x][y  ]"},
      {"percent", FormatString(u"100%% %%d %d", 5), u"100% %d 5"},
  });
}

TEST(CStringFormat, RealsRoundLikePrintf) {
  Check({
      {"f", FormatString(u"%f", 1.5), u"1.500000"},
      {"exact half to even", FormatString(u"%.0f %.0f %.0f", 0.5, 1.5, 2.5), u"0 2 2"},
      {"flags", FormatString(u"%+08.2f|%-6.1f|", 3.14159, -2.0), u"+0003.14|-2.0  |"},
      {"integer argument", FormatString(u"%.1f", 3), u"3.0"},
      {"float argument", FormatString(u"%.2f", 0.25f), u"0.25"},
      {"modifier ignored", FormatString(u"%lf %Lf", 0.5, 0.25), u"0.500000 0.250000"},
      {"e and g", FormatString(u"%e %g %G", 12345.678, 0.0001, 1e-10), u"1.234568e+04 0.0001 1E-10"},
      {"double to d truncates", FormatString(u"%d %d %x", 3.99, -3.99, 255.9), u"3 -3 ff"},
  });
}

// A conversion without a fitting argument writes nothing, and still uses its argument.
TEST(CStringFormat, MismatchedMissingAndOddDirectives) {
  Check({
      {"d given text", FormatString(u"[%d]", u"abc"), u"[]"},
      {"no padding either", FormatString(u"[%5d]", u"abc"), u"[]"},
      {"s given number", FormatString(u"[%s]", 5), u"[]"},      {"s given char", FormatString(u"[%s]", u'x'), u"[]"},
      {"c given double", FormatString(u"[%c]", 1.5), u"[]"},    {"c given text", FormatString(u"[%c]", u"x"), u"[]"},
      {"f given text", FormatString(u"[%f]", u"1.5"), u"[]"},
      {"d given NaN", FormatString(u"[%d]", std::nan("")), u"[]"},
      {"d given huge double", FormatString(u"[%d]", 1e30), u"[]"},
      {"mismatch uses its argument", FormatString(u"%d|%s", u"x", u"y"), u"|y"},
      {"missing", FormatString(u"%d and %s.", 5), u"5 and ."}, {"none at all", FormatString(u"[%s][%d]"), u"[][]"},
      {"extra ignored", FormatString(u"%d", 1, 2, u"three"), u"1"},
      {"unknown kept", FormatString(u"%q%d", 5), u"%q5"},      {"%n never writes", FormatString(u"%n%d", 5), u"%n5"},
      {"star unsupported", FormatString(u"%*d", 5), u"%*d"},   {"lone percent at end", FormatString(u"abc%"), u"abc%"},
      {"cut short", FormatString(u"abc%-5.2l", 1), u"abc%-5.2l"},
      {"null format", FormatString(static_cast<const char16_t*>(nullptr), 1), u""},
  });
}

// Width and precision are bounded, so a hostile format cannot allocate gigabytes.
TEST(CStringFormat, FieldSizesAreBounded) {
  EXPECT_EQ(FormatString(u"%99999999999d", 1).GetLength(), 4096);
  EXPECT_EQ(FormatString(u"%.99999999999d", 1).GetLength(), 4096);
  EXPECT_EQ(FormatString(u"%.4096f", 1e308).GetLength(), 309 + 1 + 4096);
}

}  // namespace
}  // namespace kdx
