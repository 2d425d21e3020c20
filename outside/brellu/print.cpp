// The filtered debug print: per-user maximum levels, the debug output, and a
// capture hook for tests.
#include <cstring>
#include <new>

#include "brellu.h"

namespace {

// Users with their own maximum level, in a plain array: few users set one,
// and no standard container leaks template code into the export table.
struct UserLevel {
  DWORD user, maxLevel;
};

CRITICAL_SECTION g_lock;
UserLevel* g_levels;
size_t g_levelCount, g_levelCap;
DWORD g_defaultLevel = BRELLU_DEFAULT_LEVEL;
BrelluCaptureProc g_capture;
void* g_captureContext;

struct Lock {
  Lock() { EnterCriticalSection(&g_lock); }
  ~Lock() { LeaveCriticalSection(&g_lock); }
};

bool Passes(DWORD level, DWORD maxLevel) { return maxLevel != BRELLU_MUTE && level <= maxLevel; }

bool Enabled(DWORD user, DWORD level) {
  Lock lock;
  DWORD maxLevel = g_defaultLevel;
  for (size_t i = 0; i < g_levelCount; ++i)
    if (g_levels[i].user == user) maxLevel = g_levels[i].maxLevel;
  return Passes(level, maxLevel);
}

void Emit(DWORD user, DWORD level, const WCHAR* text) {
  OutputDebugStringW(text);
  BrelluCaptureProc proc;
  void* context;
  {
    Lock lock;
    proc = g_capture;
    context = g_captureContext;
  }
  if (proc) proc(user, level, text, context);
}

bool OnLoad() {
  InitializeCriticalSection(&g_lock);
  return true;
}

void OnUnload() {
  delete[] g_levels;
  g_levels = nullptr;
  g_levelCount = g_levelCap = 0;
  DeleteCriticalSection(&g_lock);
}

}  // namespace

PLATFORM_LIBRARY_MAIN(OnLoad, OnUnload)

BRELLU_API void WINAPI wvPrintf(DWORD user, DWORD level, const WCHAR* format, va_list args) {
  if (!format || !Enabled(user, level)) return;
  // Most texts fit the stack buffer; a longer one is formatted again at its size.
  WCHAR small[512];
  va_list again;
  va_copy(again, args);
  int n = plat::VFormatW(small, 512, format, args);
  if (n >= 0 && n < 512) {
    Emit(user, level, small);
  } else if (n > 0) {
    if (WCHAR* big = new (std::nothrow) WCHAR[size_t(n) + 1]) {
      plat::VFormatW(big, size_t(n) + 1, format, again);
      Emit(user, level, big);
      delete[] big;
    } else {
      Emit(user, level, small);  // the cut text rather than nothing
    }
  }
  va_end(again);
}

BRELLU_API void wPrintf(DWORD user, DWORD level, const WCHAR* format, ...) {
  va_list args;
  va_start(args, format);
  wvPrintf(user, level, format, args);
  va_end(args);
}

BRELLU_API void WINAPI BrelluSetLevel(DWORD user, DWORD maxLevel) {
  Lock lock;
  for (size_t i = 0; i < g_levelCount; ++i)
    if (g_levels[i].user == user) {
      g_levels[i].maxLevel = maxLevel;
      return;
    }
  if (g_levelCount == g_levelCap) {
    size_t cap = g_levelCap ? g_levelCap * 2 : 16;
    UserLevel* grown = new (std::nothrow) UserLevel[cap];
    if (!grown) return;  // the user keeps the default level
    if (g_levelCount) std::memcpy(grown, g_levels, g_levelCount * sizeof(UserLevel));
    delete[] g_levels;
    g_levels = grown;
    g_levelCap = cap;
  }
  g_levels[g_levelCount++] = {user, maxLevel};
}

BRELLU_API void WINAPI BrelluSetDefaultLevel(DWORD maxLevel) {
  Lock lock;
  g_defaultLevel = maxLevel;
}

BRELLU_API void WINAPI BrelluResetLevels(void) {
  Lock lock;
  g_levelCount = 0;
  g_defaultLevel = BRELLU_DEFAULT_LEVEL;
}

BRELLU_API BOOL WINAPI BrelluIsEnabled(DWORD user, DWORD level) { return Enabled(user, level) ? TRUE : FALSE; }

BRELLU_API void WINAPI BrelluSetCapture(BrelluCaptureProc proc, void* context) {
  Lock lock;
  g_capture = proc;
  g_captureContext = context;
}
