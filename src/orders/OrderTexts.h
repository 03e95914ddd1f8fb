// Codes of the ticket and of the component's order rows, as the confirmation dialog shows them.
#pragma once

#include <span>
#include <utility>

#include "platform/cstring.h"

namespace kdx {

using CodeText = std::pair<const char16_t*, const char16_t*>;

// Price flags with a price of their own (stock "2", "3", "4").
inline constexpr CodeText kLimitPrices[] = {{u"2", u"平盤價"}, {u"3", u"跌停價"}, {u"4", u"漲停價"}};
inline constexpr CodeText kStockOrderTypes[] = {{u"0", u"一般"}, {u"1", u"融資"}, {u"2", u"融券"}};
inline constexpr CodeText kOpenClose[] = {{u"A", u"自動"}, {u"O", u"新倉"}, {u"C", u"平倉"}};
inline constexpr CodeText kConditions[] = {{u"R", u"ROD"}, {u"I", u"IOC"}, {u"F", u"FOK"}};
inline constexpr CodeText kCallPut[] = {{u"C", u"Call"}, {u"P", u"Put"}};
// A domestic order row's market code as a stock order's market type.
inline constexpr CodeText kMarketTypes[] = {{u"01", u"T"}, {u"03", u"O"}, {u"09", u"R"}};

// The text for `code` (compared exactly), else `otherwise`.
inline CString Lookup(std::span<const CodeText> table, const CString& code, const CString& otherwise) {
  for (const auto& [key, text] : table) {
    if (code == key) return text;
  }
  return otherwise;
}

}  // namespace kdx
