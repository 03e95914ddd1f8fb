// Lines typed on a terminal (or read from any descriptor), taken while the thread's message
// loop keeps running, so component events and HTTP replies are still handled as the user types.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace kdx {

class TerminalLineReader {
 public:
  static constexpr std::size_t kMaxLine = 256;  // longer lines come back empty

  // The descriptor is not owned.
  explicit TerminalLineReader(int input) : input_(input) {}
  // The next line without its end; nothing at end of input or on a read error. A last line
  // without its newline still counts.
  std::optional<std::string> NextLine();

 private:
  // The portable part: a complete line from pending_ (over-long ones come back empty), and
  // what the end of the input leaves.
  std::optional<std::string> TakeLine();
  std::optional<std::string> EndOfInput();

  int input_;
  std::string pending_;      // bytes read past the last line taken, for the next call
  bool discarding_ = false;  // inside an over-long line, dropping until its end
};

}  // namespace kdx
