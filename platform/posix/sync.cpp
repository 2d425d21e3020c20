// Critical sections, interlocked arithmetic, thread-local slots and the
// identities of the process and its threads.
#include <new>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "internal.h"

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::opaque), "mutex fits a critical section");

namespace {
pthread_mutex_t* Mutex(LPCRITICAL_SECTION cs) { return reinterpret_cast<pthread_mutex_t*>(cs->opaque); }

// The kernel's id of the thread, asked once per thread: it is read on every
// print of the dump output, where a system call would cost more than the rest.
// The thread of a forked child is another one, so the child asks again.
__attribute__((tls_model("initial-exec"))) thread_local DWORD t_threadId = 0;
const int g_forgetIdInChild = pthread_atfork(nullptr, nullptr, [] { t_threadId = 0; });
}  // namespace

extern "C" {

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(new (cs->opaque) pthread_mutex_t, &attr);
  pthread_mutexattr_destroy(&attr);
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_destroy(Mutex(cs)); }
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_lock(Mutex(cs)); }
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION cs) { return pthread_mutex_trylock(Mutex(cs)) == 0; }
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_unlock(Mutex(cs)); }

LONG WINAPI InterlockedIncrement(LONG volatile* value) { return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST); }
LONG WINAPI InterlockedDecrement(LONG volatile* value) { return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST); }
LONG WINAPI InterlockedExchange(LONG volatile* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
LONG WINAPI InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}

DWORD WINAPI TlsAlloc(void) {
  pthread_key_t key;
  if (pthread_key_create(&key, nullptr) != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return TLS_OUT_OF_INDEXES;
  }
  return static_cast<DWORD>(key);
}
BOOL WINAPI TlsFree(DWORD index) { return pthread_key_delete(static_cast<pthread_key_t>(index)) == 0; }
LPVOID WINAPI TlsGetValue(DWORD index) {
  SetLastError(ERROR_SUCCESS);
  return pthread_getspecific(static_cast<pthread_key_t>(index));
}
BOOL WINAPI TlsSetValue(DWORD index, LPVOID value) {
  return pthread_setspecific(static_cast<pthread_key_t>(index), value) == 0;
}

DWORD WINAPI GetCurrentThreadId(void) {
  DWORD& id = t_threadId;
  if (!id) id = static_cast<DWORD>(syscall(SYS_gettid));
  return id;
}
DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

}  // extern "C"
