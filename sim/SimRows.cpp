#include "sim/SimRows.h"

namespace kdx::sim {
namespace {

bool IsOverseas(const SimOrderSpec& s) { return s.product == Product::Overseas; }
bool IsStock(const SimOrderSpec& s) { return s.product == Product::Stock; }
bool IsOption(const SimOrderSpec& s) { return s.product == Product::Option || s.product == Product::OptionSpread; }

// Domestic prices travel in thousandths of the unit, overseas ones in millionths.
double Scaled(const SimOrderSpec& s, double price) { return price * (IsOverseas(s) ? 1e6 : 1e3); }
// Stock quantities travel in shares.
double Units(const SimOrderSpec& s, long quantity) { return quantity * (IsStock(s) ? 1000.0 : 1.0); }

// Order-table market codes; the fill table's are one higher (stock "01" -> "02", ...).
const char16_t* MarketCode(const SimOrderSpec& s, bool fill) {
  if (IsStock(s)) return fill ? u"02" : u"01";
  if (IsOption(s)) return fill ? u"08" : u"07";
  return fill ? u"06" : u"05";
}

SimRow Common(const SimOrderSpec& s, bool fill) {
  SimRow row;
  for (long field : {1L, 5L, 39L}) {
    const auto it = s.account.find(field);
    row.Text(field, it == s.account.end() ? u"" : it->second);
  }
  const std::u16string ref = s.reference.empty() ? s.orderNo : s.reference;
  row.Text(147, s.orderNo).Text(148, s.side).Text(159, u"20261207").Text(310, fill ? u"093512" : u"093015");
  row.Text(68, u"").Text(69, u"").Text(362, u"").Text(220, u"");
  if (IsOverseas(s)) {
    return row.Text(114, u"ES").Text(115, u"202703").Text(118, u"E-mini S&P 500").Text(218, u"CME")
        .Text(149, u"R").Text(150, u"0").Text(163, u"O").Text(208, ref).Text(201, s.note);
  }
  row.Text(353, MarketCode(s, fill)).Text(201, s.note);
  if (IsStock(s)) return row.Text(85, u"2330").Text(86, u"台積電").Text(143, ref).Text(149, u"0").Text(150, u"0").Text(153, u"N");
  row.Text(208, ref).Text(149, u"R").Text(150, u"0").Text(163, u"O");
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

}  // namespace

SimRow OrderRow(const SimOrderSpec& s) {
  SimRow row = Common(s, false);
  const double quantity = Units(s, s.quantity);
  row.Number(151, Scaled(s, s.price)).Number(156, quantity).Number(364, 0).Number(352, 50).Number(361, quantity);
  if (IsOverseas(s)) return row.Number(205, quantity).Number(219, 0).Number(454, 0);
  return row.Number(359, 0).Number(366, 0);
}

SimRow FillRow(const SimOrderSpec& s, double price, long quantity) {
  SimRow row = Common(s, true);
  const double scaled = Scaled(s, price);
  row.Number(364, Units(s, quantity)).Number(352, 50).Number(156, 0);
  return IsOverseas(s) ? row.Number(257, scaled) : row.Number(151, scaled);
}

SimRow FilledOrderChanges(const SimOrderSpec& s, long filled, double averagePrice) {
  SimRow row;
  row.Number(364, Units(s, filled)).Number(156, Units(s, s.quantity - filled));
  return row.Number(IsOverseas(s) ? 454 : 366, Scaled(s, averagePrice));
}

}  // namespace kdx::sim
