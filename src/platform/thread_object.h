// One object per thread, made on the thread's first use and destroyed when the thread ends:
// what a thread_local with a destructor is for. MinGW frees its emulated thread-local storage
// before it runs thread_local destructors, so on Windows the object lives in a fiber-local
// slot instead, whose callback destroys it.
#pragma once

namespace kdx {

#ifdef _WIN32
namespace detail {
inline constexpr unsigned long kNoThreadSlot = ~0UL;
// A fiber-local slot; kNoThreadSlot when Windows has none left.
unsigned long AllocThreadSlot();
void* GetThreadSlot(unsigned long slot);
// Stores object in the slot with the function that destroys it at thread exit; false (and
// nothing stored) when that failed.
bool SetThreadSlot(unsigned long slot, void* object, void (*destroy)(void*));
}  // namespace detail
#endif

// The calling thread's object, made from make() (which returns a T, or something T is made
// from). Each distinct make (each lambda) names a distinct object.
template <class T, class Make>
T& ThreadObject(Make make) {
#ifdef _WIN32
  static const unsigned long slot = detail::AllocThreadSlot();
  if (slot != detail::kNoThreadSlot) {
    if (void* found = detail::GetThreadSlot(slot)) return *static_cast<T*>(found);
    auto* object = new T(make());
    if (detail::SetThreadSlot(slot, object, [](void* p) { delete static_cast<T*>(p); })) return *object;
    delete object;
  }
  // No slot to be had: a plain pointer, never destroyed, rather than a crash at thread exit.
  thread_local T* unslotted = new T(make());
  return *unslotted;
#else
  thread_local T object(make());
  return object;
#endif
}

}  // namespace kdx
