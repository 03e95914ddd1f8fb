// Statements: the rights and performance requests, and the readers of every statement table.
#include "control/KdxCtrl.h"
#include "queries/HttpQuery.h"

namespace kdx {
namespace {

constexpr long kAccountList = 0, kRights = 2, kPerformance = 4, kMarketDates = 6;

bool IsTable(long nInfoType) { return nInfoType >= 1 && nInfoType <= 5; }

}  // namespace

int32_t NextSequence(int32_t sequence) { return static_cast<int32_t>(static_cast<uint32_t>(sequence) + 1); }

CString EncodeUrlValue(const CString& value) {
  CString out;
  for (int i = 0; i < value.GetLength(); ++i) {
    const char16_t c = value[i];
    if (c < 0x20 || c == 0x7F || c == u'&' || c == u'#' || c == u'%' || c == u'+' || c == u' ')
      out += FormatString(u"%%%02X", static_cast<unsigned>(c));
    else
      out += c;
  }
  return out;
}

long CORV_Velmar_KDXCtrl::QueryStatement(long nInfoType) {
  if (!m_pTradeApi || m_pTradeApi->GetStatus() != 2) return 0;
  if (nInfoType != kRights && nInfoType != kPerformance) return 0;
  m_arrStatementRows[nInfoType].clear();
  const int dash = m_strDefaultAccount.Find(u'-');
  if (dash <= 0) return 0;
  const CString branch = EncodeUrlValue(m_strDefaultAccount.Left(dash));
  const CString customer = EncodeUrlValue(m_strDefaultAccount.Mid(dash + 1));
  const int32_t sequence = m_nStatementSeq[nInfoType] = NextSequence(m_nStatementSeq[nInfoType]);
  const bool rights = nInfoType == kRights;
  // Each request fires a Log line, in which the host may log out or destroy the control.
  const CFireGuard guard(*this);
  const auto pairs = m_arrAccountGroups;
  for (const auto& [group, account] : pairs) {
    if (!guard.SameLogin()) break;
    const CString url = FormatString(rights ? u"http://%s/get_rights.jsp?branch_id=%s&cust_id=%s&group_id=%s&broker_id=%s"
                                            : u"http://%s/get_perf.jsp?branch_id=%s&cust_id=%s&group_id=%s&broker_id=%s",
                                     m_strQueryAddress, branch, customer, EncodeUrlValue(group), EncodeUrlValue(account));
    StartHttpQuery(rights ? kInfoRights : kInfoPerformance, sequence, url, rights ? group + u"_" + account : CString());
  }
  return 0;
}

long CORV_Velmar_KDXCtrl::GetStatementCount(long nInfoType) {
  if (!m_pTradeApi) return 0;
  if (nInfoType == kAccountList) return static_cast<long>(m_arrAccountGroups.size());
  if (IsTable(nInfoType)) return static_cast<long>(m_arrStatementRows[nInfoType].size());
  return nInfoType == kMarketDates ? 1 : 0;
}

CString CORV_Velmar_KDXCtrl::GetStatementString(long nInfoType, long nIndex, long nField) {
  if (!m_pTradeApi) return {};
  if (IsTable(nInfoType)) {
    const auto& rows = m_arrStatementRows[nInfoType];
    if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= rows.size() || nField < 0 || nField > INT32_MAX) return {};
    return CString(rows[nIndex]->GetStringView(static_cast<int>(nField)));
  }
  if (nInfoType == kMarketDates) {
    const CString* dates[] = {&m_strMarketDateNML, &m_strMarketDateFIX, &m_strMarketDateODD, &m_strMarketDateFUT};
    return nField >= 0 && nField < 4 ? *dates[nField] : CString();
  }
  if (nInfoType != kAccountList) return {};
  const bool isRow = nIndex >= 0 && static_cast<std::size_t>(nIndex) < m_arrAccountGroups.size();
  switch (nField) {
    case 0: return isRow ? m_strRocIDPrefix + u"-" + m_arrAccountGroups[nIndex].second : CString();
    case 1:
      return isRow ? m_arrAccountGroups[nIndex].second + u" (" + m_arrAccountGroups[nIndex].first + u")" : CString();
    case 2: return u"F";
    case 3: return m_strBroker;
    case 4: return m_strRocID;
    case 5: return m_strSession;
    case 6: return m_pTradeApi->GetLoginDataString(1, nIndex, 213);
    case 7: return m_pTradeApi->GetLoginDataString(1, nIndex, 214);
    case 8: return m_strDefaultAccount;
    default: return {};
  }
}

double CORV_Velmar_KDXCtrl::GetStatementValue(long, long, long) { return 0; }

}  // namespace kdx
