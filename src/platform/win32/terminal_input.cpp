// Terminal input on Windows: a console is read key by key (its own line editing would block
// the thread until Enter), a pipe when it holds bytes; meanwhile the thread's Windows messages,
// and with them the message loop, keep running.
#include "platform/win32/win32.h"

#include <io.h>

#include <algorithm>

#include "platform/codepage.h"
#include "platform/message_window.h"
#include "platform/terminal_input.h"

namespace kdx {
namespace {

constexpr ::DWORD kPipePollMs = 50;  // anonymous pipes cannot be waited on

// Runs the loop's work (whose wake-up message another pump may have taken), waits up to `ms`
// for `handle` (when given) or a message for this thread, then runs what came. False when the
// thread is quitting or the wait failed.
bool WaitPumping(HANDLE handle, ::DWORD ms) {
  const bool ran = MessageLoop::ForCurrentThread().RunPending();
  const ::DWORD r = MsgWaitForMultipleObjectsEx(handle != nullptr ? 1 : 0, &handle, ran ? 0 : ms, QS_ALLINPUT,
                                                MWMO_INPUTAVAILABLE);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // for the outer loop
      return false;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return r != WAIT_FAILED;
}

// Console keys since the last call, as UTF-8 lines: Backspace edits the line not yet ended,
// Enter ends it, Ctrl+Z at its start ends the input. What is typed is echoed.
class ConsoleKeys {
 public:
  // False at the end of the input.
  bool Read(HANDLE console, std::string& pending) {
    INPUT_RECORD records[64];
    ::DWORD count = 0;
    if (!ReadConsoleInputW(console, records, 64, &count)) return false;
    HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    std::u16string echo;
    bool open = true;
    for (::DWORD i = 0; i < count && open; ++i) {
      const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
      if (records[i].EventType != KEY_EVENT || !key.bKeyDown || key.uChar.UnicodeChar == 0) continue;
      const char16_t c = static_cast<char16_t>(key.uChar.UnicodeChar);
      for (int n = 0; n < std::max<int>(key.wRepeatCount, 1) && open; ++n) {
        const std::size_t lineStart = pending.rfind('\n') + 1;  // 0 when there is none
        if (c == u'\r') {
          pending += '\n', echo += u"\r\n";
        } else if (c == u'\b') {
          if (pending.size() == lineStart) continue;
          while (pending.size() > lineStart + 1 && (pending.back() & 0xC0) == 0x80) pending.pop_back();
          pending.pop_back(), echo += u"\b \b";
        } else if (c == 0x1A) {
          open = pending.size() != lineStart;  // elsewhere in a line, ignored
        } else if (c >= 0xD800 && c < 0xDC00) {
          high_ = c;
        } else {
          const std::u16string one = c >= 0xDC00 && c < 0xE000 ? std::u16string{high_, c} : std::u16string(1, c);
          pending += Utf16ToUtf8(one), echo += one;
        }
      }
    }
    if (out != INVALID_HANDLE_VALUE) {
      ::DWORD written = 0;
      WriteConsoleW(out, echo.data(), static_cast<::DWORD>(echo.size()), &written, nullptr);
      CloseHandle(out);
    }
    return open;
  }

 private:
  char16_t high_ = 0;  // the first half of a character typed as a surrogate pair
};

}  // namespace

std::optional<std::string> TerminalLineReader::NextLine() {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(input_));
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return std::nullopt;
  ::DWORD mode = 0;
  const bool console = GetConsoleMode(handle, &mode) != 0;
  const bool pipe = !console && GetFileType(handle) == FILE_TYPE_PIPE;
  ConsoleKeys keys;
  for (;;) {
    if (auto line = TakeLine()) return line;
    if (console) {
      if (!WaitPumping(handle, INFINITE)) return std::nullopt;
      // Signalled while any input record waits, keys or not.
      if (WaitForSingleObject(handle, 0) == WAIT_OBJECT_0 && !keys.Read(handle, pending_)) {
        if (auto line = TakeLine()) return line;  // lines ended before the Ctrl+Z come first
        return EndOfInput();
      }
      continue;
    }
    ::DWORD available = 1;  // a file: read, it does not block for long
    if (pipe && !PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr)) {
      return GetLastError() == ERROR_BROKEN_PIPE ? EndOfInput() : std::nullopt;
    }
    if (available == 0) {
      if (!WaitPumping(nullptr, kPipePollMs)) return std::nullopt;
      continue;
    }
    char buffer[512];
    ::DWORD n = 0;
    if (!ReadFile(handle, buffer, std::min<::DWORD>(available, sizeof buffer), &n, nullptr)) {
      return GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF ? EndOfInput() : std::nullopt;
    }
    if (n == 0) return EndOfInput();
    pending_.append(buffer, n);
    // A loop that never empties must not starve the input, nor the input the loop.
    MessageLoop::ForCurrentThread().RunPending();
  }
}

}  // namespace kdx
