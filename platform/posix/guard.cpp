// Faults natively: the access-fault guard and the unhandled-exception filter
// share one signal handler. A fault inside a guarded call jumps back to it with
// siglongjmp; any other fault goes to the filter, as Windows hands an unhandled
// exception to its top-level filter, with the exception record and the
// registers of the fault; what the filter does not handle goes on to the
// handler that was there before (the default action, or a sanitizer's).
#include <signal.h>
#include <ucontext.h>

#include <atomic>
#include <csetjmp>
#include <cstring>
#include <mutex>

#include "../win32.h"

namespace plat {
namespace {

__attribute__((tls_model("initial-exec"))) thread_local sigjmp_buf* t_target = nullptr;
// Set while the filter runs on this thread: a fault inside the filter itself ends the process.
__attribute__((tls_model("initial-exec"))) thread_local bool t_inFilter = false;

std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> g_filter{nullptr};

const int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
struct sigaction g_old[4];
std::once_flag g_guardOnce, g_filterOnce;

int SlotOf(int sig) {
  for (int i = 0; i < 4; ++i)
    if (kSignals[i] == sig) return i;
  return 0;
}

// The exception code and parameters Windows reports for such a fault.
void Describe(int sig, const siginfo_t* info, const ucontext_t* uc, EXCEPTION_RECORD& r) {
  // Faults of memory say how (from the page-fault error code: bit 1 a write,
  // bit 4 an instruction fetch) and where.
  auto MemoryFault = [&](DWORD code) {
    const ULONG_PTR err = static_cast<ULONG_PTR>(uc->uc_mcontext.gregs[REG_ERR]);
    r.ExceptionCode = code;
    r.NumberParameters = 2;
    r.ExceptionInformation[0] = (err & 16) ? 8 : (err & 2) ? 1 : 0;
    r.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(info->si_addr);
  };
  switch (sig) {
    case SIGSEGV:
      MemoryFault(EXCEPTION_ACCESS_VIOLATION);
      break;
    case SIGBUS:
      if (info->si_code == BUS_ADRALN)
        r.ExceptionCode = EXCEPTION_DATATYPE_MISALIGNMENT;
      else
        MemoryFault(EXCEPTION_IN_PAGE_ERROR);
      break;
    case SIGILL:
      r.ExceptionCode = info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG ? EXCEPTION_PRIV_INSTRUCTION
                                                                                   : EXCEPTION_ILLEGAL_INSTRUCTION;
      break;
    default:  // SIGFPE
      switch (info->si_code) {
        case FPE_INTDIV:
          r.ExceptionCode = EXCEPTION_INT_DIVIDE_BY_ZERO;
          break;
        case FPE_INTOVF:
          r.ExceptionCode = EXCEPTION_INT_OVERFLOW;
          break;
        case FPE_FLTDIV:
          r.ExceptionCode = EXCEPTION_FLT_DIVIDE_BY_ZERO;
          break;
        case FPE_FLTOVF:
          r.ExceptionCode = EXCEPTION_FLT_OVERFLOW;
          break;
        case FPE_FLTUND:
          r.ExceptionCode = EXCEPTION_FLT_UNDERFLOW;
          break;
        case FPE_FLTRES:
          r.ExceptionCode = EXCEPTION_FLT_INEXACT_RESULT;
          break;
        default:
          r.ExceptionCode = EXCEPTION_FLT_INVALID_OPERATION;
          break;
      }
      break;
  }
}

// The registers of the signal's context in Windows form, and back.
const struct {
  DWORD64 CONTEXT::*field;
  int reg;
} kRegisters[] = {
    {&CONTEXT::Rax, REG_RAX}, {&CONTEXT::Rcx, REG_RCX}, {&CONTEXT::Rdx, REG_RDX}, {&CONTEXT::Rbx, REG_RBX},
    {&CONTEXT::Rsp, REG_RSP}, {&CONTEXT::Rbp, REG_RBP}, {&CONTEXT::Rsi, REG_RSI}, {&CONTEXT::Rdi, REG_RDI},
    {&CONTEXT::R8, REG_R8},   {&CONTEXT::R9, REG_R9},   {&CONTEXT::R10, REG_R10}, {&CONTEXT::R11, REG_R11},
    {&CONTEXT::R12, REG_R12}, {&CONTEXT::R13, REG_R13}, {&CONTEXT::R14, REG_R14}, {&CONTEXT::R15, REG_R15},
    {&CONTEXT::Rip, REG_RIP},
};

void ToContext(const ucontext_t* uc, CONTEXT& c) {
  c.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
  for (const auto& r : kRegisters) c.*r.field = static_cast<DWORD64>(uc->uc_mcontext.gregs[r.reg]);
  c.EFlags = static_cast<DWORD>(uc->uc_mcontext.gregs[REG_EFL]);
}

void FromContext(const CONTEXT& c, ucontext_t* uc) {
  for (const auto& r : kRegisters) uc->uc_mcontext.gregs[r.reg] = static_cast<greg_t>(c.*r.field);
  uc->uc_mcontext.gregs[REG_EFL] = static_cast<greg_t>(c.EFlags);
}

// The filter's verdict; true when execution resumes (with the context it left).
bool RunFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter, int sig, siginfo_t* info, ucontext_t* uc) {
  EXCEPTION_RECORD record;
  CONTEXT context;
  std::memset(&record, 0, sizeof record);
  std::memset(&context, 0, sizeof context);
  Describe(sig, info, uc, record);
  ToContext(uc, context);
  record.ExceptionAddress = reinterpret_cast<PVOID>(context.Rip);
  EXCEPTION_POINTERS pointers = {&record, &context};
  t_inFilter = true;
  LONG verdict = filter(&pointers);
  t_inFilter = false;
  if (verdict == EXCEPTION_CONTINUE_EXECUTION) {
    FromContext(context, uc);
    return true;
  }
  if (verdict == EXCEPTION_EXECUTE_HANDLER) {
    // Handled by ending the process, as Windows does after its top-level
    // filter: the fault happens again on return, now with the default action.
    signal(sig, SIG_DFL);
    return true;
  }
  return false;
}

void OnFault(int sig, siginfo_t* info, void* context) {
  if (sigjmp_buf* target = t_target) siglongjmp(*target, 1);
  LPTOP_LEVEL_EXCEPTION_FILTER filter = g_filter.load();
  if (filter && !t_inFilter && RunFilter(filter, sig, info, static_cast<ucontext_t*>(context))) return;
  const struct sigaction& old = g_old[SlotOf(sig)];
  if ((old.sa_flags & SA_SIGINFO) && old.sa_sigaction) {
    old.sa_sigaction(sig, info, context);
  } else if (old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN) {
    old.sa_handler(sig);
  } else {
    signal(sig, SIG_DFL);  // the fault happens again on return and ends the process
  }
}

void Install(int first, int count) {
  struct sigaction sa = {};
  sa.sa_sigaction = OnFault;
  sa.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&sa.sa_mask);
  for (int i = first; i < first + count; ++i) sigaction(kSignals[i], &sa, &g_old[i]);
}

}  // namespace

bool GuardedRun(void (*body)(void*), void* context) {
  std::call_once(g_guardOnce, Install, 0, 2);  // SIGSEGV, SIGBUS
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

extern "C" LPTOP_LEVEL_EXCEPTION_FILTER WINAPI SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
  std::call_once(plat::g_guardOnce, plat::Install, 0, 2);
  std::call_once(plat::g_filterOnce, plat::Install, 2, 2);  // SIGILL, SIGFPE
  return plat::g_filter.exchange(filter);
}
