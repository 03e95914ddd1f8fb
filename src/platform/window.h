// A top-level window on the display for modal dialogs and message boxes: the caller paints
// frames into a bitmap and reads mouse, key and close events; while it waits for one, the
// thread's message loop keeps running.
#pragma once

#include <memory>

#include "platform/cstring.h"
#include "platform/paint.h"

namespace kdx {

enum class WindowKey { kOther, kTab, kEnter, kSpace, kEscape };

struct WindowEvent {
  enum class Type {
    kExpose,     // the window needs painting again
    kMouseDown,  // left button; x, y in the client area
    kMouseUp,
    kKeyDown,
    kKeyUp,
    kClose,      // the user closed the window
    kLost,       // the display connection broke: no more events will come
  };
  Type type = Type::kLost;
  int x = 0, y = 0;
  WindowKey key = WindowKey::kOther;
  bool shift = false;
};

namespace detail {
struct ModalWindowState;
}

class ModalWindow {
 public:
  ModalWindow();
  ~ModalWindow();
  ModalWindow(const ModalWindow&) = delete;
  ModalWindow& operator=(const ModalWindow&) = delete;

  // Whether a display can be reached (on X11, $DISPLAY names a server that answers).
  static bool DisplayAvailable();

  // Opens a window with `title` as its caption and a client area of the given size,
  // centred on the screen, kept above other windows, shown and given the keyboard focus.
  // False when no display can be reached.
  bool Open(const CString& title, int clientWidth, int clientHeight);
  // Changes the client area's size; the position stays.
  void Resize(int clientWidth, int clientHeight);
  // Shows `frame` in the client area, from its top-left corner.
  void Present(const CBitmap& frame);
  // Waits for the next event. Posted and sent messages of this thread run meanwhile (a
  // handler may even open another window); no busy waiting.
  WindowEvent NextEvent();
  void Close();

  // The system's identifier of the open window (0 when none), for tests that find it.
  unsigned long NativeId() const;

 private:
  std::unique_ptr<detail::ModalWindowState> state_;
};

}  // namespace kdx
