// ProcessOrder: the ticket's order kind picks one submitter; reduce, cancel and modify first
// find the existing order through its order number.
#include "control/KdxCtrl.h"
#include "orders/Conversions.h"
#include "orders/Submitter.h"

namespace kdx {
namespace {

constexpr int32_t kOverseasKeyBase = 10000000;

}  // namespace

long CORV_Velmar_KDXCtrl::ProcessOrder() {
  const CFireGuard guard(*this);
  const int32_t savedPrompt = m_bOrderPrompt;
  const CString prompt = OrderInfoString(30);
  if (prompt.CompareNoCase(u"Y") == 0) {
    m_bOrderPrompt = 1;
  } else if (prompt.CompareNoCase(u"N") == 0) {
    m_bOrderPrompt = 0;
  }
  // Every path, a failed component call included, leaves an empty ticket and the setting as it
  // was; a control destroyed meanwhile has nothing left to restore.
  struct Restore {
    CORV_Velmar_KDXCtrl& ctrl;
    const CFireGuard& guard;
    int32_t prompt;
    ~Restore() {
      if (!guard.ControlAlive()) return;
      ctrl.ClearOrder();
      ctrl.m_bOrderPrompt = prompt;
    }
  } restore{*this, guard, savedPrompt};

  const CString kind = OrderInfoString(0);
  if (kind == u"S") return SubmitStockOrder(*this);
  if (kind == u"F") return SubmitFuturesOrder(*this);
  if (kind == u"O") return SubmitOptionsOrder(*this);
  if (kind != u"R" && kind != u"C" && kind != u"M") return 0;

  const CString orderNo = OrderInfoString(18);
  const auto found = m_mapOrderNoToKey.find(orderNo);
  if (found == m_mapOrderNoToKey.end()) return -27;
  const int32_t key = found->second;
  const bool overseas = key >= kOverseasKeyBase;
  const long nKind = (key % kOverseasKeyBase) / 100000, nRow = key % 100000;
  if (kind == u"M" && !overseas) return -27;
  // A lost connection deletes the component but keeps the order numbers.
  if (!m_pTradeApi) {
    FireLog(0, u"ProcessOrder NOT SENT ! not logged in");
    return 0;
  }
  if (kind == u"M") return SubmitModifyOBFutOrder(*this, orderNo, OrderInfoValue(6), OrderInfoValue(14), nKind, nRow);

  long quantity = 0;
  if (kind == u"R") {
    // A quantity that does not fit must not become some other reduction, or a cancel.
    const auto entered = ScaleQuantity(OrderInfoValue(7), kSymbolFutures, CString());
    if (!entered) {
      FireLog(0, u"ProcessOrder REFUSED ! QTY out of range");
      return 0;
    }
    quantity = entered->nEntered;
  }
  if (overseas) return SubmitReduceOBFutOrder(*this, orderNo, quantity, nKind, nRow);
  const CString market = m_pTradeApi->GetDataString(nKind, nRow, 353);
  if (market == u"01" || market == u"03" || market == u"09") {
    return SubmitReduceStkOrder(*this, orderNo, quantity, nKind, nRow);
  }
  if (market == u"05") return SubmitReduceFutOrder(*this, orderNo, quantity, nKind, nRow);
  if (market == u"07") return SubmitReduceOptOrder(*this, orderNo, quantity, nKind, nRow);
  return 0;
}

}  // namespace kdx
