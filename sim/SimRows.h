// Report rows as a broker's component fills them: every field code the order and fill
// reports read, with realistic values for stocks, futures, options, spreads and overseas
// futures. Tests and the demo start from these and change what a case is about; the
// component builds its booked orders' rows with them too.
#pragma once

#include <optional>
#include <string>

#include "sim/SimTradeApi.h"

namespace kdx::sim {

enum class Product { Stock, Futures, Option, FuturesSpread, OptionSpread, Overseas };

// Status codes (field 352) of the rows. From 50 on, the reports tell accepted, partly filled,
// filled and cancelled apart by the remaining and filled quantities; the codes differ only
// for hosts that read the code itself.
inline constexpr long kStatusAccepted = 50, kStatusPartFilled = 51, kStatusFilled = 52, kStatusCancelled = 60;

struct SimOrderSpec {
  Product product = Product::Stock;
  SimFields account = SimConfig::Account(u"9A95", u"0012345");  // fields 1, 5 and 39
  std::u16string orderNo = u"A0001";
  std::u16string reference;  // field 143 (stock) or 208; the order number when empty
  std::u16string side = u"B";
  double price = 600;  // in price units
  long quantity = 1;   // lots or contracts; a stock row holds shares (x 1000)
  std::u16string note;
  // The order table's market code (field 353, domestic only): "01", "03", "09", "05" or "07";
  // the product's when empty. Fill rows get the fill table's code for the same market.
  std::u16string market;
  // Contract and order-condition fields (symbol, month, strike, 149, 150, 153, 163, 218, ...);
  // the product's sample contract when not given.
  std::optional<SimRow> contract;
};

// A new, accepted order: status 50, nothing filled.
SimRow OrderRow(const SimOrderSpec& spec);
// A fill of that order: the fill table's market code, its own price and quantity.
SimRow FillRow(const SimOrderSpec& spec, double price, long quantity);
// The changes a fill makes to the order row: filled and remaining quantities, average price.
SimRow FilledOrderChanges(const SimOrderSpec& spec, long filled, double averagePrice);

}  // namespace kdx::sim
