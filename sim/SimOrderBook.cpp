// The simulated component's order book: orders it accepts become rows of its order tables, and
// the reduces, cancels, price changes and fills that follow change those rows, as a broker's
// component reports them.
#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/SimRows.h"
#include "sim/SimTradeApi.h"

namespace kdx::sim {
namespace {

// The reports' record keys hold rows 0 to 99999.
constexpr long kLastRow = 99999;
// Longer texts are not booked: booked rows live as long as the component.
constexpr std::size_t kMaxText = 4096;
// A refused order's row: a numeric error code (the reports read a code without digits as no
// error) and a status below every accepted one.
constexpr std::u16string_view kRefusedCode = u"0101";
constexpr long kRefusedStatus = 0;

struct OrderMethod {
  DISPID order;
  DISPID reduce;
  Product product;
  char16_t prefix;  // of the order numbers handed out
};
constexpr OrderMethod kOrderMethods[] = {
    {omnideal::StkOrder, omnideal::ReduceStkOrder, Product::Stock, u'S'},
    {omnideal::FutOrder, omnideal::ReduceFutOrder, Product::Futures, u'F'},
    {omnideal::OptOrder, omnideal::ReduceOptOrder, Product::Option, u'O'},
    {omnideal::OBFutOrder, omnideal::ReduceOBFutOrder, Product::Overseas, u'B'},
};

// Order-array elements booked as they are into the row's contract and order-condition fields.
constexpr std::pair<std::size_t, long> kContractTexts[] = {{8, 149}, {9, 153},  {10, 150}, {14, 163},
                                                           {15, 115}, {16, 116}, {24, 218}, {26, 220}};
// A stock order's market type (element 23) and the order table's market code.
constexpr std::pair<std::u16string_view, std::u16string_view> kStockMarkets[] = {
    {u"T", u"01"}, {u"O", u"03"}, {u"R", u"09"}};

// The order arrays always hold kOrderFieldCount elements (the methods refuse others).
std::optional<std::u16string> TextAt(const std::vector<VARIANT>& fields, std::size_t i) {
  const VARIANT& v = fields[i];
  if (v.vt != VT_BSTR || v.bstrVal.size() > kMaxText) return std::nullopt;
  return v.bstrVal;
}

// A long, or the decimal text of a whole number (overseas prices travel as text).
std::optional<double> NumberAt(const std::vector<VARIANT>& fields, std::size_t i) {
  const VARIANT& v = fields[i];
  if (v.vt == VT_I4) return v.lVal;
  if (v.vt != VT_BSTR) return std::nullopt;
  std::u16string_view text = v.bstrVal;
  const bool negative = text.starts_with(u'-');
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 18) return std::nullopt;  // 18 digits cannot overflow
  int64_t value = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
  }
  return static_cast<double>(negative ? -value : value);
}

std::u16string Joined(std::initializer_list<std::optional<std::u16string>> parts) {
  std::u16string key;
  for (const auto& part : parts) key += (key.empty() ? u"" : u" ") + part.value_or(u"");
  return key;
}

// An option's strike, in thousandths, as the shortest decimal text of its price; none, none.
std::u16string StrikeText(std::optional<double> thousandths) {
  if (!thousandths) return {};
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, *thousandths / 1000).ptr;
  return std::u16string(text, end);
}

// A stock's tick by price band; the walk keeps prices on whole cents.
double StockTick(double price) {
  constexpr std::pair<double, double> kBands[] = {{1000, 5}, {500, 1}, {100, 0.5}, {50, 0.1}, {10, 0.05}};
  for (const auto& [from, tick] : kBands)
    if (price >= from) return tick;
  return 0.01;
}

// The market's product keys (see SimTradeApi::SetLastPrice).
std::u16string ProductKey(Product product, const std::vector<VARIANT>& f) {
  switch (product) {
    case Product::Stock:
      return TextAt(f, 6).value_or(u"");
    case Product::Option:
      return Joined({TextAt(f, 6), TextAt(f, 15), StrikeText(NumberAt(f, 17)), TextAt(f, 16)});
    case Product::Overseas:
      return Joined({TextAt(f, 24), TextAt(f, 6), TextAt(f, 15)});
    default:
      return Joined({TextAt(f, 6), TextAt(f, 15)});
  }
}

std::u16string OrderNumber(char16_t prefix, long serial) {
  std::u16string digits;
  for (; serial > 0 || digits.size() < 4; serial /= 10) digits.insert(digits.begin(), char16_t(u'0' + serial % 10));
  return prefix + digits;
}

}  // namespace

struct SimTradeApi::Booking {
  DISPID reduce = DISPID_UNKNOWN;  // the one method that reduces, cancels or reprices it
  Market market = Market::Domestic;
  long row = 0;
  long unit = 1;  // order-table units in one lot of the fill hook
  SimOrderSpec spec;
  SimRow state;  // as booked, ahead of the events still queued
};

long SimTradeApi::FreeRow(Market market, long kind) {
  long& next = nextRow_[{market, kind}];
  const RowTable& table = TableOf(market);
  if (auto it = table.lower_bound({kind + 1, LONG_MIN}); it != table.begin() && (--it)->first.first == kind)
    next = std::max(next, it->first.second + 1);
  return next > kLastRow ? -1 : next++;
}

long SimTradeApi::BookOrder(const SimOrder& order) {
  const auto* method = std::find_if(std::begin(kOrderMethods), std::end(kOrderMethods),
                                    [&](const OrderMethod& m) { return m.order == order.id; });
  const std::vector<VARIANT>& f = order.fields;
  const std::optional<double> quantity = NumberAt(f, 12);
  if (method == std::end(kOrderMethods) || !quantity || *quantity <= 0) return 0;  // nothing to book
  const bool stock = method->product == Product::Stock, overseas = method->product == Product::Overseas;
  const Market market = overseas ? Market::Overseas : Market::Domestic;
  const long row = FreeRow(market, kBookedOrderKind);
  if (row < 0) return kBookFull;

  auto booking = std::make_shared<Booking>();
  booking->reduce = method->reduce;
  booking->market = market;
  booking->row = row;
  booking->unit = stock && TextAt(f, 9) != u"O" ? 1000 : 1;  // odd lots count in shares
  SimOrderSpec& spec = booking->spec;
  spec.product = method->product;
  spec.account = {{1, TextAt(f, 2).value_or(u"")}, {5, TextAt(f, 35).value_or(u"")}, {39, TextAt(f, 3).value_or(u"")}};
  spec.orderNo = OrderNumber(method->prefix, nextOrderNo_++);
  spec.side = TextAt(f, 7).value_or(u"");
  spec.note = TextAt(f, 13).value_or(u"");
  const std::optional<std::u16string> marketType = TextAt(f, 23);
  for (const auto& [type, code] : kStockMarkets)
    if (stock && marketType == type) spec.market = code;
  SimRow& contract = spec.contract.emplace();
  if (const auto symbol = TextAt(f, 6)) contract.Text(stock ? 85 : 114, *symbol);
  for (const auto& [element, field] : kContractTexts)
    if (const auto text = TextAt(f, element)) contract.Text(field, *text);
  if (const auto strike = NumberAt(f, 17)) contract.Number(117, *strike);

  SimRow& data = booking->state = OrderRow(spec);
  const std::optional<double> price = NumberAt(f, 11);
  data.Number(151, price.value_or(0)).Number(156, *quantity).Number(361, *quantity);
  if (overseas) data.Number(205, *quantity).Number(219, NumberAt(f, 25).value_or(0));

  // The market: a limit waits for its price, any other price flag (market, or a stock's
  // reference prices, which this market does not keep) fills at once at the last price.
  Quote* quote = nullptr;
  long fillNow = 0;
  if (config_.market) {
    const std::optional<std::u16string> flag = TextAt(f, 10);
    const bool atMarket = stock ? flag && *flag != u"0" : flag == u"1";
    const double limit = price.value_or(0) / (overseas ? 1e6 : 1e3), lots = *quantity / booking->unit;
    const char16_t* refused = lots > config_.maxOrderQuantity || lots != std::floor(lots) ? u"quantity out of range"
                              : !atMarket && !(limit > 0)                                ? u"price out of range"
                                                                                         : nullptr;
    if (refused) {
      // Still answered 0, as taken for processing: the row tells the order failed.
      data.Text(68, std::u16string(kRefusedCode)).Text(69, refused).Number(156, 0).Number(352, kRefusedStatus);
    } else {
      const auto [it, fresh] = quotes_.try_emplace(ProductKey(method->product, f));
      if (fresh) it->second.last = atMarket ? kDefaultPrice : limit;
      quote = &it->second;
      if (atMarket) fillNow = static_cast<long>(lots);
      else quote->resting.push_back(booking);
    }
  }
  AddOrder(market, kBookedOrderKind, row, data);
  // An overseas order is announced, then reported accepted by the exchange; hosts learn its
  // number from that report.
  if (overseas) ChangeOrder(market, kBookedOrderKind, row, {});
  const std::u16string orderNo = spec.orderNo;
  booked_.emplace(orderNo, std::move(booking));
  if (fillNow > 0) FillBookedOrder(orderNo, fillNow, quote->last);
  return 0;
}

// Stock: element 30 is the reduction in shares; futures and options: the method's quantity in
// contracts; 0 cancels what remains. Overseas: element 30 of 0 asks for new prices (elements 11
// and 25), otherwise element 31 is the quantity left. Anything unreadable changes nothing.
void SimTradeApi::BookChange(const SimOrder& order) {
  const std::vector<VARIANT>& f = order.fields;
  const std::optional<std::u16string> orderNo = TextAt(f, 29);
  const auto found = orderNo ? booked_.find(*orderNo) : booked_.end();
  if (found == booked_.end() || found->second->reduce != order.id) return;
  Booking& booking = *found->second;
  const double remaining = booking.state.number[156];
  if (remaining <= 0) return;  // filled or cancelled already

  SimRow changes;
  if (order.id == omnideal::ReduceOBFutOrder) {
    const std::optional<double> reduceBy = NumberAt(f, 30);
    if (!reduceBy) return;
    if (*reduceBy == 0) {
      if (const auto price = NumberAt(f, 11)) changes.Number(151, *price);
      if (const auto stop = NumberAt(f, 25)) changes.Number(219, *stop);
      if (changes.number.empty()) return;
    } else {
      const std::optional<double> left = NumberAt(f, 31);
      if (!left || *left < 0 || *left > remaining) return;
      changes.Number(156, *left);
    }
  } else {
    const std::optional<double> reduceBy =
        order.id == omnideal::ReduceStkOrder ? NumberAt(f, 30) : std::optional<double>(order.quantity);
    if (!reduceBy || *reduceBy < 0) return;
    changes.Number(156, *reduceBy == 0 ? 0 : std::max(0.0, remaining - *reduceBy));
  }
  if (const auto left = changes.number.find(156); left != changes.number.end() && left->second == 0)
    changes.Number(352, kStatusCancelled);
  booking.state.Merge(changes);
  ChangeOrder(booking.market, kBookedOrderKind, booking.row, changes);
}

bool SimTradeApi::FillBookedOrder(std::u16string_view orderNo, long quantity, double price) {
  const auto found = booked_.find(orderNo);
  if (found == booked_.end() || quantity <= 0 || !std::isfinite(price)) return false;
  Booking& booking = *found->second;
  const double units = static_cast<double>(quantity) * booking.unit;
  const double remaining = booking.state.number[156], filled = booking.state.number[364];
  if (units > remaining) return false;
  const long fillRow = FreeRow(booking.market, kBookedFillKind);
  if (fillRow < 0) return false;

  const bool overseas = booking.market == Market::Overseas;
  SimRow fill = FillRow(booking.spec, price, quantity);
  fill.Number(364, units);
  const long averageField = overseas ? 454 : 366;
  const double fillPrice = fill.number[overseas ? 257 : 151];
  const double average =
      std::round((booking.state.number[averageField] * filled + fillPrice * units) / (filled + units));
  SimRow changes;
  changes.Number(364, filled + units).Number(156, remaining - units).Number(averageField, average);
  changes.Number(352, units == remaining ? kStatusFilled : kStatusPartFilled);
  booking.state.Merge(changes);
  ChangeOrder(booking.market, kBookedOrderKind, booking.row, changes);
  AddFill(booking.market, kBookedFillKind, fillRow, std::move(fill));
  return true;
}

bool SimTradeApi::SetLastPrice(std::u16string_view product, double price) {
  if (!std::isfinite(price) || price <= 0) return false;
  quotes_.try_emplace(std::u16string(product)).first->second.last = price;
  return true;
}

std::optional<double> SimTradeApi::LastPrice(std::u16string_view product) const {
  const auto it = quotes_.find(product);
  return it == quotes_.end() ? std::nullopt : std::optional(it->second.last);
}

void SimTradeApi::AdvanceMarket(int steps) {
  for (int step = 0; step < steps; ++step) {
    for (auto& [product, quote] : quotes_) {
      // Only a stock's key is a single word.
      const double tick = product.find(u' ') == std::u16string::npos ? StockTick(quote.last) : 0.5;
      const double next = std::round((quote.last + ((walk_() & 1) != 0 ? tick : -tick)) * 100) / 100;
      if (next > 0) quote.last = next;
      std::erase_if(quote.resting, [](const std::shared_ptr<Booking>& b) { return b->state.number[156] <= 0; });
      for (const std::shared_ptr<Booking>& resting : quote.resting) {
        Booking& b = *resting;
        const double limit = b.state.number[151] / (b.market == Market::Overseas ? 1e6 : 1e3);
        if (b.spec.side == u"B" ? quote.last > limit : quote.last < limit) continue;
        const long lots = static_cast<long>(b.state.number[156] / b.unit);
        if (lots > 0) FillBookedOrder(b.spec.orderNo, std::max(1L, lots / 2), limit);
      }
    }
  }
}

}  // namespace kdx::sim
