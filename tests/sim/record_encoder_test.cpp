// The record encoder the simulated services and the tests build replies with: whatever it
// writes must decode to the same record, through RecordText as a reply line carries it.
#include "sim/record_encoder.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace kdx::sim {
namespace {

// Every class of number, field number and string length on both sides of its edges, in
// record types of both string forms, through RecordText and back.
TEST(RecordEncoder, EdgesOfEveryFieldClassRoundTrip) {
  const int64_t values[] = {0, 1, 31, 32, 63, 64, 3583, 3584, 802815, 802816, 40282095615, 40282095616, INT64_MAX};
  const std::pair<int, std::size_t> strings[] = {{0, 15}, {3, 16}, {4, 1},        {30, 224},
                                                 {31, 223}, {32, 224}, {kMaxWireFieldNumber, kMaxWireStringBytes}};
  const std::u16string texts[] = {u"委é\U0001F600", u"a\u00E9\u00FF\u0080"};  // UTF-8; one byte per unit
  for (int type : {0, 127, 128}) {
    FieldRecord record;
    for (int i = 0; i < 13; ++i)  // -INT64_MAX is the lowest present value
      ASSERT_TRUE(record.SetNumber(2 * i, values[i]) && record.SetNumber(2 * i + 1, -values[i]));
    for (int id : {95, 96, 223, 224, kMaxWireFieldNumber}) record.SetNumber(id, id);
    for (const auto& [id, length] : strings) record.SetString(id, std::u16string(length, u'x'));
    record.SetString(5, texts[type / 128]);
    const std::string bytes = EncodeRecord(record, {type, {}});
    const std::u16string text = EncodeRecordText(bytes);
    const int size = static_cast<int>(bytes.size());
    std::string back(bytes.size() + 1, '\xEE');
    auto* out = reinterpret_cast<unsigned char*>(back.data());
    ASSERT_EQ(DecodeRecordText(out, size + 1, text.data(), static_cast<int>(text.size())), size);
    FieldRecord decoded;
    ASSERT_EQ(decoded.Decode(out, 0, size), type);
    EXPECT_EQ(decoded.GetDecodePosition(), size - 1) << "stopped early";
    for (int id = 0; id <= kMaxWireFieldNumber; ++id)
      ASSERT_TRUE(decoded.GetNumber(id) == record.GetNumber(id) && decoded.GetStringView(id) == record.GetStringView(id))
          << type << " " << id;
  }
  FieldRecord wide;  // not one byte per unit
  EXPECT_TRUE(wide.SetString(3, u"委") && EncodeRecord(wide, {128, {}}).empty());
}

}  // namespace
}  // namespace kdx::sim
