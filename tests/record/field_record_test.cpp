#include "record/field_record.h"

#include <gtest/gtest.h>

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

// Each row: the bytes after numeric tag 32 (field 0), and the value they hold.
TEST(Decode, NumberValueClasses) {
  constexpr uint64_t k224p8 = 224ULL * 224 * 224 * 224 * 224 * 224 * 224 * 224;
  const std::pair<std::string, int64_t> cases[] = {
      {"\x20", 0}, {"\x5F", 63}, {"\x60\x20", 0}, {"\x6F\xFF", 3583}, {"\x7F\xFF\xFF", 802815},
      {"\x8F\xFF\xFF\xFF\xFF", 40282095615LL}, {"\x91\x85\xF5\x55\xA7\xD2\x89\xD2\x5F", INT64_MAX},
      {"\xA0", 0}, {"\xBF", -31}, {"\xC1\x20", -224}, {"\xF1\x85\xF5\x55\xA7\xD2\x89\xD2\x5F", -INT64_MAX},
      {std::string(1, '\0'), kAbsent}, {"\x1F", kAbsent},
      // Beyond 64 bits the arithmetic wraps as signed 64-bit does, without undefined behaviour.
      {"\x9F\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", static_cast<int64_t>(16 * k224p8 - 1)},
  };
  for (const auto& [value, expected] : cases) {
    FieldRecord r;
    r.SetNumber(0, 12345);  // proves that "set absent" really overwrites
    ASSERT_EQ(DecodeExact(r, FrameRecord(7, "\x20" + value)), 7) << int(uint8_t(value[0]));
    EXPECT_EQ(r.GetNumber(0), expected) << int(uint8_t(value[0]));
  }
}

TEST(Decode, CheckCharacterAcceptsTheRuleAndRejectsOffByOne) {
  const std::pair<std::string, unsigned char> rows[] = {
      {"", 48}, {"\x5F\x5F", 110}, {"\x20\x5F", 239}, {"\x20\x20", 176}, {"\x3F\x20", 207}};
  for (const auto& [fields, check] : rows) {
    FieldRecord good;
    EXPECT_EQ(DecodeExact(good, "\x41" + fields + char(check)), 0x41) << int(check);
    for (int delta : {-1, 1}) {
      FieldRecord bad;
      bad.SetNumber(3, 9);
      EXPECT_EQ(DecodeExact(bad, "\x41" + fields + char(check + delta)), -1);
      EXPECT_EQ(bad.GetRecordType(), -1);
      EXPECT_EQ(bad.GetNumber(0), kAbsent);  // nothing of the record is used
      EXPECT_EQ(bad.GetNumber(3), 9);
    }
  }
}

TEST(Decode, FieldTagsAddressTheirFieldsAndGrowExactly) {
  FieldRecord r;
  const std::string fields = std::string("\x90\x48") + "\x20\x22" + "ab"  // string 40 via tag 144
                             + "\x80\x84\x45"          // numeric 100 = 37
                             + "\x8F\xFF\x20"          // numeric 3583 = 0
                             + "\xA5\x23\xE5\xA7\x94"  // string 5 (tag 160): "委"
                             + "\xF3xyz"               // string 3 (tag 192 form), length 3
                             + "\xC0";                 // string 0, length 0: left absent
  ASSERT_EQ(r.GetStringCapacity(), 16);
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
  // Record types from 128 carry one byte per character, not UTF-8.
  ASSERT_EQ(DecodeExact(r, FrameRecord(200, "\xC3" "a\xE5\xFF")), 200);
  EXPECT_EQ(r.GetStringView(0), (std::u16string{u'a', 0xE5, 0xFF}));
}

// Malformed fields stop decoding there; the field before is kept, the one after not reached,
// and nothing is read past the check character.
TEST(Decode, MalformedOrTruncatedFieldsStopDecodingInside) {
  const std::string malformed[] = {"\x1F", std::string("\x80\x00\x20", 3), std::string("\x90\x10\x20\x21", 4),
                                   "\xA0\x10", "\x90\x20\x1F\x30"};  // tag < 32, negative id, negative length
  for (const auto& fields : malformed) {
    FieldRecord r;
    ASSERT_EQ(DecodeExact(r, FrameRecord(9, "\x21\x25" + fields + "\x22\x25")), 9);
    EXPECT_EQ(r.GetNumber(1), 5);
    EXPECT_EQ(r.GetNumber(2), kAbsent);
    EXPECT_EQ(r.GetDecodePosition(), 3);
  }
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
  const std::tuple<const unsigned char*, int, int> rows[] = {
      {nullptr, 0, 2}, {record, -1, 2}, {record, 0, 1}, {record, 0, 0}, {record, 0, -5}, {record, INT_MAX - 1, 2},
      {record, 1, INT_MAX}};
  for (const auto& [bytes, start, length] : rows) {
    FieldRecord r;
    EXPECT_EQ(r.Decode(bytes, start, length), -1) << start << " " << length;
  }
  FieldRecord r;
  EXPECT_EQ(r.Decode(record, 0, 2), 5);
  const std::string framed = "garbage" + FrameRecord(6, "\x21\x25") + "trailing";
  EXPECT_EQ(r.Decode(reinterpret_cast<const unsigned char*>(framed.data()), 7, 4), 6);
  EXPECT_EQ(r.GetNumber(1), 5);
}

TEST(FieldRecord, SetGetAndGrowth) {
  FieldRecord r;
  EXPECT_EQ(r.GetRecordType(), -1);
  EXPECT_EQ(r.GetNumber(96), kAbsent);
  EXPECT_EQ(r.GetNumber(-1), kAbsent);
  EXPECT_EQ(r.GetString(-1), nullptr);
  ASSERT_TRUE(r.SetNumber(95, -7));
  EXPECT_EQ(r.GetNumberCapacity(), 96);
  ASSERT_TRUE(r.SetNumber(200, 8));
  EXPECT_EQ(r.GetNumberCapacity(), 201);
  EXPECT_EQ(r.GetNumber(95), -7);
  EXPECT_EQ(r.GetNumber(199), kAbsent);
  ASSERT_TRUE(r.SetString(20, u"舊的"));
  ASSERT_TRUE(r.SetString(20, u"新\U0001F600"));
  EXPECT_EQ(r.GetStringView(20), u"新\U0001F600");
  EXPECT_EQ(r.GetString(20)[3], u'\0');
  EXPECT_EQ(r.GetStringCapacity(), 21);
  ASSERT_TRUE(r.SetString(1, nullptr, 0));  // an empty text is still a present field
  ASSERT_NE(r.GetString(1), nullptr);
  EXPECT_EQ(r.GetStringLength(1), 0);

  // Refused without allocating: bad ids, huge ids, bad lengths.
  EXPECT_TRUE(r.SetNumber(FieldRecord::kMaxFieldNumber, 1));
  EXPECT_EQ(r.GetNumberCapacity(), FieldRecord::kMaxFieldNumber + 1);
  EXPECT_FALSE(r.SetNumber(FieldRecord::kMaxFieldNumber + 1, 1) || r.SetNumber(INT_MAX, 1) || r.SetNumber(-1, 1));
  EXPECT_FALSE(r.SetString(INT_MAX, u"x") || r.SetString(-1, u"x"));
  EXPECT_FALSE(r.SetString(3, nullptr, 4) || r.SetString(3, u"x", -1));
  EXPECT_EQ(r.GetStringCapacity(), 21);
}

TEST(FieldRecord, ConstructionCapacities) {
  const std::tuple<int, int, int> rows[] = {{0, 0, 0}, {-3, 5, 0}, {INT_MAX, 2, 0},
                                            {FieldRecord::kMaxFieldNumber + 1, 1, FieldRecord::kMaxFieldNumber + 1}};
  for (const auto& [strings, numbers, expected] : rows) {
    FieldRecord r(strings, numbers);
    EXPECT_EQ(r.GetStringCapacity(), expected);
    EXPECT_EQ(r.GetNumberCapacity(), numbers);
    EXPECT_TRUE(r.SetString(3, u"grows from any capacity"));
    EXPECT_EQ(r.GetStringCapacity(), std::max(expected, 4));
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

  // Copies are deep and keep the record type; a moved-from record is empty.
  FieldRecord copy(other);
  EXPECT_EQ(copy.GetRecordType(), 77);
  EXPECT_NE(copy.GetString(1), other.GetString(1));
  FieldRecord assigned(1, 1);
  assigned = target;
  target.SetString(1, u"changed");
  EXPECT_EQ(assigned.GetStringView(1), u"theirs");
  FieldRecord moved(std::move(assigned));
  EXPECT_EQ(moved.GetNumber(50), 500);
  EXPECT_EQ(assigned.GetNumberCapacity(), 0);  // NOLINT: checking the moved-from state
}

// Each row: the text, the bytes it holds, the output capacity and the result (-1: too small).
TEST(RecordText, DecodesGroupsAndRespectsCapacity) {
  const std::tuple<std::u16string, std::string, int, int> cases[] = {
      {u"AAAAAAA ", std::string(7, '\x21'), 8, 7},                       // 8 characters, 7 bytes
      {u"AAAAAAA\x7F", "\xA1\xA1\xA1\xA1\xA1\x21\xA1", 8, 7},            // carrier bits
      {u"\u00BF\u00DF      ", std::string("\x5F\x7F\0\0\0\0\0", 7), 8, 7},  // high characters
      {u"AAAAAAA !", std::string(7, '\x21') + "\x81", 9, 8},             // 9 characters, 8 bytes
      {u"AAAAAAA \"", std::string(7, '\x21') + "\x02", 9, 8},            // a lone even character
      {u"AAAAAAA A!", std::string(7, '\x21') + "\xA1", 9, 8},            // 10 characters, 8 bytes
      {u"A!\r\n", "\xA1", 2, 1},           {u"A!\n\r", "\x21\x81", 3, 2},  // only a final CR LF goes
      {u"", "", 1, 0},                     {u"AAAAAAA ", "", 7, -1},
  };
  for (const auto& [text, bytes, capacity, result] : cases) {
    SCOPED_TRACE(std::string(text.begin(), text.end()));
    std::string body;  // a reply body's bytes, one per character, decode the same
    for (char16_t ch : text) body += static_cast<char>(ch);
    for (bool wide : {true, false}) {
      auto out = std::make_unique<unsigned char[]>(static_cast<std::size_t>(capacity));
      std::fill_n(out.get(), capacity, 0xEE);
      const int n = static_cast<int>(text.size());
      ASSERT_EQ(wide ? DecodeRecordText(out.get(), capacity, text.data(), n)
                     : DecodeRecordText(out.get(), capacity, body.data(), n),
                result);
      if (result < 0) {
        for (int i = 0; i < capacity; ++i) EXPECT_EQ(out[i], 0xEE) << "wrote byte " << i;
      } else {
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out.get()), result), bytes);
        EXPECT_EQ(out[result], 0);
      }
    }
  }
  unsigned char out[4] = {};
  EXPECT_EQ(DecodeRecordText(nullptr, 4, u"ab", 2), -1);
  EXPECT_EQ(DecodeRecordText(out, 0, u"", 0), -1);
  EXPECT_EQ(DecodeRecordText(out, 4, u"ab", -1), -1);
  EXPECT_EQ(DecodeRecordText(out, 4, static_cast<const char16_t*>(nullptr), 2), -1);
  EXPECT_EQ(DecodeRecordText(out, 4, static_cast<const char*>(nullptr), 0), 0);
}

}  // namespace
}  // namespace kdx
