// The system message box on Linux, where there is none to call (see message_box.h).
#include "platform/message_box.h"

namespace kdx {

int NativeMessageBoxPresenter::Show(WindowHandle, const MessageBoxRequest&) { return IDOK; }

}  // namespace kdx
