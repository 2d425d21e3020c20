// Debug output: printing filtered by category and level, assertion and
// exception reports, and the capture hook for tests.
#include <mutex>

#include "zelku.h"

namespace {

std::mutex g_mutex;
// Categories with their own maximum level; few set one (a plain array: no
// template code of the standard library in the export table).
struct CategoryLevel {
  int category, maxLevel;
};
CategoryLevel g_levels[64];
size_t g_levelCount;
ZelkuCaptureProc g_capture;
void* g_captureContext;

bool Enabled(int category, int level) {
  std::lock_guard<std::mutex> lock(g_mutex);
  int maxLevel = ZELKU_DEFAULT_LEVEL;
  for (size_t i = 0; i < g_levelCount; ++i)
    if (g_levels[i].category == category) maxLevel = g_levels[i].maxLevel;
  return maxLevel != ZELKU_MUTE && level <= maxLevel;
}

void Emit(DWORD kind, int category, int level, const WCHAR* text) {
  OutputDebugStringW(text);
  ZelkuCaptureProc proc;
  void* context;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    proc = g_capture;
    context = g_captureContext;
  }
  if (proc) proc(kind, category, level, text, context);
}

// Reports that are never held back (level 0).
void EmitFormatted(DWORD kind, int category, const WCHAR* format, ...) {
  va_list args;
  va_start(args, format);
  const plat::FormattedW text(format, args);
  va_end(args);
  Emit(kind, category, 0, text.c_str());
}

const char* Narrow(void* text) { return text ? static_cast<const char*>(text) : "(null)"; }

bool OnLoad() { return true; }
void OnUnload() {}

}  // namespace

PLATFORM_LIBRARY_MAIN(OnLoad, OnUnload)

namespace zelk {

void dbgPrintf(int category, int level, const WCHAR* format, ...) {
  if (!format || !Enabled(category, level)) return;
  va_list args;
  va_start(args, format);
  const plat::FormattedW text(format, args);
  va_end(args);
  Emit(ZELKU_PRINT, category, level, text.c_str());
}

void dbgAssert(void* expression, void* file, unsigned int line, int category) {
  EmitFormatted(ZELKU_ASSERT, category, TEXT("Assertion failed: %hs, file %hs, line %u\n"), Narrow(expression),
                Narrow(file), line);
}

void dbgEx(const WCHAR* where, _EXCEPTION_POINTERS* info, int category) {
  if (!where) where = TEXT("(unknown)");
#ifdef _WIN32
  if (info && info->ExceptionRecord) {
    EmitFormatted(ZELKU_EXCEPTION, category, TEXT("Exception 0x%08X at %p caught in %s\n"),
                  unsigned(info->ExceptionRecord->ExceptionCode), info->ExceptionRecord->ExceptionAddress, where);
    return;
  }
#else
  (void)info;
#endif
  EmitFormatted(ZELKU_EXCEPTION, category, TEXT("Exception caught in %s\n"), where);
}

}  // namespace zelk

ZELKU_API void WINAPI ZelkuSetCapture(ZelkuCaptureProc proc, void* context) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_capture = proc;
  g_captureContext = context;
}

ZELKU_API void WINAPI ZelkuSetLevel(int category, int maxLevel) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (size_t i = 0; i < g_levelCount; ++i)
    if (g_levels[i].category == category) {
      g_levels[i].maxLevel = maxLevel;
      return;
    }
  if (g_levelCount < sizeof g_levels / sizeof g_levels[0]) g_levels[g_levelCount++] = {category, maxLevel};
}

ZELKU_API void WINAPI ZelkuResetLevels(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_levelCount = 0;
}
