// The access-fault guard: runs a piece of code and turns an access fault inside
// it (an unreadable or unwritable pointer) into a result instead of the end of
// the process. Structured handling on Windows (a vectored handler and a jump),
// a signal handler with siglongjmp natively. Code run under the guard must not
// own objects with destructors that matter when it is cut short.
#pragma once

#include <type_traits>

namespace plat {

// Runs body(context). True when it finished, false when an access fault cut it short.
PLAT_API bool GuardedRun(void (*body)(void*), void* context);

template <class F>
bool Guarded(F&& f) {
  using Body = std::remove_reference_t<F>;
  return GuardedRun([](void* p) { (*static_cast<Body*>(p))(); }, const_cast<void*>(static_cast<const void*>(&f)));
}

}  // namespace plat
