// Members whose units are not built yet answer as they do while logged out: 0, empty text,
// nothing fired.
#include "control/KdxCtrl.h"

namespace kdx {

long CORV_Velmar_KDXCtrl::ProcessOrder() { return 0; }

}  // namespace kdx
