// Order and fill reports as a host reads them: component rows in, texts and numbers out
// through the automation interface.
#include <gtest/gtest.h>

#include "common/control_util.h"
#include "resources/string_table.h"
#include "sim/SimRows.h"

namespace kdx {
namespace {

using sim::Market;
using sim::Product;
using sim::SimOrderSpec;
using test::Pump;

SimOrderSpec Spec(Product product, std::u16string orderNo, std::u16string reference = u"", double price = 600,
                  long quantity = 1) {
  SimOrderSpec spec;
  spec.product = product, spec.orderNo = std::move(orderNo), spec.reference = std::move(reference);
  spec.price = price, spec.quantity = quantity;
  return spec;
}

// Row index, field, and the text or value the reader returns.
template <typename T>
struct Expect {
  long index, field;
  T want;
};

class ReportsTest : public test::ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    LogIn("RocID=a1\nBroker=KGI\n");
  }
  std::u16string Text(const char16_t* method, long index, long field) {
    return Call(method, {VARIANT(int32_t(index)), VARIANT(int32_t(field))}).bstrVal;
  }
  double Value(const char16_t* method, long index, long field) {
    return Call(method, {VARIANT(int32_t(index)), VARIANT(int32_t(field))}).dblVal;
  }
  void Check(const char16_t* method, std::initializer_list<Expect<const char16_t*>> rows) {
    for (const auto& e : rows) EXPECT_EQ(Text(method, e.index, e.field), e.want) << e.index << " field " << e.field;
  }
  void Check(const char16_t* method, std::initializer_list<Expect<double>> rows) {
    for (const auto& e : rows) EXPECT_DOUBLE_EQ(Value(method, e.index, e.field), e.want) << e.index << "/" << e.field;
  }
  // Orders 0-4 domestic (stock, futures, option, and the two spreads), 5 overseas.
  void AddOrders() {
    const Product products[] = {Product::Stock, Product::Futures, Product::Option, Product::FuturesSpread,
                                Product::OptionSpread};
    for (long i = 0; i < 5; ++i) {
      const std::u16string digit(1, static_cast<char16_t>(u'0' + i));
      SimOrderSpec spec = Spec(products[i], u"A000" + digit, u"R" + digit, 18000.5, 2);
      spec.side = i == 1 ? u"S" : u"B", spec.note = u"[!@0]A%$&B[!@1]C";
      Api().AddOrder(Market::Domestic, 0, i, sim::OrderRow(spec).Text(8, u"p8").Text(15, u"p15").Text(-3, u"neg"));
    }
    Api().AddOrder(Market::Overseas, 7, 0, sim::OrderRow(overseas).Text(7, u"p7"));
    Pump();
    ASSERT_EQ(Call(u"GetOrderCount").lVal, 6);
  }
  const SimOrderSpec overseas = Spec(Product::Overseas, u"OB01", u"OBREF", 5000.25, 3);
};

TEST_F(ReportsTest, OrderFieldsOfEveryProduct) {
  AddOrders();
  ctrl->m_strMarketDateNML = u"OPEN";
  ctrl->m_strMarketDateFUT = u"START";
  Check(u"GetOrderString",
        {{0, 0, u"9A95-0012345"}, {0, 1, u"A0000"}, {0, 2, u"台積電 2330"}, {0, 3, u"證券"}, {0, 4, u"一般"},
         {0, 5, u"限價"}, {0, 6, u"買進"}, {0, 7, u"N"}, {0, 8, u"p8"}, {0, 11, u"委託成功"}, {0, 12, u"09:30:15"},
         {0, 13, u""}, {0, 14, u"A,B"}, {0, 15, u"p15"}, {0, 16, u"TW"}, {0, 17, u"KGI"}, {0, 20, u"Y"}, {0, 21, u"N"},
         {0, 22, u"Y"}, {0, 23, u"N"}, {0, 24, u""}, {0, 25, u"ORV.TWS.2330"}, {0, 26, u"Sim"}, {0, 28, u"2026/12/07"},
         {0, 29, u""}, {0, 31, u""}, {0, 32, u"R0"}, {0, 40, u"C"}, {0, 41, u""}, {0, 103, u"STK"}, {0, 104, u"NM"},
         {0, 105, u"Limit"}, {0, 106, u"B"}, {0, 111, u"Order OK"}, {0, 115, u"NM"}, {0, -3, u"neg"},
         // futures
         {1, 2, u"台指期 TXF 202612"}, {1, 3, u"期貨"}, {1, 4, u"ROD"}, {1, 6, u"賣出"}, {1, 22, u"Y"},
         {1, 25, u"ORV.TWF.TXF.202612"}, {1, 29, u""}, {1, 30, u""}, {1, 31, u""}, {1, 32, u"R1"}, {1, 103, u"FUT"},
         {1, 115, u"Open"},
         // option, and the spreads' second legs
         {2, 2, u"台指選 TXO 202612 C 18000"}, {2, 3, u"選擇權"}, {2, 25, u"ORV.TWF.TXO.202612.C.18000"},
         {2, 103, u"OPT"}, {3, 29, u"台指期 TXF 202701"}, {3, 30, u"賣出"}, {3, 31, u"ORV.TWF.TXF.202701"},
         {3, 130, u"S"}, {4, 29, u"台指選 TXO 202612 P 17500"}, {4, 31, u"ORV.TWF.TXO.202612.P.17500"},
         // overseas, from the order object
         {5, 0, u"9A950012345"}, {5, 1, u"OB01"}, {5, 2, u"E-mini S&P 500 ES 202703"}, {5, 3, u"期貨"},
         {5, 4, u"ROD"}, {5, 5, u"限價"}, {5, 6, u"買進"}, {5, 7, u"p7"}, {5, 11, u"委託成功"}, {5, 12, u"09:30:15"},
         {5, 15, u"新倉"}, {5, 16, u"CME"}, {5, 21, u"N"}, {5, 22, u"Y"}, {5, 23, u"Y"}, {5, 25, u"ORV.CME.ES.202703"},
         {5, 28, u"2026/12/07"}, {5, 32, u"OBREF"}, {5, 103, u"OBF"}, {5, 105, u"Limit"}, {5, 111, u"Order OK"},
         {5, 115, u"Open"}});
  Check(u"GetOrderValue", {{0, 0, 50}, {0, 7, 18000.5}, {0, 8, 2}, {0, 9, 0}, {1, 7, 18000.5}, {1, 8, 2},
                           {5, 0, 50}, {5, 7, 5000.25}, {5, 8, 3}, {5, 11, 0}});
}

TEST_F(ReportsTest, OrderConversionsFollowTheRowsCodes) {
  AddOrders();
  // Codes changed on the component show at once on domestic rows; the overseas row shows what
  // its object last copied.
  Api().ChangeOrder(Market::Domestic, 0, 0,
                    sim::SimRow().Text(149, u"Q").Text(150, u"1").Text(153, u"O").Text(68, u"12").Text(69, u"bad")
                        .Number(151, -5).Number(156, 0).Number(364, 2000).Number(366, 18200500));
  Api().ChangeOrder(Market::Domestic, 0, 1, sim::SimRow().Text(149, u"I").Text(163, u"C").Text(220, u"X"));
  Pump();
  ctrl->m_strMarketDateFUT = u"START";
  ctrl->m_strMarketDateODD = u"OPEN";
  Check(u"GetOrderString", {{0, 4, u"造市"}, {0, 5, u"市價"}, {0, 11, u"委託失敗"}, {0, 111, u"Order Failed"},
                            {0, 22, u"N"}, {0, 24, u"12:bad"}, {0, 104, u"MK"}, {0, 105, u"Market"}, {0, 115, u""}, {1, 7, u"X"},
                            {1, 22, u"N"}, {1, 115, u"Close"}});
  Check(u"GetOrderValue", {{0, 7, 0}, {0, 8, 0}, {0, 9, 2}, {0, 10, 18200.5}});
  ctrl->m_strMarketDateFUT = u"OPEN";
  EXPECT_EQ(Text(u"GetOrderString", 1, 22), u"Y");
  ctrl->m_strMarketDateFUT = u"CLOSE";
  EXPECT_EQ(Text(u"GetOrderString", 1, 22), u"N");

  FieldRecord& ob = *ctrl->m_mapOBKeyToOrder.begin()->second;
  ob.SetString(150, u"2");
  ob.SetString(220, u"Y");
  ob.SetString(201, u"[!@6]ORV.CME.MES.202706");
  ob.SetNumber(156, 0);
  ob.SetNumber(219, 1500000);
  Check(u"GetOrderString", {{5, 105, u"2"}, {5, 5, u"平盤價"}, {5, 15, u"平今倉"}, {5, 22, u"N"},
                            {5, 25, u"ORV.CME.MES.202706"}, {5, 45, u"ORV.CME.MES.202706"}});
  EXPECT_DOUBLE_EQ(Value(u"GetOrderValue", 5, 11), 1.5);

  // The Simplified table answers through the same ids.
  SetUiLanguage(kLangSimplifiedChinese);
  Check(u"GetOrderString", {{5, 3, u"期货"}, {5, 6, u"买进"}, {0, 4, u"造市"}, {2, 3, u"选择权"}});
  SetUiLanguage(kLangTraditionalChinese);
}

TEST_F(ReportsTest, AccountFieldTakesThePrefixOnlyWithAnAccount) {
  ctrl->m_strRocIDPrefix = u"A1";
  AddOrders();
  Check(u"GetOrderString", {{0, 0, u"A1-9A950012345"}, {5, 0, u"A1-9A950012345"}});
  Api().ChangeOrder(Market::Domestic, 0, 0, sim::SimRow().Text(5, u""));
  Pump();
  ctrl->m_mapOBKeyToOrder.begin()->second->SetString(5, u"");
  Check(u"GetOrderString", {{0, 0, u"9A95-0012345"}, {5, 0, u"9A95-0012345"}});
}

TEST_F(ReportsTest, UnknownAndRemovedRows) {
  AddOrders();
  Api().RemoveOrder(Market::Domestic, 0, 1);
  Pump();
  for (long index : {1L, 6L, -1L, long{INT32_MIN}}) {
    EXPECT_EQ(Text(u"GetOrderString", index, 20), u"N") << index;
    EXPECT_EQ(Text(u"GetOrderString", index, 1), u"") << index;
    EXPECT_EQ(Value(u"GetOrderValue", index, 0), 0) << index;
    EXPECT_EQ(Text(u"GetFillOrderString", index, 20), u"") << index;
    EXPECT_EQ(Value(u"GetFillOrderValue", index, 9), 0) << index;
  }
  EXPECT_EQ(Call(u"GetOrderCount").lVal, 6) << "removed rows stay counted";
  // An overseas index whose object is gone is unknown, field 20 included.
  ctrl->m_mapOBKeyToOrder.clear();
  EXPECT_EQ(Text(u"GetOrderString", 5, 20), u"");
  ctrl->Logout();
  EXPECT_EQ(Text(u"GetOrderString", 0, 20), u"N");
}

TEST_F(ReportsTest, FillFieldsDifferWhereTheTableSays) {
  AddOrders();
  Api().AddFill(Market::Domestic, 4, 0,
                sim::FillRow(Spec(Product::Stock, u"A0000", u"R0"), 601, 3).Text(24, u"p24"));
  Api().AddFill(Market::Domestic, 4, 1,
                sim::FillRow(Spec(Product::Futures, u"A0001", u"NOREF"), -12.5, 1).Text(149, u"2").Text(150, u"2"));
  Api().AddFill(Market::Overseas, 8, 0, sim::FillRow(overseas, 5001.5, 2).Text(150, u"2"));
  Pump();
  ASSERT_EQ(Call(u"GetFillOrderCount").lVal, 3);
  Check(u"GetFillOrderString",
        {{0, 0, u"9A95-0012345"}, {0, 2, u"台積電 2330"}, {0, 3, u"證券"}, {0, 4, u"普通"}, {0, 5, u"限價"},
         {0, 11, u"完全成交"}, {0, 12, u"09:35:12"}, {0, 14, u"A,B"}, {0, 15, u"普通"}, {0, 20, u"Y"}, {0, 21, u"Y"},
         {0, 22, u"Y"}, {0, 23, u"Y"}, {0, 24, u"p24"}, {0, 40, u"C"}, {0, 103, u"STK"}, {0, 115, u"NM"},
         {1, 3, u"期貨"}, {1, 4, u"融券"}, {1, 5, u"平盤"}, {1, 14, u""}, {1, 15, u"新倉"}, {1, 40, u""},
         {1, 105, u"Ref"}, {1, 115, u"Open"},
         {2, 3, u"期貨"}, {2, 5, u"平盤價"}, {2, 6, u"買進"}, {2, 14, u""}, {2, 16, u"CME"}, {2, 20, u"Y"},
         {2, 25, u""}, {2, 105, u"Ref"}, {2, 115, u"Open"}});
  Check(u"GetFillOrderValue", {{0, 9, 3}, {0, 10, 601}, {1, 9, 1}, {1, 10, -12.5}, {2, 9, 2}, {2, 10, 5001.5}});

  // The overseas symbol: the order note's tag 6, else the product table, else the tag itself.
  ctrl->m_mapObCodeToKey[u"ES"] = u"F||CME|ES|202703|0|0";
  EXPECT_EQ(Text(u"GetFillOrderString", 2, 25), u"ORV.CME.ES.202703");
  ctrl->m_mapOrderRef[u"OBREF"] = u"[!@6]ORV.TAG.X.1";
  EXPECT_EQ(Text(u"GetFillOrderString", 2, 25), u"ORV.TAG.X.1");
}

TEST_F(ReportsTest, StatusTextsFollowASession) {
  const SimOrderSpec spec = Spec(Product::Futures, u"F1", u"", 600, 3);
  Api().AddOrder(Market::Domestic, 0, 0, sim::OrderRow(spec));
  Api().AddOrder(Market::Domestic, 0, 1, sim::OrderRow(Spec(Product::Stock, u"S1")));
  Pump();
  std::vector<std::u16string> seen{Text(u"GetOrderString", 0, 111)};
  for (long filled : {1L, 3L}) {
    Api().ChangeOrder(Market::Domestic, 0, 0, sim::FilledOrderChanges(spec, filled, 18000));
    Pump();
    seen.push_back(Text(u"GetOrderString", 0, 111));
  }
  Api().ChangeOrder(Market::Domestic, 0, 1, sim::SimRow().Number(156, 0));  // cancelled
  Pump();
  seen.push_back(Text(u"GetOrderString", 1, 111));
  EXPECT_EQ(seen, (std::vector<std::u16string>{u"Order OK", u"Partial Matched", u"Full Matched", u"Cancelled"}));
  EXPECT_EQ(Text(u"GetOrderString", 0, 11), u"完全成交");
  EXPECT_EQ(Value(u"GetOrderValue", 0, 9), 3);
}

// A host may pass any automation type; a component call that fails fails the read, logged.
TEST_F(ReportsTest, ReadersCoerceArgumentsAndSurfaceComponentFailures) {
  AddOrders();
  VARIANT args[2] = {VARIANT(u"1"), VARIANT(2.0)}, result;
  ASSERT_EQ(ctrl->Invoke(6, DISPATCH_METHOD, args, &result), S_OK);
  EXPECT_EQ(result.bstrVal, u"台指期 TXF 202612");
  Api().Config().failingCalls[omnideal::GetDataString] = E_FAIL;
  for (VARIANT index : {VARIANT(int32_t{1}), VARIANT(u"1")}) {
    VARIANT a[2] = {index, VARIANT(int32_t{2})};
    result = VARIANT(u"stale");
    EXPECT_EQ(ctrl->Invoke(6, DISPATCH_METHOD, a, &result), DISP_E_EXCEPTION);
    EXPECT_NE(GetErrorInfo().find(u"GetDataString"), std::u16string::npos);
    EXPECT_EQ(result.bstrVal, u"stale");
  }
  EXPECT_EQ(events.Logs(0).size(), 2u);
  // Only the readers' own calls take their direct path.
  VARIANT longs[2] = {VARIANT(int32_t{5}), VARIANT(int32_t{7})};
  EXPECT_EQ(ctrl->Invoke(6, DISPATCH_PROPERTYGET, longs, &result), DISP_E_MEMBERNOTFOUND);
  ASSERT_EQ(ctrl->Invoke(17, DISPATCH_METHOD, longs, &result), S_OK);  // SetOrderInfoValue
  EXPECT_EQ(result.vt, VT_EMPTY);
  ASSERT_EQ(ctrl->Invoke(7, DISPATCH_METHOD, longs, &result), S_OK) << "overseas orders read their object";
  EXPECT_DOUBLE_EQ(result.dblVal, 5000.25);
}

}  // namespace
}  // namespace kdx
