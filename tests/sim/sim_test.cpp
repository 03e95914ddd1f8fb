// The simulated broker's parts on which the control's tests rely: the record encoder they
// build replies with (whatever it writes must decode to the same record, through RecordText as
// a reply line carries it); the trade-API component's counters (they must see an instance left
// alive and one released inside its own call).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "common/control_util.h"
#include "platform/class_factory.h"
#include "platform/safearray.h"
#include "sim/SimRows.h"
#include "sim/SimTradeApi.h"
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

// A sink for every event of the component.
struct Sink : IDispatch {
  explicit Sink(std::function<void(DISPID, std::span<VARIANT>)> f) : on(std::move(f)) {}
  HRESULT GetIDsOfNames(std::u16string_view, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  HRESULT Invoke(DISPID id, WORD, std::span<VARIANT> args, VARIANT*) override { return on(id, args), S_OK; }
  std::function<void(DISPID, std::span<VARIANT>)> on;
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
  api->FindConnectionPoint()->Advise(std::make_shared<Sink>([&](DISPID, std::span<VARIANT>) { api.reset(); }));
  api->StatementChanged();
  api->MarketDate(u"FUT000OPEN");  // still queued when the component goes: dies with it
  test::Pump();
  EXPECT_EQ(std::tuple(api, SimTradeApi::Last(), SimTradeApi::DestroyedInsideOwnCall(), SimTradeApi::AliveCount()),
            std::tuple(nullptr, nullptr, 1, aliveBefore));
  SimTradeApi::ResetCounters();
  SimTradeApi::Unregister();
}


using Elements = std::map<std::size_t, VARIANT>;
using RowEvent = std::tuple<DISPID, long, long>;
constexpr long kNewOrder = std::numeric_limits<long>::min();  // no first argument
constexpr DISPID kStk = omnideal::StkOrder, kFut = omnideal::FutOrder, kOpt = omnideal::OptOrder,
                 kOB = omnideal::OBFutOrder;

// A fresh component whose raised events are kept as (event, kind, row).
class OrderBook : public testing::Test {
 protected:
  OrderBook() { Fresh(); }
  void Fresh(bool market = false) {
    SimConfig config;
    config.market = market;
    api = SimTradeApi::Create(std::move(config));
    raised.clear();
    api->FindConnectionPoint()->Advise(std::make_shared<Sink>([this](DISPID id, std::span<VARIANT> a) {
      if (id == omnideal::EvMarketDate) return dates.push_back(a[0].bstrVal);
      raised.emplace_back(id, a[0].lVal, a.size() > 1 ? a[1].lVal : -1);
    }));
  }
  // Calls an order method with an array holding these elements, the others empty.
  long Order(DISPID id, const Elements& elements, long quantity = kNewOrder) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, kOrderFieldCount);
    for (auto [i, value] : elements) {
      LONG at = static_cast<LONG>(i);
      EXPECT_EQ(SafeArrayPutElement(psa, &at, &value), S_OK);
    }
    VARIANT array = VARIANT::Array(psa), result;
    std::vector<VARIANT> args{VARIANT::ByRef(&array)};
    if (quantity != kNewOrder) args.insert(args.begin(), VARIANT(static_cast<int32_t>(quantity)));
    EXPECT_EQ(api->Invoke(id, DISPATCH_METHOD, args, &result), S_OK);
    return result.lVal;
  }
  // After the queued events: the row has every field of `expected` ("-" and -1: absent).
  void Expect(Market market, long kind, long row, const SimRow& expected) {
    test::Pump();
    const SimRow* found = api->FindRow(market, kind, row);
    ASSERT_TRUE(found) << kind << "," << row;
    for (const auto& [field, text] : expected.text)
      EXPECT_EQ(found->text.contains(field) ? found->text.at(field) : u"-", text) << field;
    for (const auto& [field, number] : expected.number)
      EXPECT_EQ(found->number.contains(field) ? found->number.at(field) : -1, number) << field;
  }

  // The overseas row events are the domestic ones' DISPIDs + 10.
  static RowEvent Row(DISPID domestic, bool overseas, long kind, long row) {
    return {overseas ? domestic + 10 : domestic, kind, row};
  }

  std::shared_ptr<SimTradeApi> api;
  std::vector<RowEvent> raised;
  std::vector<std::u16string> dates;
};

const Elements kStock{{2, u"9A95"}, {3, u"0012345"}, {35, u"9A950012345"}, {6, u"2330"}, {7, u"B"}, {8, u"1"},
                      {9, u"N"},    {10, u"0"},      {11, 600500},           {12, 3000},   {13, u"k"}, {23, u"O"}};
const Elements kFutures{{35, u"F1"}, {6, u"TXF"}, {7, u"S"},       {8, u"I"},  {10, u"1"},
                        {11, 0},     {12, 5},     {14, u"C"}, {15, u"202612"}, {26, u"N"}};
const Elements kOption{{6, u"TXO"}, {12, 2}, {15, u"202503"}, {16, u"P"}, {17, 9500000}, {11, 55000}};
const Elements kOverseas{{35, u"OB1"}, {6, u"ES"},          {7, u"S"},   {12, 2},
                         {11, u"5001500000"}, {25, u"4900000000"}, {24, u"CME"}};

// Booked only when answered 0 with booking on, raised after the call, past the rows there.
// Nothing the array holds brings the component down: what can be read is booked, an order
// without a readable positive quantity is not, and a full table answers instead of booking.
TEST_F(OrderBook, AcceptedNewOrdersBecomeRows) {
  const struct {
    DISPID method;
    Elements elements;
    SimRow fields;  // no numbers: nothing booked
    long answer = 0;
  } cases[] = {
      {kStk, kStock, SimRow().Text(1, u"9A95").Text(39, u"0012345").Text(5, u"9A950012345").Text(85, u"2330")
           .Text(148, u"B").Text(149, u"1").Text(153, u"N").Text(150, u"0").Text(201, u"k").Text(353, u"03")
           .Text(147, u"S0001").Text(143, u"S0001").Number(151, 600500).Number(156, 3000).Number(361, 3000)
           .Number(364, 0).Number(352, kStatusAccepted)},
      {kFut, kFutures, SimRow().Text(5, u"F1").Text(114, u"TXF").Text(115, u"202612").Text(148, u"S").Text(149, u"I")
           .Text(150, u"1").Text(163, u"C").Text(220, u"N").Text(353, u"05").Text(147, u"F0001").Text(208, u"F0001")
           .Text(85, u"-").Number(151, 0).Number(156, 5)},
      {kOpt, kOption, SimRow().Text(114, u"TXO").Text(116, u"P").Text(353, u"07").Text(208, u"O0001")
           .Number(117, 9500000).Number(151, 55000).Number(361, 2)},
      {kOB, kOverseas, SimRow().Text(5, u"OB1").Text(114, u"ES").Text(218, u"CME").Text(147, u"B0001")
           .Text(208, u"B0001").Text(353, u"-").Number(151, 5001500000).Number(219, 4900000000).Number(156, 2)
           .Number(205, 2).Number(352, kStatusAccepted)},
      {kStk, {{12, u"12"}, {6, 2330}, {35, std::u16string(5000, u'x')}}, SimRow().Text(85, u"-").Text(5, u"")
           .Number(156, 12)},
      {kOB, {{12, 1}, {11, u"1e5"}, {25, u"-"}, {17, u"-25"}}, SimRow().Number(151, 0).Number(219, 0)
           .Number(117, -25)},
      {kStk, {{12, 0}}, {}},
      {kFut, {{12, 2.0}}, {}},
      {kFut, {{12, u"-3"}}, {}},
      {kFut, {{12, u"1234567890123456789"}}, {}},
      {kStk, kStock, {}, SimTradeApi::kBookFull},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    Fresh();
    api->SetRow(Market::Domestic, 1, c.answer == SimTradeApi::kBookFull ? 99999 : 4, {});
    api->SetRow(Market::Overseas, 1, 6, {});
    api->Config().orderResult = -5;
    EXPECT_EQ(Order(c.method, c.elements), -5);
    api->Config().orderResult = 0;
    api->Config().bookOrders = false;
    EXPECT_EQ(Order(c.method, c.elements), 0);
    api->Config().bookOrders = true;
    EXPECT_EQ(Order(c.method, c.elements), c.answer);
    EXPECT_TRUE(raised.empty());
    const bool overseas = c.method == kOB, booked = !c.fields.number.empty();
    if (booked) Expect(overseas ? Market::Overseas : Market::Domestic, 1, overseas ? 7 : 5, c.fields);
    test::Pump();
    std::vector<RowEvent> expected;
    if (booked) expected.push_back(Row(omnideal::EvOrderNew, overseas, 1, overseas ? 7 : 5));
    if (booked && overseas) expected.push_back(Row(omnideal::EvOrderChanged, true, 1, 7));  // accepted
    EXPECT_EQ(raised, expected);
  }
}

// Fields without an expected value stay as booked; with none, no event is raised.
TEST_F(OrderBook, ReducesCancelsAndPriceChanges) {
  const struct {
    DISPID order;
    const Elements& elements;
    long quantity;
    Elements change;
    std::optional<double> remaining, price = {}, stop = {};
    DISPID reduce = DISPID_UNKNOWN;  // the order method's own when unknown
  } cases[] = {
      {kStk, kStock, 9, {{30, 1000}}, 2000},
      {kStk, kStock, 9, {{30, 5000}}, 0},
      {kStk, kStock, 1, {{30, 0}}, 0},
      {kStk, kStock, 1, {{30, -1000}}, {}},
      {kStk, kStock, 1, {{30, u"x"}}, {}},
      {kStk, kStock, 0, {}, {}, {}, {}, omnideal::ReduceFutOrder},  // not its market's method
      {kFut, kFutures, 2, {}, 3},
      {kFut, kFutures, 0, {{30, 5}}, 0},
      {kOpt, kOption, 1, {{30, 2}}, 1},
      {kOpt, kOption, -1, {}, {}},
      {kOB, kOverseas, 0, {{30, 2}, {31, 3}}, {}},
      {kOB, kOverseas, 0, {{30, 1}, {31, 1}}, 1},
      {kOB, kOverseas, 0, {{30, 2}, {31, 0}}, 0},
      {kOB, kOverseas, 0, {{31, 0}}, {}},
      {kOB, kOverseas, 2, {{30, 0}, {31, 2}, {11, u"-5100000000"}, {25, u"0"}}, {}, -5100000000, 0},
      {kOB, kOverseas, 2, {{30, 0}, {11, u"12x"}, {25, u"4800000000"}}, {}, {}, 4800000000},
      {kOB, kOverseas, 2, {{30, 0}, {11, 1.5}, {25, u""}}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.order << " " << c.quantity << " " << c.remaining.value_or(-1));
    Fresh();
    ASSERT_EQ(Order(c.order, c.elements), 0);
    test::Pump();
    const bool overseas = c.order == kOB;
    const Market market = overseas ? Market::Overseas : Market::Domestic;
    const SimRow before = *api->FindRow(market, 1, 0);
    raised.clear();
    Elements change = c.change;
    change[29] = VARIANT(before.text.at(147));
    // The reduce methods' DISPIDs follow their order methods'.
    const DISPID reduce = c.reduce != DISPID_UNKNOWN ? c.reduce : c.order + (c.order == kOB ? 1 : 4);
    EXPECT_EQ(Order(reduce, change, c.quantity), 0);
    EXPECT_EQ(Order(reduce, {{29, u"S0099"}, {30, 0}, {31, 0}}, 0), 0);  // unknown: changes nothing
    test::Pump();
    const SimRow* after = api->FindRow(market, 1, 0);
    for (const auto& [field, value] : {std::pair(156, c.remaining), std::pair(151, c.price), std::pair(219, c.stop)})
      EXPECT_EQ(after->number.contains(field) ? after->number.at(field) : -1,
                value.value_or(before.number.contains(field) ? before.number.at(field) : -1)) << field;
    EXPECT_EQ(after->number.at(352), c.remaining == 0.0 ? kStatusCancelled : kStatusAccepted);
    const bool changed = c.remaining || c.price || c.stop;
    EXPECT_EQ(raised, changed ? std::vector{Row(omnideal::EvOrderChanged, overseas, 1, 0)} : std::vector<RowEvent>{});
  }
}

// A stock order of 3 lots and an overseas one of 2 contracts, each partly then fully filled.
TEST_F(OrderBook, FillsChangeTheOrderAndAddAFillRow) {
  for (const bool overseas : {false, true}) {
    const Elements& order = overseas ? kOverseas : kStock;
    const Market market = overseas ? Market::Overseas : Market::Domestic;
    const long all = overseas ? 2 : 3, unit = overseas ? 1 : 1000, average = overseas ? 454 : 366;
    const double scale = overseas ? 1e6 : 1e3;
    const std::u16string no = overseas ? u"B0002" : u"S0001";
    ASSERT_EQ(Order(overseas ? kOB : kStk, order), 0);
    test::Pump();
    raised.clear();
    const std::u16string unknown = u"X0001";
    for (const auto& [number, quantity, price] : {std::tuple(no, all + 1, 600.0), std::tuple(no, 0L, 600.0),
                                                  std::tuple(no, 1L, std::nan("")), std::tuple(unknown, 1L, 600.0)})
      EXPECT_FALSE(api->FillBookedOrder(number, quantity, price));
    ASSERT_TRUE(api->FillBookedOrder(no, 1, 600.7));
    Expect(market, 1, 0, SimRow().Number(364, unit).Number(156, (all - 1) * unit)
                             .Number(average, std::round(600.7 * scale)).Number(352, kStatusPartFilled));
    Expect(market, 2, 0, SimRow().Text(147, no).Text(5, order.at(35).bstrVal).Text(148, order.at(7).bstrVal)
                             .Text(overseas ? 114 : 85, order.at(6).bstrVal).Text(353, overseas ? u"-" : u"04")
                             .Number(364, unit).Number(156, 0).Number(overseas ? 257 : 151, std::round(600.7 * scale)));
    ASSERT_TRUE(api->FillBookedOrder(no, all - 1, 601));
    Expect(market, 1, 0, SimRow().Number(364, all * unit).Number(156, 0).Number(352, kStatusFilled)
                             .Number(average, std::round((600.7 + 601 * (all - 1)) / all * scale)));
    EXPECT_FALSE(api->FillBookedOrder(no, 1, 600));
    EXPECT_EQ(Order(overseas ? omnideal::ReduceOBFutOrder : omnideal::ReduceStkOrder, {{29, no}, {30, 0}}, 0), 0);
    test::Pump();
    const RowEvent changed = Row(omnideal::EvOrderChanged, overseas, 1, 0);
    EXPECT_EQ(raised, (std::vector{changed, Row(omnideal::EvFillNew, overseas, 2, 0), changed,
                                   Row(omnideal::EvFillNew, overseas, 2, 1)}));
  }
}

// Twelve steps of the default seed's walk for one product: what fills, at what price, and where
// the price ends. Nothing fills what the walk never crosses, cancelled, refused or repriced away.
TEST_F(OrderBook, MarketFillsAsItsWalkCrosses) {
  const auto with = [](Elements e, const Elements& changes) {
    for (const auto& [i, v] : changes) e[i] = v;
    return e;
  };
  const Elements obLimit = with(kOverseas, {{15, u"202703"}});
  const Elements limitFut = with(kFutures, {{10, u"0"}, {11, 18010000}});
  const struct {
    DISPID method;
    Elements elements;
    std::u16string product;
    std::optional<double> seed, last;
    std::vector<std::pair<double, double>> fills;  // quantity and price as the fill rows hold them
    Elements change = {};
    SimRow order = {};
  } cases[] = {
      {kFut, kFutures, u"TXF 202612", 18000.5, 17999.5, {{5, 18000500}}, {}, SimRow().Number(156, 0).Number(352, 52)},
      {kFut, kFutures, u"TXF 202612", {}, 99, {{5, 100000}}},
      {kOpt, with(kOption, {{10, u"1"}}), u"TXO 202503 9500 P", 42, 41, {{2, 42000}}},
      {kOB, with(kOverseas, {{10, u"1"}, {15, u"202703"}}), u"CME ES 202703", 5000.25, 4999.25, {{2, 5000250000}}},
      {kStk, with(kStock, {{10, u"M"}}), u"2330", 612, 610, {{3000, 612000}}},
      {kStk, with(kStock, {{10, u"M"}}), u"2330", 10, 9.94, {{3000, 10000}}},
      {kStk, with(kStock, {{12, 4000}, {11, 600000}}), u"2330", {}, 598, {{2000, 600000}, {1000, 600000}, {1000, 600000}},
       {}, SimRow().Number(156, 0).Number(364, 4000).Number(366, 600000).Number(352, 52)},
      {kFut, limitFut, u"TXF 202612", 18000, 17999, {}, {}, SimRow().Number(156, 5).Number(352, 50)},
      {kStk, kStock, u"2330", {}, 598.5, {}, {{29, u"S0001"}, {30, 0}}, SimRow().Number(156, 0).Number(352, 60)},
      {kOB, obLimit, u"CME ES 202703", {}, 5000.5, {{1, 5001500000}, {1, 5001500000}}},
      {kOB, obLimit, u"CME ES 202703", {}, 5000.5, {},
       {{29, u"B0001"}, {30, 0}, {11, u"6000000000"}}, SimRow().Number(151, 6e9)},
      {kStk, with(kStock, {{11, 0}}), u"2330", {}, {}, {}, {}, SimRow().Text(68, u"0101")
           .Text(69, u"price out of range").Number(156, 0).Number(364, 0).Number(352, 0)},
      {kStk, with(kStock, {{12, 1000000}}), u"2330", {}, {}, {}, {}, SimRow().Text(69, u"quantity out of range")
           .Number(156, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    Fresh(true);
    ASSERT_TRUE(!c.seed || api->SetLastPrice(c.product, *c.seed));
    ASSERT_EQ(Order(c.method, c.elements), 0);
    const bool overseas = c.method == kOB;
    const DISPID reduce = overseas ? omnideal::ReduceOBFutOrder : omnideal::ReduceStkOrder;
    EXPECT_TRUE(c.change.empty() || Order(reduce, c.change, 0) == 0);
    api->AdvanceMarket(12);
    test::Pump();
    const Market market = overseas ? Market::Overseas : Market::Domestic;
    std::vector<std::pair<double, double>> fills;
    for (long row = 0; const SimRow* fill = api->FindRow(market, 2, row); ++row)
      fills.emplace_back(fill->number.at(364), fill->number.at(overseas ? 257 : 151));
    EXPECT_EQ(fills, c.fills);
    EXPECT_EQ(api->LastPrice(c.product), c.last);
    Expect(market, 1, 0, c.order);
  }
}

TEST_F(OrderBook, MarketPricesRefuseNonsenseAndSessionsOpenAfterLogIn) {
  for (const bool market : {false, true}) {
    Fresh(market);
    EXPECT_FALSE(api->SetLastPrice(u"2330", 0) || api->SetLastPrice(u"2330", std::nan("")));
    EXPECT_EQ(api->LastPrice(u"2330"), std::nullopt);
    std::vector<VARIANT> args(13, VARIANT(u""));
    for (std::size_t i : {0, 3, 5, 12}) args[i] = VARIANT(0);
    VARIANT result;
    ASSERT_EQ(api->Invoke(omnideal::Connect, DISPATCH_METHOD, args, &result), S_OK);
    test::Pump();
    EXPECT_EQ(raised, std::vector{RowEvent(omnideal::EvStatus, SimTradeApi::kLoggedIn, -1)});
    EXPECT_EQ(dates, market ? SimConfig().marketDates : std::vector<std::u16string>{});
  }
}

}  // namespace
}  // namespace kdx::sim
