// The message loop's platform side on Windows.
#include "platform/win32/win32.h"

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
  static const DWORD slot = FlsAlloc(DeleteLoop);
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

// Windows has no descriptor a host could poll for the loop: WaitFd() is -1 there, and hosts
// pump the loop on their own schedule (kdx-host and the dialogs poll every 50 ms).
int OpenWaitFd() { return -1; }
void CloseWaitFd(int) {}
bool SetWaitFd(int, bool) { return false; }

}  // namespace detail
}  // namespace kdx
