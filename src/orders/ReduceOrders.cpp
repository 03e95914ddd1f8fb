// Cancels, reductions and overseas price changes of existing orders: their tables and hooks.
// Their arrays are filled from the order's row in the component.
#include <algorithm>
#include <limits>

#include "control/KdxCtrl.h"
#include "orders/Conversions.h"
#include "orders/OrderTexts.h"
#include "orders/Submitter.h"
#include "ui/ConfirmDialog.h"

namespace kdx {
namespace {

constexpr VARTYPE B = VT_BSTR, I4 = VT_I4;

constexpr ArrayField kReduceHead[] = {
    {0, B, N(OV::LoginID)}, {1, B, N(OV::Password)}, {2, B, D(1)},    {3, B, D(39)},  {5, B, Lit(u"OR")},
    {7, B, N(OV::Side)},    {10, B, D(150)},         {13, B, D(201)}, {28, B, D(362)}, {29, B, N(OV::OrderNo)},
    {32, B, D(159)},        {35, B, D(5)}};

constexpr auto kStockFields =
    JoinFields(kReduceHead, {{6, B, D(85)}, {8, B, D(149)}, {9, B, D(153)}, {11, I4, Dv(151)}, {12, I4, Dv(156)},
                             {23, B, N(OV::MarketType)}, {27, B, D(143)}, {30, I4, N(OV::Quantity30)},
                             {33, I4, Dv(364)}});
constexpr auto kFuturesFields =
    JoinFields(kReduceHead, {{6, B, D(114)}, {11, I4, Dv(151)}, {12, I4, Dv(156)}, {14, B, D(163)}, {15, B, D(115)},
                             {27, B, D(208)}, {30, I4, N(OV::Quantity30)}});
constexpr auto kOptionsFields =
    JoinFields(kReduceHead, {{6, B, D(114)}, {8, B, D(149)}, {11, I4, Dv(151)}, {12, I4, Dv(156)}, {14, B, D(163)},
                             {15, B, D(115)}, {16, B, D(116)}, {17, I4, Dv(117)}, {27, B, D(208)},
                             {30, I4, N(OV::Quantity30)}});
// Overseas prices are millionths, which outgrow 32 bits: they go as 64-bit text.
constexpr auto kOBFuturesFields =
    JoinFields(kReduceHead, {{6, B, D(114)}, {11, B, Dv(151)}, {12, I4, N(OV::Qty)}, {14, B, D(163)},
                             {15, B, D(115)}, {24, B, D(218)}, {25, B, Dv(219)}, {26, B, D(220)}, {27, B, D(208)},
                             {30, I4, N(OV::Quantity30)}, {31, I4, N(OV::Quantity31)}, {33, I4, N(OV::Filled)}});
constexpr ArrayField kModifyFields[] = {
    {0, B, N(OV::LoginID)},     {1, B, N(OV::Password)},   {2, B, D(1)},    {3, B, D(39)},
    {4, B, D(5)},               {5, B, Lit(u"OR")},        {6, B, D(114)},  {7, B, N(OV::Side)},
    {10, B, D(150)},            {11, B, N(OV::Price)},     {13, B, D(201)}, {14, B, D(163)},
    {15, B, D(115)},            {24, B, D(218)},           {25, B, N(OV::StopPrice)}, {26, B, D(220)},
    {27, B, D(208)},            {28, B, D(362)},           {29, B, N(OV::OrderNo)},  {30, I4, N(OV::Zero)},
    {31, I4, N(OV::Qty)},       {32, B, D(159)},           {33, I4, N(OV::Filled)}};

constexpr LogKey kOrderNoLog[] = {{u"ORDER_NO", N(OV::OrderNo)}};

constexpr DialogRow kBroker{u"交易商", N(OV::Broker)}, kAccount{u"帳號", N(OV::AccountShown)},
    kOrderNo{u"委託書號", N(OV::OrderNo)}, kSide{u"買賣別", N(OV::SideShown)}, kPrice{u"價格", N(OV::PriceShown)},
    kRemaining{u"原來數量", N(OV::Remaining)}, kReduction{u"減少數量", N(OV::Reduction)},
    kCommodity{u"商品", D(114)}, kMonth{u"履約年月", D(115)};

constexpr DialogRow kStockRows[] = {{u"類別", Lit(u"國內證券")}, kBroker, kAccount, {u"商品", D(85)}, kSide, kPrice,
                                    kRemaining, kReduction};
constexpr DialogRow kFuturesRows[] = {{u"類別", Lit(u"國內期貨")}, kBroker, kAccount, kCommodity, kMonth, kSide,
                                      kPrice, kRemaining, kReduction};
constexpr DialogRow kOptionsRows[] = {{u"類別", Lit(u"國內選擇權")}, kBroker, kAccount, kCommodity, kMonth,
                                      {u"履約價", N(OV::StrikeShown)}, {u"Call/Put", D(116)}, kSide, kPrice,
                                      kRemaining, kReduction};
constexpr DialogRow kOBFuturesRows[] = {kBroker, kAccount, kOrderNo, kCommodity, kMonth, kSide, kPrice,
                                        kRemaining, kReduction};
constexpr DialogRow kModifyRows[] = {kBroker,
                                     kAccount,
                                     kOrderNo,
                                     {u"原來價格", N(OV::OldPrice)},
                                     {u"改後價格", N(OV::NewPrice)},
                                     {u"原來停損價", N(OV::OldStop)},
                                     {u"改後停損價", N(OV::NewStop)},
                                     {u"數量", N(OV::Remaining)}};

std::optional<long> StockHook(COrderContext& order);
std::optional<long> FuturesHook(COrderContext& order);
std::optional<long> OptionsHook(COrderContext& order);
std::optional<long> OBFuturesHook(COrderContext& order);
std::optional<long> ModifyHook(COrderContext& order);

template <long (CORVOMNIDEALAPI::*Method)(long, VARIANT*)>
long SendReduce(CORVOMNIDEALAPI& api, long quantity, VARIANT* order) {
  return (api.*Method)(quantity, order);
}

constexpr SubmitterDef kReduceStkOrder{u"ReduceStkOrder", StockHook, kStockFields, kOrderNoLog, kStockRows,
                                       u"確認證券刪單", u"確認證券減量", ConfirmDialog::kCancel, false,
                                       SendReduce<&CORVOMNIDEALAPI::ReduceStkOrder>};
constexpr SubmitterDef kReduceFutOrder{u"ReduceFutOrder", FuturesHook, kFuturesFields, kOrderNoLog, kFuturesRows,
                                       u"確認期貨刪單", u"確認期貨減量", ConfirmDialog::kCancel, false,
                                       SendReduce<&CORVOMNIDEALAPI::ReduceFutOrder>};
constexpr SubmitterDef kReduceOptOrder{u"ReduceOptOrder", OptionsHook, kOptionsFields, kOrderNoLog, kOptionsRows,
                                       u"確認選擇權刪單", u"確認選擇權減量", ConfirmDialog::kCancel, false,
                                       SendReduce<&CORVOMNIDEALAPI::ReduceOptOrder>};
constexpr SubmitterDef kReduceOBFutOrder{u"ReduceOBFutOrder", OBFuturesHook, kOBFuturesFields, kOrderNoLog,
                                         kOBFuturesRows, u"確認國外期貨刪單", u"確認國外期貨減量",
                                         ConfirmDialog::kCancel, true,
                                         SendReduce<&CORVOMNIDEALAPI::ReduceOBFutOrder>};
constexpr SubmitterDef kModifyOBFutOrder{u"ModifyOBFutOrder", ModifyHook, kModifyFields, kOrderNoLog, kModifyRows,
                                         u"確認國外期貨改價", nullptr, ConfirmDialog::kPriceChange, true,
                                         SendReduce<&CORVOMNIDEALAPI::ReduceOBFutOrder>};

bool FitsLong(int64_t n) { return n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max(); }

// The order's price as the dialog shows it, by its price flag.
CString PriceShown(COrderContext& order, int decimals, bool marketFlag) {
  const CString& flag = order.RowText(150);
  const int64_t price = order.RowNumber(151);
  if (marketFlag && flag == u"1") return u"市價";
  if (flag.IsEmpty() || flag == u"0") return FormatScaledPrice(price, decimals);
  return Lookup(kLimitPrices, flag, FormatString(u"%I64d", price));
}

// What every cancel and reduce shares. A negative reduction is refused: the overseas
// arithmetic would turn it into a cancel of the whole order.
// The parts every change of an existing order takes from the log-in and the order's row.
void TakeExisting(COrderContext& order) {
  order.SetLogin();
  order.Set(OV::OrderNo, order.orderNo);
  order.SetAccountShown(order.RowText(5));
  order.SetSide(order.RowText(148));
}

std::optional<long> TakeOrderRow(COrderContext& order, int decimals, bool marketFlag) {
  if (order.quantity < 0) return order.Refuse(u"QTY");
  TakeExisting(order);
  order.sendQuantity = order.quantity;
  if (!order.Prompting()) return std::nullopt;
  order.Set(OV::PriceShown, PriceShown(order, decimals, marketFlag));
  order.SetNumber(OV::Remaining, order.RowNumber(156));
  if (order.quantity != 0) order.SetNumber(OV::Reduction, order.quantity);
  return std::nullopt;
}

std::optional<long> StockHook(COrderContext& order) {
  if (auto refused = TakeOrderRow(order, 3, false)) return refused;
  // Whole lots go in shares; odd-lot orders are in shares already.
  const int64_t shares = int64_t{order.quantity} * (order.RowText(153) == u"O" ? 1 : 1000);
  if (!FitsLong(shares)) return order.Refuse(u"QTY");
  order.SetNumber(OV::Quantity30, shares);
  const CString& market = order.RowText(353);
  order.Set(OV::MarketType, Lookup(kMarketTypes, market, market));
  return std::nullopt;
}

std::optional<long> FuturesHook(COrderContext& order) {
  if (auto refused = TakeOrderRow(order, 3, true)) return refused;
  // A cancel sends the remaining quantity.
  order.SetNumber(OV::Quantity30, order.quantity != 0 ? order.quantity : order.RowNumber(156));
  return std::nullopt;
}

std::optional<long> OptionsHook(COrderContext& order) {
  if (auto refused = FuturesHook(order)) return refused;
  if (order.Prompting()) order.Set(OV::StrikeShown, StrikeThousandthsText(order.RowNumber(117)));
  return std::nullopt;
}

// Overseas quantities come as doubles; those the array holds as 32-bit numbers must fit.
std::optional<long> TakeOBQuantities(COrderContext& order) {
  const int64_t remaining = order.RowNumber(156), filled = order.RowNumber(364);
  if (!FitsLong(remaining) || !FitsLong(filled)) return order.Refuse(u"QTY");
  order.SetNumber(OV::Qty, remaining);
  order.SetNumber(OV::Filled, filled);
  return std::nullopt;
}

std::optional<long> OBFuturesHook(COrderContext& order) {
  CORV_Velmar_KDXCtrl& ctrl = order.ctrl;
  const auto key = ctrl.m_mapOrderNoToKey.find(order.orderNo);
  if (key == ctrl.m_mapOrderNoToKey.end()) return -27;
  const auto object = ctrl.m_mapOBKeyToOrder.find(key->second);
  if (object == ctrl.m_mapOBKeyToOrder.end() || object->second == nullptr) return -27;
  if (auto refused = TakeOrderRow(order, 6, true)) return refused;
  if (auto refused = TakeOBQuantities(order)) return refused;
  const int64_t remaining = order.Get(OV::Qty).number;
  // Reducing by the remaining quantity or more cancels what remains; never a negative quantity.
  const bool partial = order.quantity > 0 && order.quantity < remaining;
  order.SetNumber(OV::Quantity30, partial ? order.quantity : remaining);
  order.SetNumber(OV::Quantity31, partial ? remaining - order.quantity : 0);
  order.sendQuantity = order.quantity != 0 ? static_cast<long>(std::max<int64_t>(remaining - order.quantity, 0)) : 0;
  return std::nullopt;
}

// The new price in millionths as sent, or the order's own when the new one is 0.
std::optional<int64_t> NewMillionths(COrderContext& order, double price, int currentField) {
  if (price == 0) return order.RowNumber(currentField);
  return ScalePriceMillionths(price);
}

std::optional<long> ModifyHook(COrderContext& order) {
  // A host may skip the dialog for this one change: "NO_PROMPT" first in ticket text 26.
  const CString& options = order.ctrl.OrderInfoString(26);
  int start = 0;
  CString first;
  while (first.IsEmpty() && start >= 0) first = options.Tokenize(u";", start);
  order.skipPrompt = first == u"NO_PROMPT";
  TakeExisting(order);
  if (auto refused = TakeOBQuantities(order)) return refused;
  const auto price = NewMillionths(order, order.newPrice, 151);
  if (!price) return order.Refuse(u"PRICE");
  const auto stop = NewMillionths(order, order.newStopPrice, 219);
  if (!stop) return order.Refuse(u"STOP_PRICE");
  order.SetNumber(OV::Price, *price);
  order.SetNumber(OV::StopPrice, *stop);
  order.SetNumber(OV::Zero, 0);
  order.sendQuantity = static_cast<long>(order.Get(OV::Qty).number);
  if (!order.Prompting()) return std::nullopt;
  order.SetNumber(OV::Remaining, order.Get(OV::Qty).number);
  order.Set(OV::OldPrice, FormatScaledPrice(order.RowNumber(151), 6));
  order.Set(OV::NewPrice, FormatScaledPrice(*price, 6));
  order.Set(OV::OldStop, FormatScaledPrice(order.RowNumber(219), 6));
  order.Set(OV::NewStop, FormatScaledPrice(*stop, 6));
  return std::nullopt;
}

long Run(const SubmitterDef& def, CORV_Velmar_KDXCtrl& ctrl, const CString& orderNo, long quantity, long kind,
         long row) {
  COrderContext order(ctrl, def, quantity, kind, row);
  order.orderNo = orderNo;
  return RunSubmitter(order);
}

}  // namespace

long SubmitReduceStkOrder(CORV_Velmar_KDXCtrl& ctrl, const CString& orderNo, long quantity, long kind, long row) {
  return Run(kReduceStkOrder, ctrl, orderNo, quantity, kind, row);
}
long SubmitReduceFutOrder(CORV_Velmar_KDXCtrl& ctrl, const CString& orderNo, long quantity, long kind, long row) {
  return Run(kReduceFutOrder, ctrl, orderNo, quantity, kind, row);
}
long SubmitReduceOptOrder(CORV_Velmar_KDXCtrl& ctrl, const CString& orderNo, long quantity, long kind, long row) {
  return Run(kReduceOptOrder, ctrl, orderNo, quantity, kind, row);
}
long SubmitReduceOBFutOrder(CORV_Velmar_KDXCtrl& ctrl, const CString& orderNo, long quantity, long kind, long row) {
  return Run(kReduceOBFutOrder, ctrl, orderNo, quantity, kind, row);
}

long SubmitModifyOBFutOrder(CORV_Velmar_KDXCtrl& ctrl, const CString& orderNo, double price, double stopPrice,
                            long kind, long row) {
  COrderContext order(ctrl, kModifyOBFutOrder, 0, kind, row);
  order.orderNo = orderNo;
  order.newPrice = price;
  order.newStopPrice = stopPrice;
  return RunSubmitter(order);
}

}  // namespace kdx
