// The simulated broker's parts on which the control's tests rely: the record encoder they
// build replies with (whatever it writes must decode to the same record, through RecordText as
// a reply line carries it); the web services' garbage lines (a test of skipping them proves
// something only if some would pass a careless reader); the trade-API component's counters
// (they must see an instance left alive and one released inside its own call).
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "common/control_util.h"
#include "platform/class_factory.h"
#include "queries/HttpQuery.h"
#include "sim/SimTradeApi.h"
#include "sim/SimWebServices.h"
#include "sim/record_encoder.h"

namespace kdx::sim {
namespace {

// Every class of number, field number and string length on both sides of its edges, in
// record types of both string forms, through RecordText and back.
TEST(RecordEncoder, EdgesOfEveryFieldClassRoundTrip) {
  const int64_t values[] = {0, 1, 31, 32, 63, 64, 3583, 3584, 802815, 802816, 40282095615, 40282095616, INT64_MAX};
  const std::pair<int, std::size_t> strings[] = {{0, 15},   {3, 16},   {4, 1}, {30, 224},
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
    std::vector<unsigned char> out(bytes.size() + 1, 0xEE);
    ASSERT_EQ(DecodeRecordText(out.data(), size + 1, text.data(), static_cast<int>(text.size())), size);
    FieldRecord decoded;
    ASSERT_EQ(decoded.Decode(out.data(), 0, size), type);
    EXPECT_EQ(decoded.GetDecodePosition(), size - 1) << "stopped early";
    for (int id = 0; id <= kMaxWireFieldNumber; ++id)
      ASSERT_TRUE(decoded.GetNumber(id) == record.GetNumber(id) && decoded.GetStringView(id) == record.GetStringView(id))
          << type << " " << id;
  }
  FieldRecord wide;  // not one byte per unit
  EXPECT_TRUE(wide.SetString(3, u"委") && EncodeRecord(wide, {128, {}}).empty());
}

TEST(SimWebServices, GarbageLinesHideRecordsOnlyFromACarelessReader) {
  SimWebServices server;
  server.SetQuery("/q", [](const ServedRequest&) { return std::vector(2, test::MakeRecord({{0, "帳號"}})); });
  server.SetFault("/q", Fault::GarbageLines);
  long length = 0;
  const auto fetched = FetchUrlSync(CString::FromUtf8(server.Url("/q")), u"", u"", length);
  ASSERT_TRUE(fetched);
  // Lines whose text after the first four characters decodes to a record: the rows, and those
  // a careless reader (one that looks only at the text) would take for rows.
  int rows = 0, hidden = 0;
  std::vector<unsigned char> bytes(1 << 16);
  ForEachReplyLine(std::string_view(fetched.get(), static_cast<std::size_t>(length)), [&](std::string_view line) {
    const int n = line.size() > 4 ? DecodeRecordText(bytes.data(), 1 << 16, line.data() + 4, int(line.size() - 4)) : 0;
    if (FieldRecord r; n > 0 && r.Decode(bytes.data(), 0, n) >= 0)
      ++(line.starts_with("d0D ") ? rows : hidden);
    return true;
  });
  EXPECT_EQ(rows, 2);
  EXPECT_GT(hidden, 0);
}

// Lets go of the component inside its event.
struct Releaser : IDispatch {
  explicit Releaser(std::shared_ptr<SimTradeApi>& held) : api(held) {}
  HRESULT GetIDsOfNames(std::u16string_view, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  HRESULT Invoke(DISPID, WORD, std::span<VARIANT>, VARIANT*) override { return api.reset(), S_OK; }
  std::shared_ptr<SimTradeApi>& api;
};

TEST(SimTradeApi, FactoryCountsInstancesAndDetectsReleaseInsideOwnCall) {
  SimTradeApi::ResetCounters();
  const int aliveBefore = SimTradeApi::AliveCount();
  SimTradeApi::Register();
  std::shared_ptr<IDispatch> object;
  ASSERT_EQ(CoCreateInstance(CLSID_ORVOMNIDEALAPI, &object), S_OK);
  std::shared_ptr<SimTradeApi> api = SimTradeApi::Last();
  EXPECT_EQ(std::tuple(SimTradeApi::CreatedCount(), SimTradeApi::AliveCount(), api == object),
            std::tuple(1, aliveBefore + 1, true));
  object.reset();
  api->FindConnectionPoint()->Advise(std::make_shared<Releaser>(api));
  api->StatementChanged();
  api->MarketDate(u"FUT000OPEN");  // still queued when the component goes: dies with it
  test::Pump();
  EXPECT_EQ(std::tuple(api, SimTradeApi::Last(), SimTradeApi::DestroyedInsideOwnCall(), SimTradeApi::AliveCount()),
            std::tuple(nullptr, nullptr, 1, aliveBefore));
  SimTradeApi::ResetCounters();
  SimTradeApi::Unregister();
}

}  // namespace
}  // namespace kdx::sim
