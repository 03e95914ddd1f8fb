// The component's row events as a host sees them: numbering, cross-reference maps, market
// dates, the overseas order objects with their fills, and hostile values and hosts.
#include <gtest/gtest.h>

#include <limits>

#include "common/control_util.h"

namespace kdx {
namespace {

using sim::Market;
using sim::SimRow;
using test::Pump;
using test::Strings;
using test::kAccount;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class TradeApiEventsTest : public test::ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    LogIn();
  }
  FieldRecord& OBOrder(long kind, long row) {
    return *ctrl->m_mapOBKeyToOrder.at(CORV_Velmar_KDXCtrl::OverseasRecordKey(kind, row));
  }
  // The numeric fields ids of a row, in order.
  static std::vector<int64_t> Numbers(const FieldRecord& row, std::initializer_list<int> ids) {
    std::vector<int64_t> out;
    for (int id : ids) out.push_back(row.GetNumber(id));
    return out;
  }
  static SimRow OBFill(const char16_t* orderNo, double price, double qty) {
    return SimRow().Text(5, kAccount).Text(208, orderNo).Number(257, price).Number(364, qty).Number(156, -1);
  }
};

// Statement events become StatementUpdate(10); events 10 and 12 are ignored.
TEST_F(TradeApiEventsTest, DomesticRowsAreNumberedMappedAndRemovedAndMarketDatesAnnounceThem) {
  Api().AddOrder(Market::Domestic, 2, 7,
                 SimRow().Text(5, kAccount).Text(147, u"A0001").Text(143, u"REF1").Text(201, u"note"));
  Pump();
  // The same row announced twice gets a second index; the key then names the later one.
  Api().Raise(omnideal::EvOrderNew, {VARIANT(int32_t{2}), VARIANT(int32_t{7})});
  Api().AddOrder(Market::Domestic, 2, 8, SimRow().Text(5, u"OTHER"));
  Api().ChangeOrder(Market::Domestic, 2, 7, SimRow().Text(147, u"A0002"));
  Api().RemoveOrder(Market::Domestic, 2, 7);
  Api().ChangeOrder(Market::Domestic, 2, 7, SimRow());
  Api().ChangeOrder(Market::Domestic, 9, 9, SimRow());  // never numbered
  Api().AddFill(Market::Domestic, 4, 0, SimRow().Text(5, kAccount));
  Api().AddFill(Market::Domestic, 4, 1, SimRow().Text(5, u"OTHER"));
  Api().AddFill(Market::Domestic, 4, 2, SimRow().Text(5, kAccount));
  Api().ChangeFill(Market::Domestic, 4, 0, SimRow());
  Api().ChangeFill(Market::Domestic, 4, 1, SimRow());
  Api().StatementChanged(3);
  Api().StatementChanged(13);
  Api().Raise(10, {VARIANT(int32_t{1}), VARIANT(u"a"), VARIANT(u"b")});
  Api().Raise(12, {VARIANT(int32_t{1})});
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"OrderStatus(0)", "OrderStatus(1)", "OrderStatus(1)", "OrderStatus(1)",
                                       "OrderStatus(1)", "FillOrder(0)", "FillOrder(1)", "FillOrder(0)",
                                       "StatementUpdate(10)", "StatementUpdate(10)"}));
  const int32_t key = 2 * 100000 + 7;
  EXPECT_EQ(ctrl->m_mapOrderIndexToKey.count(1), 0u) << "removed";
  EXPECT_EQ(ctrl->m_mapKeyToOrderIndex.at(key), 1) << "the reverse entry stays";
  EXPECT_EQ(ctrl->m_mapOrderNoToKey.at(u"A0001"), key);
  EXPECT_EQ(ctrl->m_mapOrderNoToKey.at(u"A0002"), key);
  EXPECT_EQ(ctrl->m_mapOrderRef.at(u"REF1"), u"note");
  EXPECT_EQ(ctrl->m_mapFillIndexToKey.at(1), 4 * 100000 + 2);

  // A market date keeps the text after six characters and announces every order index.
  const struct {
    std::u16string text, nml, fut;
  } dates[] = {{u"NML = 2024/06/11", u"2024/06/11", u""}, {u"FUT:: 20240612", u"old", u"20240612"},
               {u"NML12", u"", u""}, {u"XYZ = 2024/06/11", u"old", u""}};
  for (const auto& c : dates) {
    ctrl->m_strMarketDateNML = u"old";
    ctrl->m_strMarketDateFUT = u"";
    events.Clear();
    Api().MarketDate(c.text);
    Pump();
    EXPECT_EQ(events.Summary(), (Strings{"OrderStatus(0)", "OrderStatus(1)", "StatementUpdate(6)"}));
    EXPECT_EQ(ctrl->m_strMarketDateNML + u"|" + ctrl->m_strMarketDateFUT, c.nml + u"|" + c.fut);
  }
  LogIn();  // a second log-in numbers on
  Api().AddOrder(Market::Overseas, 3, 1, SimRow().Text(5, kAccount));
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"OrderStatus(2)"}));
}

// An overseas order filled three times, one fill reported twice and one at no price.
TEST_F(TradeApiEventsTest, OverseasFillsKeepTheWeightedAveragePriceAndTotalQuantity) {
  Api().AddOrder(Market::Overseas, 1, 3,
                 SimRow().Text(5, kAccount).Text(208, u"OB77").Text(201, u"tag").Number(-1, 900).Number(205, 10)
                     .Number(156, 10).Number(454, 0).Number(219, 5));
  Pump();
  FieldRecord& order = OBOrder(1, 3);
  EXPECT_EQ(Numbers(order, {0, 219, 454}), (std::vector<int64_t>{900, 5, kAbsent}));  // 454 only when positive

  Api().AddFill(Market::Overseas, 2, 0, OBFill(u"OB77", 101.5, 2));
  Api().AddFill(Market::Overseas, 2, 1, OBFill(u"OB77", 102.25, 3));
  Api().AddFill(Market::Overseas, 2, 2, OBFill(u"OB77", 0, 4));
  Api().ChangeFill(Market::Overseas, 2, 1, SimRow());
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"OrderStatus(0)", "FillOrder(0)", "OrderStatus(0)", "FillOrder(1)",
                                       "OrderStatus(0)", "FillOrder(2)", "OrderStatus(0)", "FillOrder(1)",
                                       "OrderStatus(0)"}));
  EXPECT_EQ(CString(order.GetString(0)), u"[2,0][2,1][2,2]");
  // No order number yet: the remaining quantity (156) is the order's 205 less what filled.
  EXPECT_EQ(Numbers(order, {364, 454, 156, 352}),
            (std::vector<int64_t>{5, static_cast<int64_t>((101.5 * 2 + 102.25 * 3) / 5), 5, 50}));

  // Filled past its quantity, nothing remains (not a negative remainder); the order takes the
  // fill's 310 and record number. A fill of an unknown order changes none.
  Api().AddFill(Market::Overseas, 2, 3, OBFill(u"OB77", 100, 8).Text(310, u"F310").Number(-1, 77));
  Api().AddFill(Market::Overseas, 2, 4, OBFill(u"UNKNOWN", 100, 1));
  Pump();
  EXPECT_EQ(Numbers(order, {364, 156, 0}), (std::vector<int64_t>{13, 0, 77}));
  EXPECT_EQ(CString(order.GetString(310)), u"F310");

  // A change refills the object and its maps (the order number is the reference); a removed
  // order loses its index.
  events.Clear();
  Api().ChangeOrder(Market::Overseas, 1, 3, SimRow().Text(147, u"B0009").Number(454, 12345));
  Api().ChangeOrder(Market::Overseas, 1, 5, SimRow());  // unknown row
  Api().RemoveOrder(Market::Overseas, 1, 3);
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"OrderStatus(0)", "OrderStatus(0)"}));
  EXPECT_EQ(CString(order.GetString(147)), u"B0009");
  EXPECT_EQ(order.GetNumber(454), 12345);
  EXPECT_EQ(ctrl->m_mapOrderRef.at(u"OB77"), u"tag");
  EXPECT_EQ(ctrl->m_mapOrderNoToKey.at(u"B0009"), 10100003);
  EXPECT_EQ(ctrl->m_mapOrderIndexToKey.count(0), 0u);
}

// Keys repeat after Logout and Login: the object a key held before stays alive for the maps that
// still name it, so a late fill of the old order number updates it safely.
TEST_F(TradeApiEventsTest, AnOverseasObjectReplacedUnderItsKeyLivesOn) {
  Api().AddOrder(Market::Overseas, 1, 0, SimRow().Text(5, kAccount).Text(208, u"OLD"));
  Pump();
  FieldRecord* old = &OBOrder(1, 0);
  ctrl->Logout();
  Pump();
  LogIn();
  Api().AddOrder(Market::Overseas, 1, 0, SimRow().Text(5, kAccount).Text(208, u"NEW"));
  Api().AddFill(Market::Overseas, 2, 0, OBFill(u"OLD", 10, 1));
  Pump();
  ASSERT_NE(&OBOrder(1, 0), old);
  EXPECT_EQ(ctrl->m_mapOBOrderNoToOrder.at(u"OLD"), old);
  EXPECT_EQ(CString(old->GetString(0)), u"[2,0]");
  EXPECT_EQ(old->GetNumber(364), 1);
  EXPECT_EQ(events.Summary(), (Strings{"OrderStatus(0)", "FillOrder(0)", "OrderStatus(0)"}));
}

// NaN, infinities and numbers past 64 bits: ignored or saturated, never the absent marker, and
// a NaN fill price does not poison the average.
TEST_F(TradeApiEventsTest, NumbersThatDoNotFitAreIgnoredOrSaturated) {
  Api().AddOrder(Market::Overseas, 1, 0,
                 SimRow().Text(5, kAccount).Text(208, u"OB").Number(-1, 1e300).Number(151, -kInf).Number(205, kNaN)
                     .Number(361, -1e300).Number(219, kNaN));
  Pump();
  const FieldRecord& order = OBOrder(1, 0);
  EXPECT_EQ(Numbers(order, {0, 361, 151, 205, 219}), (std::vector<int64_t>{std::numeric_limits<int64_t>::max(),
                                                                             std::numeric_limits<int64_t>::min() + 1,
                                                                             kAbsent, kAbsent, kAbsent}));
  Api().AddFill(Market::Overseas, 2, 0, OBFill(u"OB", kNaN, 2));
  Api().AddFill(Market::Overseas, 2, 1, OBFill(u"OB", 100, kInf));
  Api().AddFill(Market::Overseas, 2, 2, OBFill(u"OB", 50, 3));
  Pump();
  EXPECT_EQ(Numbers(order, {454, 364, 156}), (std::vector<int64_t>{50, 3, 0}));  // 156: nothing ordered is known
}

// Rows whose record key would collide with another row's are refused, by every row event;
// kind 100 is out of range only for domestic rows.
TEST_F(TradeApiEventsTest, RowsOutsideTheKeyRangeAreRefused) {
  const std::vector<std::pair<long, long>> domestic{{100, 0}, {-1, 5}, {0, 100000}}, overseas{{21374, 0}, {0, -1}};
  Strings expected;
  for (DISPID event : {4, 5, 6, 7, 8, 14, 15, 16, 17, 18}) {
    Api().Raise(event, {VARIANT(int32_t{100}), VARIANT(int32_t{1})});
    for (const auto& [kind, row] : event < 14 ? domestic : overseas) {
      if (kind != 100) Api().Raise(event, {VARIANT(int32_t(kind)), VARIANT(int32_t(row))});
      expected.push_back("Log(0,Trade-API event " + std::to_string(event) + ": kind " + std::to_string(kind) +
                         ", row " + std::to_string(kind == 100 ? 1 : row) + " out of range, ignored)");
    }
  }
  Api().AddOrder(Market::Domestic, 99, 99999, SimRow().Text(5, kAccount));
  Api().AddOrder(Market::Overseas, 21373, 99999, SimRow().Text(5, kAccount));
  Pump();
  expected.insert(expected.end(), {"OrderStatus(0)", "OrderStatus(1)"});
  EXPECT_EQ(events.Summary(), expected);
  EXPECT_EQ(ctrl->m_mapOrderIndexToKey.at(1), 2147399999);
}

// A host may log in again (and fail to create the component), log out or destroy the control
// inside FillOrder; the overseas fill handler then stops instead of using what is gone.
TEST_F(TradeApiEventsTest, AHostChangingTheLogInInsideFillOrderStopsTheHandler) {
  const std::u16string ini = Ini("RocID=a1\n");
  for (int way : {0, 1, 2}) {
    Register({});
    if (way) LogIn();
    Api().AddOrder(Market::Overseas, 1, 0, SimRow().Text(5, kAccount).Text(208, u"OB"));
    Pump();
    const DWORD cookie = ctrl->FindConnectionPoint()->Advise(test::OnEvent(kdxevent::FillOrder, [&](auto) {
      if (way == 0) {
        sim::SimTradeApi::Unregister();
        EXPECT_EQ(ctrl->Login(ini, u"Sim"), -1);
      }
      if (way == 1) ctrl->Logout();
      if (way == 2) ctrl.reset();
    }));
    events.Clear();
    Api().AddFill(Market::Overseas, 2, 0, OBFill(u"OB", 10, 1));
    Pump();
    // The failed log-in kept the numbering; the log-out reset it.
    EXPECT_EQ(events.Summary(), Strings{way == 1 ? "FillOrder(1)" : "FillOrder(0)"});
    if (ctrl) ctrl->FindConnectionPoint()->Unadvise(cookie);
  }
}

}  // namespace
}  // namespace kdx
