#include "sim/SimRows.h"

#include <cmath>
#include <string_view>
#include <utility>

namespace kdx::sim {
namespace {

bool IsOverseas(const SimOrderSpec& s) { return s.product == Product::Overseas; }
bool IsStock(const SimOrderSpec& s) { return s.product == Product::Stock; }
bool IsOption(const SimOrderSpec& s) { return s.product == Product::Option || s.product == Product::OptionSpread; }

// Domestic prices travel in thousandths of the unit, overseas ones in millionths; rounded, as
// 0.7 x 1000 is not quite 700 in binary and the readers truncate.
double Scaled(const SimOrderSpec& s, double price) { return std::round(price * (IsOverseas(s) ? 1e6 : 1e3)); }
// Stock quantities travel in shares.
double Units(const SimOrderSpec& s, long quantity) { return quantity * (IsStock(s) ? 1000.0 : 1.0); }

// Order-table market codes and the fill table's code for the same market.
constexpr std::pair<std::u16string_view, std::u16string_view> kFillMarkets[] = {
    {u"01", u"02"}, {u"03", u"04"}, {u"09", u"10"}, {u"05", u"06"}, {u"07", u"08"}};

std::u16string MarketCode(const SimOrderSpec& s, bool fill) {
  const std::u16string_view product = IsStock(s) ? u"01" : IsOption(s) ? u"07" : u"05";
  const std::u16string_view order = s.market.empty() ? product : std::u16string_view(s.market);
  if (fill)
    for (const auto& [o, f] : kFillMarkets)
      if (o == order) return std::u16string(f);
  return std::u16string(order);
}

SimRow SampleContract(const SimOrderSpec& s) {
  SimRow row;
  if (IsOverseas(s)) {
    return row.Text(114, u"ES").Text(115, u"202703").Text(118, u"E-mini S&P 500").Text(218, u"CME")
        .Text(149, u"R").Text(150, u"0").Text(163, u"O");
  }
  if (IsStock(s)) return row.Text(85, u"2330").Text(86, u"台積電").Text(149, u"0").Text(150, u"0").Text(153, u"N");
  row.Text(149, u"R").Text(150, u"0").Text(163, u"O");
  const bool spread = s.product == Product::FuturesSpread || s.product == Product::OptionSpread;
  if (IsOption(s)) {
    row.Text(114, u"TXO").Text(115, u"202612").Text(116, u"C").Text(118, u"台指選").Number(117, 18000000);
    if (spread) row.Text(130, u"TXO").Text(131, u"202612").Text(132, u"P").Text(354, u"台指選").Number(133, 17500000);
  } else {
    row.Text(114, u"TXF").Text(115, u"202612").Text(118, u"台指期");
    if (spread) row.Text(130, u"TXF").Text(131, u"202701").Text(354, u"台指期");
  }
  if (spread) row.Text(134, s.side == u"B" ? u"S" : u"B");
  return row;
}

SimRow Common(const SimOrderSpec& s, bool fill) {
  SimRow row;
  for (long field : {1L, 5L, 39L}) {
    const auto it = s.account.find(field);
    row.Text(field, it == s.account.end() ? u"" : it->second);
  }
  const std::u16string ref = s.reference.empty() ? s.orderNo : s.reference;
  row.Text(147, s.orderNo).Text(148, s.side).Text(159, u"20261207").Text(310, fill ? u"093512" : u"093015");
  row.Text(68, u"").Text(69, u"").Text(362, u"").Text(220, u"").Text(201, s.note);
  row.Text(IsStock(s) ? 143 : 208, ref);
  if (!IsOverseas(s)) row.Text(353, MarketCode(s, fill));
  row.Merge(s.contract ? *s.contract : SampleContract(s));
  return row;
}

}  // namespace

SimRow OrderRow(const SimOrderSpec& s) {
  SimRow row = Common(s, false);
  const double quantity = Units(s, s.quantity);
  row.Number(151, Scaled(s, s.price)).Number(156, quantity).Number(364, 0).Number(352, kStatusAccepted);
  row.Number(361, quantity);
  if (IsOverseas(s)) return row.Number(205, quantity).Number(219, 0).Number(454, 0);
  return row.Number(359, 0).Number(366, 0);
}

SimRow FillRow(const SimOrderSpec& s, double price, long quantity) {
  SimRow row = Common(s, true);
  const double scaled = Scaled(s, price);
  row.Number(364, Units(s, quantity)).Number(352, kStatusAccepted).Number(156, 0);
  return IsOverseas(s) ? row.Number(257, scaled) : row.Number(151, scaled);
}

SimRow FilledOrderChanges(const SimOrderSpec& s, long filled, double averagePrice) {
  SimRow row;
  row.Number(364, Units(s, filled)).Number(156, Units(s, s.quantity - filled));
  return row.Number(IsOverseas(s) ? 454 : 366, Scaled(s, averagePrice));
}

}  // namespace kdx::sim
