// ModalWindow on X11. Each window has a display connection of its own, so a dialog opened by a
// message handler while another one waits shares nothing with it but the error filter below.
#include "platform/window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/message_window.h"
#include "platform/paint_surface.h"

namespace kdx {
namespace detail {

struct ModalWindowState {
  Display* display = nullptr;
  Window window = 0;          // 0 also once another client destroyed it
  Window focusBefore = None;  // given back on close, as Windows gives it back to the owner
  Atom wmProtocols = 0, wmDelete = 0;
  int x = 0, y = 0, width = 0, height = 0;
  bool broken = false;  // the connection

  bool Gone() const { return display == nullptr || window == 0 || broken; }
};

}  // namespace detail

namespace {

using detail::ModalWindowState;
using Type = WindowEvent::Type;

constexpr int kMaxSide = 16384;

bool SizeOk(int width, int height) { return width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide; }
constexpr auto kMapWait = std::chrono::seconds(2);

// Xlib's default error handlers end the process. On our own connections an error is harmless
// (focus asked for before a window manager showed the window, a window destroyed by another
// client) and a broken connection is reported as kLost; other connections keep the handlers
// that were there before.
struct ErrorFilter {
  std::mutex mu;
  std::set<Display*> ours;
  std::atomic<XErrorHandler> previousError = nullptr;
  std::atomic<XIOErrorHandler> previousIO = nullptr;

  bool Ours(Display* display) {
    std::lock_guard lock(mu);
    return ours.count(display) != 0;
  }
};

ErrorFilter& Filter() {
  static ErrorFilter* filter = new ErrorFilter;  // never destroyed: Xlib may call it at exit
  return *filter;
}

int OnProtocolError(Display* display, XErrorEvent* error) {
  const XErrorHandler previous = Filter().previousError;
  return Filter().Ours(display) || previous == nullptr ? 0 : previous(display, error);
}

// For our connections the exit handler below follows, and it returns.
int OnIOError(Display* display) {
  const XIOErrorHandler previous = Filter().previousIO;
  return Filter().Ours(display) || previous == nullptr ? 0 : previous(display);
}

// Replaces Xlib's exit() on a broken connection: the window reports kLost instead, and Xlib
// answers later calls on the connection without touching the socket.
void OnConnectionLost(Display*, void* state) { static_cast<ModalWindowState*>(state)->broken = true; }

void Adopt(Display* display, ModalWindowState* state) {
  static std::once_flag installed;
  std::call_once(installed, [] {
    Filter().previousError = XSetErrorHandler(OnProtocolError);
    Filter().previousIO = XSetIOErrorHandler(OnIOError);
  });
  {
    std::lock_guard lock(Filter().mu);
    Filter().ours.insert(display);
  }
  XSetIOErrorExitHandler(display, OnConnectionLost, state);
}

void Release(Display* display) {
  std::lock_guard lock(Filter().mu);
  Filter().ours.erase(display);
}

// WM_NAME too in UTF-8, as Xutf8SetWMProperties does in a UTF-8 locale: the titles are Chinese.
void SetTitle(Display* d, Window w, const CString& title, Atom utf8String, Atom netWmName) {
  const std::string utf8 = title.ToUtf8();
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  for (Atom property : {netWmName, Atom{XA_WM_NAME}}) {
    XChangeProperty(d, w, property, utf8String, 8, PropModeReplace, bytes, static_cast<int>(utf8.size()));
  }
}

void SetFixedSize(Display* d, Window w, int x, int y, int width, int height) {
  XSizeHints* hints = XAllocSizeHints();
  if (hints == nullptr) return;
  hints->flags = PPosition | USPosition | PSize | PMinSize | PMaxSize;
  hints->x = x;
  hints->y = y;
  hints->width = hints->min_width = hints->max_width = width;
  hints->height = hints->min_height = hints->max_height = height;
  XSetWMNormalHints(d, w, hints);
  XFree(hints);
}

// Waits for the window to be mapped, reading the connection only when it has something.
void WaitForMap(ModalWindowState& s) {
  const auto deadline = std::chrono::steady_clock::now() + kMapWait;
  XEvent event;
  while (!s.broken && !XCheckTypedWindowEvent(s.display, s.window, MapNotify, &event)) {
    using std::chrono::milliseconds;
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd p{ConnectionNumber(s.display), POLLIN, 0};
    poll(&p, 1, static_cast<int>(left.count()));  // a failure shows in the next check, or the time runs out
  }
}

// The 32-bit cairo pixel 0x00RRGGBB as the window's visual wants it (a true-colour visual: every
// display of the last decades).
unsigned long ToPixel(const Visual* visual, std::uint32_t rgb) {
  unsigned long pixel = 0;
  const unsigned long masks[] = {visual->red_mask, visual->green_mask, visual->blue_mask};
  for (int i = 0; i < 3; ++i) {
    if (masks[i] == 0) continue;
    const int shift = __builtin_ctzl(masks[i]);
    const unsigned long top = masks[i] >> shift;
    pixel |= (((rgb >> (16 - 8 * i)) & 0xFF) * top / 0xFF) << shift;
  }
  return pixel;
}

void Show(ModalWindowState& s, const detail::Surface* frame) {
  if (frame == nullptr || s.Gone()) return;
  cairo_surface_t* source = frame->surface;
  cairo_surface_flush(source);
  const int width = std::min(s.width, cairo_image_surface_get_width(source));
  const int height = std::min(s.height, cairo_image_surface_get_height(source));
  const unsigned char* data = cairo_image_surface_get_data(source);
  if (width <= 0 || height <= 0 || data == nullptr) return;
  const int screen = DefaultScreen(s.display);
  Visual* visual = DefaultVisual(s.display, screen);
  XImage* image = XCreateImage(s.display, visual, static_cast<unsigned>(DefaultDepth(s.display, screen)), ZPixmap, 0,
                               nullptr, static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
  if (image == nullptr) return;
  image->data = static_cast<char*>(std::malloc(static_cast<std::size_t>(image->bytes_per_line) * height));
  if (image->data == nullptr) return void(XDestroyImage(image));
  const int stride = cairo_image_surface_get_stride(source);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint32_t rgb;
      std::memcpy(&rgb, data + static_cast<std::ptrdiff_t>(y) * stride + 4 * x, sizeof rgb);
      XPutPixel(image, x, y, ToPixel(visual, rgb));
    }
  }
  XPutImage(s.display, s.window, DefaultGC(s.display, screen), image, 0, 0, 0, 0, static_cast<unsigned>(width),
            static_cast<unsigned>(height));
  XDestroyImage(image);  // frees the pixels too
  XSync(s.display, False);
}

struct KeyName {
  KeySym sym;
  WindowKey key;
  bool shifted;
};
constexpr KeyName kKeys[] = {
    {XK_Tab, WindowKey::kTab, false},      {XK_ISO_Left_Tab, WindowKey::kTab, true},
    {XK_Return, WindowKey::kEnter, false}, {XK_KP_Enter, WindowKey::kEnter, false},
    {XK_space, WindowKey::kSpace, false},  {XK_Escape, WindowKey::kEscape, false},
};

WindowEvent KeyEvent(XKeyEvent& key) {
  WindowEvent out;
  out.type = key.type == KeyPress ? Type::kKeyDown : Type::kKeyUp;
  out.shift = (key.state & ShiftMask) != 0;
  KeySym sym = NoSymbol;
  char text[16];
  XLookupString(&key, text, sizeof text, &sym, nullptr);
  for (const KeyName& k : kKeys) {
    if (k.sym != sym) continue;
    out.key = k.key;
    out.shift = out.shift || k.shifted;
  }
  return out;
}

// The event the caller sees for an X event, if any.
std::optional<WindowEvent> Translate(ModalWindowState& s, XEvent& e) {
  WindowEvent out;
  switch (e.type) {
    case Expose:
      if (e.xexpose.count != 0) return std::nullopt;
      out.type = Type::kExpose;
      return out;
    case ButtonPress:
    case ButtonRelease:
      if (e.xbutton.button != Button1) return std::nullopt;
      out.type = e.type == ButtonPress ? Type::kMouseDown : Type::kMouseUp;
      out.x = e.xbutton.x;
      out.y = e.xbutton.y;
      out.shift = (e.xbutton.state & ShiftMask) != 0;
      return out;
    case KeyPress:
    case KeyRelease:
      return KeyEvent(e.xkey);
    case ClientMessage:
      if (e.xclient.message_type != s.wmProtocols || static_cast<Atom>(e.xclient.data.l[0]) != s.wmDelete) {
        return std::nullopt;
      }
      out.type = Type::kClose;
      return out;
    case ConfigureNotify:
      // A window manager may size the window after all; frames are clipped to what is there.
      s.width = e.xconfigure.width;
      s.height = e.xconfigure.height;
      return std::nullopt;
    case DestroyNotify:
      if (e.xdestroywindow.window != s.window) return std::nullopt;
      s.window = 0;
      out.type = Type::kLost;
      return out;
    default:
      return std::nullopt;
  }
}

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

}  // namespace

ModalWindow::ModalWindow() : state_(std::make_unique<ModalWindowState>()) {}

ModalWindow::~ModalWindow() { Close(); }

bool ModalWindow::DisplayAvailable() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XCloseDisplay(display);
  return true;
}

bool ModalWindow::Open(const CString& title, int clientWidth, int clientHeight) {
  Close();
  if (!SizeOk(clientWidth, clientHeight)) return false;
  ModalWindowState& s = *state_;
  s.display = XOpenDisplay(nullptr);
  if (s.display == nullptr) return false;
  Adopt(s.display, &s);
  Display* d = s.display;
  const int screen = DefaultScreen(d);
  const int x = s.x = std::max(0, (DisplayWidth(d, screen) - clientWidth) / 2);
  const int y = s.y = std::max(0, (DisplayHeight(d, screen) - clientHeight) / 2);
  XSetWindowAttributes attributes{};
  attributes.background_pixel = WhitePixel(d, screen);
  attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | KeyPressMask | KeyReleaseMask |
                          StructureNotifyMask | FocusChangeMask;
  s.window = XCreateWindow(d, RootWindow(d, screen), x, y, static_cast<unsigned>(clientWidth),
                           static_cast<unsigned>(clientHeight), 0, CopyFromParent, InputOutput, CopyFromParent,
                           CWBackPixel | CWEventMask, &attributes);
  s.width = clientWidth;
  s.height = clientHeight;

  char* names[] = {const_cast<char*>("WM_PROTOCOLS"),  const_cast<char*>("WM_DELETE_WINDOW"),
                   const_cast<char*>("UTF8_STRING"),   const_cast<char*>("_NET_WM_NAME"),
                   const_cast<char*>("_NET_WM_STATE"), const_cast<char*>("_NET_WM_STATE_ABOVE"),
                   const_cast<char*>("_NET_WM_WINDOW_TYPE"), const_cast<char*>("_NET_WM_WINDOW_TYPE_DIALOG")};
  Atom atoms[std::size(names)] = {};
  XInternAtoms(d, names, static_cast<int>(std::size(names)), False, atoms);
  s.wmProtocols = atoms[0];
  s.wmDelete = atoms[1];
  SetTitle(d, s.window, title, atoms[2], atoms[3]);
  XChangeProperty(d, s.window, atoms[4], XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&atoms[5]), 1);
  XChangeProperty(d, s.window, atoms[6], XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&atoms[7]), 1);
  XSetWMProtocols(d, s.window, &s.wmDelete, 1);
  char className[] = "kdx-bridge";
  XClassHint classHint{className, className};
  XSetClassHint(d, s.window, &classHint);
  SetFixedSize(d, s.window, x, y, clientWidth, clientHeight);

  int revert = 0;
  XGetInputFocus(d, &s.focusBefore, &revert);
  XMapRaised(d, s.window);
  WaitForMap(s);
  // Without a window manager nobody else gives the new window the keyboard.
  XSetInputFocus(d, s.window, RevertToParent, CurrentTime);
  XSync(d, False);
  if (s.Gone()) {
    Close();
    return false;
  }
  return true;
}

void ModalWindow::Resize(int clientWidth, int clientHeight) {
  ModalWindowState& s = *state_;
  if (s.Gone() || !SizeOk(clientWidth, clientHeight)) return;
  SetFixedSize(s.display, s.window, s.x, s.y, clientWidth, clientHeight);
  XResizeWindow(s.display, s.window, static_cast<unsigned>(clientWidth), static_cast<unsigned>(clientHeight));
  s.width = clientWidth;
  s.height = clientHeight;
  XSync(s.display, False);
}

void ModalWindow::Present(const CBitmap& frame) { Show(*state_, frame.surface_.get()); }

WindowEvent ModalWindow::NextEvent() {
  auto& loop = MessageLoop::ForCurrentThread();
  for (;;) {
    // Messages queued before the X events now waiting were sent first, so they run first.
    const int loopFd = loop.WaitFd();
    if (loopFd < 0 || Readable(loopFd)) loop.RunPending();
    ModalWindowState& s = *state_;  // a handler may have closed the window
    if (s.Gone()) return WindowEvent{};
    while (XPending(s.display) > 0) {
      XEvent event;
      XNextEvent(s.display, &event);
      if (auto out = Translate(s, event)) return *out;
    }
    if (s.Gone()) return WindowEvent{};
    pollfd fds[2] = {{ConnectionNumber(s.display), POLLIN, 0}, {loopFd, POLLIN, 0}};
    // Without the loop's descriptor, look at the queue every 50 ms instead.
    if (poll(fds, loopFd >= 0 ? 2 : 1, loopFd >= 0 ? -1 : 50) < 0 && errno != EINTR) return WindowEvent{};
    if ((fds[0].revents & POLLNVAL) != 0) return WindowEvent{};
  }
}

void ModalWindow::Close() {
  ModalWindowState& s = *state_;
  if (s.display != nullptr) {
    if (!s.Gone()) {
      Window focus = None;
      int revert = 0;
      XGetInputFocus(s.display, &focus, &revert);
      if (focus == s.window) XSetInputFocus(s.display, s.focusBefore, RevertToParent, CurrentTime);
      XDestroyWindow(s.display, s.window);
    }
    // Errors still on their way belong to this connection: take them while it is filtered.
    if (!s.broken) XSync(s.display, True);
    Release(s.display);
    XCloseDisplay(s.display);
  }
  s = ModalWindowState{};
}

unsigned long ModalWindow::NativeId() const { return state_->window; }

}  // namespace kdx
