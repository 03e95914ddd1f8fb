// The order ticket: the host fills it field by field, ProcessOrder reads and empties it.
#include <limits>
#include <utility>

#include "control/KdxCtrl.h"

namespace kdx {
namespace {

// Stock trade kinds as the component numbers them (field 3 only, exact case).
constexpr std::pair<const char16_t*, const char16_t*> kTradeKinds[] = {{u"N", u"0"}, {u"DB", u"1"}, {u"CR", u"2"}};

// Field numbers past 32 bits name no slot.
int32_t Field(long nField) {
  return nField < 0 || nField > std::numeric_limits<int32_t>::max() ? -1 : static_cast<int32_t>(nField);
}

}  // namespace

void CORV_Velmar_KDXCtrl::ClearOrder() {
  m_arrOrderInfoString.Clear();
  m_arrOrderInfoValue.Clear();
}

void CORV_Velmar_KDXCtrl::SetOrderInfoString(long nField, CString strData) {
  if (nField == 3) {
    for (const auto& [code, stored] : kTradeKinds) {
      if (strData == code) return m_arrOrderInfoString.Set(3, CString(stored));
    }
  }
  m_arrOrderInfoString.Set(Field(nField), std::move(strData));
}

void CORV_Velmar_KDXCtrl::SetOrderInfoValue(long nField, double dbData) { m_arrOrderInfoValue.Set(Field(nField), dbData); }

const CString& CORV_Velmar_KDXCtrl::OrderInfoString(long nField) const { return m_arrOrderInfoString.Get(Field(nField)); }

double CORV_Velmar_KDXCtrl::OrderInfoValue(long nField) const { return m_arrOrderInfoValue.Get(Field(nField)); }

}  // namespace kdx
