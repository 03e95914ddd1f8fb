// The conversions every new order shares: prices and quantities into the component's integers,
// the session and ticket accounts, price flags, and scaled prices as the dialog shows them.
// Symbol conversion and the order key read the ticket, so they are members of the control.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/cstring.h"

namespace kdx {

// The kinds ConvertSymbol knows.
inline constexpr long kSymbolStock = 1, kSymbolFutures = 2, kSymbolOptions = 3;

// "F|" exchange "|" product "|" month "|0|0": the key of the overseas product tables.
CString ObProductKey(TextView exchange, TextView product, TextView month);

// A price in thousandths (domestic prices, strikes) or millionths (overseas prices): a price
// with a unit's half or more past the last place rounds away from zero. Nothing when the price is not a number or does not fit the component's
// integer (32 bits for thousandths, 64 for millionths): such an order is refused, never wrapped.
std::optional<int32_t> ScalePriceThousandths(double price);
std::optional<int64_t> ScalePriceMillionths(double price);
// Millionths as the component takes them: 64-bit decimal text.
CString MillionthsText(int64_t millionths);

// The quantity as entered (truncated toward zero) and as sent: stock lots become shares unless
// the trade type is "O" (already shares). Nothing when either does not fit 32 bits.
struct OrderQuantity {
  int32_t nEntered = 0;
  int32_t nSent = 0;
};
std::optional<OrderQuantity> ScaleQuantity(double quantity, long nKind, const CString& strTradeType);

// The session account split at its first "-"; nothing when there is none or it comes first.
struct BranchAccount {
  CString strBranch;
  CString strAccount;
};
std::optional<BranchAccount> SplitAccount(const CString& strDefaultAccount);
// The ticket's account: the text after its first "-", or all of it.
CString OrderAccount(const CString& strTicketAccount);

// Stock price flags "L", "N", "D", "U" in any case become "0", "2", "3", "4"; others pass as given.
CString StockPriceFlag(const CString& strFlag);
// Futures and options: "1" for market ("M" in any case), else "0" (limit).
CString FuturesPriceFlag(const CString& strFlag);

// A strike in thousandths with all three places: 9500000 gives "9500.000".
CString StrikeThousandthsText(int64_t thousandths);

// A scaled price with `decimals` places, trimmed: 12500 with 3 gives "12.5", 0 gives "0".
CString FormatScaledPrice(int64_t value, int decimals);

}  // namespace kdx
