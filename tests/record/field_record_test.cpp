#include "record/field_record.h"

#include <gtest/gtest.h>

#include <ostream>

#include <climits>
#include <memory>
#include <string>

#include "sim/record_encoder.h"

namespace kdx {
namespace {

using sim::FrameRecord;

// Decodes from an exact-size heap copy, so that AddressSanitizer sees any read past the bytes.
int DecodeExact(FieldRecord& r, const std::string& bytes) {
  auto copy = std::make_unique<unsigned char[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), copy.get());
  return r.Decode(copy.get(), 0, static_cast<int>(bytes.size()));
}

struct ValueCase {
  const char* name;
  std::string value;  // the bytes after numeric tag 32 (field 0)
  int64_t expected;
  friend void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.name; }
};

class NumberValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(NumberValue, DecodesEveryClass) {
  const auto& c = GetParam();
  FieldRecord r;
  r.SetNumber(0, 12345);  // proves that "set absent" really overwrites
  ASSERT_EQ(DecodeExact(r, FrameRecord(7, "\x20" + c.value)), 7);
  EXPECT_EQ(r.GetNumber(0), c.expected);
}

constexpr uint64_t k224p8 = 224ULL * 224 * 224 * 224 * 224 * 224 * 224 * 224;

INSTANTIATE_TEST_SUITE_P(
    Classes, NumberValue,
    ::testing::Values(
        ValueCase{"tag32_zero", "\x20", 0}, ValueCase{"tag95_63", "\x5F", 63},
        ValueCase{"two_byte_zero", "\x60\x20", 0}, ValueCase{"two_byte_max", "\x6F\xFF", 3583},
        ValueCase{"three_byte_max", "\x7F\xFF\xFF", 802815},
        ValueCase{"five_byte_max", "\x8F\xFF\xFF\xFF\xFF", 40282095615LL},
        ValueCase{"nine_byte_int64_max", "\x91\x85\xF5\x55\xA7\xD2\x89\xD2\x5F", INT64_MAX},
        ValueCase{"negative_zero", "\xA0", 0}, ValueCase{"tag191_minus31", "\xBF", -31},
        ValueCase{"negative_two_byte", "\xC1\x20", -224},
        ValueCase{"negative_nine_byte", "\xF1\x85\xF5\x55\xA7\xD2\x89\xD2\x5F", -INT64_MAX},
        ValueCase{"tag0_absent", std::string(1, '\0'), kAbsent}, ValueCase{"tag31_absent", "\x1F", kAbsent},
        // Beyond 64 bits the arithmetic wraps as signed 64-bit does, without undefined behaviour.
        ValueCase{"nine_byte_wraps", "\x9F\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF",
                  static_cast<int64_t>(16 * k224p8 - 1)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CheckCharacter, AcceptsTheRuleAndRejectsOffByOne) {
  struct Row { std::string fields; unsigned char check; };
  const Row rows[] = {{"", 48}, {"\x5F\x5F", 110}, {"\x20\x5F", 239}, {"\x20\x20", 176}, {"\x3F\x20", 207}};
  for (const auto& row : rows) {
    const std::string type(1, '\x41');
    FieldRecord good;
    EXPECT_EQ(DecodeExact(good, type + row.fields + char(row.check)), 0x41) << int(row.check);
    for (int delta : {-1, 1}) {
      FieldRecord bad;
      bad.SetNumber(3, 9);
      EXPECT_EQ(DecodeExact(bad, type + row.fields + char(row.check + delta)), -1);
      EXPECT_EQ(bad.GetRecordType(), -1);
      EXPECT_EQ(bad.GetNumber(0), kAbsent);  // nothing of the record is used
      EXPECT_EQ(bad.GetNumber(3), 9);
    }
  }
}

TEST(Decode, FieldTagsAddressTheirFieldsAndGrowExactly) {
  FieldRecord r;
  const std::string fields = std::string("\x90\x48") + "\x20\x22" + "ab"  // string 40 via tag 144
                             + "\x80\x84\x45"        // numeric 100 = 37
                             + "\x8F\xFF\x20"        // numeric 3583 = 0
                             + "\xA5\x23\xE5\xA7\x94"  // string 5 (tag 160): "委"
                             + "\xF3xyz"              // string 3 (tag 192 form), length 3
                             + "\xC0";                 // string 0, length 0: left absent
  ASSERT_EQ(DecodeExact(r, FrameRecord(1, fields)), 1);
  EXPECT_EQ(r.GetStringView(40), u"ab");
  EXPECT_EQ(r.GetStringCapacity(), 41);
  EXPECT_EQ(r.GetNumber(100), 37);
  EXPECT_EQ(r.GetNumber(3583), 0);
  EXPECT_EQ(r.GetNumberCapacity(), 3584);
  EXPECT_EQ(r.GetStringView(5), u"委");
  EXPECT_EQ(r.GetStringView(3), u"xyz");
  EXPECT_EQ(r.GetString(0), nullptr);
  EXPECT_EQ(r.GetDecodePosition(), static_cast<int>(fields.size()) + 1);
}

TEST(Decode, HighTypeStringsWidenTheFieldBytesOnly) {
  FieldRecord r;
  ASSERT_EQ(DecodeExact(r, FrameRecord(200, "\xC3" "a\xE5\xFF")), 200);
  EXPECT_EQ(r.GetStringView(0), (std::u16string{u'a', 0xE5, 0xFF}));
}

struct MalformedCase {
  const char* name;
  std::string fields;
  int decodedBytes;  // bytes of whole fields before the one that stops decoding
  friend void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }
};

class Malformed : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(Malformed, StopsAtTheFieldKeepsEarlierOnesAndStaysInside) {
  const auto& c = GetParam();
  FieldRecord r;
  ASSERT_EQ(DecodeExact(r, FrameRecord(9, "\x21\x25" + c.fields + "\x22\x25")), 9);
  EXPECT_EQ(r.GetNumber(1), 5);       // the field before is kept
  EXPECT_EQ(r.GetNumber(2), kAbsent);  // the one after is not reached
  EXPECT_EQ(r.GetDecodePosition(), 3 + c.decodedBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Malformed,
    ::testing::Values(MalformedCase{"tag_below_32", "\x1F", 0},
                      MalformedCase{"negative_numeric_id", std::string("\x80\x00\x20", 3), 0},
                      MalformedCase{"negative_string_id", std::string("\x90\x10\x20\x21", 4), 0},
                      MalformedCase{"negative_short_length", "\xA0\x10", 0},
                      MalformedCase{"negative_long_length", "\x90\x20\x1F\x30", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Fields that run into the check character: the record ends right after them.
TEST(Decode, FieldsReachingTheCheckCharacterStopThere) {
  const std::string truncated[] = {"\x20",         "\x80",         "\x80\x21",   "\x20\x90\x20\x20",
                                   "\x20\x8F\xFF", "\xA0",         "\x90\x48\x20", "\xC5" "abcd",
                                   "\xA1\x25" "ab", "\x90\x48\x20\x22" "a"};
  for (const auto& fields : truncated) {
    FieldRecord r;
    EXPECT_EQ(DecodeExact(r, FrameRecord(3, "\x21\x25" + fields)), 3);
    EXPECT_EQ(r.GetNumber(1), 5);
    EXPECT_EQ(r.GetDecodePosition(), 3);
    EXPECT_EQ(r.GetString(0), nullptr);
    EXPECT_EQ(r.GetString(1), nullptr);
  }
}

TEST(Decode, RejectsUnusableRangesWithoutReading) {
  const unsigned char record[] = {5, '0'};
  struct Row { const unsigned char* bytes; int start, length; };
  const Row rows[] = {{nullptr, 0, 2}, {record, -1, 2}, {record, 0, 1}, {record, 0, 0},
                      {record, 0, -5}, {record, INT_MAX - 1, 2}, {record, 1, INT_MAX}};
  for (const auto& row : rows) {
    FieldRecord r;
    EXPECT_EQ(r.Decode(row.bytes, row.start, row.length), -1) << row.start << " " << row.length;
  }
  FieldRecord r;
  EXPECT_EQ(r.Decode(record, 0, 2), 5);
  const std::string framed = "garbage" + FrameRecord(6, "\x21\x25") + "trailing";
  EXPECT_EQ(r.Decode(reinterpret_cast<const unsigned char*>(framed.data()), 7, 4), 6);
  EXPECT_EQ(r.GetNumber(1), 5);
}

TEST(FieldRecord, SetGetAndGrowth) {
  FieldRecord r;
  EXPECT_EQ(r.GetNumber(5), kAbsent);
  EXPECT_EQ(r.GetNumber(96), kAbsent);
  EXPECT_EQ(r.GetNumber(-1), kAbsent);
  EXPECT_EQ(r.GetString(-1), nullptr);
  EXPECT_EQ(r.GetRecordType(), -1);
  ASSERT_TRUE(r.SetNumber(95, -7));
  EXPECT_EQ(r.GetNumberCapacity(), 96);
  ASSERT_TRUE(r.SetNumber(200, 8));
  EXPECT_EQ(r.GetNumberCapacity(), 201);
  EXPECT_EQ(r.GetNumber(95), -7);
  EXPECT_EQ(r.GetNumber(199), kAbsent);
  ASSERT_TRUE(r.SetString(20, u"舊的"));
  ASSERT_TRUE(r.SetString(20, u"新\U0001F600"));
  EXPECT_EQ(r.GetStringView(20), u"新\U0001F600");
  EXPECT_EQ(r.GetStringLength(20), 3);
  EXPECT_EQ(r.GetString(20)[3], u'\0');
  EXPECT_EQ(r.GetStringCapacity(), 21);
  ASSERT_TRUE(r.SetString(1, nullptr, 0));  // an empty text is still a present field
  ASSERT_NE(r.GetString(1), nullptr);
  EXPECT_EQ(r.GetStringLength(1), 0);
  ASSERT_TRUE(r.SetString(2, std::u16string_view()));
  EXPECT_NE(r.GetString(2), nullptr);

  // Refused without allocating: bad ids, huge ids, bad lengths.
  EXPECT_TRUE(r.SetNumber(FieldRecord::kMaxFieldNumber, 1));
  EXPECT_EQ(r.GetNumberCapacity(), FieldRecord::kMaxFieldNumber + 1);
  EXPECT_FALSE(r.SetNumber(FieldRecord::kMaxFieldNumber + 1, 1));
  EXPECT_FALSE(r.SetNumber(INT_MAX, 1));
  EXPECT_FALSE(r.SetNumber(-1, 1));
  EXPECT_FALSE(r.SetString(INT_MAX, u"x"));
  EXPECT_FALSE(r.SetString(-1, u"x"));
  EXPECT_FALSE(r.SetString(3, nullptr, 4));
  EXPECT_FALSE(r.SetString(3, u"x", -1));
  EXPECT_EQ(r.GetStringCapacity(), 21);
}

TEST(FieldRecord, ConstructionCapacities) {
  struct Row { int strings, numbers, expectStrings, expectNumbers; };
  const Row rows[] = {{4, 8, 4, 8}, {0, 0, 0, 0}, {-3, 5, 0, 5}, {INT_MAX, 2, 0, 2},
                      {FieldRecord::kMaxFieldNumber + 1, 1, FieldRecord::kMaxFieldNumber + 1, 1}};
  for (const auto& row : rows) {
    FieldRecord r(row.strings, row.numbers);
    EXPECT_EQ(r.GetStringCapacity(), row.expectStrings);
    EXPECT_EQ(r.GetNumberCapacity(), row.expectNumbers);
    EXPECT_TRUE(r.SetString(3, u"grows from any capacity"));
    EXPECT_EQ(r.GetStringCapacity(), std::max(row.expectStrings, 4));
  }
}

TEST(FieldRecord, CopyFromMergesPresentFieldsOnly) {
  FieldRecord target(2, 2);
  target.SetNumber(0, 1);
  target.SetNumber(1, 2);
  target.SetString(0, u"mine");
  FieldRecord other;
  ASSERT_EQ(other.Decode(reinterpret_cast<const unsigned char*>(FrameRecord(77, "").data()), 0, 2), 77);
  other.SetNumber(1, 20);
  other.SetNumber(50, 500);
  other.SetString(1, u"theirs");
  other.SetString(0, u"");

  ASSERT_TRUE(target.CopyFrom(other));
  EXPECT_EQ(target.GetNumberCapacity(), 96);
  EXPECT_EQ(target.GetStringCapacity(), 16);
  EXPECT_EQ(target.GetNumber(0), 1);  // absent in the other: kept
  EXPECT_EQ(target.GetNumber(1), 20);
  EXPECT_EQ(target.GetNumber(50), 500);
  EXPECT_EQ(target.GetStringView(1), u"theirs");
  EXPECT_NE(target.GetString(0), nullptr);  // a present empty string is copied as such
  EXPECT_EQ(target.GetStringLength(0), 0);
  EXPECT_EQ(target.GetRecordType(), -1);
  ASSERT_TRUE(target.CopyFrom(target));
  EXPECT_EQ(target.GetNumber(50), 500);

  // Copies are deep, keep capacities and the record type; a moved-from record is empty.
  FieldRecord copy(other);
  EXPECT_EQ(copy.GetRecordType(), 77);
  EXPECT_EQ(copy.GetStringView(1), u"theirs");
  EXPECT_NE(copy.GetString(1), other.GetString(1));
  FieldRecord assigned(1, 1);
  assigned = target;
  target.SetString(1, u"changed");
  EXPECT_EQ(assigned.GetStringView(1), u"theirs");
  FieldRecord moved(std::move(assigned));
  EXPECT_EQ(moved.GetNumber(50), 500);
  EXPECT_EQ(assigned.GetNumberCapacity(), 0);  // NOLINT: checking the moved-from state
  EXPECT_EQ(assigned.GetNumber(0), kAbsent);
}

struct TextCase {
  const char* name;
  std::u16string text;
  std::string bytes;  // expected; empty with result -1 when it must not fit
  int capacity;
  int result;
  friend void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }
};

class RecordText : public ::testing::TestWithParam<TextCase> {};

TEST_P(RecordText, DecodesGroupsAndRespectsCapacity) {
  const auto& c = GetParam();
  auto out = std::make_unique<unsigned char[]>(static_cast<std::size_t>(c.capacity));
  std::fill_n(out.get(), c.capacity, 0xEE);
  ASSERT_EQ(DecodeRecordText(out.get(), c.capacity, c.text.data(), static_cast<int>(c.text.size())), c.result);
  if (c.result < 0) {
    for (int i = 0; i < c.capacity; ++i) EXPECT_EQ(out[i], 0xEE) << "wrote byte " << i;
    return;
  }
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.get()), c.result), c.bytes);
  EXPECT_EQ(out[c.result], 0);

  // A reply body's bytes, one per character, decode the same.
  std::string body;
  for (char16_t ch : c.text) body += static_cast<char>(ch);
  std::fill_n(out.get(), c.capacity, 0xEE);
  ASSERT_EQ(DecodeRecordText(out.get(), c.capacity, body.data(), static_cast<int>(body.size())), c.result);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.get()), c.result), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordText,
    ::testing::Values(
        TextCase{"eight_chars_seven_bytes", u"AAAAAAA ", std::string(7, '\x21'), 8, 7},
        TextCase{"carrier_bits", u"AAAAAAA\x7F", "\xA1\xA1\xA1\xA1\xA1\x21\xA1", 8, 7},
        TextCase{"high_characters", u"\u00BF\u00DF      ", std::string("\x5F\x7F\0\0\0\0\0", 7), 8, 7},
        TextCase{"nine_chars_eight_bytes", u"AAAAAAA !", std::string(7, '\x21') + "\x81", 9, 8},
        TextCase{"lone_even_char", u"AAAAAAA \"", std::string(7, '\x21') + "\x02", 9, 8},
        TextCase{"ten_chars_eight_bytes", u"AAAAAAA A!", std::string(7, '\x21') + "\xA1", 9, 8},
        TextCase{"drops_crlf", u"A!\r\n", "\xA1", 2, 1},
        TextCase{"drops_only_lf_then_cr", u"A!\n\r", "\x21\x81", 3, 2},
        TextCase{"empty", u"", "", 1, 0},
        TextCase{"too_small", u"AAAAAAA ", "", 7, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordText, RejectsUnusableArguments) {
  unsigned char out[4] = {};
  EXPECT_EQ(DecodeRecordText(nullptr, 4, u"ab", 2), -1);
  EXPECT_EQ(DecodeRecordText(out, 0, u"", 0), -1);
  EXPECT_EQ(DecodeRecordText(out, 4, u"ab", -1), -1);
  EXPECT_EQ(DecodeRecordText(out, 4, static_cast<const char16_t*>(nullptr), 2), -1);
  EXPECT_EQ(DecodeRecordText(out, 4, static_cast<const char*>(nullptr), 0), 0);
}

}  // namespace
}  // namespace kdx
