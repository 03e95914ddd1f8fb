// The confirmation dialog and message boxes as real windows on the display. While one waits
// for the user, the thread's message loop keeps running.
#pragma once

#include "platform/message_box.h"
#include "ui/ConfirmPresenter.h"

namespace kdx {

// Shows the skinned dialog centred and on top; ORDER answers IDOK. Escape, closing the window
// or a display that cannot be reached answer IDCANCEL, so no order leaves unconfirmed.
class WindowConfirmPresenter : public ConfirmPresenter {
 public:
  int Show(const ConfirmRequest& request) override;
};

// Message boxes with the buttons their type names (OK, OK and Cancel, Yes and No). Escape
// answers Cancel, or OK where OK is the only button, as MessageBoxW does.
class WindowMessageBoxPresenter : public MessageBoxPresenter {
 public:
  int Show(WindowHandle owner, const MessageBoxRequest& request) override;
};

}  // namespace kdx
