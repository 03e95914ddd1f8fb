// New stock, futures (domestic and overseas) and options orders: their tables and hooks.
#include <utility>

#include "control/KdxCtrl.h"
#include "orders/Conversions.h"
#include "orders/OrderTexts.h"
#include "orders/Submitter.h"
#include "platform/message_box.h"
#include "resources/string_table.h"
#include "ui/ConfirmDialog.h"

namespace kdx {
namespace {

constexpr VARTYPE B = VT_BSTR, I4 = VT_I4;

// The elements every new order fills alike.
constexpr ArrayField kCommonFields[] = {
    {0, B, N(OV::LoginID)},    {1, B, N(OV::Password)},    {2, B, N(OV::Branch)},     {3, B, N(OV::Cust)},
    {5, B, Lit(u"OR")},        {6, B, N(OV::Symbol)},      {7, B, N(OV::Side)},       {8, B, N(OV::OrderType)},
    {10, B, N(OV::PriceFlag)}, {12, I4, N(OV::Qty)},       {13, B, N(OV::OrderKey)},  {26, B, N(OV::DayTrade)},
    {35, B, N(OV::Account)}};

constexpr auto kStockFields =
    JoinFields(kCommonFields, {{9, B, N(OV::TradeType)}, {11, I4, N(OV::Price)}, {23, B, N(OV::MarketType)}});
constexpr auto kFuturesFields = JoinFields(kCommonFields, {{11, I4, N(OV::Price)}, {14, B, N(OV::OpenClose)},
                                                            {15, B, N(OV::Month)}, {25, I4, N(OV::StopPrice)}});
constexpr auto kOBFuturesFields =
    JoinFields(kCommonFields, {{11, B, N(OV::Price)}, {14, B, N(OV::OpenClose)}, {15, B, N(OV::Month)},
                                {24, B, N(OV::Exchange)}, {25, B, N(OV::StopPrice)}});
constexpr auto kOptionsFields =
    JoinFields(kCommonFields, {{11, I4, N(OV::Price)}, {14, B, N(OV::OpenClose)}, {15, B, N(OV::Month)},
                                {16, B, N(OV::CallPut)}, {17, I4, N(OV::Strike)}});

constexpr LogKey kRocId{u"ROC_ID", N(OV::LoginID)}, kBranchId{u"BRANCH_ID", N(OV::Branch)},
    kCustId{u"CUST_ID", N(OV::Cust)}, kSymbol{u"SYMBOL", N(OV::Symbol)}, kMonth{u"MONTH", N(OV::Month)},
    kBuySell{u"BUY_SELL", N(OV::Side)}, kOrderType{u"ORDER_TYPE", N(OV::OrderType)},
    kPriceFlag{u"PRICE_FLAG", N(OV::PriceFlag)}, kPrice{u"PRICE", N(OV::Price)}, kQty{u"QTY", N(OV::Qty)},
    kOrderKey{u"ORDER_KEY", N(OV::OrderKey)}, kOpenCloseLog{u"OPEN_CLOSE", N(OV::OpenClose)},
    kStopPrice{u"STOP_PRICE", N(OV::StopPrice)}, kDayTrade{u"DAY_TRADE", N(OV::DayTrade)};

constexpr LogKey kStockLog[] = {kRocId,    kBranchId, kCustId,    kSymbol,  kBuySell,
                                kOrderType, {u"TRADE_TYPE", N(OV::TradeType)}, kPriceFlag, kPrice, kQty,
                                kOrderKey, {u"MARKET_TYPE", N(OV::MarketType)}, kDayTrade};
constexpr LogKey kFuturesLog[] = {kRocId,    kBranchId, kCustId, kSymbol,   kMonth,     kBuySell,   kOrderType,
                                  kPriceFlag, kPrice,    kQty,    kOrderKey, kOpenCloseLog, kStopPrice, kDayTrade};
constexpr LogKey kOBFuturesLog[] = {kRocId,  kBranchId, kCustId,   {u"EXCHANGE", N(OV::Exchange)},
                                    kSymbol, kMonth,    kBuySell,  kOrderType, kPriceFlag, kPrice, kQty,
                                    kOrderKey, kOpenCloseLog, kStopPrice, kDayTrade};
constexpr LogKey kOptionsLog[] = {kRocId, kBranchId, kCustId, kSymbol, kMonth, {u"CALL_PUT", N(OV::CallPut)},
                                  {u"STRIKE_PRICE", N(OV::Strike)}, kBuySell, kOrderType, kPriceFlag, kPrice,
                                  kQty, kOrderKey, kOpenCloseLog, kDayTrade};

constexpr DialogRow kBroker{u"交易商", N(OV::Broker)}, kAccount{u"帳號", N(OV::AccountShown)},
    kProduct{u"商品", N(OV::Symbol)}, kMonthRow{u"履約年月", N(OV::Month)}, kSide{u"買賣別", N(OV::SideShown)},
    kQuantity{u"數量", N(OV::QtyShown)}, kPriceRow{u"價格", N(OV::PriceShown)},
    kOpenCloseRow{u"倉別", N(OV::OpenCloseShown)};

constexpr DialogRow kStockRows[] = {{u"類別", Lit(u"國內證券")}, kBroker, kAccount, kProduct, kSide, kQuantity,
                                    kPriceRow, {u"下單別", N(OV::OrderTypeShown)}};
constexpr DialogRow kFuturesRows[] = {{u"類別", Lit(u"國內期貨")}, kBroker, kAccount, kProduct, kMonthRow, kSide,
                                      kQuantity, kPriceRow, kOpenCloseRow, {u"委託條件", N(OV::ConditionShown)},
                                      {u"當日沖銷", N(OV::DayTrade)}};
constexpr DialogRow kOBFuturesRows[] = {{u"類別", Lit(u"國外期貨")}, kBroker, kAccount, {u"交易所", N(OV::Exchange)},
                                        {u"商品", N(OV::SymbolShown)}, kMonthRow, kSide, kQuantity, kPriceRow,
                                        {u"停損價", N(OV::StopShown)}, {u"當沖", N(OV::DayTrade)}};
constexpr DialogRow kOptionsRows[] = {{u"類別", Lit(u"國內選擇權")}, kBroker, kAccount, kProduct,
                                      {u"履約價", N(OV::StrikeShown)}, {u"Call/Put", N(OV::CallPutShown)},
                                      kMonthRow, kSide, kQuantity, kPriceRow, kOpenCloseRow,
                                      {u"下單別", N(OV::ConditionShown)}};

std::optional<long> StockHook(COrderContext& order);
std::optional<long> FuturesHook(COrderContext& order);
std::optional<long> OptionsHook(COrderContext& order);

template <long (CORVOMNIDEALAPI::*Method)(VARIANT*)>
long SendNew(CORVOMNIDEALAPI& api, long, VARIANT* order) {
  return (api.*Method)(order);
}

constexpr SubmitterDef kStkOrder{u"StkOrder", StockHook, kStockFields, kStockLog, kStockRows, u"確認證券下單", nullptr,
                                 ConfirmDialog::kNewOrder, false, SendNew<&CORVOMNIDEALAPI::StkOrder>};
constexpr SubmitterDef kFutOrder{u"FutOrder", FuturesHook, kFuturesFields, kFuturesLog, kFuturesRows,
                                 u"確認期貨下單", nullptr, ConfirmDialog::kNewOrder, false,
                                 SendNew<&CORVOMNIDEALAPI::FutOrder>};
constexpr SubmitterDef kOBFutOrder{u"OBFutOrder", FuturesHook, kOBFuturesFields, kOBFuturesLog, kOBFuturesRows,
                                   u"確認國外期貨下單", nullptr, ConfirmDialog::kNewOrder, false,
                                   SendNew<&CORVOMNIDEALAPI::OBFutOrder>};
constexpr SubmitterDef kOptOrder{u"OptOrder", OptionsHook, kOptionsFields, kOptionsLog, kOptionsRows,
                                 u"確認選擇權下單", nullptr, ConfirmDialog::kNewOrder, false,
                                 SendNew<&CORVOMNIDEALAPI::OptOrder>};

// What every new order takes from the ticket and the session after its symbol is converted.
// A result when the session account cannot be split.
std::optional<long> TakeTicket(COrderContext& order, long accountRefused) {
  CORV_Velmar_KDXCtrl& ctrl = order.ctrl;
  order.SetLogin();
  const auto session = SplitAccount(ctrl.m_strDefaultAccount);
  if (!session) return accountRefused;
  const CString account = OrderAccount(ctrl.OrderInfoString(1));
  order.Set(OV::Branch, session->strBranch);
  order.Set(OV::Cust, session->strAccount);
  order.Set(OV::Account, account);
  order.SetAccountShown(account);
  order.Set(OV::Symbol, ctrl.OrderInfoString(2));
  order.SetSide(ctrl.OrderInfoString(4));
  order.Set(OV::OrderKey, ctrl.BuildOrderKey());
  order.Set(OV::DayTrade, ctrl.OrderInfoString(10));
  return std::nullopt;
}

// Price (ticket number 6) in thousandths, and the quantity as entered and as sent.
std::optional<long> TakePriceAndQuantity(COrderContext& order, long symbolKind, const CString& tradeType) {
  const auto price = ScalePriceThousandths(order.ctrl.OrderInfoValue(6));
  if (!price) return order.Refuse(u"PRICE");
  const auto quantity = ScaleQuantity(order.ctrl.OrderInfoValue(7), symbolKind, tradeType);
  if (!quantity) return order.Refuse(u"QTY");
  order.SetNumber(OV::Price, *price);
  order.SetNumber(OV::Qty, quantity->nSent);
  order.SetNumber(OV::QtyShown, quantity->nEntered);
  return std::nullopt;
}

std::optional<long> StockHook(COrderContext& order) {
  CORV_Velmar_KDXCtrl& ctrl = order.ctrl;
  CString display;
  ctrl.ConvertSymbol(ctrl.OrderInfoString(2), kSymbolStock, display);  // unrecognised symbols go as given
  if (auto refused = TakeTicket(order, -2)) return refused;
  const CString tradeType = ctrl.OrderInfoString(9);
  if (auto refused = TakePriceAndQuantity(order, kSymbolStock, tradeType)) return refused;
  const CString flag = StockPriceFlag(ctrl.OrderInfoString(5));
  const CString orderType = ctrl.OrderInfoString(3);
  order.Set(OV::OrderType, orderType);
  order.Set(OV::TradeType, tradeType);
  order.Set(OV::PriceFlag, flag);
  order.Set(OV::MarketType, ctrl.OrderInfoString(8));
  if (order.Prompting()) {
    order.Set(OV::PriceShown, flag == u"0" ? FormatScaledPrice(order.Get(OV::Price).number, 3)
                                           : CString(Lookup(kLimitPrices, flag, u"")));
    order.Set(OV::OrderTypeShown, Lookup(kStockOrderTypes, orderType, orderType));
  }
  return std::nullopt;
}

// Futures and options share the open/close and order-condition rows.
void TakeFuturesParts(COrderContext& order, const CString& condition) {
  CORV_Velmar_KDXCtrl& ctrl = order.ctrl;
  const CString openClose = ctrl.OrderInfoString(15);
  order.Set(OV::OrderType, condition);
  order.Set(OV::PriceFlag, FuturesPriceFlag(ctrl.OrderInfoString(5)));
  order.Set(OV::OpenClose, openClose);
  order.Set(OV::Month, ctrl.OrderInfoString(13));
  if (!order.Prompting()) return;
  order.Set(OV::OpenCloseShown, Lookup(kOpenClose, openClose, openClose));
  order.Set(OV::ConditionShown, Lookup(kConditions, condition, condition));
  const int64_t price = order.Get(OV::Price).number;
  order.Set(OV::PriceShown, price == 0 ? CString(u"市價") : FormatScaledPrice(price, 3));
}

std::optional<long> FuturesHook(COrderContext& order) {
  CORV_Velmar_KDXCtrl& ctrl = order.ctrl;
  CString display;
  if (ctrl.ConvertSymbol(ctrl.OrderInfoString(2), kSymbolFutures, display) == 0) return -54;
  if (auto refused = TakeTicket(order, 0)) return refused;
  if (auto refused = TakePriceAndQuantity(order, kSymbolFutures, CString())) return refused;
  const auto stop = ScalePriceThousandths(ctrl.OrderInfoValue(14));
  if (!stop) return order.Refuse(u"STOP_PRICE");
  order.SetNumber(OV::StopPrice, *stop);
  const CString exchange = ctrl.OrderInfoString(12);
  CString condition = ctrl.OrderInfoString(3);
  if (condition == u"1") condition = CString(exchange).MakeUpper().Find(u"CFFEX") >= 0 ? u"I" : u"R";
  TakeFuturesParts(order, condition);

  if (ctrl.OrderInfoString(10).CompareNoCase(u"N") != 0) {
    MessageBoxW(ctrl.GetSafeHwnd(), CString(LoadResourceString(251)), u"ERROR", MB_OK | MB_ICONERROR | MB_TOPMOST);
    return -26;
  }
  if (exchange == u"TW" || exchange == u"TWF") return std::nullopt;

  // Overseas: prices in millionths, as text.
  order.def = &kOBFutOrder;
  const auto price = ScalePriceMillionths(ctrl.OrderInfoValue(6));
  const auto stopPrice = ScalePriceMillionths(ctrl.OrderInfoValue(14));
  if (!price || !stopPrice) return order.Refuse(price ? u"STOP_PRICE" : u"PRICE");
  order.SetNumber(OV::Price, *price);
  order.SetNumber(OV::StopPrice, *stopPrice);
  order.Set(OV::Exchange, exchange);
  if (!order.Prompting()) return std::nullopt;
  order.Set(OV::SymbolShown, order.Text(OV::Symbol) + u" " + display);
  // Decided from what is sent: a limit price below a thousandth is not a market order.
  order.Set(OV::PriceShown, *price == 0 ? CString(u"市價") : FormatScaledPrice(*price, 6));
  if (*stopPrice != 0) order.Set(OV::StopShown, FormatScaledPrice(*stopPrice, 6));
  return std::nullopt;
}

std::optional<long> OptionsHook(COrderContext& order) {
  CORV_Velmar_KDXCtrl& ctrl = order.ctrl;
  CString display;
  ctrl.ConvertSymbol(ctrl.OrderInfoString(2), kSymbolOptions, display);  // unrecognised: the host's fields stand
  if (auto refused = TakeTicket(order, -1)) return refused;
  if (auto refused = TakePriceAndQuantity(order, kSymbolOptions, CString())) return refused;
  const auto strike = ScalePriceThousandths(ctrl.OrderInfoValue(17));
  if (!strike) return order.Refuse(u"STRIKE_PRICE");
  const CString callPut = ctrl.OrderInfoString(16);
  order.SetNumber(OV::Strike, *strike);
  order.Set(OV::CallPut, callPut);
  if (order.Prompting()) {
    order.Set(OV::StrikeShown, StrikeThousandthsText(*strike));
    order.Set(OV::CallPutShown, Lookup(kCallPut, callPut, callPut));
  }
  TakeFuturesParts(order, ctrl.OrderInfoString(3));
  return std::nullopt;
}

}  // namespace

long SubmitStockOrder(CORV_Velmar_KDXCtrl& ctrl) {
  COrderContext order(ctrl, kStkOrder);
  return RunSubmitter(order);
}

long SubmitFuturesOrder(CORV_Velmar_KDXCtrl& ctrl) {
  COrderContext order(ctrl, kFutOrder);
  return RunSubmitter(order);
}

long SubmitOptionsOrder(CORV_Velmar_KDXCtrl& ctrl) {
  COrderContext order(ctrl, kOptOrder);
  return RunSubmitter(order);
}

}  // namespace kdx
