#include "record/field_record.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "platform/codepage.h"
#include "sim/record_encoder.h"

static int g_failIn = -1;  // when n >= 0, the n-th allocation from then on fails
void* operator new(std::size_t n) {
  void* p = g_failIn >= 0 && g_failIn-- == 0 ? nullptr : std::malloc(n ? n : 1);
  return p ? p : throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
// Out of line, or the compiler sees free() meet a pointer from new and warns.
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace kdx {
namespace {

using sim::FrameRecord;
using Bytes = const unsigned char*;

// The present fields (strings in UTF-8, "!" when not NUL-terminated), the capacities unless
// the defaults, and where decoding stopped unless at `end`.
std::string Describe(const FieldRecord& r, int end = 0) {
  std::string out;
  for (int id = 0; id < r.GetNumberCapacity(); ++id)
    if (r.GetNumber(id) != kAbsent) out += " n" + std::to_string(id) + "=" + std::to_string(r.GetNumber(id));
  for (int id = 0; id < r.GetStringCapacity(); ++id)
    if (const char16_t* s = r.GetString(id))
      out += " s" + std::to_string(id) + "=" + Utf16ToUtf8(r.GetStringView(id)) + (s[r.GetStringLength(id)] ? "!" : "");
  if (r.GetNumberCapacity() != 96 || r.GetStringCapacity() != 16)
    out += " cap=" + std::to_string(r.GetNumberCapacity()) + "/" + std::to_string(r.GetStringCapacity());
  if (end && r.GetDecodePosition() != end) out += " stop@" + std::to_string(r.GetDecodePosition());
  return out.empty() ? out : out.substr(1);
}

// Each row: record type, fields, the record they make. ' ' and '!' are the digits 0 and 1.
TEST(Decode, FieldsValuesAndMalformedInput) {
  const std::string stop = "n1=5 stop@3";
  const std::tuple<int, std::string, std::string> rows[] = {
      // Each value class from its lowest tag, the negative 3- and 5-byte ones at their largest too
      // (the encoder's round trip covers the others); tags below 32 set absent; beyond 64 bits
      // values wrap.
      {1, "\x20\x5F\x21\x60!\x22\x70 !\x23\x80   !\x24\x90       !", "n0=63 n1=1 n2=1 n3=1 n4=1"},
      {1, "\x20\xA0\x21\xBF\x22\xC0!\x23\xD0 !\x24\xE0   !\x25\xF0       !", "n0=0 n1=-31 n2=-1 n3=-1 n4=-1 n5=-1"},
      {1, "\x20\xDF\xFF\xFF\x21\xEF\xFF\xFF\xFF\xFF", "n0=-802815 n1=-40282095615"},
      {1, std::string("\x20!\x20\x1F\x21!\x21\0", 8), ""}, {1, "\x20\x9F\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", "n0=9181731332487643135"},
      // Field tags; capacities grow to exactly the highest id; an empty string stays absent; any
      // order, the last of an id winning.
      {1, "\x90\x48\x20\x22" "ab\x8F\xFF\x20\xC0\x90\x49  ", "n3583=0 s40=ab cap=3584/41"},
      {1, "\x25\x21\x23\x22\x25\x23\xD1q\xD2st\x80 !", "n0=1 n3=2 n5=3 s1=st"},
      // UTF-8 below type 128, malformed sequences converted as everywhere; raw bytes from 128.
      {127, "\xC2\xC3\xA9", "s0=é"}, {128, "\xC3" "a\xC3\xA9", "s0=aÃ©"}, {127, "\xC4\xF0\x9F\x98\x80", "s0=\U0001F600"},
      {127, "\xC3\xE0\x80\x80\xD3\xED\xA0\x80", "s0=\uFFFD\uFFFD\uFFFD s1=\uFFFD\uFFFD\uFFFD"},
      {127, "\xC3\xE4\xB8" "A\xD3\xE4" "A\x80\xE3" "a\xE4\xB8\x80!!", "n1=1 s0=\uFFFD\uFFFDA s1=\uFFFDA\uFFFD s2=a\uFFFD\uFFFD"},
      // A malformed field (tag below 32, negative id or length) or a truncated one stops decoding.
      {9, "!%\x1F\x22%", stop}, {9, std::string("!%\x80\0 \x22%", 7), stop}, {9, std::string("!%\x90\x10 !\x22%", 8), stop},
      {9, "!%\xA0\x10\x22%", stop}, {9, "!%\x90 \x1F\x30\x22%", stop}, {9, "!% ", stop}, {9, "!%\x80", stop},
      {9, "!%\x80!", stop}, {9, "!% \x90  ", stop}, {9, "!%\xA0", stop}, {9, "!%\x90H ", stop}, {9, "!%\xC5" "abcd", stop},
      {9, "!%\x90H \x22" "a", stop}};
  for (const auto& [type, fields, expected] : rows) {
    const std::string bytes = FrameRecord(type, fields);
    const std::vector<unsigned char> exact(bytes.begin(), bytes.end());  // AddressSanitizer sees reads past it
    FieldRecord r;
    EXPECT_EQ(r.Decode(exact.data(), 0, static_cast<int>(exact.size())), type) << expected;
    EXPECT_EQ(Describe(r, static_cast<int>(fields.size()) + 1), expected);
  }
}

// Each row: bytes, start, length, and the result, record type and fields after decoding into
// a record with n0=9. The check character: the field bytes' sum modulo 128 (v), plus 48 below
// 64, else plus 112.
TEST(Decode, ChecksTheRecordAndItsRange) {
  const std::string kept = "-1 -1 n0=9", framed = "garbage" + FrameRecord(6, "\x21\x25") + "trailing";
  const std::tuple<std::string, int, int, std::string> rows[] = {
      {"A0", 0, 2, "65 65 n0=9"}, {"A1", 0, 2, kept}, {"A  \xB0", 0, 4, "65 65 n0=0"}, {"A  \xAF", 0, 4, kept},
      {"A \x1Fo", 0, 4, "65 65 "}, {"A \x1Fp", 0, 4, kept}, {"A\xC1yj", 0, 4, "65 65 n0=9 s0=y"},
      {framed, 7, 4, "6 6 n0=9 n1=5"}, {"", 0, 2, kept}, {framed, -1, 2, kept}, {framed, 7, 1, kept},
      {framed, 7, -5, kept}, {framed, INT_MAX - 1, 2, kept}, {framed, 1, INT_MAX, kept}};
  for (const auto& [bytes, start, length, expected] : rows) {
    FieldRecord r;
    r.SetNumber(0, 9);
    const int result = r.Decode(bytes.empty() ? nullptr : reinterpret_cast<Bytes>(bytes.data()), start, length);
    EXPECT_EQ(std::to_string(result) + " " + std::to_string(r.GetRecordType()) + " " + Describe(r), expected);
  }
}

TEST(FieldRecord, SetGetGrowthAndMemory) {
  FieldRecord r;
  ASSERT_TRUE(r.SetNumber(95, 3) && r.SetNumber(94, 5) && r.SetNumber(95, -7) && r.SetNumber(200, 8) &&
              r.SetNumber(94, kAbsent) && r.SetString(20, u"舊的") && r.SetString(20, u"新\U0001F600") &&
              r.SetString(19, u"x") && r.SetString(1, nullptr, 0) && r.SetString(FieldRecord::kMaxFieldNumber, u"y"));
  // An empty text is present.
  const std::string set = "n95=-7 n200=8 s1= s19=x s20=新\U0001F600 s65535=y cap=201/65536";
  EXPECT_EQ(Describe(r), set);
  EXPECT_FALSE(r.SetNumber(FieldRecord::kMaxFieldNumber + 1, 1) || r.SetNumber(INT_MAX, 1) || r.SetNumber(-1, 1) ||
               r.SetString(INT_MAX, u"x") || r.SetString(-1, u"x") || r.SetString(3, nullptr, 4) || r.SetString(3, u"x", -1));
  EXPECT_EQ(Describe(r), set);
  EXPECT_LT(r.MemoryUsage(), 1000u);  // memory follows the fields, not the highest id
  for (const auto& [strings, numbers, expected] : {std::tuple(0, 0, "cap=0/0 0"), std::tuple(-3, 5, "cap=5/0 0"),
                                                   std::tuple(INT_MAX, 2, "cap=2/0 0"), std::tuple(65536, 96, "cap=96/65536 0")})
    EXPECT_EQ(Describe(FieldRecord(strings, numbers)) + " " + std::to_string(FieldRecord(strings, numbers).MemoryUsage()), expected);
  // A record's own strings as the source, whether its buffer then moves or not.
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(r.SetString(100 + i, r.GetString(20), r.GetStringLength(20)));
  ASSERT_TRUE(r.SetString(20, r.GetString(20) + 1, 2));
  // Overwriting again and again reuses the room of the texts replaced.
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(r.SetString(2 + i % 2, std::u16string(i % 7 * 10, u'x')));
  EXPECT_TRUE(r.MemoryUsage() < 4000 && r.GetStringView(20) == u"\U0001F600" && r.GetStringView(119) == u"新\U0001F600");
}

TEST(FieldRecord, CopiesTakePresentFieldsInExactMemory) {
  FieldRecord target(2, 2), other, assigned(1, 1), fresh, number, string;
  ASSERT_EQ(other.Decode(reinterpret_cast<Bytes>(FrameRecord(77, "").data()), 0, 2), 77);
  ASSERT_TRUE(target.SetNumber(0, 1) && target.SetNumber(1, 2) && target.SetString(0, u"mine") &&
              other.SetNumber(1, 20) && other.SetNumber(50, 500) && other.SetString(1, u"a longer text, overwritten") &&
              other.SetString(1, u"theirs") && other.SetString(0, u"") && target.CopyFrom(other) &&
              target.CopyFrom(target) && fresh.CopyFrom(target) && number.SetNumber(1, 1) && string.SetString(1, u""));
  const std::string merged = "n0=1 n1=20 n50=500 s0= s1=theirs";
  EXPECT_EQ(Describe(target) + " " + std::to_string(target.GetRecordType()), merged + " -1");
  // Stored copies carry no spare room: 3 numbers, 2 strings, 6 units of text besides terminators.
  for (const FieldRecord& stored : {FieldRecord(target), fresh})
    EXPECT_EQ(stored.MemoryUsage(), 3 * FieldRecord(number).MemoryUsage() + 2 * FieldRecord(string).MemoryUsage() + 12);
  EXPECT_EQ(FieldRecord(std::move(FieldRecord() = other)).GetRecordType(), 77);  // assigned, then moved
  assigned = target;
  target.SetString(1, u"changed");
  FieldRecord moved(std::move(assigned));
  EXPECT_EQ(Describe(moved) + " / " + Describe(assigned), merged + " / cap=0/0");  // NOLINT: moved from
}

// Whichever allocation fails, a change is refused whole and the record stays as it was.
TEST(FieldRecord, OutOfMemoryChangesNothing) {
  FieldRecord base, other;
  ASSERT_TRUE(base.SetNumber(2, 2) && base.SetString(1, std::u16string(60, u'x')) && base.SetString(3, u"three and more") &&
              base.SetString(1, u"now short") && other.SetString(7, u"seven"));  // base has text to reclaim
  const std::string wire = FrameRecord(6, "\x29\x29\xC2on");
  const std::function<bool(FieldRecord&)> changes[] = {
      [](FieldRecord& r) { return r.SetString(4, u"a new text, long enough to grow the buffer"); },
      [](FieldRecord& r) { return r.SetString(3, u"an old one grown longer"); },
      [](FieldRecord& r) { return r.SetString(5, r.GetString(3), r.GetStringLength(3)); },
      [](FieldRecord& r) { return r.SetNumber(5, 5); }, [&](FieldRecord& r) { return r.CopyFrom(other); },
      [&](FieldRecord& r) { return r.Decode(reinterpret_cast<Bytes>(wire.data()), 0, 7) == 6 && r.GetNumber(9) == 9; }};
  for (const auto& change : changes) {
    FieldRecord want(base);
    ASSERT_TRUE(change(want));
    for (int fail = 0, failed = 1; failed; ++fail) {
      FieldRecord r(base);
      g_failIn = fail;
      const bool done = change(r);
      failed = g_failIn < 0;
      g_failIn = -1;
      EXPECT_EQ(Describe(r), Describe(done ? want : base)) << fail;
    }
  }
}

// Each row: the text, the bytes it holds, the output capacity and the result (-1: too small).
TEST(RecordText, DecodesGroupsAndRespectsCapacity) {
  const std::tuple<std::u16string, std::string, int, int> cases[] = {
      {u"\u00BF\u00DF \u0160    ", std::string("\x5F\x7F\0\0\0\0\0", 7), 8, 7},  // 8 characters, 7 bytes
      {u"\x7F\x80\x81\x7F\x80\x81\x21\u0175", "\xDF\x60\xA1\x5F\xE0\x21\x01", 8, 7},  // 127 to 129, carrier bits
      // 9 characters give 8 bytes, the last one its own carrier; so do 10.
      {u"AAAAAAA !", std::string(7, '\x21') + "\x81", 9, 8}, {u"AAAAAAA A!", std::string(7, '\x21') + "\xA1", 9, 8},
      {u"A!\r\n", "\xA1", 2, 1}, {u"A!\n\r", "\x21\x81", 3, 2}, {u"", "", 1, 0}, {u"", "", 0, -1}, {u"AAAAAAA ", "", 7, -1}};
  for (const auto& [text, bytes, capacity, result] : cases) {
    std::string out(static_cast<std::size_t>(capacity), '\xEE');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    EXPECT_EQ(DecodeRecordText(o, capacity, text.data(), static_cast<int>(text.size())), result) << out;
    EXPECT_EQ(out, result < 0 ? std::string(out.size(), '\xEE') : bytes + '\0' + out.substr(bytes.size() + 1));
  }
  // A reply body's bytes, one per character; unusable arguments.
  unsigned char out[4] = {};
  EXPECT_TRUE(DecodeRecordText(out, 4, "\x80\xA1\r\n", 4) == 1 && out[0] == 0xE0);
  EXPECT_EQ(DecodeRecordText(out, 4, static_cast<const char*>(nullptr), 0), 0);
  const std::tuple<unsigned char*, const char16_t*, int> unusable[] = {{nullptr, u"ab", 2}, {out, nullptr, 2}, {out, u"ab", -1}};
  for (const auto& [o, text, length] : unusable)
    EXPECT_EQ(DecodeRecordText(o, 4, text, length), -1);
}

}  // namespace
}  // namespace kdx
