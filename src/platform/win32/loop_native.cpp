// The message loop's platform side on Windows.
#include "platform/win32/win32.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/message_queue.h"
#include "platform/message_window.h"

namespace kdx {
namespace {

void WINAPI DeleteLoop(void* loop) { delete static_cast<MessageLoop*>(loop); }

}  // namespace

// Each thread's loop lives in a fiber-local slot, not in a thread_local: MinGW frees its
// emulated thread-local storage before it runs thread_local destructors, so a loop destroyed
// that way at thread exit would work on freed memory. The slot's callback ends it instead.
MessageLoop& MessageLoop::ForCurrentThread() {
  static const DWORD slot = (win32::PinThisModule(), FlsAlloc(DeleteLoop));
  if (slot == FLS_OUT_OF_INDEXES) {
    thread_local MessageLoop* unfreed = new MessageLoop;  // a plain pointer: nothing runs at exit
    return *unfreed;
  }
  auto* loop = static_cast<MessageLoop*>(FlsGetValue(slot));
  if (!loop) {
    loop = new MessageLoop;
    FlsSetValue(slot, loop);
  }
  return *loop;
}

namespace detail {

// Each loop has a message-only window and a manual-reset event. The messages themselves stay
// in the portable queue: the Windows queue holds at most 10000 posts, SendMessageW cannot
// tell "not delivered" from a handler's 0, and a sender blocked on a window destroyed
// meanwhile would wait for the owner's next pump. The event wakes our own RunUntil; one
// posted wake-up message at a time lets a host's GetMessage/DispatchMessage loop run the
// queue too, with no polling.
struct NativeLoop {
  HWND hwnd = nullptr;
  HANDLE event = nullptr;
  bool signalled = false;
  bool wakePosted = false;  // a kWakeMessage is in the Windows queue
};

namespace {

constexpr UINT kWakeMessage = 0x8000 + 0x4B44;  // in the WM_APP range
constexpr wchar_t kClassName[] = L"KdxMessageWindow";

// Windows' own types: on 32-bit Windows they differ from ours.
::LRESULT CALLBACK WindowProc(HWND hwnd, ::UINT msg, ::WPARAM wParam, ::LPARAM lParam) {
  if (msg != kWakeMessage) return DefWindowProcW(hwnd, msg, wParam, lParam);
  auto* loop = reinterpret_cast<LoopState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (loop == nullptr || !loop->OnOwnerThread()) return 0;
  {
    std::lock_guard lock(loop->mu);
    if (loop->native) loop->native->wakePosted = false;
  }
  MessageLoop::ForCurrentThread().RunPending();
  return 0;
}

bool RegisterWindowClass() {
  static const bool registered = win32::RegisterWindowClass(kClassName, WindowProc);
  return registered;
}

}  // namespace

void NativeLoopDeleter::operator()(NativeLoop* native) const {
  if (native->event != nullptr) CloseHandle(native->event);
  delete native;
}

NativeLoop* OpenNativeLoop(LoopState& loop) {
  auto native = std::make_unique<NativeLoop>();
  native->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // Without the window the loop still runs, only a host's own message loop cannot drive it.
  if (RegisterWindowClass()) {
    native->hwnd = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   win32::ThisModule(), nullptr);
    if (native->hwnd != nullptr)
      SetWindowLongPtrW(native->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&loop));
  }
  return native.release();
}

void EndNativeLoop(LoopState& loop) {
  HWND hwnd = nullptr;
  {
    std::lock_guard lock(loop.mu);
    if (loop.native) std::swap(hwnd, loop.native->hwnd);
  }
  if (hwnd != nullptr) DestroyWindow(hwnd);
}

void SignalNativeLoop(NativeLoop& native, bool signalled) {
  if (native.event != nullptr && signalled != native.signalled) {
    if (signalled ? SetEvent(native.event) : ResetEvent(native.event)) native.signalled = signalled;
  }
  if (signalled && !native.wakePosted && native.hwnd != nullptr)
    native.wakePosted = PostMessageW(native.hwnd, kWakeMessage, 0, 0) != 0;
}

bool WaitForWork(LoopState& loop, std::chrono::steady_clock::time_point deadline) {
  using namespace std::chrono;
  for (;;) {
    HANDLE event = nullptr;
    HWND hwnd = nullptr;
    {
      std::lock_guard lock(loop.mu);
      if (loop.HasWorkLocked()) return true;
      if (loop.native) {
        event = loop.native->event;
        hwnd = loop.native->hwnd;
      }
    }
    const auto now = steady_clock::now();
    if (now >= deadline) return false;
    // Rounded up, so the wait never ends just short of the deadline and spins.
    const auto left = ceil<milliseconds>(deadline - now).count();
    const DWORD ms = static_cast<DWORD>(std::min<long long>(left, INFINITE - 1));
    const DWORD r = MsgWaitForMultipleObjectsEx(event != nullptr ? 1 : 0, &event, ms, QS_ALLINPUT,
                                                MWMO_INPUTAVAILABLE);
    if (r == WAIT_FAILED) {
      // Not expected; a short sleep keeps a broken handle from turning this into a spin.
      Sleep(std::min<DWORD>(ms, 10));
      continue;
    }
    if (r != WAIT_OBJECT_0 + (event != nullptr ? 1 : 0)) continue;
    // Windows messages for this thread: other windows' (a dialog, COM) are dispatched; our
    // wake-up is only taken, the caller runs the queue so it can stop after any message.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // Leave the quit for the outer loop, and end this pump.
        PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
      }
      if (msg.hwnd != nullptr && msg.hwnd == hwnd && msg.message == kWakeMessage) {
        std::lock_guard lock(loop.mu);
        if (loop.native) loop.native->wakePosted = false;
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

// Windows has no descriptor a host could poll for the loop: WaitFd() is -1 there, and hosts
// pump the loop on their own schedule (kdx-host and the dialogs poll every 50 ms).
int OpenWaitFd() { return -1; }
void CloseWaitFd(int) {}
bool SetWaitFd(int, bool) { return false; }

}  // namespace detail
}  // namespace kdx
