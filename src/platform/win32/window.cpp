// ModalWindow as a top-level Win32 window. Its procedure queues the events the caller reads;
// NextEvent pumps the thread's Windows messages meanwhile, and with them the message loop's
// wake-up, so posted and sent messages run while the window waits.
#include "platform/win32/win32.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "platform/message_window.h"
#include "platform/window.h"
#include "platform/win32/paint_surface.h"

namespace kdx {
namespace detail {

struct ModalWindowState {
  HWND hwnd = nullptr;  // null also once something else destroyed it
  int width = 0, height = 0;
  bool lost = false;    // destroyed by someone else, or the thread is quitting
  std::deque<WindowEvent> events;
  std::shared_ptr<Surface> frame;   // the last one presented, painted again on WM_PAINT
  std::vector<HWND> disabled;       // the thread's windows this one made wait
  HWND activeBefore = nullptr;      // given back the activation on close
};

}  // namespace detail

namespace {

using detail::ModalWindowState;
using Type = WindowEvent::Type;

constexpr int kMaxSide = 16384;
constexpr std::size_t kMaxQueued = 1024;  // input the caller does not read is dropped past this
constexpr wchar_t kClassName[] = L"KdxModalWindow";
constexpr ::DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr ::DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;

bool SizeOk(int width, int height) { return width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide; }

// The window's outer size for a client area of the given size.
SIZE OuterSize(int width, int height) {
  ::RECT r{0, 0, width, height};
  AdjustWindowRectEx(&r, kStyle, FALSE, kExStyle);
  return {r.right - r.left, r.bottom - r.top};
}

void Push(ModalWindowState& s, const WindowEvent& event) {
  if (event.type == Type::kExpose && !s.events.empty() && s.events.back().type == Type::kExpose) return;
  if (s.events.size() < kMaxQueued || event.type == Type::kClose || event.type == Type::kLost) s.events.push_back(event);
}

// Blits the frame's top-left part that fits the client area.
void Show(const ModalWindowState& s, HDC dc, const detail::Surface& frame) {
  const int width = std::min(s.width, frame.width), height = std::min(s.height, frame.height);
  if (width <= 0 || height <= 0) return;
  GdiFlush();
  // The first `height` rows, described as a bitmap of their own.
  const BITMAPINFO info = detail::TopDown32(frame.width, height);
  SetDIBitsToDevice(dc, 0, 0, static_cast<::DWORD>(width), static_cast<::DWORD>(height), 0, 0, 0,
                    static_cast<::UINT>(height), frame.pixels, &info, DIB_RGB_COLORS);
}

WindowKey KeyOf(WPARAM vk) {
  switch (vk) {
    case VK_TAB: return WindowKey::kTab;
    case VK_RETURN: return WindowKey::kEnter;
    case VK_SPACE: return WindowKey::kSpace;
    case VK_ESCAPE: return WindowKey::kEscape;
    default: return WindowKey::kOther;
  }
}

::LRESULT CALLBACK WindowProc(HWND hwnd, ::UINT msg, ::WPARAM wParam, ::LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  }
  auto* s = reinterpret_cast<ModalWindowState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (s == nullptr) return DefWindowProcW(hwnd, msg, wParam, lParam);
  WindowEvent event;
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd, &paint);
      FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      if (s->frame) Show(*s, dc, *s->frame);
      EndPaint(hwnd, &paint);
      event.type = Type::kExpose;
      break;
    }
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers all of it
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      // A release outside the window still comes here, as X11 delivers it too.
      if (msg == WM_LBUTTONDOWN) SetCapture(hwnd);
      else ReleaseCapture();
      event.type = msg == WM_LBUTTONDOWN ? Type::kMouseDown : Type::kMouseUp;
      event.x = static_cast<short>(LOWORD(lParam));
      event.y = static_cast<short>(HIWORD(lParam));
      event.shift = (wParam & MK_SHIFT) != 0;
      break;
    case WM_KEYDOWN:
    case WM_KEYUP:
      event.type = msg == WM_KEYDOWN ? Type::kKeyDown : Type::kKeyUp;
      event.key = KeyOf(wParam);
      event.shift = GetKeyState(VK_SHIFT) < 0;
      break;
    case WM_CLOSE:
      event.type = Type::kClose;  // the caller decides; the window stays
      break;
    case WM_DESTROY:
      if (s->hwnd == nullptr) return 0;  // Close() is destroying it
      s->hwnd = nullptr;
      s->lost = true;
      event.type = Type::kLost;
      break;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  Push(*s, event);
  return 0;
}

bool RegisterWindowClass() {
  static const bool registered = win32::RegisterWindowClass(kClassName, WindowProc, true);
  return registered;
}

// As a task-modal box does without an owner: the thread's other enabled top-level windows
// wait until this one closes.
BOOL CALLBACK DisableOne(HWND hwnd, ::LPARAM state) {
  auto& s = *reinterpret_cast<ModalWindowState*>(state);
  if (hwnd != s.hwnd && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) {
    EnableWindow(hwnd, FALSE);
    s.disabled.push_back(hwnd);
  }
  return TRUE;
}

}  // namespace

ModalWindow::ModalWindow() : state_(std::make_unique<ModalWindowState>()) {}

ModalWindow::~ModalWindow() { Close(); }

bool ModalWindow::DisplayAvailable() {
  // A service's window station has no desktop anybody sees.
  USEROBJECTFLAGS flags{};
  return GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, nullptr) &&
         (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool ModalWindow::Open(const CString& title, int clientWidth, int clientHeight) {
  Close();
  if (!SizeOk(clientWidth, clientHeight) || !DisplayAvailable() || !RegisterWindowClass()) return false;
  ModalWindowState& s = *state_;
  const SIZE outer = OuterSize(clientWidth, clientHeight);
  const int x = std::max<int>(0, (GetSystemMetrics(SM_CXSCREEN) - outer.cx) / 2);
  const int y = std::max<int>(0, (GetSystemMetrics(SM_CYSCREEN) - outer.cy) / 2);
  s.width = clientWidth;
  s.height = clientHeight;
  s.activeBefore = GetActiveWindow();
  s.hwnd = CreateWindowExW(kExStyle, kClassName, reinterpret_cast<LPCWSTR>(title.GetString()), kStyle, x, y,
                           outer.cx, outer.cy, nullptr, nullptr, win32::ThisModule(), &s);
  if (s.hwnd == nullptr) {
    s = ModalWindowState{};
    return false;
  }
  EnumThreadWindows(GetCurrentThreadId(), DisableOne, reinterpret_cast<::LPARAM>(&s));
  ShowWindow(s.hwnd, SW_SHOWNORMAL);
  SetForegroundWindow(s.hwnd);
  SetFocus(s.hwnd);
  UpdateWindow(s.hwnd);
  return true;
}

void ModalWindow::Resize(int clientWidth, int clientHeight) {
  ModalWindowState& s = *state_;
  if (s.hwnd == nullptr || !SizeOk(clientWidth, clientHeight)) return;
  const SIZE outer = OuterSize(clientWidth, clientHeight);
  s.width = clientWidth;
  s.height = clientHeight;
  SetWindowPos(s.hwnd, nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ModalWindow::Present(const CBitmap& frame) {
  ModalWindowState& s = *state_;
  if (s.hwnd == nullptr || !frame.surface_) return;
  s.frame = frame.surface_;
  HDC dc = GetDC(s.hwnd);
  if (dc == nullptr) return;
  Show(s, dc, *s.frame);
  ReleaseDC(s.hwnd, dc);
}

WindowEvent ModalWindow::NextEvent() {
  auto& loop = MessageLoop::ForCurrentThread();
  for (;;) {
    ModalWindowState& s = *state_;  // a handler may have closed the window
    if (!s.events.empty()) {
      const WindowEvent event = s.events.front();
      s.events.pop_front();
      return event;
    }
    if (s.hwnd == nullptr || s.lost) return WindowEvent{};
    // The loop's own work, whose wake-up message another pump may have taken; then one
    // Windows message, so neither starves the other.
    loop.RunPending();
    if (!s.events.empty() || s.hwnd == nullptr) continue;
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_FAILED) {
        return WindowEvent{};
      }
      continue;
    }
    if (msg.message == WM_QUIT) {
      // The thread is ending: leave the quit for the outer loop, and this window with it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      s.lost = true;
      return WindowEvent{};
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void ModalWindow::Close() {
  ModalWindowState& s = *state_;
  for (HWND hwnd : s.disabled) EnableWindow(hwnd, TRUE);
  if (HWND hwnd = std::exchange(s.hwnd, nullptr)) {
    // Activation goes back to where it was before the other windows lose it.
    if (s.activeBefore != nullptr && IsWindow(s.activeBefore)) SetActiveWindow(s.activeBefore);
    DestroyWindow(hwnd);
  }
  s = ModalWindowState{};
}

unsigned long ModalWindow::NativeId() const {
  return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(state_->hwnd));
}

}  // namespace kdx
