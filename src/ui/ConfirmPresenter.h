// Modal presentation of the order confirmation dialog. As with message boxes, the dialog is
// shown by the current thread's presenter: a scripted one for tests and unattended hosts (the
// default), a terminal one for console hosts.
#pragma once

#include <cstddef>
#include <deque>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/cstring.h"
#include "platform/message_box.h"
#include "platform/terminal_input.h"
#include "platform/types.h"

namespace kdx {

struct ConfirmRow {
  CString label;
  COLORREF labelColour = 0;
  CString value;
  COLORREF valueColour = 0;
};

// Everything a presenter needs to show one confirmation.
struct ConfirmRequest {
  CString title;
  int kind = 0;  // 0 new order, 1 cancel, 2 reduce, 4 price change; others count as 0
  std::vector<ConfirmRow> rows;
  CString imageDirectory;
};

class ConfirmPresenter {
 public:
  virtual ~ConfirmPresenter() = default;
  // Shows the dialog modally; IDOK means send the order, anything else means refused.
  virtual int Show(const ConfirmRequest& request) = 0;
};

// Answers from a queue (IDOK once it is empty) and remembers the dialogs it was shown (the
// newest kMaxRecordedShowings at least).
class ScriptedConfirmPresenter : public ConfirmPresenter {
 public:
  explicit ScriptedConfirmPresenter(std::deque<int> answers = {}, bool pumpMessages = false)
      : answers_(std::move(answers)), pump_(pumpMessages) {}
  // With pumpMessages, messages already queued on the thread run before the answer, as they
  // would while a real dialog waits for the user.
  int Show(const ConfirmRequest& request) override;
  void QueueAnswer(int answer) { answers_.push_back(answer); }
  const std::vector<ConfirmRequest>& Shown() const { return shown_; }
  // From now on each dialog shown is also rendered to "<directory>/confirm-<n>.png", n
  // counting from 1; empty stops that.
  void SaveImagesTo(std::string directory) { imageDirectory_ = std::move(directory); }

 private:
  std::deque<int> answers_;
  bool pump_;
  std::string imageDirectory_;
  int imagesSaved_ = 0;
  std::vector<ConfirmRequest> shown_;
};

// Prints the dialog to `out` and reads ORDER or CANCEL (any case) from the file descriptor
// `input`, a line at a time. The thread's message loop keeps running while it waits. End of
// input, a read error or maxTries unusable lines answer IDCANCEL. The descriptor is not owned.
class TerminalConfirmPresenter : public ConfirmPresenter {
 public:
  TerminalConfirmPresenter(int input, std::ostream& out, int maxTries = 3)
      : input_(input), out_(out), maxTries_(maxTries) {}
  int Show(const ConfirmRequest& request) override;

 private:
  TerminalLineReader input_;
  std::ostream& out_;
  int maxTries_;
};

// The title and the rows aligned by display width, control characters shown as "?".
void PrintConfirmRequest(std::ostream& out, const ConfirmRequest& request);

// Terminal columns the text takes: East Asian wide and full-width characters take two,
// everything else one.
int DisplayWidth(std::u16string_view text);

// The presenter used by ConfirmDialog::DoModal on this thread; a ScriptedConfirmPresenter
// answering IDOK until one is set (null restores that). Returns the previous one.
std::shared_ptr<ConfirmPresenter> SetConfirmPresenter(std::shared_ptr<ConfirmPresenter> presenter);
std::shared_ptr<ConfirmPresenter> GetConfirmPresenter();

}  // namespace kdx
