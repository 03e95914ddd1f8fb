// Per-thread objects on Windows: fiber-local slots, each value a holder that knows how to
// destroy its object.
#include "platform/win32/win32.h"

#include <new>

#include "platform/thread_object.h"

namespace kdx::detail {
namespace {

struct Holder {
  void* object;
  void (*destroy)(void*);
};

void WINAPI DestroyHolder(void* value) {
  auto* holder = static_cast<Holder*>(value);
  holder->destroy(holder->object);
  delete holder;
}

}  // namespace

unsigned long AllocThreadSlot() {
  win32::PinThisModule();
  const DWORD slot = FlsAlloc(DestroyHolder);
  return slot == FLS_OUT_OF_INDEXES ? kNoThreadSlot : slot;
}

void* GetThreadSlot(unsigned long slot) {
  const auto* holder = static_cast<Holder*>(FlsGetValue(slot));
  return holder != nullptr ? holder->object : nullptr;
}

bool SetThreadSlot(unsigned long slot, void* object, void (*destroy)(void*)) {
  auto* holder = new (std::nothrow) Holder{object, destroy};
  if (holder == nullptr) return false;
  if (FlsSetValue(slot, holder)) return true;
  delete holder;
  return false;
}

}  // namespace kdx::detail
