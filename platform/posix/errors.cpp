// The last error, one per thread as on Windows.
#include "kernel.h"

namespace {
thread_local DWORD t_lastError = 0;
}

extern "C" DWORD WINAPI GetLastError(void) { return t_lastError; }
extern "C" void WINAPI SetLastError(DWORD code) { t_lastError = code; }
