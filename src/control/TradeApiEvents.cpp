// The trade-API component's events: end of log-in, numbering of order and fill rows, and the
// overseas order objects.
#include <algorithm>
#include <new>

#include "control/KdxCtrl.h"

namespace kdx {
namespace {

int32_t DomesticKey(long kind, long row) { return static_cast<int32_t>(kind * 100000 + row); }
int32_t OverseasKey(long kind, long row) { return static_cast<int32_t>((kind * 5 + 500) * 20000 + row); }

template <class Map, class Key>
auto* Lookup(Map& map, const Key& key) {
  auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

// Overseas order object: 365 text and 455 numeric fields named by the component's field codes.
constexpr int kObTextFields = 365;
constexpr int kObNumberFields = 455;
constexpr long kObNumbers[] = {151, 156, 205, 352, 361, 364};
constexpr long kObPositiveNumbers[] = {219, 454};
constexpr long kObTexts[] = {208, 1, 5, 39, 68, 69, 114, 115, 118, 147, 148, 149, 150, 159, 163, 201, 218, 220, 310, 362};

// A decimal integer as _wtol reads it: leading blanks, a sign, digits up to the first other character.
long ParseDecimal(const CString& text) {
  int i = 0;
  const int n = text.GetLength();
  while (i < n && (text[i] == u' ' || text[i] == u'\t')) ++i;
  bool negative = false;
  if (i < n && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  int64_t value = 0;
  for (; i < n && text[i] >= u'0' && text[i] <= u'9' && value < (int64_t{1} << 40); ++i) value = value * 10 + (text[i] - u'0');
  return static_cast<long>(negative ? -value : value);
}

}  // namespace

int32_t CORV_Velmar_KDXCtrl::OverseasRecordKey(long kind, long row) { return OverseasKey(kind, row); }
int32_t CORV_Velmar_KDXCtrl::DomesticRecordKey(long kind, long row) { return DomesticKey(kind, row); }

// The sink map of child IDC_TRADEAPI.
std::shared_ptr<IDispatch> CORV_Velmar_KDXCtrl::MakeTradeApiSink() {
  using Args = std::span<VARIANT>;
  auto text = [](const VARIANT& v) { return CString(v.bstrVal); };
  auto rowEvent = [this](DISPID id, const char16_t* name, void (CORV_Velmar_KDXCtrl::*handler)(long, long)) {
    return DispatchMember{id, name, MemberKind::Method, VT_EMPTY, {{VT_I4, u"nKind"}, {VT_I4, u"nRow"}}, u"",
                          [this, handler](Args a, VARIANT*) {
                            (this->*handler)(a[0].lVal, a[1].lVal);
                            return S_OK;
                          }};
  };
  auto ignored = [](Args, VARIANT*) { return S_OK; };
  auto statement = [this](Args, VARIANT*) {
    OnTradeApiStatementChanged();
    return S_OK;
  };
  return std::make_shared<DispatchObject>(DispatchTable{
      {omnideal::EvStatus, u"OnStatus", MemberKind::Method, VT_EMPTY, {{VT_I4, u"nStatus"}}, u"",
       [this](Args a, VARIANT*) {
         OnTradeApiStatus(a[0].lVal);
         return S_OK;
       }},
      {omnideal::EvMessage, u"OnMessage", MemberKind::Method, VT_EMPTY,
       {{VT_I4, u"nCode"}, {VT_BSTR, u"strA"}, {VT_BSTR, u"strB"}}, u"",
       [this, text](Args a, VARIANT*) {
         OnTradeApiMessage(a[0].lVal, text(a[1]), text(a[2]));
         return S_OK;
       }},
      {omnideal::EvStatement, u"OnStatement", MemberKind::Method, VT_EMPTY, {}, u"", statement},
      rowEvent(omnideal::EvOrderNew, u"OnOrderNew", &CORV_Velmar_KDXCtrl::OnTradeApiOrderNew),
      rowEvent(omnideal::EvOrderChanged, u"OnOrderChanged", &CORV_Velmar_KDXCtrl::OnTradeApiOrderChanged),
      rowEvent(omnideal::EvFillNew, u"OnFillNew", &CORV_Velmar_KDXCtrl::OnTradeApiFillNew),
      rowEvent(omnideal::EvFillChanged, u"OnFillChanged", &CORV_Velmar_KDXCtrl::OnTradeApiFillChanged),
      rowEvent(omnideal::EvOrderRemoved, u"OnOrderRemoved", &CORV_Velmar_KDXCtrl::OnTradeApiOrderRemoved),
      {omnideal::EvIgnored10, u"OnEvent10", MemberKind::Method, VT_EMPTY,
       {{VT_I4, u"n"}, {VT_BSTR, u"a"}, {VT_BSTR, u"b"}}, u"", ignored},
      {omnideal::EvMarketDate, u"OnMarketDate", MemberKind::Method, VT_EMPTY, {{VT_BSTR, u"strText"}}, u"",
       [this, text](Args a, VARIANT*) {
         OnTradeApiMarketDate(text(a[0]));
         return S_OK;
       }},
      {omnideal::EvIgnored12, u"OnEvent12", MemberKind::Method, VT_EMPTY, {{VT_I4, u"n"}}, u"", ignored},
      {omnideal::EvStatement13, u"OnStatement13", MemberKind::Method, VT_EMPTY, {}, u"", statement},
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
  LoadObProductTable();
  FireLoginReady();
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
  for (int32_t i = 0; i < m_nOrderCount; ++i) FireOrderStatus(i);
  FireStatementUpdate(6);
}

// Domestic rows.

void CORV_Velmar_KDXCtrl::RememberOrderRefs(int32_t key, const CString& f201, const CString& f147,
                                           const CString& ref) {
  if (!ref.IsEmpty() && !f201.IsEmpty()) m_mapOrderRef[ref] = f201;
  if (!f147.IsEmpty()) m_mapOrderNoToKey[f147] = key;
}

void CORV_Velmar_KDXCtrl::OnTradeApiOrderNew(long nKind, long nRow) {
  if (!m_pTradeApi || !m_mapAccounts.contains(m_pTradeApi->GetDataString(nKind, nRow, 5))) return;
  const int32_t key = DomesticKey(nKind, nRow);
  const int32_t i = m_nOrderCount++;
  m_mapOrderIndexToKey[i] = key;
  m_mapKeyToOrderIndex[key] = i;
  RememberOrderRefs(key, m_pTradeApi->GetDataString(nKind, nRow, 201), m_pTradeApi->GetDataString(nKind, nRow, 147),
                    m_pTradeApi->GetDataString(nKind, nRow, 143));
  FireOrderStatus(i);
}

void CORV_Velmar_KDXCtrl::OnTradeApiOrderChanged(long nKind, long nRow) {
  const int32_t key = DomesticKey(nKind, nRow);
  const int32_t* i = Lookup(m_mapKeyToOrderIndex, key);
  if (!i || !m_pTradeApi) return;
  RememberOrderRefs(key, m_pTradeApi->GetDataString(nKind, nRow, 201), m_pTradeApi->GetDataString(nKind, nRow, 147),
                    m_pTradeApi->GetDataString(nKind, nRow, 143));
  FireOrderStatus(*i);
}

void CORV_Velmar_KDXCtrl::NumberFill(int32_t key) {
  const int32_t j = m_nFillCount++;
  m_mapFillIndexToKey[j] = key;
  m_mapKeyToFillIndex[key] = j;
  FireFillOrder(j);
}

void CORV_Velmar_KDXCtrl::OnTradeApiFillNew(long nKind, long nRow) {
  if (!m_pTradeApi || !m_mapAccounts.contains(m_pTradeApi->GetDataString(nKind, nRow, 5))) return;
  NumberFill(DomesticKey(nKind, nRow));
}

void CORV_Velmar_KDXCtrl::OnTradeApiFillChanged(long nKind, long nRow) {
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

void CORV_Velmar_KDXCtrl::OnTradeApiOrderRemoved(long nKind, long nRow) { RemoveOrder(DomesticKey(nKind, nRow)); }

// Overseas rows.

void CORV_Velmar_KDXCtrl::FillOBOrder(FieldRecord& order, long nKind, long nRow) {
  CORVOMNIDEALAPI& api = *m_pTradeApi;
  auto number = [&](long field) { return static_cast<int64_t>(api.GetOBDataValue(nKind, nRow, field)); };
  order.SetNumber(0, number(-1));
  for (long field : kObNumbers) order.SetNumber(field, number(field));
  for (long field : kObPositiveNumbers) {
    if (int64_t value = number(field); value > 0) order.SetNumber(field, value);
  }
  for (long field : kObTexts) order.SetString(field, api.GetOBDataString(nKind, nRow, field).str());
  if (const char16_t* orderNo = order.GetString(208); orderNo && *orderNo) m_mapOBOrderNoToOrder[CString(orderNo)] = &order;
}

void CORV_Velmar_KDXCtrl::OnTradeApiOBOrderNew(long nKind, long nRow) {
  if (!m_pTradeApi || !m_mapAccounts.contains(m_pTradeApi->GetOBDataString(nKind, nRow, 5))) return;
  const int32_t key = OverseasKey(nKind, nRow);
  const int32_t i = m_nOrderCount++;
  m_mapOrderIndexToKey[i] = key;
  m_mapKeyToOrderIndex[key] = i;
  std::unique_ptr<FieldRecord> order(new (std::nothrow) FieldRecord(kObTextFields, kObNumberFields));
  if (!order || order->GetStringCapacity() < kObTextFields || order->GetNumberCapacity() < kObNumberFields) {
    FireLog(0, u"Fail to alloc OBOrder Object.");
    return;
  }
  FieldRecord& ref = *order;
  m_mapOBOrderToKey[&ref] = key;
  m_mapOBKeyToOrder[key] = std::move(order);
  FillOBOrder(ref, nKind, nRow);
  FireOrderStatus(i);
}

void CORV_Velmar_KDXCtrl::OnTradeApiOBOrderChanged(long nKind, long nRow) {
  const int32_t key = OverseasKey(nKind, nRow);
  if (auto* order = Lookup(m_mapOBKeyToOrder, key); order && *order && m_pTradeApi) {
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
  if (fills.Find(item) < 0) {
    fills += item;
    order.SetString(0, fills.str());
  }

  // Weighted average price and total quantity over every fill applied so far.
  double amount = 0;
  int64_t quantity = 0;
  int pos = 0;
  for (CString entry = fills.Tokenize(u"[]", pos); pos >= 0; entry = fills.Tokenize(u"[]", pos)) {
    const int comma = entry.Find(u',');
    if (comma < 0) continue;
    const long k = ParseDecimal(entry.Left(comma)), r = ParseDecimal(entry.Mid(comma + 1));
    const double price = api.GetOBDataValue(k, r, 257);
    const auto qty = static_cast<int64_t>(api.GetOBDataValue(k, r, 364));
    if (price <= 0 || qty <= 0) continue;
    amount += price * static_cast<double>(qty);
    quantity += qty;
  }
  order.SetNumber(454, quantity == 0 ? 0 : static_cast<int64_t>(amount / static_cast<double>(quantity)));
  order.SetNumber(364, quantity);

  const char16_t* orderNo = order.GetString(147);
  if (orderNo && *orderNo) return;
  auto q = static_cast<int64_t>(api.GetOBDataValue(nKind, nRow, 156));
  if (q < 0) {
    const int64_t ordered = order.GetNumber(205);
    q = ordered == kAbsent ? 0 : std::max<int64_t>(ordered - quantity, 0);
  }
  order.SetNumber(0, static_cast<int64_t>(api.GetOBDataValue(nKind, nRow, -1)));
  order.SetNumber(156, q);
  order.SetNumber(352, 50);
  order.SetString(310, api.GetOBDataString(nKind, nRow, 310).str());
  order.SetString(147, api.GetOBDataString(nKind, nRow, 147).str());
}

void CORV_Velmar_KDXCtrl::OnTradeApiOBFillNew(long nKind, long nRow) {
  if (!m_pTradeApi || !m_mapAccounts.contains(m_pTradeApi->GetOBDataString(nKind, nRow, 5))) return;
  NumberFill(OverseasKey(nKind, nRow));
  ApplyOBFillToOrder(nKind, nRow);
}

void CORV_Velmar_KDXCtrl::OnTradeApiOBFillChanged(long nKind, long nRow) {
  const int32_t* j = Lookup(m_mapKeyToFillIndex, OverseasKey(nKind, nRow));
  if (!j || !m_pTradeApi) return;
  FireFillOrder(*j);
  ApplyOBFillToOrder(nKind, nRow);
}

void CORV_Velmar_KDXCtrl::OnTradeApiOBOrderRemoved(long nKind, long nRow) { RemoveOrder(OverseasKey(nKind, nRow)); }

}  // namespace kdx
