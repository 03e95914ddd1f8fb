// Named queries: URL templates from the log-in section, one request or one per trading account,
// and the readers of their result tables.
#include <algorithm>

#include "control/KdxCtrl.h"
#include "queries/HttpQuery.h"

namespace kdx {
namespace {

// More account rows than record keys can number is not a real log-in.
constexpr long kMaxAccountRows = 100000;

const FieldRecord* QueryRow(const CORV_Velmar_KDXCtrl& c, const CString& strQueryName, long nIndex) {
  const auto table = c.m_mapQueryTables.find(strQueryName);
  if (table == c.m_mapQueryTables.end() || nIndex < 0 || static_cast<std::size_t>(nIndex) >= table->second.size())
    return nullptr;
  return table->second[nIndex].get();
}

}  // namespace

long CORV_Velmar_KDXCtrl::GeneralQuery(const CString& strQueryName, const CString& strParam) {
  const CString key = QueryKeyOf(strQueryName);
  const auto entry = m_mapProfile.find(key);
  if (entry == m_mapProfile.end()) return 0;
  const CString pattern = FormatString(u"%s?%s", entry->second, strParam);
  if (auto table = m_mapQueryTables.find(key); table != m_mapQueryTables.end()) table->second.clear();
  // Clearing also moves the sequence on, so replies still on their way add nothing.
  int32_t& seq = m_mapQuerySeq[key];
  seq = NextSequence(seq);
  if (strParam == u"DELETE_DATA") return 0;
  const int32_t sequence = seq;

  // The control's own values go in escaped, so none can end or alter a parameter.
  CString url = pattern;
  url.Replace(u"%QUERY_ADDRESS%", m_strQueryAddress);
  url.Replace(u"%ROC_ID%", EncodeUrlValue(m_strRocID));
  url.Replace(u"%PASSWORD_MD5%", EncodeUrlValue(m_strPasswordMD5));
  CString name = strQueryName;
  name.Replace(u"%ROC_ID%", m_strRocID);
  if (strParam.Find(u"%CUST_ID%") < 0) {
    StartHttpQuery(kInfoQuery, sequence, url, name);
    return 1;
  }
  // Each request fires a Log line, in which the host may log out or destroy the control.
  const CFireGuard guard(*this);
  const long count = m_pTradeApi ? std::min(m_pTradeApi->GetLoginDataCount(1), kMaxAccountRows) : 0;
  for (long i = 0; i < count && guard.SameLogin(); ++i) {
    const CString branch = m_pTradeApi->GetLoginDataString(1, i, 1);
    const CString customer = m_pTradeApi->GetLoginDataString(1, i, 39);
    if (m_pTradeApi->GetLoginDataString(1, i, 59) != u"F") continue;
    CString accountUrl = url, accountName = name;
    accountUrl.Replace(u"%BRANCH_ID%", EncodeUrlValue(branch));
    accountUrl.Replace(u"%CUST_ID%", EncodeUrlValue(customer));
    accountName.Replace(u"%BRANCH_ID%", branch);
    accountName.Replace(u"%CUST_ID%", customer);
    StartHttpQuery(kInfoQuery, sequence, accountUrl, accountName);
  }
  return 1;
}

long CORV_Velmar_KDXCtrl::GetQueryCount(const CString& strQueryName) {
  const auto table = m_mapQueryTables.find(strQueryName);
  return table == m_mapQueryTables.end() ? 0 : static_cast<long>(table->second.size());
}

CString CORV_Velmar_KDXCtrl::GetQueryString(const CString& strQueryName, long nIndex, long nFieldIndex) {
  const FieldRecord* row = QueryRow(*this, strQueryName, nIndex);
  if (!row || nFieldIndex < 0 || nFieldIndex > INT32_MAX) return {};
  return CString(row->GetStringView(static_cast<int>(nFieldIndex)));
}

double CORV_Velmar_KDXCtrl::GetQueryValue(const CString& strQueryName, long nIndex, long nFieldIndex) {
  const FieldRecord* row = QueryRow(*this, strQueryName, nIndex);
  if (!row) return 0;
  const bool valid = nFieldIndex >= 0 && nFieldIndex <= INT32_MAX;
  return static_cast<double>(valid ? row->GetNumber(static_cast<int>(nFieldIndex)) : kAbsent);
}

}  // namespace kdx
