// The record encoder the simulated services and the tests build replies with: whatever it
// writes must decode to the same record, through RecordText as a reply line carries it.
#include "sim/record_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

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

void ExpectSameFields(const FieldRecord& want, const FieldRecord& got) {
  for (int id = 0; id < std::max(want.GetNumberCapacity(), got.GetNumberCapacity()); ++id)
    EXPECT_EQ(got.GetNumber(id), want.GetNumber(id)) << "number " << id;
  for (int id = 0; id < std::max(want.GetStringCapacity(), got.GetStringCapacity()); ++id)
    EXPECT_EQ(got.GetStringView(id), want.GetStringView(id)) << "string " << id;
}

// A text of exactly `bytes` bytes in the string form of the record type: mixed two- to
// four-byte UTF-8 characters below 128, one byte per unit (up to 0xFF) from 128 on.
std::u16string Text(std::size_t bytes, int type) {
  std::u16string text;
  if (type >= 128) {
    for (std::size_t i = 0; i < bytes; ++i) text += u"a\u00E9\u00FF\u0080"[i % 4];
    return text;
  }
  const std::pair<std::u16string_view, std::size_t> pieces[] = {{u"é", 2}, {u"委", 3}, {u"\U0001F600", 4}};
  std::size_t used = 0;
  for (int i = 0; used + pieces[i % 3].second <= bytes; ++i) {
    text += pieces[i % 3].first;
    used += pieces[i % 3].second;
  }
  return text + std::u16string(bytes - used, u'x');
}

// Every class of number, field number and string length on both sides of its edges, in
// record types of both string forms.
TEST(RecordEncoder, EdgesOfEveryFieldClassRoundTrip) {
  const int64_t values[] = {0,    1,      31,     32,          63,          64,       3583,
                            3584, 802815, 802816, 40282095615, 40282095616, INT64_MAX};
  const int ids[] = {95, 96, 223, 224, kMaxWireFieldNumber};
  const std::pair<int, std::size_t> strings[] = {{0, 15}, {3, 16}, {4, 1},        {30, 224},
                                                 {31, 223}, {32, 224}, {kMaxWireFieldNumber, kMaxWireStringBytes}};
  for (int type : {0, 127, 200}) {
    SCOPED_TRACE(type);
    FieldRecord record;
    int id = 0;
    for (int64_t value : values) {
      record.SetNumber(id++, value);
      record.SetNumber(id++, -value);  // -INT64_MAX is the lowest present value
    }
    for (int i : ids) record.SetNumber(i, i);
    for (const auto& [i, length] : strings) record.SetString(i, Text(length, type));
    EncodeOptions options;
    options.recordType = type;
    const std::string bytes = EncodeRecord(record, options);
    ASSERT_FALSE(bytes.empty());
    const FieldRecord decoded = Travel(bytes);
    EXPECT_EQ(decoded.GetRecordType(), type);
    ExpectSameFields(record, decoded);
  }
  FieldRecord wide;
  wide.SetString(3, u"委");  // not one byte per unit
  EncodeOptions high;
  high.recordType = 200;
  EXPECT_EQ(EncodeRecord(wide, high), "");
}

}  // namespace
}  // namespace kdx::sim
