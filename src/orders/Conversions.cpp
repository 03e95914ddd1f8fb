// Symbols, prices, quantities and accounts from the host's forms into the component's.
#include "orders/Conversions.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "control/KdxCtrl.h"

namespace kdx {
namespace {

constexpr int kMaxSymbolLength = 255;

// truncate((price ± 0.0000005) × scale), if it lies in [lo, hi]. The addend keeps prices such as
// 12.345, inexact in binary, from losing a unit; it is mirrored for negative prices (spreads),
// which would otherwise lose one.
std::optional<double> Scale(double price, double scale, double lo, double hi) {
  if (!std::isfinite(price)) return std::nullopt;
  const double r = std::trunc((price + std::copysign(0.0000005, price)) * scale);
  if (r < lo || r > hi) return std::nullopt;
  return r;
}

// The leading decimal number of a text as _wtof reads one without exponent; 0.0 when none.
double LeadingDecimal(std::u16string_view text) {
  std::size_t i = text.find_first_not_of(u" \t");
  if (i == std::u16string_view::npos) return 0.0;
  std::string number;
  if (text[i] == u'-' || text[i] == u'+') number += static_cast<char>(text[i++]);
  bool point = false;
  for (; i < text.size(); ++i) {
    const char16_t ch = text[i];
    if (ch == u'.' && !point) {
      point = true;
    } else if (ch < u'0' || ch > u'9') {
      break;
    }
    number += static_cast<char>(ch);
  }
  const bool negative = !number.empty() && number[0] == '-';
  const std::size_t start = (negative || (!number.empty() && number[0] == '+')) ? 1 : 0;
  double value = 0.0;
  std::from_chars(number.data() + start, number.data() + number.size(), value);  // 0.0 unless digits
  return negative ? -value : value;
}

// Dot-separated parts, runs of dots as one separator.
class SymbolParts {
 public:
  explicit SymbolParts(std::u16string_view text) : rest_(text) {}
  std::optional<std::u16string_view> Next() {
    SkipDots();
    if (rest_.empty()) return std::nullopt;
    const std::size_t end = std::min(rest_.find(u'.'), rest_.size());
    const std::u16string_view part = rest_.substr(0, end);
    rest_.remove_prefix(end);
    return part;
  }
  // Everything left up to a line end: an option's strike may hold a decimal point.
  std::u16string_view Rest() {
    SkipDots();
    return rest_.substr(0, std::min(rest_.find_first_of(u"\r\n"), rest_.size()));
  }

 private:
  void SkipDots() { rest_.remove_prefix(std::min(rest_.find_first_not_of(u'.'), rest_.size())); }
  std::u16string_view rest_;
};

const CString* Lookup(const std::unordered_map<CString, CString>& map, const CString& key) {
  const auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

}  // namespace

CString ObProductKey(TextView exchange, TextView product, TextView month) {
  return CString(u"F|") + exchange.view() + u"|" + product.view() + u"|" + month.view() + u"|0|0";
}

std::optional<int32_t> ScalePriceThousandths(double price) {
  const auto r = Scale(price, 1000.0, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
  return r ? std::optional<int32_t>(static_cast<int32_t>(*r)) : std::nullopt;
}

std::optional<int64_t> ScalePriceMillionths(double price) {
  // 2^63 itself is past the range; every double below it converts exactly.
  const auto r = Scale(price, 1000000.0, -0x1p63, std::nextafter(0x1p63, 0.0));
  return r ? std::optional<int64_t>(static_cast<int64_t>(*r)) : std::nullopt;
}

CString MillionthsText(int64_t millionths) { return FormatString(u"%I64d", millionths); }

std::optional<OrderQuantity> ScaleQuantity(double quantity, long nKind, const CString& strTradeType) {
  constexpr double lo = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max();
  if (!std::isfinite(quantity)) return std::nullopt;
  const double entered = std::trunc(quantity);
  const double sent = (nKind == kSymbolStock && strTradeType != u"O") ? entered * 1000 : entered;
  if (entered < lo || entered > hi || sent < lo || sent > hi) return std::nullopt;
  return OrderQuantity{static_cast<int32_t>(entered), static_cast<int32_t>(sent)};
}

std::optional<BranchAccount> SplitAccount(const CString& strDefaultAccount) {
  const int dash = strDefaultAccount.Find(u'-');
  if (dash <= 0) return std::nullopt;
  return BranchAccount{strDefaultAccount.Left(dash), strDefaultAccount.Mid(dash + 1)};
}

CString OrderAccount(const CString& strTicketAccount) {
  const int dash = strTicketAccount.Find(u'-');
  return dash < 0 ? strTicketAccount : strTicketAccount.Mid(dash + 1);
}

CString StockPriceFlag(const CString& strFlag) {
  constexpr std::pair<const char16_t*, const char16_t*> kFlags[] = {{u"L", u"0"}, {u"N", u"2"}, {u"D", u"3"}, {u"U", u"4"}};
  for (const auto& [flag, code] : kFlags) {
    if (strFlag.CompareNoCase(flag) == 0) return code;
  }
  return strFlag;
}

CString FuturesPriceFlag(const CString& strFlag) { return strFlag.CompareNoCase(u"M") == 0 ? u"1" : u"0"; }

CString StrikeThousandthsText(int64_t thousandths) {
  // Below 1 the places still need a whole part: 500 gives "0.500".
  const uint64_t magnitude = thousandths < 0 ? 0 - static_cast<uint64_t>(thousandths) : static_cast<uint64_t>(thousandths);
  std::string digits = std::to_string(magnitude);
  if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
  digits.insert(digits.size() - 3, 1, '.');
  if (thousandths < 0) digits.insert(0, 1, '-');
  return CString(std::u16string(digits.begin(), digits.end()));
}

CString FormatScaledPrice(int64_t value, int decimals) {
  // Negative prices (spreads) keep their sign in front of the same trimmed digits.
  const bool negative = value < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  const std::size_t d = static_cast<std::size_t>(std::clamp(decimals, 0, 18));
  std::u16string text(d, u'0');
  for (const char ch : std::to_string(magnitude)) text += static_cast<char16_t>(ch);
  text.insert(text.size() - d, 1, u'.');
  text.erase(0, std::min(text.find_first_not_of(u'0'), text.size()));
  if (text.empty() || text[0] == u'.') text.insert(0, 1, u'0');
  text.erase(text.find_last_not_of(u'0') + 1);
  text.erase(text.find_last_not_of(u'.') + 1);
  return CString(negative ? u"-" + text : text);
}

long CORV_Velmar_KDXCtrl::ConvertSymbol(const CString& strSymbolIn, long nKind, CString& strDisplaySymbol) {
  const CString strSymbol = strSymbolIn;  // it may be ticket text 2 itself, which this rewrites
  SymbolParts parts(std::u16string_view(strSymbol).substr(0, kMaxSymbolLength));
  const auto market = parts.Next(), place = parts.Next();
  if (!market || !place || *market != u"ORV") return 0;
  const auto product = parts.Next();
  auto text = [this](int32_t field, std::u16string_view value) { m_arrOrderInfoString.Set(field, CString(value)); };
  if (nKind == kSymbolStock) {
    if (*place != u"TWS" || !product) return 0;
    text(2, *product);
    return 1;
  }
  const auto month = parts.Next();
  if (nKind == kSymbolFutures) {
    if (!product || !month) return 0;
    if (*place == u"TWF") {
      text(2, *product), text(12, u"TW"), text(13, *month);
      return 1;
    }
    const CString key = ObProductKey(*place, *product, *month);
    const CString* code = Lookup(m_mapObProductCode, key);
    const CString* exchange = Lookup(m_mapObExchange, key);
    if (code && exchange) {
      text(2, *code), text(12, *exchange), text(13, *month);
      if (const CString* display = Lookup(m_mapObDisplaySymbol, key)) strDisplaySymbol = *display;
    } else {
      text(2, *product), text(12, *place), text(13, *month);
      strDisplaySymbol = strSymbol;
    }
    return 1;
  }
  if (nKind == kSymbolOptions) {
    const auto side = parts.Next();
    const std::u16string_view strike = parts.Rest();
    if (*place != u"TWF" || !product || !month || !side || strike.empty()) return 0;
    text(2, *product), text(12, u"TW"), text(13, *month), text(16, *side);
    m_arrOrderInfoValue.Set(17, LeadingDecimal(strike));
    return 1;
  }
  return 0;
}

CString CORV_Velmar_KDXCtrl::BuildOrderKey() const {
  constexpr long kKeyFields[] = {11, 40, 41, 42, 43, 44, 45, 46, 47, 48};  // parts 0 to 9
  std::u16string key;
  char16_t part = u'0';
  for (const long field : kKeyFields) {
    const CString& text = OrderInfoString(field);
    const char16_t tag = part++;
    if (text.IsEmpty()) continue;
    key.append(u"[!@").append(1, tag).append(u"]");
    for (const char16_t ch : std::u16string_view(text)) ch == u',' ? key.append(u"%$&") : key.append(1, ch);
  }
  return CString(std::move(key));
}

}  // namespace kdx
