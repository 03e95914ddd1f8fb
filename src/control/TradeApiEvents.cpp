// The trade-API component's events: end of log-in, numbering of order and fill rows, and the
// overseas order objects.
//
// A handler reads what it needs from the component before it changes any state, so a failed
// read (logged by the sink) leaves nothing half done; and after firing an event it goes on only
// while the control and its log-in are still there, since the host may have changed both.
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <optional>

#include "control/KdxCtrl.h"
#include "reports/ReportText.h"

namespace kdx {
namespace {

int32_t DomesticKey(long kind, long row) { return static_cast<int32_t>(kind * 100000 + row); }
int32_t OverseasKey(long kind, long row) { return static_cast<int32_t>((kind * 5 + 500) * 20000 + row); }

constexpr long kMaxRow = 99999;
constexpr long kMaxDomesticKind = 99;  // below the overseas keys' ten million
constexpr long kMaxOverseasKind = (std::numeric_limits<int32_t>::max() - 10000000 - kMaxRow) / 100000;

template <class Map, class Key>
auto* Lookup(Map& map, const Key& key) {
  auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t sum;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min() + 1;
}

// Overseas order object: 365 text and 455 numeric fields named by the component's field codes.
constexpr int kObTextFields = 365;
constexpr int kObNumberFields = 455;
constexpr long kObNumbers[] = {151, 156, 205, 352, 361, 364};
constexpr long kObPositiveNumbers[] = {219, 454};
constexpr long kObTexts[] = {208, 1, 5, 39, 68, 69, 114, 115, 118, 147, 148, 149, 150, 159, 163, 201, 218, 220, 310, 362};

}  // namespace

int32_t CORV_Velmar_KDXCtrl::OverseasRecordKey(long kind, long row) { return OverseasKey(kind, row); }
int32_t CORV_Velmar_KDXCtrl::DomesticRecordKey(long kind, long row) { return DomesticKey(kind, row); }

bool CORV_Velmar_KDXCtrl::IsDomesticRow(long kind, long row) {
  return kind >= 0 && kind <= kMaxDomesticKind && row >= 0 && row <= kMaxRow;
}
bool CORV_Velmar_KDXCtrl::IsOverseasRow(long kind, long row) {
  return kind >= 0 && kind <= kMaxOverseasKind && row >= 0 && row <= kMaxRow;
}

// Keys of rows outside these ranges would collide with other rows' keys, and the wrong order
// would be announced.
bool CORV_Velmar_KDXCtrl::RowInRange(DISPID event, long nKind, long nRow, bool overseas) {
  if (overseas ? IsOverseasRow(nKind, nRow) : IsDomesticRow(nKind, nRow)) return true;
  FireLog(0, FormatString(u"Trade-API event %d: kind %d, row %d out of range, ignored", event, nKind, nRow));
  return false;
}

// The sink map of child IDC_TRADEAPI. Each handler counts as a call of the component while it
// runs (calls), so a component the host drops meanwhile outlives the event.
std::shared_ptr<IDispatch> CORV_Velmar_KDXCtrl::MakeTradeApiSink(std::shared_ptr<TradeApiCallState> calls) {
  using Args = std::span<VARIANT>;
  auto handle = [this, calls](std::function<void(Args)> handler) {
    return [this, calls, handler = std::move(handler)](Args a, VARIANT*) {
      const CORVOMNIDEALAPI::CallScope scope(calls);
      return Guarded([&] { handler(a); }, false);
    };
  };
  auto text = [](const VARIANT& v) { return CString(v.bstrVal); };
  auto event = [](DISPID id, const char16_t* name, std::vector<DispatchParam> params, DispatchHandler h) {
    return DispatchMember{id, name, MemberKind::Method, VT_EMPTY, std::move(params), u"", std::move(h)};
  };
  auto rowEvent = [&](DISPID id, const char16_t* name, void (CORV_Velmar_KDXCtrl::*handler)(long, long)) {
    return event(id, name, {{VT_I4, u"nKind"}, {VT_I4, u"nRow"}},
                 handle([this, handler](Args a) { (this->*handler)(a[0].lVal, a[1].lVal); }));
  };
  auto ignored = [](Args, VARIANT*) { return S_OK; };
  auto statement = handle([this](Args) { OnTradeApiStatementChanged(); });
  return std::make_shared<DispatchObject>(DispatchTable{
      event(omnideal::EvStatus, u"OnStatus", {{VT_I4, u"nStatus"}}, handle([this](Args a) { OnTradeApiStatus(a[0].lVal); })),
      event(omnideal::EvMessage, u"OnMessage", {{VT_I4, u"nCode"}, {VT_BSTR, u"strA"}, {VT_BSTR, u"strB"}},
            handle([this, text](Args a) { OnTradeApiMessage(a[0].lVal, text(a[1]), text(a[2])); })),
      event(omnideal::EvStatement, u"OnStatement", {}, statement),
      rowEvent(omnideal::EvOrderNew, u"OnOrderNew", &CORV_Velmar_KDXCtrl::OnTradeApiOrderNew),
      rowEvent(omnideal::EvOrderChanged, u"OnOrderChanged", &CORV_Velmar_KDXCtrl::OnTradeApiOrderChanged),
      rowEvent(omnideal::EvFillNew, u"OnFillNew", &CORV_Velmar_KDXCtrl::OnTradeApiFillNew),
      rowEvent(omnideal::EvFillChanged, u"OnFillChanged", &CORV_Velmar_KDXCtrl::OnTradeApiFillChanged),
      rowEvent(omnideal::EvOrderRemoved, u"OnOrderRemoved", &CORV_Velmar_KDXCtrl::OnTradeApiOrderRemoved),
      event(omnideal::EvIgnored10, u"OnEvent10", {{VT_I4, u"n"}, {VT_BSTR, u"a"}, {VT_BSTR, u"b"}}, ignored),
      event(omnideal::EvMarketDate, u"OnMarketDate", {{VT_BSTR, u"strText"}},
            handle([this, text](Args a) { OnTradeApiMarketDate(text(a[0])); })),
      event(omnideal::EvIgnored12, u"OnEvent12", {{VT_I4, u"n"}}, ignored),
      event(omnideal::EvStatement13, u"OnStatement13", {}, statement),
      rowEvent(omnideal::EvOBOrderNew, u"OnOBOrderNew", &CORV_Velmar_KDXCtrl::OnTradeApiOBOrderNew),
      rowEvent(omnideal::EvOBOrderChanged, u"OnOBOrderChanged", &CORV_Velmar_KDXCtrl::OnTradeApiOBOrderChanged),
      rowEvent(omnideal::EvOBFillNew, u"OnOBFillNew", &CORV_Velmar_KDXCtrl::OnTradeApiOBFillNew),
      rowEvent(omnideal::EvOBFillChanged, u"OnOBFillChanged", &CORV_Velmar_KDXCtrl::OnTradeApiOBFillChanged),
      rowEvent(omnideal::EvOBOrderRemoved, u"OnOBOrderRemoved", &CORV_Velmar_KDXCtrl::OnTradeApiOBOrderRemoved),
  });
}

void CORV_Velmar_KDXCtrl::OnTradeApiStatus(long nStatus) {
  if (nStatus == 0) {
    // Never delete the component inside its own event.
    m_wnd.PostMessage(WM_CONNECTION_LOST, 0, static_cast<LPARAM>(m_nTradeApiGeneration));
    return;
  }
  if (nStatus != 2 || !m_pTradeApi) return;
  CORVOMNIDEALAPI& api = *m_pTradeApi;

  m_strLoginID = api.GetLoginDataString(1, -1, 34);
  m_strLoginPassword = api.GetLoginDataString(1, -1, 35);
  m_strGroupList = api.GetLoginDataString(1, -1, 214);
  if (m_strLoginID.IsEmpty()) m_strLoginID = m_strRocID;
  if (m_strLoginPassword.IsEmpty()) m_strLoginPassword = m_strPassword;

  m_mapAccounts.clear();
  if (api.GetLoginDataCount(1) > 0) {
    const CString f1 = api.GetLoginDataString(1, 0, 1);
    const CString f39 = api.GetLoginDataString(1, 0, 39);
    const CString f5 = api.GetLoginDataString(1, 0, 5);
    m_strDefaultAccount = f1 + u"-" + f39;
    AddAccountGroups(f5);
    api.SetTradeAccount(0, f1, f39);
    api.SetTradeAccount(1, f1, f39);
  }
  // The failure box may pump messages, and each event may change anything.
  const CFireGuard guard(*this);
  LoadObProductTable();
  if (!guard.SameLogin()) return;
  FireLoginReady();
  if (!guard.SameLogin()) return;
  FireStatementUpdate(0);
}

// Groups: either one account (no "=" in the list) or GROUP=ACCOUNT,ACCOUNT,...;GROUP=...
void CORV_Velmar_KDXCtrl::AddAccountGroups(const CString& firstAccount) {
  auto add = [this](const CString& group, const CString& account) {
    m_arrAccountGroups.emplace_back(group, account);
    m_mapAccounts[account] = 1;
  };
  if (m_strGroupList.Find(u'=') < 1) {
    if (!firstAccount.IsEmpty()) add(m_strGroupList, firstAccount);
    return;
  }
  int pos = 0;
  for (CString piece = m_strGroupList.Tokenize(u";", pos); pos >= 0; piece = m_strGroupList.Tokenize(u";", pos)) {
    piece.TrimRight();
    if (piece.IsEmpty()) continue;
    int eq = piece.Find(u'=');
    CString group = eq < 0 ? piece : piece.Left(eq);
    if (group.IsEmpty()) continue;
    CString accounts = eq < 0 ? CString() : piece.Mid(eq + 1);
    int itemPos = 0;
    for (CString item = accounts.Tokenize(u",", itemPos); itemPos >= 0; item = accounts.Tokenize(u",", itemPos)) {
      int colon = item.Find(u':');
      add(group, colon >= 1 ? item.Left(colon) : colon == 0 ? item.Mid(1) : item);
    }
  }
}

void CORV_Velmar_KDXCtrl::OnTradeApiMessage(long nCode, const CString& strA, const CString& strB) {
  CString text = FormatString(u"%s(%s)", strB, strA);
  if (nCode == 0 || nCode == 1) {
    // The handler owns the text; a message that never arrives must not leak it.
    auto* heap = new CString(std::move(text));
    m_wnd.Handle().PostMessage(WM_LOGIN_FAILED, reinterpret_cast<WPARAM>(heap),
                               static_cast<LPARAM>(m_nTradeApiGeneration), [heap] { delete heap; });
  } else if (nCode == 2) {
    FireLog(0, text);
  }
}

void CORV_Velmar_KDXCtrl::OnTradeApiStatementChanged() { FireStatementUpdate(10); }

void CORV_Velmar_KDXCtrl::OnTradeApiMarketDate(const CString& strText) {
  static constexpr std::pair<const char16_t*, CString CORV_Velmar_KDXCtrl::*> kDates[] = {
      {u"NML", &CORV_Velmar_KDXCtrl::m_strMarketDateNML},
      {u"FIX", &CORV_Velmar_KDXCtrl::m_strMarketDateFIX},
      {u"ODD", &CORV_Velmar_KDXCtrl::m_strMarketDateODD},
      {u"FUT", &CORV_Velmar_KDXCtrl::m_strMarketDateFUT},
  };
  const CString prefix = strText.Left(3);
  for (const auto& [name, member] : kDates) {
    if (prefix == name) {
      this->*member = strText.Mid(6);
      break;
    }
  }
  const CFireGuard guard(*this);
  for (int32_t i = 0; i < m_nOrderCount; ++i) {
    FireOrderStatus(i);
    if (!guard.SameLogin()) return;
  }
  FireStatementUpdate(6);
}

// Domestic rows.

void CORV_Velmar_KDXCtrl::RememberOrderRefs(int32_t key, const CString& f201, const CString& f147,
                                           const CString& ref) {
  if (!ref.IsEmpty() && !f201.IsEmpty()) m_mapOrderRef[ref] = f201;
  if (!f147.IsEmpty()) m_mapOrderNoToKey[f147] = key;
}

void CORV_Velmar_KDXCtrl::OnTradeApiOrderNew(long nKind, long nRow) {
  if (!m_pTradeApi || !RowInRange(omnideal::EvOrderNew, nKind, nRow, false)) return;
  CORVOMNIDEALAPI& api = *m_pTradeApi;
  if (!m_mapAccounts.contains(api.GetDataString(nKind, nRow, 5))) return;
  const CString f201 = api.GetDataString(nKind, nRow, 201), f147 = api.GetDataString(nKind, nRow, 147),
                f143 = api.GetDataString(nKind, nRow, 143);
  const int32_t key = DomesticKey(nKind, nRow);
  const int32_t i = m_nOrderCount++;
  m_mapOrderIndexToKey[i] = key;
  m_mapKeyToOrderIndex[key] = i;
  RememberOrderRefs(key, f201, f147, f143);
  FireOrderStatus(i);
}

void CORV_Velmar_KDXCtrl::OnTradeApiOrderChanged(long nKind, long nRow) {
  if (!m_pTradeApi || !RowInRange(omnideal::EvOrderChanged, nKind, nRow, false)) return;
  const int32_t key = DomesticKey(nKind, nRow);
  const int32_t* i = Lookup(m_mapKeyToOrderIndex, key);
  if (!i) return;
  const int32_t index = *i;
  CORVOMNIDEALAPI& api = *m_pTradeApi;
  RememberOrderRefs(key, api.GetDataString(nKind, nRow, 201), api.GetDataString(nKind, nRow, 147),
                    api.GetDataString(nKind, nRow, 143));
  FireOrderStatus(index);
}

void CORV_Velmar_KDXCtrl::NumberFill(int32_t key) {
  const int32_t j = m_nFillCount++;
  m_mapFillIndexToKey[j] = key;
  m_mapKeyToFillIndex[key] = j;
  FireFillOrder(j);
}

void CORV_Velmar_KDXCtrl::OnTradeApiFillNew(long nKind, long nRow) {
  if (!m_pTradeApi || !RowInRange(omnideal::EvFillNew, nKind, nRow, false)) return;
  if (!m_mapAccounts.contains(m_pTradeApi->GetDataString(nKind, nRow, 5))) return;
  NumberFill(DomesticKey(nKind, nRow));
}

void CORV_Velmar_KDXCtrl::OnTradeApiFillChanged(long nKind, long nRow) {
  if (!RowInRange(omnideal::EvFillChanged, nKind, nRow, false)) return;
  if (const int32_t* j = Lookup(m_mapKeyToFillIndex, DomesticKey(nKind, nRow))) FireFillOrder(*j);
}

void CORV_Velmar_KDXCtrl::RemoveOrder(int32_t key) {
  // The reverse entry stays, so later change events still find the index.
  if (const int32_t* i = Lookup(m_mapKeyToOrderIndex, key)) {
    const int32_t index = *i;
    m_mapOrderIndexToKey.erase(index);
    FireOrderStatus(index);
  }
}

void CORV_Velmar_KDXCtrl::OnTradeApiOrderRemoved(long nKind, long nRow) {
  if (RowInRange(omnideal::EvOrderRemoved, nKind, nRow, false)) RemoveOrder(DomesticKey(nKind, nRow));
}

// Overseas rows.

// Reads every field first: the object changes only when all reads succeeded.
void CORV_Velmar_KDXCtrl::FillOBOrder(FieldRecord& order, long nKind, long nRow) {
  CORVOMNIDEALAPI& api = *m_pTradeApi;
  FieldRecord row;
  auto number = [&](long field) { return TruncateToInt64(api.GetOBDataValue(nKind, nRow, field)); };
  if (auto value = number(-1)) row.SetNumber(0, *value);
  for (long field : kObNumbers)
    if (auto value = number(field)) row.SetNumber(static_cast<int>(field), *value);
  for (long field : kObPositiveNumbers)
    if (auto value = number(field); value && *value > 0) row.SetNumber(static_cast<int>(field), *value);
  for (long field : kObTexts) row.SetString(static_cast<int>(field), api.GetOBDataString(nKind, nRow, field).str());
  order.CopyFrom(row);
  if (const char16_t* orderNo = order.GetString(208); orderNo && *orderNo) m_mapOBOrderNoToOrder[CString(orderNo)] = &order;
}

void CORV_Velmar_KDXCtrl::OnTradeApiOBOrderNew(long nKind, long nRow) {
  if (!m_pTradeApi || !RowInRange(omnideal::EvOBOrderNew, nKind, nRow, true)) return;
  if (!m_mapAccounts.contains(m_pTradeApi->GetOBDataString(nKind, nRow, 5))) return;
  const int32_t key = OverseasKey(nKind, nRow);
  std::unique_ptr<FieldRecord> order(new (std::nothrow) FieldRecord(kObTextFields, kObNumberFields));
  if (!order || order->GetStringCapacity() < kObTextFields || order->GetNumberCapacity() < kObNumberFields) {
    const int32_t i = m_nOrderCount++;  // the index stays taken
    m_mapOrderIndexToKey[i] = key;
    m_mapKeyToOrderIndex[key] = i;
    FireLog(0, u"Fail to alloc OBOrder Object.");
    return;
  }
  FieldRecord& ref = *order;
  FillOBOrder(ref, nKind, nRow);
  m_arrOBOrders.push_back(std::move(order));
  const int32_t i = m_nOrderCount++;
  m_mapOrderIndexToKey[i] = key;
  m_mapKeyToOrderIndex[key] = i;
  m_mapOBKeyToOrder[key] = &ref;
  m_mapOBOrderToKey[&ref] = key;
  FireOrderStatus(i);
}

void CORV_Velmar_KDXCtrl::OnTradeApiOBOrderChanged(long nKind, long nRow) {
  if (!m_pTradeApi || !RowInRange(omnideal::EvOBOrderChanged, nKind, nRow, true)) return;
  const int32_t key = OverseasKey(nKind, nRow);
  if (FieldRecord** order = Lookup(m_mapOBKeyToOrder, key); order && *order) {
    FillOBOrder(**order, nKind, nRow);
    auto text = [&](int field) { return CString((*order)->GetString(field)); };
    RememberOrderRefs(key, text(201), text(147), m_pTradeApi->GetOBDataString(nKind, nRow, 208));
  }
  if (const int32_t* i = Lookup(m_mapKeyToOrderIndex, key)) FireOrderStatus(*i);
}

void CORV_Velmar_KDXCtrl::ApplyOBFillToOrder(long nKind, long nRow) {
  FieldRecord** found = Lookup(m_mapOBOrderNoToOrder, m_pTradeApi->GetOBDataString(nKind, nRow, 208));
  if (!found || !*found) return;
  FieldRecord& order = **found;
  ApplyOBFill(order, nKind, nRow);
  if (const int32_t* key = Lookup(m_mapOBOrderToKey, &order)) {
    if (const int32_t* i = Lookup(m_mapKeyToOrderIndex, *key); i && *i >= 0) FireOrderStatus(*i);
  }
}

void CORV_Velmar_KDXCtrl::ApplyOBFill(FieldRecord& order, long nKind, long nRow) {
  CORVOMNIDEALAPI& api = *m_pTradeApi;
  CString fills(order.GetString(0));
  const CString item = FormatString(u"[%d,%d]", nKind, nRow);
  if (fills.Find(item) < 0) fills += item;

  // Weighted average price and total quantity over every fill applied so far; values that are
  // not numbers say nothing about the fill.
  double amount = 0;
  int64_t quantity = 0;
  int pos = 0;
  for (CString entry = fills.Tokenize(u"[]", pos); pos >= 0; entry = fills.Tokenize(u"[]", pos)) {
    const int comma = entry.Find(u',');
    if (comma < 0) continue;
    const long k = ParseDecimal(entry.Left(comma)), r = ParseDecimal(entry.Mid(comma + 1));
    const double price = api.GetOBDataValue(k, r, 257);
    const std::optional<int64_t> qty = TruncateToInt64(api.GetOBDataValue(k, r, 364));
    if (!std::isfinite(price) || !qty || price <= 0 || *qty <= 0) continue;
    amount += price * static_cast<double>(*qty);
    quantity = SaturatingAdd(quantity, *qty);
  }
  // What an order without an order number takes from this fill, read before anything changes.
  const bool numbered = order.GetStringLength(147) > 0;
  double remaining = 0, record = 0;
  CString f310, f147;
  if (!numbered) {
    remaining = api.GetOBDataValue(nKind, nRow, 156);
    record = api.GetOBDataValue(nKind, nRow, -1);
    f310 = api.GetOBDataString(nKind, nRow, 310);
    f147 = api.GetOBDataString(nKind, nRow, 147);
  }

  order.SetString(0, fills.str());
  order.SetNumber(454, quantity == 0 ? 0 : TruncateToInt64(amount / static_cast<double>(quantity)).value_or(0));
  order.SetNumber(364, quantity);
  if (numbered) return;
  if (std::optional<int64_t> q = TruncateToInt64(remaining)) {
    if (*q < 0) {
      const int64_t ordered = order.GetNumber(205);
      q = ordered == kAbsent ? 0 : std::max<int64_t>(SaturatingAdd(ordered, -quantity), 0);
    }
    order.SetNumber(156, *q);
  }
  if (std::optional<int64_t> value = TruncateToInt64(record)) order.SetNumber(0, *value);
  order.SetNumber(352, 50);
  order.SetString(310, f310.str());
  order.SetString(147, f147.str());
}

void CORV_Velmar_KDXCtrl::OnTradeApiOBFillNew(long nKind, long nRow) {
  if (!m_pTradeApi || !RowInRange(omnideal::EvOBFillNew, nKind, nRow, true)) return;
  if (!m_mapAccounts.contains(m_pTradeApi->GetOBDataString(nKind, nRow, 5))) return;
  const CFireGuard guard(*this);
  NumberFill(OverseasKey(nKind, nRow));
  if (guard.SameLogin()) ApplyOBFillToOrder(nKind, nRow);
}

void CORV_Velmar_KDXCtrl::OnTradeApiOBFillChanged(long nKind, long nRow) {
  if (!m_pTradeApi || !RowInRange(omnideal::EvOBFillChanged, nKind, nRow, true)) return;
  const int32_t* j = Lookup(m_mapKeyToFillIndex, OverseasKey(nKind, nRow));
  if (!j) return;
  const CFireGuard guard(*this);
  FireFillOrder(*j);
  if (guard.SameLogin()) ApplyOBFillToOrder(nKind, nRow);
}

void CORV_Velmar_KDXCtrl::OnTradeApiOBOrderRemoved(long nKind, long nRow) {
  if (RowInRange(omnideal::EvOBOrderRemoved, nKind, nRow, true)) RemoveOrder(OverseasKey(nKind, nRow));
}

}  // namespace kdx
