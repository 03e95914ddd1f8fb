// Modal message boxes. The box is shown by the current presenter: a scripted one for tests and
// unattended hosts (the default answers at once and keeps a record), others for real displays.
#pragma once

#include <memory>
#include <vector>

#include "platform/cstring.h"
#include "platform/message_window.h"
#include "platform/types.h"

namespace kdx {

inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_OKCANCEL = 0x1;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_ICONERROR = 0x10;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONWARNING = 0x30;
inline constexpr UINT MB_ICONINFORMATION = 0x40;
inline constexpr UINT MB_TOPMOST = 0x40000;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

struct MessageBoxRequest {
  CString text;
  CString caption;
  UINT type = MB_OK;
};

class MessageBoxPresenter {
 public:
  virtual ~MessageBoxPresenter() = default;
  // Shows the box modally and returns the button pressed (IDOK, IDCANCEL, ...).
  virtual int Show(WindowHandle owner, const MessageBoxRequest& request) = 0;
};

// The most a scripted presenter remembers: an unattended host may run for months.
inline constexpr std::size_t kMaxRecordedShowings = 1000;

// Keeps the newest showings, dropping the older half when full.
template <class T>
void RecordShowing(std::vector<T>& shown, const T& request) {
  if (shown.size() >= kMaxRecordedShowings) shown.erase(shown.begin(), shown.begin() + kMaxRecordedShowings / 2);
  shown.push_back(request);
}

// Answers every box with a fixed button and remembers what it was asked (the newest
// kMaxRecordedShowings at least).
class ScriptedMessageBoxPresenter : public MessageBoxPresenter {
 public:
  explicit ScriptedMessageBoxPresenter(int answer = IDOK) : answer_(answer) {}
  int Show(WindowHandle owner, const MessageBoxRequest& request) override;
  const std::vector<MessageBoxRequest>& Shown() const { return shown_; }
  void Clear() { shown_.clear(); }

 private:
  int answer_;
  std::vector<MessageBoxRequest> shown_;
};

// The system's own message box. On Windows a real MessageBoxW, modal to the calling thread's
// windows (owner is not used yet); a box the system cannot show answers with its declining
// button (IDNO, IDCANCEL; IDOK for MB_OK), never as if confirmed. Linux has no system box
// to call: there it answers IDOK at once, as the default presenter does, and shows nothing.
class NativeMessageBoxPresenter : public MessageBoxPresenter {
 public:
  int Show(WindowHandle owner, const MessageBoxRequest& request) override;
};

// The presenter used by MessageBoxW on this thread; a ScriptedMessageBoxPresenter answering
// IDOK until one is set. Returns the previous one.
std::shared_ptr<MessageBoxPresenter> SetMessageBoxPresenter(std::shared_ptr<MessageBoxPresenter> presenter);
std::shared_ptr<MessageBoxPresenter> GetMessageBoxPresenter();

int MessageBoxW(WindowHandle owner, const CString& text, const CString& caption, UINT type);

}  // namespace kdx
