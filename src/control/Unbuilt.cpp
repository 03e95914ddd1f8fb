// Members whose units are not built yet answer as they do while logged out: 0, empty text,
// nothing fired.
#include "control/KdxCtrl.h"

namespace kdx {

long CORV_Velmar_KDXCtrl::ProcessOrder() { return 0; }
CString CORV_Velmar_KDXCtrl::GetOrderString(long, long) { return {}; }
double CORV_Velmar_KDXCtrl::GetOrderValue(long, long) { return 0; }
CString CORV_Velmar_KDXCtrl::GetFillOrderString(long, long) { return {}; }
double CORV_Velmar_KDXCtrl::GetFillOrderValue(long, long) { return 0; }
long CORV_Velmar_KDXCtrl::QueryStatement(long) { return 0; }
long CORV_Velmar_KDXCtrl::GetStatementCount(long) { return 0; }
CString CORV_Velmar_KDXCtrl::GetStatementString(long, long, long) { return {}; }
double CORV_Velmar_KDXCtrl::GetStatementValue(long, long, long) { return 0; }
void CORV_Velmar_KDXCtrl::ClearOrder() {}
void CORV_Velmar_KDXCtrl::SetOrderInfoString(long, const CString&) {}
void CORV_Velmar_KDXCtrl::SetOrderInfoValue(long, double) {}
long CORV_Velmar_KDXCtrl::GeneralQuery(const CString&, const CString&) { return 0; }
long CORV_Velmar_KDXCtrl::GetQueryCount(const CString&) { return 0; }
CString CORV_Velmar_KDXCtrl::GetQueryString(const CString&, long, long) { return {}; }
double CORV_Velmar_KDXCtrl::GetQueryValue(const CString&, long, long) { return 0; }

}  // namespace kdx
