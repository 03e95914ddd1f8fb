// Members whose units are not built yet answer as they do while logged out: 0, empty text,
// nothing fired.
#include "control/KdxCtrl.h"

namespace kdx {

long CORV_Velmar_KDXCtrl::ProcessOrder() { return 0; }
void CORV_Velmar_KDXCtrl::ClearOrder() {}
void CORV_Velmar_KDXCtrl::SetOrderInfoString(long, const CString&) {}
void CORV_Velmar_KDXCtrl::SetOrderInfoValue(long, double) {}

}  // namespace kdx
