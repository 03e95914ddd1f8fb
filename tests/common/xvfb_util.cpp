#include "common/xvfb_util.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <thread>

namespace kdx::test {
namespace {

bool DisplayAnswers() {
  Display* d = XOpenDisplay(nullptr);
  if (d != nullptr) XCloseDisplay(d);
  return d != nullptr;
}

std::string FindOnPath(const std::string& program) {
  std::istringstream path(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin");
  for (std::string dir; std::getline(path, dir, ':');) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

struct Server {
  Server() { Start(); }
  ~Server() {
    if (pid > 0 && kill(pid, SIGTERM) == 0) waitpid(pid, nullptr, 0);
  }
  void Start();
  pid_t pid = -1;
  std::string error;
};

// Xvfb writes its display number to -displayfd once it accepts clients; -noreset keeps it from
// restarting (and refusing clients meanwhile) each time the last client leaves.
void Server::Start() {
  const std::string xvfb = FindOnPath("Xvfb");
  if (xvfb.empty()) {
    if (!DisplayAnswers()) error = "Xvfb is not on PATH and $DISPLAY does not answer";
    return;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return void(error = "pipe failed");
  const std::string fd = std::to_string(fds[1]);
  const char* argv[] = {xvfb.c_str(), "-displayfd", fd.c_str(), "-screen",   "0",
                        "1024x768x24", "-nolisten",  "tcp",      "-noreset", nullptr};
  pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);  // no server outlives a crashed test
    fcntl(fds[1], F_SETFD, 0);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execv(argv[0], const_cast<char* const*>(argv));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (pid > 0 && number.find('\n') == std::string::npos) {
    using std::chrono::milliseconds;
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fds[0], POLLIN, 0};
    char buffer[16];
    ssize_t n = 0;
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0 ||
        (n = read(fds[0], buffer, sizeof buffer)) <= 0) {
      break;
    }
    number.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  if (pid < 0 || number.find('\n') == std::string::npos) {
    error = "Xvfb did not start";
    return;
  }
  setenv("DISPLAY", (":" + number.substr(0, number.find('\n'))).c_str(), 1);
  if (!DisplayAnswers()) error = "Xvfb started but does not answer";
}

thread_local int tHelpers = 0;  // helper connections open on this thread

// A protocol error of a helper is a test's own doing; any other one got past
// the window's own filter, which must not happen.
int OnError(Display*, XErrorEvent* error) {
  if (tHelpers == 0) ADD_FAILURE() << "X error " << int(error->error_code) << " reached the default handler";
  return 0;
}

// One connection per call: helpers run on the test's input thread as well as its main one.
struct Connection {
  Connection() : d(XOpenDisplay(nullptr)) { ++tHelpers; }
  ~Connection() {
    if (d != nullptr) XCloseDisplay(d);
    --tHelpers;
  }
  Display* d;
};

// A text property (Latin-1 or UTF-8) as is, an atom list as names separated by spaces.
std::string ReadProperty(Display* d, Window w, Atom property) {
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::string text;
  if (XGetWindowProperty(d, w, property, 0, 1024, False, AnyPropertyType, &type, &format, &count, &after, &data) !=
          Success ||
      data == nullptr) {
    return text;
  }
  if (format == 8 && (type == XA_STRING || type == XInternAtom(d, "UTF8_STRING", False))) {
    text.assign(reinterpret_cast<char*>(data), count);
  }
  for (unsigned long i = 0; format == 32 && type == XA_ATOM && i < count; ++i) {
    char* name = XGetAtomName(d, reinterpret_cast<Atom*>(data)[i]);
    text += (i == 0 ? "" : " ") + std::string(name != nullptr ? name : "?");
    if (name != nullptr) XFree(name);
  }
  XFree(data);
  return text;
}

}  // namespace

std::string EnsureXServer() {
  static const Server server = [] {
    XSetErrorHandler(OnError);
    return Server();
  }();
  return server.error;
}

unsigned long FindWindowByTitle(const std::string& utf8Title, std::chrono::milliseconds timeout) {
  Connection c;
  if (c.d == nullptr) return 0;
  const Atom netWmName = XInternAtom(c.d, "_NET_WM_NAME", False);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    // Grabbed, so no window goes away between listing it and reading its name.
    XGrabServer(c.d);
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    XQueryTree(c.d, DefaultRootWindow(c.d), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count && found == 0; ++i) {
      if (ReadProperty(c.d, children[i], netWmName) == utf8Title ||
          ReadProperty(c.d, children[i], XA_WM_NAME) == utf8Title) {
        found = children[i];
      }
    }
    if (children != nullptr) XFree(children);
    XUngrabServer(c.d);
    XSync(c.d, False);
    if (found != 0) return found;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < deadline);
  return 0;
}

std::string Property(unsigned long window, const char* name) {
  Connection c;
  return ReadProperty(c.d, window, XInternAtom(c.d, name, False));
}

std::string SizeLimits(unsigned long window) {
  Connection c;
  XSizeHints hints{};
  long supplied = 0;
  if (XGetWMNormalHints(c.d, window, &hints, &supplied) == 0) return {};
  std::ostringstream out;
  if (hints.flags & PMinSize) out << "min " << hints.min_width << "x" << hints.min_height;
  if (hints.flags & PMaxSize) out << " max " << hints.max_width << "x" << hints.max_height;
  return out.str();
}

WindowBox Geometry(unsigned long window) {
  Connection c;
  XWindowAttributes a{};
  Window child;
  WindowBox box;
  XGetWindowAttributes(c.d, window, &a);
  XTranslateCoordinates(c.d, window, DefaultRootWindow(c.d), 0, 0, &box.x, &box.y, &child);
  box.width = a.width;
  box.height = a.height;
  return box;
}

int ScreenWidth() { return DisplayWidth(Connection().d, 0); }
int ScreenHeight() { return DisplayHeight(Connection().d, 0); }

void SendKey(unsigned long keysym, bool shift) {
  Connection c;
  const KeyCode shiftKey = XKeysymToKeycode(c.d, XK_Shift_L), key = XKeysymToKeycode(c.d, keysym);
  if (shift) XTestFakeKeyEvent(c.d, shiftKey, True, 0);
  XTestFakeKeyEvent(c.d, key, True, 0);
  XTestFakeKeyEvent(c.d, key, False, 0);
  if (shift) XTestFakeKeyEvent(c.d, shiftKey, False, 0);
  XSync(c.d, False);
}

void ClickAt(int rootX, int rootY, unsigned button) {
  Connection c;
  XTestFakeMotionEvent(c.d, -1, rootX, rootY, 0);
  XTestFakeButtonEvent(c.d, button, True, 0);
  XTestFakeButtonEvent(c.d, button, False, 0);
  XSync(c.d, False);
}

void SendDeleteWindow(unsigned long window) {
  Connection c;
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = window;
  e.xclient.message_type = XInternAtom(c.d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(c.d, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(c.d, window, False, NoEventMask, &e);
  XSync(c.d, False);
}

void DestroyWindow(unsigned long window) {
  Connection c;
  XDestroyWindow(c.d, window);
  XSync(c.d, False);
}

void KillClient(unsigned long window) {
  Connection c;
  XKillClient(c.d, window);
  XSync(c.d, False);
}

Screenshot Capture(unsigned long window) {
  Connection c;
  Screenshot shot;
  const WindowBox box = Geometry(window);
  XImage* image = XGetImage(c.d, window, 0, 0, static_cast<unsigned>(box.width), static_cast<unsigned>(box.height),
                            AllPlanes, ZPixmap);
  if (image == nullptr) return shot;
  auto channel = [](unsigned long pixel, unsigned long mask) {
    return static_cast<BYTE>((pixel & mask) >> __builtin_ctzl(mask));
  };
  shot.width = box.width;
  shot.height = box.height;
  for (int y = 0; y < box.height; ++y) {
    for (int x = 0; x < box.width; ++x) {
      const unsigned long p = XGetPixel(image, x, y);
      shot.pixels.push_back(
          RGB(channel(p, image->red_mask), channel(p, image->green_mask), channel(p, image->blue_mask)));
    }
  }
  XDestroyImage(image);
  return shot;
}

}  // namespace kdx::test
