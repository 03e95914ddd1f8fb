#include "sim/record_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>
#include <string>

#include "platform/codepage.h"

namespace kdx::sim {
namespace {

// Bytes → RecordText → bytes → FieldRecord, the way a reply line travels.
FieldRecord Travel(const std::string& bytes) {
  const std::u16string text = EncodeRecordText(bytes);
  const int capacity = static_cast<int>(bytes.size()) + 1;
  auto buffer = std::make_unique<unsigned char[]>(static_cast<std::size_t>(capacity));
  EXPECT_EQ(DecodeRecordText(buffer.get(), capacity, text.data(), static_cast<int>(text.size())),
            static_cast<int>(bytes.size()));
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), buffer.get(),
                         [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; }));
  FieldRecord record;
  EXPECT_GE(record.Decode(buffer.get(), 0, static_cast<int>(bytes.size())), 0);
  EXPECT_EQ(record.GetDecodePosition(), static_cast<int>(bytes.size()) - 1) << "stopped early";
  return record;
}

class RandomRecords {
 public:
  explicit RandomRecords(uint64_t seed) : rng_(seed) {}

  int FieldNumber() {
    switch (rng_() % 3) {
      case 0: return static_cast<int>(rng_() % 16);
      case 1: return static_cast<int>(rng_() % 224);
      default: return static_cast<int>(rng_() % (kMaxWireFieldNumber + 1));
    }
  }

  int64_t Value() {
    static constexpr int64_t kEdges[] = {0, 1, 31, 32, 63, 64, 3583, 3584, 802815, 802816, 40282095615LL,
                                         40282095616LL, INT64_MAX};
    if (rng_() % 4 == 0) {
      const auto v = static_cast<int64_t>(rng_());
      return v == kAbsent ? 0 : v;
    }
    const int64_t v = kEdges[rng_() % std::size(kEdges)];
    return rng_() % 2 ? v : -v;  // -INT64_MAX is INT64_MIN + 1, the lowest present value
  }

  // A UTF-8 text of exactly `bytes` bytes mixing ASCII, Latin, Chinese and astral characters.
  std::u16string Text(int bytes) {
    static const std::u16string kPieces[] = {u"a", u"Z", u"é", u"委", u"託", u"成", u"\U0001F600", u"\U00020000"};
    std::u16string text;
    int used = 0;
    for (;;) {
      const std::u16string& piece = kPieces[rng_() % std::size(kPieces)];
      const int size = static_cast<int>(Utf16ToUtf8(piece).size());
      if (used + size > bytes) break;
      text += piece;
      used += size;
    }
    return text + std::u16string(static_cast<std::size_t>(bytes - used), u'x');
  }

  int TextBytes() {
    static constexpr int kEdges[] = {0, 1, 15, 16, 223, 224, 1000, kMaxWireStringBytes};
    return rng_() % 2 ? kEdges[rng_() % std::size(kEdges)] : static_cast<int>(rng_() % 40);
  }

  FieldRecord Record() {
    FieldRecord r;
    for (int n = static_cast<int>(rng_() % 25); n > 0; --n) r.SetNumber(FieldNumber(), Value());
    for (int n = static_cast<int>(rng_() % 8); n > 0; --n) r.SetString(FieldNumber(), Text(TextBytes()));
    return r;
  }

  int Type() { return static_cast<int>(rng_() % 128); }

 private:
  std::mt19937_64 rng_;
};

void ExpectSameFields(const FieldRecord& want, const FieldRecord& got) {
  int numberTop = FieldRecord::kDefaultNumberCapacity, stringTop = FieldRecord::kDefaultStringCapacity;
  for (int id = 0; id < want.GetNumberCapacity(); ++id) {
    EXPECT_EQ(got.GetNumber(id), want.GetNumber(id)) << "number " << id;
    if (want.GetNumber(id) != kAbsent) numberTop = std::max(numberTop, id + 1);
  }
  for (int id = 0; id < want.GetStringCapacity(); ++id) {
    EXPECT_EQ(got.GetStringView(id), want.GetStringView(id)) << "string " << id;
    EXPECT_EQ(got.GetString(id) != nullptr, want.GetStringLength(id) > 0) << "string " << id;
    if (want.GetStringLength(id) > 0) stringTop = std::max(stringTop, id + 1);
  }
  // Capacities grow exactly to the largest field number seen.
  EXPECT_EQ(got.GetNumberCapacity(), numberTop);
  EXPECT_EQ(got.GetStringCapacity(), stringTop);
}

TEST(RecordEncoder, RandomRecordsRoundTrip) {
  RandomRecords gen(20240611);
  for (int i = 0; i < 3000; ++i) {
    const FieldRecord record = gen.Record();
    EncodeOptions options;
    options.recordType = gen.Type();
    const std::string bytes = EncodeRecord(record, options);
    ASSERT_FALSE(bytes.empty());
    const FieldRecord decoded = Travel(bytes);
    EXPECT_EQ(decoded.GetRecordType(), options.recordType);
    ExpectSameFields(record, decoded);
    if (HasFailure()) FAIL() << "record " << i;
  }
}

TEST(RecordEncoder, HighTypeRecordsCarryOneBytePerUnit) {
  FieldRecord record;
  record.SetString(2, std::u16string{u'a', 0xE9, 0xFF, 0x80});
  record.SetNumber(7, -5);
  EncodeOptions options;
  options.recordType = 200;
  ExpectSameFields(record, Travel(EncodeRecord(record, options)));
  record.SetString(3, u"委");  // not one byte per unit
  EXPECT_EQ(EncodeRecord(record, options), "");
}

TEST(RecordEncoder, ShortestForms) {
  struct NumberRow { int id; int64_t value; std::size_t size; };
  const NumberRow numbers[] = {
      {0, 0, 2},  {95, 63, 2},  {95, 64, 3}, {96, 3583, 4}, {223, 3584, 5}, {224, 802815, 5},
      {3583, 802816, 7}, {0, 40282095615LL, 6}, {0, 40282095616LL, 10}, {0, -31, 2}, {0, -32, 3},
      {0, -INT64_MAX, 10}, {0, kAbsent, 2}};
  for (const auto& row : numbers) {
    std::string out;
    ASSERT_TRUE(AppendNumberField(out, row.id, row.value));
    EXPECT_EQ(out.size(), row.size) << row.id << " " << row.value;
  }
  struct StringRow { int id; std::size_t length; std::size_t header; };
  const StringRow strings[] = {{3, 15, 1}, {3, 16, 2}, {4, 1, 2}, {31, 223, 2}, {31, 224, 4}, {32, 1, 4},
                               {3583, kMaxWireStringBytes, 4}};
  for (const auto& row : strings) {
    std::string out;
    ASSERT_TRUE(AppendStringField(out, row.id, std::string(row.length, 'q')));
    EXPECT_EQ(out.size(), row.header + row.length) << row.id << " " << row.length;
  }
  std::string out;
  EXPECT_FALSE(AppendNumberField(out, kMaxWireFieldNumber + 1, 1));
  EXPECT_FALSE(AppendStringField(out, -1, "x"));
  EXPECT_FALSE(AppendStringField(out, 0, std::string(kMaxWireStringBytes + 1, 'q')));
  EXPECT_TRUE(out.empty());
}

TEST(RecordEncoder, ExplicitAbsentOverwritesAndGrows) {
  FieldRecord source;
  source.SetNumber(1, 10);
  EncodeOptions options;
  options.absentNumbers = {5, 200};
  const std::string bytes = EncodeRecord(source, options);
  FieldRecord target;
  target.SetNumber(5, 55);
  ASSERT_EQ(target.Decode(reinterpret_cast<const unsigned char*>(bytes.data()), 0, static_cast<int>(bytes.size())), 0);
  EXPECT_EQ(target.GetNumber(1), 10);
  EXPECT_EQ(target.GetNumber(5), kAbsent);
  EXPECT_EQ(target.GetNumberCapacity(), 201);
}

TEST(RecordText, EverySevenBitValueHasOnePrintableCharacter) {
  std::set<char16_t> seen;
  for (int v = 0; v < 128; ++v) {
    const std::u16string text = EncodeRecordText(std::string(1, static_cast<char>(v)));
    ASSERT_EQ(text.size(), 2u);
    const char16_t c = text[0];
    EXPECT_TRUE((c >= 32 && c <= 126) || (c >= 0xBF && c <= 0xDF)) << v;
    EXPECT_TRUE(seen.insert(c).second) << v;
  }
  std::mt19937 rng(7);
  for (int n = 0; n < 60; ++n) {
    std::string bytes(static_cast<std::size_t>(n), '\0');
    for (auto& b : bytes) b = static_cast<char>(rng());
    const std::u16string text = EncodeRecordText(bytes);
    std::string back(bytes.size() + 1, '\0');
    ASSERT_EQ(DecodeRecordText(reinterpret_cast<unsigned char*>(back.data()), n + 1, text.data(),
                               static_cast<int>(text.size())), n);
    EXPECT_EQ(back.substr(0, bytes.size()), bytes);
  }
  EXPECT_EQ(ReplyLine('0', "\x01"), "d0D ! ");
}

}  // namespace
}  // namespace kdx::sim
