#include "platform/message_box.h"

#include <utility>

#include "platform/thread_object.h"
namespace kdx {
namespace {

std::shared_ptr<MessageBoxPresenter>& CurrentPresenter() {
  return ThreadObject<std::shared_ptr<MessageBoxPresenter>>([] { return std::make_shared<ScriptedMessageBoxPresenter>(); });
}

}  // namespace

int ScriptedMessageBoxPresenter::Show(WindowHandle, const MessageBoxRequest& request) {
  RecordShowing(shown_, request);
  return answer_;
}

std::shared_ptr<MessageBoxPresenter> SetMessageBoxPresenter(std::shared_ptr<MessageBoxPresenter> presenter) {
  if (!presenter) presenter = std::make_shared<ScriptedMessageBoxPresenter>();
  return std::exchange(CurrentPresenter(), std::move(presenter));
}

std::shared_ptr<MessageBoxPresenter> GetMessageBoxPresenter() { return CurrentPresenter(); }

int MessageBoxW(WindowHandle owner, const CString& text, const CString& caption, UINT type) {
  // Held for the call, so a presenter replaced while the box is up stays alive.
  auto presenter = CurrentPresenter();
  return presenter->Show(owner, MessageBoxRequest{text, caption, type});
}

}  // namespace kdx
