// The order ticket: the host fills it field by field, ProcessOrder reads and empties it.
#include <cstdint>
#include <limits>
#include <utility>

#include "control/KdxCtrl.h"

namespace kdx {
namespace {

// Fields above this are never read; the host may still write them, but only so many, so that a
// host cannot grow the ticket without bound.
constexpr long kLastReadField = 48;
constexpr std::size_t kMaxTicketSlots = 1024;

// Stock trade kinds as the component numbers them (field 3 only, exact case).
constexpr std::pair<const char16_t*, const char16_t*> kTradeKinds[] = {{u"N", u"0"}, {u"DB", u"1"}, {u"CR", u"2"}};

template <class Table, class Value>
void Store(Table& table, long nField, Value&& value) {
  if (nField < 0 || nField > std::numeric_limits<int32_t>::max()) return;
  const auto key = static_cast<int32_t>(nField);
  if (nField > kLastReadField && table.size() >= kMaxTicketSlots && !table.contains(key)) return;
  table[key] = std::forward<Value>(value);
}

template <class Table>
auto Read(const Table& table, long nField) -> typename Table::mapped_type {
  if (nField < 0 || nField > std::numeric_limits<int32_t>::max()) return {};
  const auto it = table.find(static_cast<int32_t>(nField));
  return it == table.end() ? typename Table::mapped_type{} : it->second;
}

}  // namespace

void CORV_Velmar_KDXCtrl::ClearOrder() {
  m_arrOrderInfoString.clear();
  m_arrOrderInfoValue.clear();
}

void CORV_Velmar_KDXCtrl::SetOrderInfoString(long nField, const CString& strData) {
  if (nField == 3) {
    for (const auto& [code, stored] : kTradeKinds) {
      if (strData == code) return Store(m_arrOrderInfoString, nField, CString(stored));
    }
  }
  Store(m_arrOrderInfoString, nField, strData);
}

void CORV_Velmar_KDXCtrl::SetOrderInfoValue(long nField, double dbData) { Store(m_arrOrderInfoValue, nField, dbData); }

CString CORV_Velmar_KDXCtrl::OrderInfoString(long nField) const { return Read(m_arrOrderInfoString, nField); }

double CORV_Velmar_KDXCtrl::OrderInfoValue(long nField) const { return Read(m_arrOrderInfoValue, nField); }

}  // namespace kdx
