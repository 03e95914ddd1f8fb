// The component's row events as a host sees them: numbering, cross-reference maps, market
// dates and the overseas order objects with their fills.
#include <gtest/gtest.h>

#include "common/control_util.h"

namespace kdx {
namespace {

using sim::Market;
using sim::SimRow;
using test::Pump;
using test::Strings;

constexpr const char16_t* kAccount = u"9A950012345";

class TradeApiEventsTest : public test::ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    LogIn();
  }
  sim::SimTradeApi& Api() { return *sim::SimTradeApi::Last(); }
};

TEST_F(TradeApiEventsTest, DomesticOrdersAreNumberedMappedAndRemoved) {
  const SimRow order = SimRow().Text(5, kAccount).Text(147, u"A0001").Text(143, u"REF1").Text(201, u"note");
  Api().AddOrder(Market::Domestic, 2, 7, order);
  Pump();
  // The same row announced twice gets a second index; the key then names the later one.
  Api().Raise(omnideal::EvOrderNew, {VARIANT(int32_t{2}), VARIANT(int32_t{7})});
  Api().AddOrder(Market::Domestic, 2, 8, SimRow().Text(5, u"OTHER"));
  Api().ChangeOrder(Market::Domestic, 2, 7, SimRow().Text(147, u"A0002"));
  Api().RemoveOrder(Market::Domestic, 2, 7);
  Api().ChangeOrder(Market::Domestic, 2, 7, SimRow());
  Api().ChangeOrder(Market::Domestic, 9, 9, SimRow());  // never numbered
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"OrderStatus(0)", "OrderStatus(1)", "OrderStatus(1)", "OrderStatus(1)",
                                       "OrderStatus(1)"}));
  const int32_t key = 2 * 100000 + 7;
  EXPECT_EQ(ctrl->m_nOrderCount, 2);
  EXPECT_EQ(ctrl->m_mapOrderIndexToKey.count(0), 1u);
  EXPECT_EQ(ctrl->m_mapOrderIndexToKey.count(1), 0u) << "removed";
  EXPECT_EQ(ctrl->m_mapKeyToOrderIndex.at(key), 1) << "the reverse entry stays";
  EXPECT_EQ(ctrl->m_mapOrderNoToKey.at(u"A0001"), key);
  EXPECT_EQ(ctrl->m_mapOrderNoToKey.at(u"A0002"), key);
  EXPECT_EQ(ctrl->m_mapOrderRef.at(u"REF1"), u"note");
}

TEST_F(TradeApiEventsTest, FillsOfThisLogInAreNumberedAndChangesOfKnownOnesAnnounced) {
  Api().AddFill(Market::Domestic, 4, 0, SimRow().Text(5, kAccount));
  Api().AddFill(Market::Domestic, 4, 1, SimRow().Text(5, u"OTHER"));
  Api().AddFill(Market::Domestic, 4, 2, SimRow().Text(5, kAccount));
  Api().ChangeFill(Market::Domestic, 4, 0, SimRow());
  Api().ChangeFill(Market::Domestic, 4, 1, SimRow());
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"FillOrder(0)", "FillOrder(1)", "FillOrder(0)"}));
  EXPECT_EQ(ctrl->m_mapFillIndexToKey.at(1), 4 * 100000 + 2);
}

struct MarketDateCase {
  std::u16string text;
  std::u16string nml, fut;
};

class MarketDateTest : public TradeApiEventsTest, public testing::WithParamInterface<MarketDateCase> {};

TEST_P(MarketDateTest, StoresTheTextAfterSixCharactersAndAnnouncesEveryOrder) {
  ctrl->m_strMarketDateNML = u"old";
  Api().AddOrder(Market::Domestic, 1, 0, SimRow().Text(5, kAccount));
  Api().AddOrder(Market::Domestic, 1, 1, SimRow().Text(5, kAccount));
  Pump();
  events.Clear();
  Api().MarketDate(GetParam().text);
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"OrderStatus(0)", "OrderStatus(1)", "StatementUpdate(6)"}));
  EXPECT_EQ(ctrl->m_strMarketDateNML, GetParam().nml);
  EXPECT_EQ(ctrl->m_strMarketDateFUT, GetParam().fut);
}

INSTANTIATE_TEST_SUITE_P(Texts, MarketDateTest,
                         testing::Values(MarketDateCase{u"NML = 2024/06/11", u"2024/06/11", u""},
                                         MarketDateCase{u"FUT:: 20240612", u"old", u"20240612"},
                                         MarketDateCase{u"NML12", u"", u""},  // shorter than seven
                                         MarketDateCase{u"XYZ = 2024/06/11", u"old", u""}));

TEST_F(TradeApiEventsTest, StatementEventsBecomeStatementUpdateTenAndIgnoredOnesDoNothing) {
  Api().StatementChanged(3);
  Api().StatementChanged(13);
  Api().Raise(10, {VARIANT(int32_t{1}), VARIANT(u"a"), VARIANT(u"b")});
  Api().Raise(12, {VARIANT(int32_t{1})});
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"StatementUpdate(10)", "StatementUpdate(10)"}));
}

// An overseas order filled three times, one fill reported twice and one at no price.
TEST_F(TradeApiEventsTest, OverseasFillsKeepTheWeightedAveragePriceAndTotalQuantity) {
  Api().AddOrder(Market::Overseas, 1, 3,
                 SimRow().Text(5, kAccount).Text(208, u"OB77").Text(201, u"tag").Number(-1, 900).Number(205, 10)
                     .Number(156, 10).Number(454, 0).Number(219, 5));
  Pump();
  ASSERT_EQ(events.Summary(), (Strings{"OrderStatus(0)"}));
  const int32_t key = (1 * 5 + 500) * 20000 + 3;
  FieldRecord& order = *ctrl->m_mapOBKeyToOrder.at(key);
  EXPECT_EQ(order.GetNumber(0), 900);
  EXPECT_EQ(order.GetNumber(219), 5);
  EXPECT_EQ(order.GetNumber(454), kAbsent) << "written only when positive";
  EXPECT_EQ(ctrl->m_mapOBOrderNoToOrder.at(u"OB77"), &order);

  auto fill = [](double price, double qty) {
    return SimRow().Text(5, kAccount).Text(208, u"OB77").Number(257, price).Number(364, qty).Number(156, -1);
  };
  Api().AddFill(Market::Overseas, 2, 0, fill(101.5, 2));
  Api().AddFill(Market::Overseas, 2, 1, fill(102.25, 3));
  Api().AddFill(Market::Overseas, 2, 2, fill(0, 4));
  Api().ChangeFill(Market::Overseas, 2, 1, SimRow());
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"OrderStatus(0)", "FillOrder(0)", "OrderStatus(0)", "FillOrder(1)",
                                       "OrderStatus(0)", "FillOrder(2)", "OrderStatus(0)", "FillOrder(1)",
                                       "OrderStatus(0)"}));
  EXPECT_EQ(CString(order.GetString(0)), u"[2,0][2,1][2,2]");
  EXPECT_EQ(order.GetNumber(364), 5);
  EXPECT_EQ(order.GetNumber(454), static_cast<int64_t>((101.5 * 2 + 102.25 * 3) / 5));
  // No order number yet: the remaining quantity is the order's 205 less what filled.
  EXPECT_EQ(order.GetNumber(156), 5);
  EXPECT_EQ(order.GetNumber(352), 50);
}

TEST_F(TradeApiEventsTest, OverseasOrderChangesRefillTheObjectAndItsMaps) {
  Api().AddOrder(Market::Overseas, 0, 0, SimRow().Text(5, kAccount).Text(208, u"OB1").Text(201, u"n1"));
  Api().ChangeOrder(Market::Overseas, 0, 0, SimRow().Text(147, u"B0009").Number(454, 12345));
  Api().ChangeOrder(Market::Overseas, 0, 5, SimRow());  // unknown row
  Api().RemoveOrder(Market::Overseas, 0, 0);
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"OrderStatus(0)", "OrderStatus(0)", "OrderStatus(0)"}));
  const int32_t key = 10000000;
  const FieldRecord& order = *ctrl->m_mapOBKeyToOrder.at(key);
  EXPECT_EQ(CString(order.GetString(147)), u"B0009");
  EXPECT_EQ(order.GetNumber(454), 12345);
  EXPECT_EQ(ctrl->m_mapOrderRef.at(u"OB1"), u"n1");
  EXPECT_EQ(ctrl->m_mapOrderNoToKey.at(u"B0009"), key);
  EXPECT_EQ(ctrl->m_mapOrderIndexToKey.count(0), 0u);
}

}  // namespace
}  // namespace kdx
