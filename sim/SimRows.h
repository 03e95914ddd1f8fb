// Report rows as a broker's component fills them: every field code the order and fill
// reports read, with realistic values for stocks, futures, options, spreads and overseas
// futures. Tests and the demo start from these and change what a case is about.
#pragma once

#include <string>

#include "sim/SimTradeApi.h"

namespace kdx::sim {

enum class Product { Stock, Futures, Option, FuturesSpread, OptionSpread, Overseas };

struct SimOrderSpec {
  Product product = Product::Stock;
  SimFields account = SimConfig::Account(u"9A95", u"0012345");  // fields 1, 5 and 39
  std::u16string orderNo = u"A0001";
  std::u16string reference;  // field 143 (stock) or 208; the order number when empty
  std::u16string side = u"B";
  double price = 600;  // in price units
  long quantity = 1;   // lots or contracts; a stock row holds shares (x 1000)
  std::u16string note;
};

// A new, accepted order: status 50, nothing filled.
SimRow OrderRow(const SimOrderSpec& spec);
// A fill of that order: the fill table's market code, its own price and quantity.
SimRow FillRow(const SimOrderSpec& spec, double price, long quantity);
// The changes a fill makes to the order row: filled and remaining quantities, average price.
SimRow FilledOrderChanges(const SimOrderSpec& spec, long filled, double averagePrice);

}  // namespace kdx::sim
