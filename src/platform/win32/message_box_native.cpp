// The system message box on Windows.
#include "platform/win32/win32.h"

#include "platform/message_box.h"

namespace kdx {

int NativeMessageBoxPresenter::Show(WindowHandle, const MessageBoxRequest& request) {
  // Without an owner window the box disables the thread's own windows, as a modal box should.
  const int answer = ::MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(request.text.GetString()),
                                   reinterpret_cast<const wchar_t*>(request.caption.GetString()),
                                   request.type | MB_TASKMODAL);
  if (answer != 0) return answer;
  const UINT buttons = request.type & 0xF;
  return buttons == MB_YESNO ? IDNO : buttons == MB_OK ? IDOK : IDCANCEL;
}

}  // namespace kdx
