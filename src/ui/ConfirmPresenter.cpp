#include "ui/ConfirmPresenter.h"

#include <algorithm>
#include <ostream>

#include "platform/codepage.h"
#include "platform/message_window.h"
#include "platform/thread_object.h"
#include "ui/ConfirmView.h"

namespace kdx {
namespace {

std::shared_ptr<ConfirmPresenter>& CurrentPresenter() {
  return ThreadObject<std::shared_ptr<ConfirmPresenter>>([] { return std::make_shared<ScriptedConfirmPresenter>(); });
}

bool IsWide(char32_t c) {
  static constexpr struct { char32_t first, last; } kWide[] = {
      {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},
      {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},
      {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x20000, 0x2FFFD},
      {0x30000, 0x3FFFD},
  };
  return std::any_of(std::begin(kWide), std::end(kWide),
                     [c](const auto& r) { return c >= r.first && c <= r.last; });
}

// Order texts come from the host: control characters would move the cursor or start escape
// sequences on the user's terminal, so each one is shown as "?".
std::u16string Printable(std::u16string_view text) {
  std::u16string out(text);
  for (auto& ch : out) {
    if (ch < 0x20 || (ch >= 0x7F && ch <= 0x9F)) ch = u'?';
  }
  return out;
}

void Pad(std::ostream& out, int columns) {
  for (int i = 0; i < columns; ++i) out << ' ';
}

}  // namespace

int DisplayWidth(std::u16string_view text) {
  int width = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    width += IsWide(c) ? 2 : 1;
  }
  return width;
}

int ScriptedConfirmPresenter::Show(const ConfirmRequest& request) {
  RecordShowing(shown_, request);
  if (!imageDirectory_.empty()) {
    RenderConfirmDialogPng(request, imageDirectory_ + "/confirm-" + std::to_string(++imagesSaved_) + ".png");
  }
  if (pump_) MessageLoop::ForCurrentThread().RunPending();
  if (answers_.empty()) return IDOK;
  const int answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void PrintConfirmRequest(std::ostream& out, const ConfirmRequest& request) {
  out << '\n' << Utf16ToUtf8(Printable(request.title.str())) << '\n';
  std::vector<std::u16string> labels;
  int labelWidth = 0;
  for (const auto& row : request.rows) {
    labels.push_back(Printable(row.label.str()));
    labelWidth = std::max(labelWidth, DisplayWidth(labels.back()));
  }
  for (std::size_t i = 0; i < labels.size(); ++i) {
    out << "  " << Utf16ToUtf8(labels[i]);
    Pad(out, labelWidth - DisplayWidth(labels[i]) + 2);
    out << Utf16ToUtf8(Printable(request.rows[i].value.str())) << '\n';
  }
}

int TerminalConfirmPresenter::Show(const ConfirmRequest& request) {
  PrintConfirmRequest(out_, request);
  for (int tries = 0; tries < std::max(maxTries_, 1); ++tries) {
    out_ << "ORDER or CANCEL? " << std::flush;
    auto next = input_.NextLine();
    if (!next) break;
    std::string line = std::move(*next);
    const auto first = line.find_first_not_of(" \t\r");
    const auto last = line.find_last_not_of(" \t\r");
    line = first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
    std::transform(line.begin(), line.end(), line.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    if (line == "ORDER") return IDOK;
    if (line == "CANCEL") return IDCANCEL;
  }
  out_ << "\nCANCEL\n" << std::flush;
  return IDCANCEL;
}

std::shared_ptr<ConfirmPresenter> SetConfirmPresenter(std::shared_ptr<ConfirmPresenter> presenter) {
  if (!presenter) presenter = std::make_shared<ScriptedConfirmPresenter>();
  return std::exchange(CurrentPresenter(), std::move(presenter));
}

std::shared_ptr<ConfirmPresenter> GetConfirmPresenter() { return CurrentPresenter(); }

}  // namespace kdx
