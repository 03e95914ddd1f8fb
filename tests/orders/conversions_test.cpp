// The order ticket as a host fills it, and the conversions every new order applies to it.
#include "orders/Conversions.h"

#include <cmath>
#include <limits>
#include <optional>

#include "common/control_util.h"

namespace kdx {
namespace {

using test::ControlTest;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class OrderTicket : public ControlTest {
 protected:
  void Text(long field, const char16_t* text) { Call(u"SetOrderInfoString", {VARIANT(int32_t(field)), VARIANT(text)}); }
  void Value(long field, double value) { Call(u"SetOrderInfoValue", {VARIANT(int32_t(field)), VARIANT(value)}); }
};

TEST_F(OrderTicket, StoresFieldsAsTheHostWritesThem) {
  struct Case {
    long field;
    const char16_t* text;
    long read;
    const char16_t* expected;
  } cases[] = {{3, u"DB", 3, u"1"}, {3, u"db", 3, u"db"}, {3, u"N", 3, u"0"}, {3, u"CR", 3, u"2"}, {3, u"CRX", 3, u"CRX"},
               {10, u"N", 10, u"N"}, {40, u"x", 39, u""}, {40, u"x", 40, u"x"}, {-1, u"x", 0, u""}};
  for (const Case& c : cases) {
    Call(u"ClearOrder");
    Text(c.field, c.text);
    EXPECT_EQ(ctrl->OrderInfoString(c.read), c.expected) << c.field << test::Utf8(c.text);
    EXPECT_EQ(ctrl->m_arrOrderInfoString.size(), c.field < 0 ? 0u : 1u);
  }
  Value(6, 12.5), Value(6, 13.5), Value(-6, 1.0), Value(7, 2.0);
  EXPECT_EQ(ctrl->OrderInfoValue(6), 13.5);  // the last write wins
  EXPECT_EQ(ctrl->OrderInfoValue(5), 0.0);
  EXPECT_EQ(ctrl->m_arrOrderInfoValue.size(), 2u);
  for (long field = 100; field < 3000; ++field) Text(field, u"junk");
  Text(7, u"kept");  // a field that is read still lands when the ticket is full
  EXPECT_EQ(ctrl->OrderInfoString(7), u"kept");
  EXPECT_EQ(ctrl->m_arrOrderInfoString.size(), 1025u);
  Call(u"ClearOrder");
  EXPECT_TRUE(ctrl->m_arrOrderInfoString.empty() && ctrl->m_arrOrderInfoValue.empty());
  EXPECT_EQ(ctrl->OrderInfoString(7), u"");
  // Arguments of other types are converted, as for any automation call.
  Call(u"SetOrderInfoValue", {VARIANT(u"8"), VARIANT(u"12.25")});
  Call(u"SetOrderInfoString", {VARIANT::I2(9), VARIANT(42.0)});
  EXPECT_EQ(ctrl->OrderInfoValue(8), 12.25);
  EXPECT_EQ(ctrl->OrderInfoString(9), u"42");
}

TEST_F(OrderTicket, ConvertsSymbols) {
  ctrl->m_mapObProductCode = {{u"F|CME|NQ|201503|0|0", u"NQ1"}, {u"F|CME|ES|201503|0|0", u"ES1"}, {u"F|CBT|ZC|201503|0|0", u"ZC1"}};
  ctrl->m_mapObExchange = {{u"F|CME|NQ|201503|0|0", u"CME2"}, {u"F|CME|ES|201503|0|0", u"CME3"}};
  ctrl->m_mapObDisplaySymbol = {{u"F|CME|NQ|201503|0|0", u"Nasdaq"}};
  const CString longCode(u'A', 250), longPart = longCode.Left(247);
  struct Case {
    CString symbol;
    long kind, result;
    const char16_t *text2, *text12, *text13, *text16;
    double strike;
    const char16_t* display;
  } cases[] = {
      {u"ORV.TWS.2330", 1, 1, u"2330", u"-", u"-", u"-", -1, u"-"},
      {u"..ORV..TWS..2330.", 1, 1, u"2330", u"-", u"-", u"-", -1, u"-"},
      {u"orv.TWS.2330", 1, 0, u"-", u"-", u"-", u"-", -1, u"-"},
      {u"ORV.TWF.2330", 1, 0, u"-", u"-", u"-", u"-", -1, u"-"},
      {u"ORV.TWS", 1, 0, u"-", u"-", u"-", u"-", -1, u"-"},
      {u"ORV.TWS." + longCode, 1, 1, longPart.GetString(), u"-", u"-", u"-", -1, u"-"},
      {u"ORV.TWF.TXF.201503", 2, 1, u"TXF", u"TW", u"201503", u"-", -1, u"-"},
      {u"ORV.TWF.TXF", 2, 0, u"-", u"-", u"-", u"-", -1, u"-"},
      {u"ORV.CME.NQ.201503", 2, 1, u"NQ1", u"CME2", u"201503", u"-", -1, u"Nasdaq"},
      {u"ORV.CME.ES.201503", 2, 1, u"ES1", u"CME3", u"201503", u"-", -1, u"-"},  // no display mapping
      {u"ORV.CBT.ZC.201503", 2, 1, u"ZC", u"CBT", u"201503", u"-", -1, u"ORV.CBT.ZC.201503"},
      {u"ORV.CME.NQ", 2, 0, u"-", u"-", u"-", u"-", -1, u"-"},
      {u"ORV.TWF.TXO.201503.C.9500", 3, 1, u"TXO", u"TW", u"201503", u"C", 9500, u"-"},
      {u"ORV.TWF.TFO.201503.P.750.5\r\n9", 3, 1, u"TFO", u"TW", u"201503", u"P", 750.5, u"-"},
      {u"ORV.TWF.TFO.201503.P.750.5.3", 3, 1, u"TFO", u"TW", u"201503", u"P", 750.5, u"-"},
      {u"ORV.TWF.TXO.201503.C.x1", 3, 1, u"TXO", u"TW", u"201503", u"C", 0, u"-"},
      {u"ORV.TWF.TXO.201503.C", 3, 0, u"-", u"-", u"-", u"-", -1, u"-"},
      {u"ORV.CME.TXO.201503.C.1", 3, 0, u"-", u"-", u"-", u"-", -1, u"-"},
      {u"ORV.TWF.TXF.201503", 4, 0, u"-", u"-", u"-", u"-", -1, u"-"},
  };
  for (const Case& c : cases) {
    for (long field : {2, 12, 13, 16}) ctrl->SetOrderInfoString(field, u"-");
    ctrl->SetOrderInfoValue(17, -1);
    CString display = u"-";
    EXPECT_EQ(ctrl->ConvertSymbol(c.symbol, c.kind, display), c.result) << c.symbol.ToUtf8();
    const std::pair<long, const char16_t*> texts[] = {{2, c.text2}, {12, c.text12}, {13, c.text13}, {16, c.text16}};
    for (const auto& [field, text] : texts) EXPECT_EQ(ctrl->OrderInfoString(field), text) << c.symbol.ToUtf8() << field;
    EXPECT_EQ(ctrl->OrderInfoValue(17), c.strike) << c.symbol.ToUtf8();
    EXPECT_EQ(display, c.display) << c.symbol.ToUtf8();
  }
}

TEST_F(OrderTicket, PacksTheOrderKey) {
  const std::pair<std::vector<std::pair<long, const char16_t*>>, const char16_t*> cases[] = {
      {{{11, u"abc"}, {42, u"x,y"}}, u"[!@0]abc[!@3]x%$&y"}, {{{48, u"z"}}, u"[!@9]z"},
      {{{48, u"9"}, {47, u"8"}, {46, u"7"}, {45, u"6"}, {44, u"5"}, {43, u"4"}, {42, u"3"}, {41, u"2"}, {40, u"1"},
        {12, u"c"}, {11, u"0"}},
       u"[!@0]0[!@1]1[!@2]2[!@3]3[!@4]4[!@5]5[!@6]6[!@7]7[!@8]8[!@9]9"},
      {{}, u""}};
  for (const auto& [fields, expected] : cases) {
    Call(u"ClearOrder");
    for (const auto& [field, text] : fields) Text(field, text);
    EXPECT_EQ(ctrl->BuildOrderKey(), expected);
  }
}

TEST(Conversions, ScalePricesAndRefuseWhatDoesNotFit) {
  const std::pair<double, std::optional<int32_t>> thousandths[] = {
      {12.345, 12345}, {-12.345, -12345}, {0.0005, 0}, {0.0009995, 1}, {0.0004999, 0}, {100.0, 100000}, {1.2346, 1234},
      {2147483.647, 2147483647}, {2147483.648, std::nullopt}, {-2147483.648, -2147483647 - 1},
      {-2147483.649, std::nullopt}, {kNaN, std::nullopt}, {INFINITY, std::nullopt}};
  for (const auto& [price, expected] : thousandths) EXPECT_EQ(ScalePriceThousandths(price), expected) << price;
  const std::pair<double, std::optional<int64_t>> millionths[] = {
      {1.0000005, 1000001}, {-1.5e-6, -2}, {4321.5, 4321500000}, {9.2e12, 9200000000000000000},
      {9.3e12, std::nullopt}, {-9.3e12, std::nullopt}, {kNaN, std::nullopt}};
  for (const auto& [price, expected] : millionths) EXPECT_EQ(ScalePriceMillionths(price), expected) << price;
  EXPECT_EQ(MillionthsText(9200000000000000000), u"9200000000000000000");
}

TEST(Conversions, ScaleQuantities) {
  struct Case {
    double quantity;
    long kind;
    const char16_t* tradeType;
    std::optional<std::pair<int32_t, int32_t>> expected;
  } cases[] = {{2.7, kSymbolStock, u"", {{2, 2000}}}, {500, kSymbolStock, u"O", {{500, 500}}},
               {5, kSymbolStock, u"o", {{5, 5000}}},   {-1.5, kSymbolStock, u"", {{-1, -1000}}},
               {3.9, kSymbolFutures, u"", {{3, 3}}},   {2147484, kSymbolStock, u"", std::nullopt},
               {2147484, kSymbolOptions, u"", {{2147484, 2147484}}}, {3e9, kSymbolFutures, u"O", std::nullopt},
               {kNaN, kSymbolFutures, u"", std::nullopt}};
  for (const Case& c : cases) {
    const auto q = ScaleQuantity(c.quantity, c.kind, c.tradeType);
    EXPECT_EQ(q ? std::optional(std::pair(q->nEntered, q->nSent)) : std::nullopt, c.expected) << c.quantity;
  }
}

TEST(Conversions, AccountsFlagsAndScaledPrices) {
  const std::pair<const char16_t*, std::optional<std::pair<CString, CString>>> sessions[] = {
      {u"9A95-0012345", {{u"9A95", u"0012345"}}}, {u"a-b-c", {{u"a", u"b-c"}}}, {u"-123", std::nullopt}, {u"123", std::nullopt}};
  for (const auto& [text, expected] : sessions) {
    const auto split = SplitAccount(text);
    EXPECT_EQ(split ? std::optional(std::pair(split->strBranch, split->strAccount)) : std::nullopt, expected) << test::Utf8(text);
  }
  const std::pair<CString, const char16_t*> texts[] = {
      {OrderAccount(u"01-12345"), u"12345"}, {OrderAccount(u"12345"), u"12345"}, {OrderAccount(u"-12345"), u"12345"},
      {OrderAccount(u"a-b-c"), u"b-c"},      {StockPriceFlag(u"l"), u"0"},        {StockPriceFlag(u"N"), u"2"},
      {StockPriceFlag(u"d"), u"3"},          {StockPriceFlag(u"U"), u"4"},        {StockPriceFlag(u"x"), u"x"},
      {FuturesPriceFlag(u"m"), u"1"},        {FuturesPriceFlag(u"M"), u"1"},      {FuturesPriceFlag(u"L"), u"0"},
      {FormatScaledPrice(12500, 3), u"12.5"}, {FormatScaledPrice(500, 3), u"0.5"}, {FormatScaledPrice(10000, 3), u"10"},
      {FormatScaledPrice(100000, 3), u"100"}, {FormatScaledPrice(0, 3), u"0"},    {FormatScaledPrice(7, 3), u"0.007"},
      {FormatScaledPrice(1234567, 6), u"1.234567"}, {FormatScaledPrice(-2500, 3), u"-2.5"},
      {FormatScaledPrice(std::numeric_limits<int64_t>::min(), 6), u"-9223372036854.775808"}};
  for (const auto& [actual, expected] : texts) EXPECT_EQ(actual, expected);
}

}  // namespace
}  // namespace kdx
