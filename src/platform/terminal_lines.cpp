// Splitting typed bytes into lines, whatever waits for them.
#include "platform/terminal_input.h"

namespace kdx {

std::optional<std::string> TerminalLineReader::TakeLine() {
  const auto newline = pending_.find('\n');
  if (newline != std::string::npos) {
    std::string line = discarding_ || newline > kMaxLine ? std::string() : pending_.substr(0, newline);
    discarding_ = false;
    pending_.erase(0, newline + 1);
    return line;
  }
  if (pending_.size() > kMaxLine) {
    discarding_ = true;
    pending_.clear();
  }
  return std::nullopt;
}

std::optional<std::string> TerminalLineReader::EndOfInput() {
  if (pending_.empty() || discarding_) return std::nullopt;
  std::string line;
  line.swap(pending_);
  return line;
}

}  // namespace kdx
