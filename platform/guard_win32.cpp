// The access-fault guard on Windows: a vectored exception handler that jumps
// back to the guarded call's frame. The jump target lives in a native TLS slot
// (TlsAlloc), which the handler sees on every thread.
#include "win32.h"

#include <csetjmp>

namespace plat {
namespace {

DWORD g_slot = TLS_OUT_OF_INDEXES;
PVOID g_handler = nullptr;
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;

LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
  DWORD code = info->ExceptionRecord->ExceptionCode;
  // Under a CPU emulator that does not report the trap number, Wine raises an
  // access fault as an illegal instruction; a guarded call fails on either.
  if (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_IN_PAGE_ERROR &&
      code != EXCEPTION_DATATYPE_MISALIGNMENT && code != EXCEPTION_GUARD_PAGE &&
      code != EXCEPTION_ILLEGAL_INSTRUCTION && code != EXCEPTION_PRIV_INSTRUCTION)
    return EXCEPTION_CONTINUE_SEARCH;
  jmp_buf* target = static_cast<jmp_buf*>(TlsGetValue(g_slot));
  if (!target) return EXCEPTION_CONTINUE_SEARCH;
  longjmp(*target, 1);
}

BOOL CALLBACK Install(PINIT_ONCE, PVOID, PVOID*) {
  g_slot = TlsAlloc();
  if (g_slot == TLS_OUT_OF_INDEXES) return FALSE;
  g_handler = AddVectoredExceptionHandler(1, OnException);
  return g_handler != nullptr;
}

// The handler lives in this module's code: take it out when the module goes.
struct Uninstall {
  ~Uninstall() {
    if (g_handler) RemoveVectoredExceptionHandler(g_handler);
    if (g_slot != TLS_OUT_OF_INDEXES) TlsFree(g_slot);
  }
} g_uninstall;

}  // namespace

bool GuardedRun(void (*body)(void*), void* context) {
  if (!InitOnceExecuteOnce(&g_once, Install, nullptr, nullptr)) {
    body(context);  // no guard to be had: run unguarded rather than not at all
    return true;
  }
  void* outer = TlsGetValue(g_slot);
  jmp_buf target;
  if (setjmp(target)) {
    TlsSetValue(g_slot, outer);
    return false;
  }
  TlsSetValue(g_slot, &target);
  try {
    body(context);
  } catch (...) {
    TlsSetValue(g_slot, outer);
    throw;
  }
  TlsSetValue(g_slot, outer);
  return true;
}

}  // namespace plat
