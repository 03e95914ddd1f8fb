#include "reports/ReportText.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/system.h"
#include "resources/string_table.h"

namespace kdx {

long ParseDecimal(TextView view) {
  const std::u16string_view text = view;
  std::size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  constexpr int64_t kLimit = 0x7FFFFFFF;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
    value = std::min<int64_t>(value * 10 + (text[i] - u'0'), kLimit + 1);
  return static_cast<long>(negative ? -value : std::min(value, kLimit));
}

std::optional<int64_t> TruncateToInt64(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (value >= kLimit) return std::numeric_limits<int64_t>::max();
  if (value <= -kLimit) return std::numeric_limits<int64_t>::min() + 1;
  return static_cast<int64_t>(value);
}

CString ExtractNoteTag(const CString& text, long nField) {
  if (text.Find(u"[!@") < 0) return text;
  CString work = text;
  work.Replace(u"%$&", u",");
  const long digit = nField == 14 ? 0 : nField - 39;
  const int start = work.Find(FormatString(u"[!@%d]", digit));
  if (start < 0) return {};
  const int end = work.Find(u"[!@", start + 3);
  return end < 0 ? work.Mid(start + 5) : work.Mid(start + 5, end - start - 5);
}

namespace {

// "ORV." + the parts joined by ".".
CString Dotted(std::initializer_list<TextView> parts) {
  CString out = u"ORV";
  for (TextView part : parts) out += u"." + CString(part.view());
  return out;
}

CString FuturesSymbol(const CString& text) {
  if (text.Left(2) != u"F|" && text.GetLength() > 6)
    return Dotted({u"TWF", text.Left(text.GetLength() - 6), text.Right(6)});
  std::array<CString, 4> tokens;
  int pos = 0;
  for (CString& token : tokens) {
    if (pos < 0) break;
    token = text.Tokenize(u"|", pos);
  }
  if (tokens[3].IsEmpty()) return text;
  return Dotted({tokens[1], tokens[2], tokens[3]});
}

CString OptionSymbol(const CString& text) {
  if (text.GetLength() < 10) return text;
  const CString commodity = text.Left(3);
  CString strike = text.Mid(3, 5).TrimLeft(u'0');
  if (commodity != u"TXO" && commodity != u"TFO") strike.Truncate(strike.GetLength() - 1);
  const char16_t letter = text[8];
  bool call;
  int month;
  if (letter >= u'A' && letter <= u'L') {
    call = true;
    month = letter - u'A' + 1;
  } else if (letter >= u'M' && letter <= u'X') {
    call = false;
    month = letter - u'M' + 1;
  } else {
    return text;
  }
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const long current = now.wYear;
  long year = current / 10 * 10 + ParseDecimal(text.Mid(9));
  if (year < current) year += 10;
  return Dotted({u"TWF", commodity, FormatString(u"%d%02d", year, month), call ? u"C" : u"P", strike});
}

}  // namespace

CString ToUniformSymbol(const CString& text, long type) {
  const int dot = text.Find(u'.');
  if ((dot < 0 ? text : text.Left(dot)) == u"ORV") return text;
  switch (type) {
    case 1: return u"ORV.TWS." + text;
    case 2: return FuturesSymbol(text);
    case 3: return OptionSymbol(text);
    default: return text;
  }
}

CString FormatTime(CString text) {
  text.Insert(text.GetLength() - 4, u':');
  text.Insert(text.GetLength() - 2, u':');
  return text;
}

CString FormatDate(CString text) {
  text.Insert(6, u'/');
  text.Insert(4, u'/');
  return text;
}

CString StrikeText(long value) {
  CString text = FormatString(u"%.3f", value * 0.001);
  text.TrimRight(u'0');
  text.TrimRight(u'.');
  return text;
}

OrderState GetOrderState(const CString& errorCode, long long status, long long remaining, long long filled) {
  if (!errorCode.IsEmpty() && ParseDecimal(errorCode) != 0) return OrderState::Failed;
  if (status < 10) return OrderState::None;
  if (status < 20) return OrderState::ServerReceived;
  if (status < 30) return OrderState::Preorder;
  if (status < 40) return OrderState::SentToGateway;
  if (status < 50) return OrderState::BackOfficeReceived;
  if (remaining > 0) return filled != 0 ? OrderState::PartiallyFilled : OrderState::Accepted;
  return filled > 0 ? OrderState::FullyFilled : OrderState::Cancelled;
}

CString OrderStatusText(OrderState state, StatusWords words) {
  struct Texts {
    const char16_t* english;
    const char16_t* literal;
    uint32_t resource;
  };
  // In OrderState's order, None first.
  static constexpr Texts kTexts[] = {
      {u"", u"", 0},
      {u"Order Failed", u"委託失敗", 231},
      {u"ITS Server Received", u"ITS主機已接單", 232},
      {u"Preorder", u"預約單", 233},
      {u"Send to Gateway", u"送至後台Gateway", 234},
      {u"BO Received", u"後台已收單", 235},
      {u"Full Matched", u"完全成交", 236},
      {u"Cancelled", u"委託刪單成功", 237},
      {u"Partial Matched", u"部分成交", 238},
      {u"Order OK", u"委託成功", 239},
  };
  const Texts& t = kTexts[static_cast<int>(state)];
  switch (words) {
    case StatusWords::English: return t.english;
    case StatusWords::Literal: return t.literal;
    default: return t.resource ? CString(LoadResourceString(t.resource)) : CString();
  }
}

}  // namespace kdx
