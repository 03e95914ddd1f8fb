// The order and fill report readers: uniform report field numbers into the component's field
// codes, and its codes into the texts and numbers the host sees. Domestic rows and overseas
// fills are read live from the component; overseas orders from their order objects.
#include <cstdint>
#include <optional>
#include <span>

#include "control/KdxCtrl.h"
#include "reports/ReportText.h"
#include "resources/string_table.h"

namespace kdx {
namespace {

constexpr int32_t kOverseasKeyBase = 10000000;

enum class Market { Other, Stock, Futures, Options };

// A code and its word: a fixed text, or string resource `resource` when that is set.
struct Word {
  const char16_t* code;
  const char16_t* text;
  uint32_t resource = 0;
};

CString WordFor(std::span<const Word> table, const CString& code) {
  for (const Word& w : table)
    if (code == w.code) return w.resource ? CString(LoadResourceString(w.resource)) : CString(w.text);
  return {};
}

// clang-format off
constexpr Word kOrderMarkets[] = {{u"01", u"S"}, {u"03", u"S"}, {u"09", u"S"}, {u"05", u"F"}, {u"07", u"O"}};
constexpr Word kFillMarkets[] = {{u"02", u"S"}, {u"04", u"S"}, {u"10", u"S"}, {u"06", u"F"}, {u"08", u"O"}};

constexpr Word kConditionWords[] = {{u"0", nullptr, 244}, {u"1", nullptr, 245}, {u"2", nullptr, 246},
    {u"I", u"IOC"}, {u"R", u"ROD"}, {u"F", u"FOK"}, {u"Q", nullptr, 252}};
constexpr Word kFillConditionWords[] = {{u"0", u"普通"}, {u"1", u"融資"}, {u"2", u"融券"},
    {u"I", u"IOC"}, {u"R", u"ROD"}, {u"F", u"FOK"}, {u"Q", u"造市"}};
constexpr Word kConditionCodes[] = {{u"0", u"NM"}, {u"1", u"DB"}, {u"2", u"CR"},
    {u"I", u"IOC"}, {u"R", u"ROD"}, {u"F", u"FOK"}, {u"Q", u"MK"}};

constexpr Word kPriceTypeWords[] = {{u"0", nullptr, 228}, {u"1", nullptr, 213}, {u"2", nullptr, 241},
    {u"3", nullptr, 242}, {u"4", nullptr, 243}};
constexpr Word kFillPriceTypeWords[] = {{u"0", u"限價"}, {u"1", u"市價"}, {u"2", u"平盤"}, {u"3", u"跌停"}, {u"4", u"漲停"}};
constexpr Word kPriceTypeCodes[] = {{u"0", u"Limit"}, {u"1", u"Market"}, {u"2", u"Ref"}, {u"3", u"Down"}, {u"4", u"Up"}};
constexpr Word kObPriceTypeCodes[] = {{u"0", u"Limit"}, {u"1", u"Market"}, {u"2", u"2"}, {u"3", u"Stop"},
    {u"4", u"StopLimit"}};

constexpr Word kSideWords[] = {{u"B", u"買進"}, {u"S", u"賣出"}};
constexpr Word kObSideWords[] = {{u"B", nullptr, 229}, {u"S", nullptr, 230}};

constexpr Word kPositionCodes[] = {{u"0", u"NM"}, {u"1", u"DB"}, {u"2", u"CR"}, {u"A", u"Auto"}, {u"O", u"Open"},
    {u"C", u"Close"}};
constexpr Word kFillPositionCodes[] = {{u"0", u"NM"}, {u"1", u"DB"}, {u"2", u"CR"}, {u"O", u"Open"}, {u"C", u"Close"}};
constexpr Word kObPositionCodes[] = {{u"A", u"Auto"}, {u"O", u"Open"}, {u"C", u"Close"}};
constexpr Word kObFillPositionCodes[] = {{u"O", u"Open"}, {u"C", u"Close"}};
constexpr Word kFillPositionWords[] = {{u"0", u"普通"}, {u"1", u"融資"}, {u"2", u"融券"}, {u"O", u"新倉"}, {u"C", u"平倉"}};
constexpr Word kObPositionWords[] = {{u"O", nullptr, 216}, {u"C", nullptr, 217}, {u"A", nullptr, 215},
    {u"Y", nullptr, 260}};
// clang-format on

// One row of a report: where its fields come from.
struct ReportRow {
  CORVOMNIDEALAPI& api;
  bool overseas;
  bool fill;
  long kind, row;
  const FieldRecord* object;  // an overseas order's; null for every other row

  // Dc, Oc or Gc.
  CString Text(int code) const {
    if (object) return CString(object->GetStringView(code));
    return overseas ? api.GetOBDataString(kind, row, code) : api.GetDataString(kind, row, code);
  }
  // Dv(c), Ov(c) or Gv(c). A number an order object never received reads 0, not the absent marker.
  int64_t Number(int code) const {
    if (object) {
      const int64_t value = object->GetNumber(code);
      return value == kAbsent ? 0 : value;
    }
    if (overseas) return TruncateToInt64(api.GetOBDataValue(kind, row, code)).value_or(0);
    return api.GetDataValue(kind, row, code);
  }
  // The component's own field, for numbers the report does not convert.
  CString PassText(long field) const {
    return overseas ? api.GetOBDataString(kind, row, field) : api.GetDataString(kind, row, field);
  }
  double PassValue(long field) const {
    return overseas ? api.GetOBDataValue(kind, row, field) : static_cast<double>(api.GetDataValue(kind, row, field));
  }
  Market GetMarket() const {
    const CString letter = WordFor(fill ? std::span<const Word>(kFillMarkets) : kOrderMarkets, Text(353));
    return letter == u"S" ? Market::Stock : letter == u"F" ? Market::Futures
                                          : letter == u"O" ? Market::Options : Market::Other;
  }
};

enum class RowLookup { Found, Unknown, UnknownOverseas };

RowLookup FindRow(const CORV_Velmar_KDXCtrl& c, long nIndex, bool fill, std::optional<ReportRow>& out) {
  if (!c.m_pTradeApi || nIndex < 0 || nIndex > INT32_MAX) return RowLookup::Unknown;
  const auto& indexToKey = fill ? c.m_mapFillIndexToKey : c.m_mapOrderIndexToKey;
  const auto it = indexToKey.find(static_cast<int32_t>(nIndex));
  if (it == indexToKey.end()) return RowLookup::Unknown;
  const int32_t key = it->second;
  const bool overseas = key >= kOverseasKeyBase;
  // Overseas kinds above 99 reach past ten million in the key: take the base off, not a modulo.
  const int32_t rest = overseas ? key - kOverseasKeyBase : key;
  const FieldRecord* object = nullptr;
  if (overseas && !fill) {
    const auto found = c.m_mapOBKeyToOrder.find(key);
    if (found == c.m_mapOBKeyToOrder.end() || !found->second) return RowLookup::UnknownOverseas;
    object = found->second;
  }
  out.emplace(ReportRow{*c.m_pTradeApi, overseas, fill, rest / 100000, rest % 100000, object});
  return RowLookup::Found;
}

CString ValueOf(const std::unordered_map<CString, CString>& map, const CString& key) {
  const auto it = map.find(key);
  return it == map.end() ? CString() : it->second;
}

CString Account(const CORV_Velmar_KDXCtrl& c, const ReportRow& r) {
  const CString f5 = r.Text(5);
  if (!c.m_strRocIDPrefix.IsEmpty() && !f5.IsEmpty()) return c.m_strRocIDPrefix + u"-" + f5;
  if (r.overseas && !f5.IsEmpty()) return f5;
  return r.Text(1) + u"-" + r.Text(39);
}

// The display symbol of the first leg (offset 0: codes 114-118) or the second (codes 130-133, 354).
CString DisplaySymbol(const ReportRow& r, Market market, bool secondLeg) {
  const int commodity = secondLeg ? 130 : 114, name = secondLeg ? 354 : 118;
  if (secondLeg && r.Text(commodity).IsEmpty()) return {};  // a single-leg order
  switch (market) {
    case Market::Stock:
      return secondLeg ? CString() : r.Text(86) + u" " + r.Text(85);
    case Market::Futures:
      return r.Text(name) + u" " + r.Text(commodity) + u" " + r.Text(commodity + 1);
    case Market::Options:
      return r.Text(name) + u" " + r.Text(commodity) + u" " + r.Text(commodity + 1) + u" " + r.Text(commodity + 2) +
             u" " + StrikeText(static_cast<long>(r.Number(commodity + 3)));
    default:
      return {};
  }
}

CString UniformSymbol(const ReportRow& r, Market market, bool secondLeg) {
  const int commodity = secondLeg ? 130 : 114;
  if (secondLeg && r.Text(commodity).IsEmpty()) return {};
  switch (market) {
    case Market::Stock:
      return secondLeg ? CString() : ToUniformSymbol(r.Text(85), 1);
    case Market::Futures:
      return ToUniformSymbol(r.Text(commodity) + r.Text(commodity + 1), 2);
    case Market::Options:
      return u"ORV.TWF." + r.Text(commodity) + u"." + r.Text(commodity + 1) + u"." + r.Text(commodity + 2) + u"." +
             StrikeText(static_cast<long>(r.Number(commodity + 3)));
    default:
      return {};
  }
}

CString OverseasUniformSymbol(const CORV_Velmar_KDXCtrl& c, const ReportRow& r, const CString& note) {
  CString tag = ExtractNoteTag(note, 45);
  if (tag.Left(4) == u"ORV.") return tag;
  if (!r.fill) return u"ORV." + r.Text(218) + u"." + r.Text(114) + u"." + r.Text(115);
  const auto mapped = c.m_mapObCodeToKey.find(r.Text(114));
  if (mapped == c.m_mapObCodeToKey.end()) return tag;
  CString items[3];
  int pos = 0;
  for (CString& item : items)
    if (pos >= 0) item = mapped->second.Tokenize(u"|", pos);
  return u"ORV." + items[1] + u"." + items[2] + u"." + r.Text(115);
}

CString CancelFlag(const CORV_Velmar_KDXCtrl& c, const ReportRow& r, Market market) {
  if (r.Text(147).IsEmpty() || r.Number(156) <= 0) return u"N";
  bool yes = false;
  if (market == Market::Stock) {
    const CString session = r.Text(153);
    yes = (session == u"N" && c.m_strMarketDateNML == u"OPEN") || (session == u"F" && c.m_strMarketDateFIX == u"OPEN") ||
          (session == u"O" && c.m_strMarketDateODD == u"OPEN");
  } else if (market == Market::Futures || market == Market::Options) {
    const CString condition = r.Text(149);
    const bool start = c.m_strMarketDateFUT == u"START";
    yes = !((condition == u"I" || condition == u"F") && start) && (start || c.m_strMarketDateFUT == u"OPEN");
  }
  return yes ? u"Y" : u"N";
}

CString ErrorText(const ReportRow& r) {
  const CString code = r.Text(68), text = r.Text(69);
  if (!code.IsEmpty() && !text.IsEmpty()) return code + u":" + text;
  return code.IsEmpty() ? text : code;
}

CString ReportString(const CORV_Velmar_KDXCtrl& c, const ReportRow& r, long f) {
  const bool domestic = !r.overseas, order = !r.fill;
  std::optional<Market> market;
  auto mkt = [&] { return market ? *market : *(market = r.GetMarket()); };
  // The order's note: its own field, or for a fill the order's found by its reference.
  auto note = [&] { return order ? r.Text(201) : ValueOf(c.m_mapOrderRef, r.Text(domestic ? 143 : 208)); };
  auto status = [&](StatusWords words) {
    return OrderStatusText(GetOrderState(r.Text(68), r.Number(352), r.Number(156), r.Number(364)), words);
  };
  if (f >= 40 && f <= 48) return ExtractNoteTag(note(), f);
  switch (f) {
    case 0: return Account(c, r);
    case 1: return r.Text(147);
    case 2:
      return domestic ? DisplaySymbol(r, mkt(), false) : r.Text(118) + u" " + r.Text(114) + u" " + r.Text(115);
    case 3:
      if (r.overseas) return CString(LoadResourceString(211));
      switch (mkt()) {
        case Market::Stock: return order ? CString(LoadResourceString(203)) : CString(u"證券");
        case Market::Futures: return order ? CString(LoadResourceString(211)) : CString(u"期貨");
        case Market::Options: return order ? CString(LoadResourceString(240)) : CString(u"選擇權");
        default: return {};
      }
    case 4: return WordFor(order || r.overseas ? std::span<const Word>(kConditionWords) : kFillConditionWords, r.Text(149));
    case 5: return WordFor(order || r.overseas ? std::span<const Word>(kPriceTypeWords) : kFillPriceTypeWords, r.Text(150));
    case 6: return WordFor(r.overseas ? std::span<const Word>(kObSideWords) : kSideWords, r.Text(148));
    case 7:
      if (order && domestic) {
        const CString text = r.Text(220);
        return text.IsEmpty() ? CString(u"N") : text;
      }
      break;
    case 11: return status(domestic ? StatusWords::Literal : StatusWords::Resource);
    case 12: return FormatTime(r.Text(310));
    case 13: return r.Text(362);
    case 14: return ExtractNoteTag(note(), f);
    case 15:
      if (r.overseas)
        return r.Text(220) == u"Y" ? CString(LoadResourceString(260)) : WordFor(kObPositionWords, r.Text(163));
      if (r.fill) return WordFor(kFillPositionWords, r.Text(mkt() == Market::Stock ? 149 : 163));
      break;
    case 16: return r.overseas ? r.Text(218) : CString(u"TW");
    case 17: return c.m_strBroker;
    case 20: return u"Y";
    case 21: return r.fill ? u"Y" : u"N";
    case 22:
    case 23:
      if (r.fill) return u"Y";
      if (r.overseas) return !r.Text(147).IsEmpty() && r.Number(156) > 0 ? u"Y" : u"N";
      return f == 22 ? CancelFlag(c, r, mkt()) : CString(u"N");
    case 24:
      if (order) return ErrorText(r);
      break;
    case 25: return r.overseas ? OverseasUniformSymbol(c, r, note()) : UniformSymbol(r, mkt(), false);
    case 26: return c.m_strSession;
    case 28: return FormatDate(r.Text(159));
    case 29:
      if (domestic) return DisplaySymbol(r, mkt(), true);
      break;
    case 30:
      if (domestic) return WordFor(kSideWords, r.Text(134));
      break;
    case 31:
      if (domestic) return UniformSymbol(r, mkt(), true);
      break;
    case 32: return r.Text(r.overseas || mkt() != Market::Stock ? 208 : 143);
    case 103:
      if (r.overseas) return u"OBF";
      switch (mkt()) {
        case Market::Stock: return u"STK";
        case Market::Futures: return u"FUT";
        case Market::Options: return u"OPT";
        default: return {};
      }
    case 104: return WordFor(kConditionCodes, r.Text(149));
    case 105: return WordFor(r.overseas && order ? std::span<const Word>(kObPriceTypeCodes) : kPriceTypeCodes, r.Text(150));
    case 106: return r.Text(148);
    case 111: return status(StatusWords::English);
    case 115:
      if (r.overseas) return WordFor(order ? std::span<const Word>(kObPositionCodes) : kObFillPositionCodes, r.Text(163));
      return WordFor(order ? std::span<const Word>(kPositionCodes) : kFillPositionCodes,
                     r.Text(mkt() == Market::Stock ? 149 : 163));
    case 130:
      if (domestic) return r.Text(134);
      break;
    default: break;
  }
  return r.PassText(f);
}

double NonNegative(double value) { return value < 0 ? 0 : value; }

double ReportValue(const ReportRow& r, long f) {
  constexpr double kThousandth = 0.001, kMillionth = 0.000001;
  auto lots = [&](int code) {
    const double value = static_cast<double>(r.Number(code));
    return r.GetMarket() == Market::Stock ? value * kThousandth : value;  // shares to lots
  };
  if (r.fill) {
    switch (f) {
      case 0: return r.overseas ? r.PassValue(352) : static_cast<double>(r.Number(352));
      case 9: return r.overseas ? r.PassValue(364) : lots(364);
      case 10: return r.overseas ? r.PassValue(257) * kMillionth : static_cast<double>(r.Number(151)) * kThousandth;
      default: return r.PassValue(f);
    }
  }
  auto number = [&](int code) { return static_cast<double>(r.Number(code)); };
  if (r.overseas) {
    switch (f) {
      case -1: return number(0);
      case 0: return number(352);
      case 1: return number(361);
      case 7: return NonNegative(number(151) * kMillionth);
      case 8: return number(156);
      case 9: return number(364);
      case 10: return NonNegative(number(454) * kMillionth);
      case 11: return number(219) * kMillionth;
      default: return r.PassValue(f);
    }
  }
  switch (f) {
    case 0: return number(352);
    case 1: return number(361);
    case 6: return number(359);
    case 7: return NonNegative(number(151) * kThousandth);
    case 8: return lots(156);
    case 9: return lots(364);
    case 10: return NonNegative(number(366) * kThousandth);
    default: return r.PassValue(f);
  }
}

}  // namespace

CString CORV_Velmar_KDXCtrl::GetOrderString(long nIndex, long nField) {
  std::optional<ReportRow> row;
  switch (FindRow(*this, nIndex, false, row)) {
    case RowLookup::Unknown: return nField == 20 ? u"N" : u"";
    case RowLookup::UnknownOverseas: return {};
    default: return ReportString(*this, *row, nField);
  }
}

double CORV_Velmar_KDXCtrl::GetOrderValue(long nIndex, long nField) {
  std::optional<ReportRow> row;
  return FindRow(*this, nIndex, false, row) == RowLookup::Found ? ReportValue(*row, nField) : 0;
}

CString CORV_Velmar_KDXCtrl::GetFillOrderString(long nIndex, long nField) {
  std::optional<ReportRow> row;
  return FindRow(*this, nIndex, true, row) == RowLookup::Found ? ReportString(*this, *row, nField) : CString();
}

double CORV_Velmar_KDXCtrl::GetFillOrderValue(long nIndex, long nField) {
  std::optional<ReportRow> row;
  return FindRow(*this, nIndex, true, row) == RowLookup::Found ? ReportValue(*row, nField) : 0;
}

}  // namespace kdx
