// Orders as a host places them: the ticket through the automation interface, ProcessOrder,
// and what reaches the component, the Log event and the confirmation dialog.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <string>
#include <utility>
#include <variant>

#include "common/control_util.h"
#include "platform/codepage.h"
#include "resources/string_table.h"
#include "sim/SimRows.h"
#include "ui/ConfirmDialog.h"

namespace kdx {
namespace {

using sim::Market;
using sim::Product;
using test::Strings;
using test::Utf8;

using Field = std::pair<long, std::variant<const char16_t*, double>>;

constexpr long kAccepted = 7;  // what the simulated component answers

// "i=text" for texts and "i:n" for numbers, "|"-separated: one line says the whole array.
std::string Render(const sim::SimOrder& order) {
  std::string out;
  for (std::size_t i = 0; i < order.fields.size(); ++i) {
    const VARIANT& v = order.fields[i];
    if (v.vt == VT_EMPTY) continue;
    out += (out.empty() ? "" : "|") + std::to_string(i);
    out += v.vt == VT_BSTR ? "=" + Utf16ToUtf8(v.bstrVal) : v.vt == VT_I4 ? ":" + std::to_string(v.lVal) : "?";
  }
  return out;
}

// "title/kind" and each row as "label=value", with "#colour" where the value is not in the
// usual grey; every label must be in the label colour.
std::string Render(const ConfirmRequest& dialog) {
  std::string out = Utf8(dialog.title) + "/" + std::to_string(dialog.kind);
  for (const ConfirmRow& row : dialog.rows) {
    EXPECT_EQ(row.labelColour, kConfirmLabelColour) << Utf8(row.label);
    out += "|" + Utf8(row.label) + "=" + Utf8(row.value);
    if (row.valueColour != kConfirmValueColour) out += "#" + std::to_string(row.valueColour);
  }
  return out;
}

class ProcessOrderTest : public test::ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    sim::SimConfig config;
    config.orderResult = kAccepted;
    Register(config);
    LogIn("RocID=KG_A1\nBroker=8880\nBrokerName=KGI\nImagePath=/skins/\n");
    ctrl->m_mapObProductCode = {{u"F|CME|NQ|202703|0|0", u"NQ1"}};
    ctrl->m_mapObExchange = {{u"F|CME|NQ|202703|0|0", u"CME2"}};
    ctrl->m_mapObDisplaySymbol = {{u"F|CME|NQ|202703|0|0", u"Nasdaq"}};
    SetConfirmPresenter(dialogs);
  }
  void TearDown() override {
    SetConfirmPresenter(nullptr);
    ControlTest::TearDown();
  }

  long Place(const std::vector<Field>& ticket) {
    Call(u"ClearOrder");
    for (const auto& [field, value] : ticket) {
      if (const auto* text = std::get_if<const char16_t*>(&value)) {
        Call(u"SetOrderInfoString", {VARIANT(int32_t(field)), VARIANT(*text)});
      } else {
        Call(u"SetOrderInfoValue", {VARIANT(int32_t(field)), VARIANT(std::get<double>(value))});
      }
    }
    const long result = Call(u"ProcessOrder").lVal;
    EXPECT_TRUE(ctrl->m_arrOrderInfoString.empty() && ctrl->m_arrOrderInfoValue.empty());
    return result;
  }
  // Existing orders as the component reports them, numbered by the control.
  void AddOrder(Market market, long kind, long row, const sim::SimRow& data) {
    Api().AddOrder(market, kind, row, data);
    test::Pump();
    events.Clear();
    Api().ClearCalls();
  }

  void Check(const struct OrderCase& c);

  std::shared_ptr<ScriptedConfirmPresenter> dialogs = std::make_shared<ScriptedConfirmPresenter>();
};

struct OrderCase {
  const char* name;
  std::vector<Field> ticket;
  const char* method;
  long quantityArg;  // the reduce methods' first argument
  const char* array;
  const char* log;
  const char* dialog;  // empty: no dialog even with prompting on
};

const std::vector<Field> kStock{{0, u"S"}, {1, u"01-0012345"}, {2, u"ORV.TWS.2330"}, {3, u"DB"}, {4, u"B"},
                                {5, u"l"}, {6, 600.5},          {7, 2.9},          {8, u"T"},  {10, u"N"},
                                {11, u"abc"}, {42, u"x,y"}};

const OrderCase kNewOrders[] = {
    {"stock", kStock, "StkOrder", 0,
     "0=A123456789|1=pass1234|2=9A95|3=0012345|5=OR|6=2330|7=B|8=1|9=|10=0|11:600500|12:2000|13=[!@0]abc[!@3]x%$&y|"
     "23=T|26=N|35=0012345",
     "(StkOrder)ROC_ID=A123456789,BRANCH_ID=9A95,CUST_ID=0012345,SYMBOL=2330,BUY_SELL=B,ORDER_TYPE=1,TRADE_TYPE=,"
     "PRICE_FLAG=0,PRICE=600500,QTY=2000,ORDER_KEY=[!@0]abc[!@3]x%$&y,MARKET_TYPE=T,DAY_TRADE=N",
     "確認證券下單/0|類別=國內證券|交易商=KGI 8880|帳號=KG-0012345|商品=2330|買賣別=Buy#255|數量=2|價格=600.5|下單別=融資"},
    {"odd-lot stock, limit-up, lower-case b sells",
     {{0, u"S"}, {1, u"0012345"}, {2, u"orv.TWS.2330"}, {3, u"N"}, {4, u"b"}, {5, u"u"}, {7, 25.0}, {9, u"O"}},
     "StkOrder", 0,
     "0=A123456789|1=pass1234|2=9A95|3=0012345|5=OR|6=orv.TWS.2330|7=b|8=0|9=O|10=4|11:0|12:25|13=|23=|26=|35=0012345",
     "(StkOrder)ROC_ID=A123456789,BRANCH_ID=9A95,CUST_ID=0012345,SYMBOL=orv.TWS.2330,BUY_SELL=b,ORDER_TYPE=0,"
     "TRADE_TYPE=O,PRICE_FLAG=4,PRICE=0,QTY=25,ORDER_KEY=,MARKET_TYPE=,DAY_TRADE=",
     "確認證券下單/0|類別=國內證券|交易商=KGI 8880|帳號=KG-0012345|商品=orv.TWS.2330|買賣別=Sell#65280|數量=25|價格=漲停價|"
     "下單別=一般"},
    {"stock at a flag the dialog has no price for", {{0, u"S"}, {2, u"ORV.TWS.1101"}, {3, u"CR"}, {5, u"M"}, {7, 1.0}},
     "StkOrder", 0,
     "0=A123456789|1=pass1234|2=9A95|3=0012345|5=OR|6=1101|7=|8=2|9=|10=M|11:0|12:1000|13=|23=|26=|35=",
     "(StkOrder)ROC_ID=A123456789,BRANCH_ID=9A95,CUST_ID=0012345,SYMBOL=1101,BUY_SELL=,ORDER_TYPE=2,TRADE_TYPE=,"
     "PRICE_FLAG=M,PRICE=0,QTY=1000,ORDER_KEY=,MARKET_TYPE=,DAY_TRADE=",
     "確認證券下單/0|類別=國內證券|交易商=KGI 8880|帳號=KG-|商品=1101|買賣別=Sell#65280|數量=1|價格=|下單別=融券"},
    {"domestic futures at market",
     {{0, u"F"}, {1, u"0012345"}, {2, u"ORV.TWF.TXF.202612"}, {3, u"1"}, {4, u"S"}, {5, u"m"}, {7, 3.0},
      {10, u"n"}, {14, 17000.25}, {15, u"O"}, {48, u"z"}},
     "FutOrder", 0,
     "0=A123456789|1=pass1234|2=9A95|3=0012345|5=OR|6=TXF|7=S|8=R|10=1|11:0|12:3|13=[!@9]z|14=O|15=202612|25:17000250|"
     "26=n|35=0012345",
     "(FutOrder)ROC_ID=A123456789,BRANCH_ID=9A95,CUST_ID=0012345,SYMBOL=TXF,MONTH=202612,BUY_SELL=S,ORDER_TYPE=R,"
     "PRICE_FLAG=1,PRICE=0,QTY=3,ORDER_KEY=[!@9]z,OPEN_CLOSE=O,STOP_PRICE=17000250,DAY_TRADE=n",
     "確認期貨下單/0|類別=國內期貨|交易商=KGI 8880|帳號=KG-0012345|商品=TXF|履約年月=202612|買賣別=Sell#65280|數量=3|"
     "價格=市價|倉別=新倉|委託條件=ROD|當日沖銷=n"},
    {"overseas futures through the product table",
     {{0, u"F"}, {1, u"0012345"}, {2, u"ORV.CME.NQ.202703"}, {3, u"F"}, {4, u"B"}, {6, 21000.25}, {7, 1.0},
      {10, u"N"}, {14, 20999.5}, {15, u"C"}},
     "OBFutOrder", 0,
     "0=A123456789|1=pass1234|2=9A95|3=0012345|5=OR|6=NQ1|7=B|8=F|10=0|11=21000250000|12:1|13=|14=C|15=202703|24=CME2|"
     "25=20999500000|26=N|35=0012345",
     "(OBFutOrder)ROC_ID=A123456789,BRANCH_ID=9A95,CUST_ID=0012345,EXCHANGE=CME2,SYMBOL=NQ1,MONTH=202703,BUY_SELL=B,"
     "ORDER_TYPE=F,PRICE_FLAG=0,PRICE=21000250000,QTY=1,ORDER_KEY=,OPEN_CLOSE=C,STOP_PRICE=20999500000,DAY_TRADE=N",
     "確認國外期貨下單/0|類別=國外期貨|交易商=KGI 8880|帳號=KG-0012345|交易所=CME2|商品=NQ1 Nasdaq|履約年月=202703|"
     "買賣別=Buy#255|數量=1|價格=21000.25|停損價=20999.5|當沖=N"},
    {"overseas futures unmapped, CFFEX, below a thousandth, no stop",
     {{0, u"F"}, {2, u"ORV.cffex.IF.202703"}, {3, u"1"}, {4, u"B"}, {6, 0.0004}, {7, 2.0}, {10, u"N"}, {15, u"X"}},
     "OBFutOrder", 0,
     "0=A123456789|1=pass1234|2=9A95|3=0012345|5=OR|6=IF|7=B|8=I|10=0|11=400|12:2|13=|14=X|15=202703|24=cffex|25=0|"
     "26=N|35=",
     "(OBFutOrder)ROC_ID=A123456789,BRANCH_ID=9A95,CUST_ID=0012345,EXCHANGE=cffex,SYMBOL=IF,MONTH=202703,BUY_SELL=B,"
     "ORDER_TYPE=I,PRICE_FLAG=0,PRICE=400,QTY=2,ORDER_KEY=,OPEN_CLOSE=X,STOP_PRICE=0,DAY_TRADE=N",
     "確認國外期貨下單/0|類別=國外期貨|交易商=KGI 8880|帳號=KG-|交易所=cffex|商品=IF ORV.cffex.IF.202703|履約年月=202703|"
     "買賣別=Buy#255|數量=2|價格=0.0004|當沖=N"},
    {"options with a decimal strike and day trade Y",
     {{0, u"O"}, {1, u"0012345"}, {2, u"ORV.TWF.TFO.202612.P.750.5"}, {3, u"1"}, {4, u"B"}, {6, 12.345}, {7, 4.0},
      {10, u"Y"}, {15, u"A"}},
     "OptOrder", 0,
     "0=A123456789|1=pass1234|2=9A95|3=0012345|5=OR|6=TFO|7=B|8=1|10=0|11:12345|12:4|13=|14=A|15=202612|16=P|17:750500|"
     "26=Y|35=0012345",
     "(OptOrder)ROC_ID=A123456789,BRANCH_ID=9A95,CUST_ID=0012345,SYMBOL=TFO,MONTH=202612,CALL_PUT=P,"
     "STRIKE_PRICE=750500,BUY_SELL=B,ORDER_TYPE=1,PRICE_FLAG=0,PRICE=12345,QTY=4,ORDER_KEY=,OPEN_CLOSE=A,DAY_TRADE=Y",
     "確認選擇權下單/0|類別=國內選擇權|交易商=KGI 8880|帳號=KG-0012345|商品=TFO|履約價=750.500|Call/Put=Put|"
     "履約年月=202612|買賣別=Buy#255|數量=4|價格=12.345|倉別=自動|下單別=1"},
};

// Each order four ways: confirmed, declined, without the dialog, and in test mode. An order
// without a dialog ("NO_PROMPT") is not declined.
void ProcessOrderTest::Check(const OrderCase& c) {
  SCOPED_TRACE(c.name);
  const std::string log = c.log, name = log.substr(1, log.find(')') - 1);
  for (const int mode : {0, 1, 2, 3}) {
    SCOPED_TRACE(mode);
    const bool prompt = mode != 2 && *c.dialog, declined = mode == 1, testMode = mode == 3;
    if (declined && !prompt) continue;
    ctrl->m_bOrderPrompt = mode != 2;
    ctrl->m_bTestMode = testMode;
    if (declined) dialogs->QueueAnswer(IDCANCEL);
    const std::size_t shown = dialogs->Shown().size(), sent = Api().Orders().size();
    events.Clear();

    const long result = Place(c.ticket);
    EXPECT_EQ(ctrl->m_bOrderPrompt, mode != 2);
    ASSERT_EQ(dialogs->Shown().size(), shown + prompt);
    if (prompt) {
      EXPECT_EQ(Render(dialogs->Shown().back()), c.dialog);
      EXPECT_EQ(Utf8(dialogs->Shown().back().imageDirectory), "/skins/");
    }
    if (declined) {
      EXPECT_EQ(result, -100);
      EXPECT_EQ(events.Summary(), Strings{"Log(1," + name + " CANCELED !)"});
    } else {
      EXPECT_EQ(result, testMode ? -101 : kAccepted);
      Strings expected{"Log(2," + std::string(c.log) + ")"};
      if (testMode) expected.push_back("Log(1," + name + " TESTED !)");
      EXPECT_EQ(events.Summary(), expected);
    }
    ASSERT_EQ(Api().Orders().size(), sent + (mode == 0 || mode == 2));
    if (Api().Orders().size() > sent) {
      const sim::SimOrder& order = Api().Orders().back();
      EXPECT_EQ(Utf16ToUtf8(order.method), c.method);
      EXPECT_EQ(order.quantity, c.quantityArg);
      EXPECT_EQ(Render(order), c.array);
    }
  }
}

TEST_F(ProcessOrderTest, NewOrdersReachTheComponentAsTheyShould) {
  for (const OrderCase& c : kNewOrders) Check(c);
}

struct RefusalCase {
  const char* name;
  std::vector<Field> ticket;
  const char16_t* sessionAccount;
  long result;
  Strings logs;
  bool box;  // the day-trade refusal
};

// Orders that never reach the component, nor the dialog.
TEST_F(ProcessOrderTest, RefusedOrdersSendNothing) {
  const RefusalCase cases[] = {
      {"lower-case kind", {{0, u"s"}, {2, u"ORV.TWS.2330"}, {7, 1.0}}, nullptr, 0, {}, false},
      {"empty ticket", {}, nullptr, 0, {}, false},
      {"futures symbol without month", {{0, u"F"}, {2, u"ORV.TWF.TXF"}, {10, u"N"}}, nullptr, -54, {}, false},
      {"futures day trade", {{0, u"F"}, {2, u"ORV.TWF.TXF.202612"}, {10, u"Y"}}, nullptr, -26, {}, true},
      {"stock without session account", {{0, u"S"}, {2, u"ORV.TWS.2330"}}, u"0012345", -2, {}, false},
      {"futures with account first", {{0, u"F"}, {2, u"ORV.TWF.TXF.202612"}, {10, u"N"}}, u"-0012345", 0, {}, false},
      {"options without session account", {{0, u"O"}, {2, u"ORV.TWF.TXO.202612.C.18000"}}, u"", -1, {}, false},
      {"stock shares past 32 bits", {{0, u"S"}, {7, 2147484.0}}, nullptr, 0, {"Log(0,StkOrder REFUSED ! QTY out of range)"}, false},
      {"stock price past 32 bits", {{0, u"S"}, {6, 2147483.648}}, nullptr, 0, {"Log(0,StkOrder REFUSED ! PRICE out of range)"}, false},
      {"overseas price past thousandths", {{0, u"F"}, {2, u"ORV.CME.ES.202703"}, {6, 2147483.648}, {10, u"N"}},
       nullptr, 0, {"Log(0,FutOrder REFUSED ! PRICE out of range)"}, false},
      {"options strike not a number", {{0, u"O"}, {17, std::nan("")}}, nullptr, 0,
       {"Log(0,OptOrder REFUSED ! STRIKE_PRICE out of range)"}, false},
      {"reduce of an unknown order", {{0, u"R"}, {18, u"NOPE"}}, nullptr, -27, {}, false},
      {"modify of an unknown order", {{0, u"M"}, {18, u"NOPE"}}, nullptr, -27, {}, false},
  };
  for (const uint16_t language : {kLangTraditionalChinese, kLangSimplifiedChinese}) {
    SetUiLanguage(language);
    for (const RefusalCase& c : cases) {
      SCOPED_TRACE(c.name);
      test::RecordedBoxes boxes;
      const CString saved = ctrl->m_strDefaultAccount;
      if (c.sessionAccount) ctrl->m_strDefaultAccount = c.sessionAccount;
      events.Clear();
      Api().ClearCalls();
      EXPECT_EQ(Place(c.ticket), c.result);
      ctrl->m_strDefaultAccount = saved;
      EXPECT_EQ(events.Summary(), c.logs);
      EXPECT_TRUE(Api().Calls().empty());
      EXPECT_TRUE(dialogs->Shown().empty());
      ASSERT_EQ(boxes.Shown().size(), c.box ? 1u : 0u);
      if (c.box) {
        EXPECT_EQ(boxes.Shown()[0].text, LoadResourceString(251));
        EXPECT_EQ(boxes.Shown()[0].caption, u"ERROR");
        EXPECT_EQ(boxes.Shown()[0].type, MB_ICONERROR | MB_TOPMOST);
      }
    }
  }
  SetUiLanguage(kLangTraditionalChinese);
}

sim::SimRow Existing(Product product, std::u16string orderNo, double price, long quantity) {
  sim::SimOrderSpec spec;
  spec.product = product;
  spec.orderNo = std::move(orderNo);
  spec.price = price;
  spec.quantity = quantity;
  return sim::OrderRow(spec).Text(362, u"N7");
}

const char* const kLogin = "0=A123456789|1=pass1234|2=9A95|3=0012345|5=OR|";
const OrderCase kChanges[] = {
    {"stock reduce", {{0, u"R"}, {18, u"A0001"}, {7, 2.9}}, "ReduceStkOrder", 2,
     "6=2330|7=B|8=0|9=N|10=0|11:600000|12:3000|13=|23=T|27=A0001|28=N7|29=A0001|30:2000|32=20261207|33:0|"
     "35=9A950012345",
     "(ReduceStkOrder)ORDER_NO=A0001",
     "確認證券減量/2|類別=國內證券|交易商=KGI 8880|帳號=KG-9A950012345|商品=2330|買賣別=Buy#255|價格=600|原來數量=3000|"
     "減少數量=2"},
    {"stock cancel", {{0, u"C"}, {18, u"A0001"}, {7, 2.0}}, "ReduceStkOrder", 0,
     "6=2330|7=B|8=0|9=N|10=0|11:600000|12:3000|13=|23=T|27=A0001|28=N7|29=A0001|30:0|32=20261207|33:0|35=9A950012345",
     "(ReduceStkOrder)ORDER_NO=A0001",
     "確認證券刪單/1|類別=國內證券|交易商=KGI 8880|帳號=KG-9A950012345|商品=2330|買賣別=Buy#255|價格=600|原來數量=3000"},
    {"odd-lot stock reduce at limit-down", {{0, u"R"}, {18, u"A0002"}, {7, 2.0}}, "ReduceStkOrder", 2,
     "6=2330|7=B|8=0|9=O|10=3|11:600000|12:500|13=|23=O|27=A0002|28=N7|29=A0002|30:2|32=20261207|33:0|35=9A950012345",
     "(ReduceStkOrder)ORDER_NO=A0002",
     "確認證券減量/2|類別=國內證券|交易商=KGI 8880|帳號=KG-9A950012345|商品=2330|買賣別=Buy#255|價格=跌停價|原來數量=500|"
     "減少數量=2"},
    {"futures cancel sends what remains", {{0, u"C"}, {18, u"F0001"}}, "ReduceFutOrder", 0,
     "6=TXF|7=S|10=1|11:0|12:4|13=|14=O|15=202612|27=F0001|28=N7|29=F0001|30:4|32=20261207|35=9A950012345",
     "(ReduceFutOrder)ORDER_NO=F0001",
     "確認期貨刪單/1|類別=國內期貨|交易商=KGI 8880|帳號=KG-9A950012345|商品=TXF|履約年月=202612|買賣別=Sell#65280|"
     "價格=市價|原來數量=4"},
    {"options reduce", {{0, u"R"}, {18, u"O0001"}, {7, 1.0}}, "ReduceOptOrder", 1,
     "6=TXO|7=B|8=R|10=0|11:85500|12:2|13=|14=O|15=202612|16=C|17:18000000|27=O0001|28=N7|29=O0001|30:1|32=20261207|"
     "35=9A950012345",
     "(ReduceOptOrder)ORDER_NO=O0001",
     "確認選擇權減量/2|類別=國內選擇權|交易商=KGI 8880|帳號=KG-9A950012345|商品=TXO|履約年月=202612|履約價=18000.000|"
     "Call/Put=C|買賣別=Buy#255|價格=85.5|原來數量=2|減少數量=1"},
    {"overseas reduce", {{0, u"R"}, {18, u"B0001"}, {7, 1.0}}, "ReduceOBFutOrder", 2,
     "6=ES|7=B|10=0|11=4321500000|12:3|13=|14=O|15=202703|24=CME|25=4300000000|26=Y|27=B0001|28=N7|29=B0001|30:1|31:2|"
     "32=20261207|33:0|35=9A950012345",
     "(ReduceOBFutOrder)ORDER_NO=B0001",
     "確認國外期貨減量/2|交易商=KGI 8880|帳號=KG-9A950012345|委託書號=B0001|商品=ES|履約年月=202703|買賣別=Buy#255|"
     "價格=4321.5|原來數量=3|減少數量=1"},
    {"overseas reduce past what remains cancels it", {{0, u"R"}, {18, u"B0001"}, {7, 5.0}}, "ReduceOBFutOrder", 0,
     "6=ES|7=B|10=0|11=4321500000|12:3|13=|14=O|15=202703|24=CME|25=4300000000|26=Y|27=B0001|28=N7|29=B0001|30:3|31:0|"
     "32=20261207|33:0|35=9A950012345",
     "(ReduceOBFutOrder)ORDER_NO=B0001",
     "確認國外期貨減量/2|交易商=KGI 8880|帳號=KG-9A950012345|委託書號=B0001|商品=ES|履約年月=202703|買賣別=Buy#255|"
     "價格=4321.5|原來數量=3|減少數量=5"},
    {"price change, stop kept", {{0, u"M"}, {18, u"B0001"}, {6, 12.5000005}, {7, 1.0}}, "ReduceOBFutOrder", 3,
     "4=9A950012345|5=OR|6=ES|7=B|10=0|11=12500001|13=|14=O|15=202703|24=CME|25=4300000000|26=Y|27=B0001|28=N7|29=B0001|30:0|"
     "31:3|32=20261207|33:0",
     "(ModifyOBFutOrder)ORDER_NO=B0001",
     "確認國外期貨改價/4|交易商=KGI 8880|帳號=KG-9A950012345|委託書號=B0001|原來價格=4321.5|改後價格=12.500001|"
     "原來停損價=4300|改後停損價=4300|數量=3"},
    {"price change without the dialog", {{0, u"M"}, {18, u"B0001"}, {14, -1.5}, {26, u";NO_PROMPT;x"}},
     "ReduceOBFutOrder", 3,
     "4=9A950012345|5=OR|6=ES|7=B|10=0|11=4321500000|13=|14=O|15=202703|24=CME|25=-1500000|26=Y|27=B0001|28=N7|"
     "29=B0001|30:0|31:3|32=20261207|33:0",
     "(ModifyOBFutOrder)ORDER_NO=B0001", ""},
};

// Reduce, cancel and modify read the existing order's row from the component.
TEST_F(ProcessOrderTest, ChangesOfExistingOrdersReachTheComponent) {
  AddOrder(Market::Domestic, 1, 0, Existing(Product::Stock, u"A0001", 600, 3));
  AddOrder(Market::Domestic, 1, 1, Existing(Product::Stock, u"A0002", 600, 1).Text(153, u"O").Text(150, u"3")
                                       .Text(353, u"03").Number(156, 500));
  AddOrder(Market::Domestic, 2, 0, Existing(Product::Futures, u"F0001", 0, 4).Text(148, u"S").Text(150, u"1"));
  AddOrder(Market::Domestic, 3, 0, Existing(Product::Option, u"O0001", 85.5, 2));
  AddOrder(Market::Overseas, 1, 0, Existing(Product::Overseas, u"B0001", 4321.5, 3).Number(219, 4300e6).Text(220, u"Y"));
  Api().ChangeOrder(Market::Overseas, 1, 0, {});  // overseas order numbers are learnt from changes
  AddOrder(Market::Domestic, 1, 2, Existing(Product::Stock, u"X0001", 600, 3).Text(353, u"02"));
  for (OrderCase c : kChanges) {
    const std::string array = std::string(c.array).starts_with("4=") ? "0=A123456789|1=pass1234|2=9A95|3=0012345|" + std::string(c.array)
                                                                      : kLogin + std::string(c.array);
    c.array = array.c_str();
    Check(c);
  }

  // An unlisted market code, a price change of a domestic order and quantities that are no
  // reduction send nothing.
  const std::size_t sent = Api().Orders().size();
  EXPECT_EQ(Place({{0, u"C"}, {18, u"X0001"}}), 0);
  EXPECT_EQ(Place({{0, u"M"}, {18, u"A0001"}, {6, 1.0}}), -27);
  EXPECT_EQ(Place({{0, u"R"}, {18, u"A0001"}, {7, -1.0}}), 0);
  EXPECT_EQ(Place({{0, u"R"}, {18, u"B0001"}, {7, 1e10}}), 0);
  EXPECT_EQ(events.Logs(0), (Strings{"ReduceStkOrder REFUSED ! QTY out of range", "ProcessOrder REFUSED ! QTY out of range"}));
  EXPECT_EQ(Api().Orders().size(), sent);
}

TEST_F(ProcessOrderTest, PromptOverrideLastsOneOrder) {
  for (const auto& [setting, override, shown] :
       {std::tuple{0, u"y", true}, {1, u"n", false}, {0, u"x", false}, {1, u"", true}}) {
    ctrl->m_bOrderPrompt = setting;
    const std::size_t before = dialogs->Shown().size();
    EXPECT_EQ(Place({{0, u"S"}, {2, u"ORV.TWS.2330"}, {30, override}}), kAccepted);
    EXPECT_EQ(dialogs->Shown().size(), before + shown) << Utf16ToUtf8(override);
    EXPECT_EQ(ctrl->m_bOrderPrompt, setting);
  }
}

// A component that fails the call: the host sees a failed call, never a made-up result, and
// the ticket and the prompt setting are as they would be after any order.
TEST_F(ProcessOrderTest, FailedComponentCallFailsTheAutomationCall) {
  Api().Config().failingCalls[omnideal::StkOrder] = E_FAIL;
  ctrl->m_bOrderPrompt = 0;
  Call(u"SetOrderInfoString", {VARIANT(int32_t(0)), VARIANT(u"S")});
  Call(u"SetOrderInfoString", {VARIANT(int32_t(30)), VARIANT(u"Y")});
  VARIANT result;
  EXPECT_EQ(ctrl->Invoke(4, DISPATCH_METHOD, {}, &result), DISP_E_EXCEPTION);
  EXPECT_TRUE(ctrl->m_arrOrderInfoString.empty());
  EXPECT_EQ(ctrl->m_bOrderPrompt, 0);
  EXPECT_EQ(events.Logs(2).size(), 1u);
}

// The host may log out, or destroy the control, in its handler of the order line, and events
// keep arriving while the dialog waits: nothing is sent to a log-in that has ended, and
// nothing touches a control that is gone.
TEST_F(ProcessOrderTest, HostActionsDuringTheOrderAreRespected) {
  ctrl->m_bOrderPrompt = 0;
  const DWORD cookie = ctrl->FindConnectionPoint()->Advise(test::OnEvent(kdxevent::Log, [&](auto args) {
    if (args[0].lVal == 2) Call(u"Logout");
  }));
  EXPECT_EQ(Place(kStock), 0);
  EXPECT_EQ(events.Logs(0), Strings{"StkOrder NOT SENT ! not logged in"});
  EXPECT_TRUE(Api().Orders().empty());
  ctrl->FindConnectionPoint()->Unadvise(cookie);

  LogIn("RocID=KG_A1\n");
  const auto api = sim::SimTradeApi::Last();
  ctrl->FindConnectionPoint()->Advise(test::OnEvent(kdxevent::Log, [&](auto) { ctrl.reset(); }));
  for (const auto& [field, value] : kStock) {
    if (const auto* text = std::get_if<const char16_t*>(&value)) ctrl->SetOrderInfoString(field, *text);
  }
  EXPECT_EQ(ctrl->ProcessOrder(), 0);  // the control is gone when it returns
  EXPECT_EQ(ctrl, nullptr);

  // Destroyed while the dialog waits.
  struct Destroying : ConfirmPresenter {
    explicit Destroying(std::unique_ptr<CORV_Velmar_KDXCtrl>& c) : ctrl(c) {}
    int Show(const ConfirmRequest&) override {
      ctrl.reset();
      return IDOK;
    }
    std::unique_ptr<CORV_Velmar_KDXCtrl>& ctrl;
  };
  SetConfirmPresenter(std::make_shared<Destroying>(ctrl));
  ctrl = std::make_unique<CORV_Velmar_KDXCtrl>();
  ctrl->m_strDefaultAccount = u"9A95-0012345";
  ctrl->SetOrderInfoString(0, u"S");
  EXPECT_EQ(ctrl->ProcessOrder(), 0);
  EXPECT_EQ(ctrl, nullptr);
  EXPECT_TRUE(api->Orders().empty());
}

TEST_F(ProcessOrderTest, EventsAreHandledWhileTheDialogWaits) {
  SetConfirmPresenter(std::make_shared<ScriptedConfirmPresenter>(std::deque<int>{IDCANCEL}, true));
  ctrl->m_bOrderPrompt = 1;
  Api().AddOrder(Market::Domestic, 1, 0, Existing(Product::Stock, u"A0001", 600, 3));
  EXPECT_EQ(Place(kStock), -100);
  EXPECT_EQ(events.Summary(), (Strings{"OrderStatus(0)", "Log(1,StkOrder CANCELED !)"}));
}

// A whole session in the simulator: orders of every kind placed with the dialog answered,
// then followed, filled, reduced, cancelled and repriced through the reports.
TEST_F(ProcessOrderTest, OrdersPlacedShowUpInTheReportsAndCanBeChanged) {
  auto text = [&](long index, long field) { return Call(u"GetOrderString", {VARIANT(int32_t(index)), VARIANT(int32_t(field))}).bstrVal; };
  auto value = [&](long index, long field) { return Call(u"GetOrderValue", {VARIANT(int32_t(index)), VARIANT(int32_t(field))}).dblVal; };
  Api().Config().orderResult = 0;
  ctrl->m_bOrderPrompt = 1;
  for (const OrderCase* c : {&kNewOrders[0], &kNewOrders[3], &kNewOrders[6], &kNewOrders[4]}) {
    std::vector<Field> ticket = c->ticket;
    ticket.push_back({1, u"9A95-9A950012345"});  // the log-in's account
    EXPECT_EQ(Place(ticket), 0);
  }
  test::Pump();
  ASSERT_EQ(Call(u"GetOrderCount").lVal, 4);
  std::u16string numbers[4];
  for (long i = 0; i < 4; ++i) {
    EXPECT_EQ(text(i, 11), u"委託成功") << i;
    numbers[i] = text(i, 1);
  }
  EXPECT_EQ(value(0, 7), 600.5);
  EXPECT_EQ(value(3, 7), 21000.25);

  ASSERT_TRUE(Api().FillBookedOrder(numbers[0], 1, 600.5));
  test::Pump();
  EXPECT_EQ(Call(u"GetFillOrderCount").lVal, 1);
  EXPECT_EQ(text(0, 11), u"部分成交");

  events.Clear();
  EXPECT_EQ(Place({{0, u"R"}, {18, numbers[0].c_str()}, {7, 1.0}}), 0);
  EXPECT_EQ(Place({{0, u"C"}, {18, numbers[1].c_str()}}), 0);
  EXPECT_EQ(Place({{0, u"M"}, {18, numbers[3].c_str()}, {6, 21001.5}, {30, u"N"}}), 0);
  test::Pump();
  EXPECT_EQ(value(0, 8), 0);  // 2 lots: 1 filled, 1 taken off
  EXPECT_EQ(text(1, 11), u"委託刪單成功");
  EXPECT_EQ(value(3, 7), 21001.5);
  EXPECT_EQ(dialogs->Shown().size(), 6u);  // every order but the price change, which skipped it
  EXPECT_EQ(events.Logs(2), (Strings{"(ReduceStkOrder)ORDER_NO=" + Utf16ToUtf8(numbers[0]),
                                     "(ReduceFutOrder)ORDER_NO=" + Utf16ToUtf8(numbers[1]),
                                     "(ModifyOBFutOrder)ORDER_NO=" + Utf16ToUtf8(numbers[3])}));
}

}  // namespace
}  // namespace kdx
