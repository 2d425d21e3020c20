// The access-fault guard natively: a SIGSEGV/SIGBUS handler that jumps back to
// the guarded call's frame with siglongjmp. Faults outside a guard go on to the
// handler that was there before (the default action, or a sanitizer's).
#include "../win32.h"

#include <csetjmp>
#include <mutex>
#include <signal.h>

namespace plat {
namespace {

__attribute__((tls_model("initial-exec"))) thread_local sigjmp_buf* t_target = nullptr;
struct sigaction g_oldSegv;
struct sigaction g_oldBus;
std::once_flag g_once;

void OnFault(int sig, siginfo_t* info, void* context) {
  if (sigjmp_buf* target = t_target) siglongjmp(*target, 1);
  const struct sigaction& old = sig == SIGSEGV ? g_oldSegv : g_oldBus;
  if ((old.sa_flags & SA_SIGINFO) && old.sa_sigaction) {
    old.sa_sigaction(sig, info, context);
  } else if (old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN) {
    old.sa_handler(sig);
  } else {
    signal(sig, SIG_DFL);  // the fault happens again on return and ends the process
  }
}

void Install() {
  struct sigaction sa = {};
  sa.sa_sigaction = OnFault;
  sa.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGSEGV, &sa, &g_oldSegv);
  sigaction(SIGBUS, &sa, &g_oldBus);
}

}  // namespace

bool GuardedRun(void (*body)(void*), void* context) {
  std::call_once(g_once, Install);
  sigjmp_buf* outer = t_target;
  sigjmp_buf target;
  // The handler runs with SA_NODEFER, so the signal mask at the jump is the one
  // of the faulting code, which is ours: no need to save and restore it (a
  // system call on every guarded call).
  if (sigsetjmp(target, 0)) {
    t_target = outer;
    return false;
  }
  t_target = &target;
  try {
    body(context);
  } catch (...) {
    t_target = outer;
    throw;
  }
  t_target = outer;
  return true;
}

}  // namespace plat
