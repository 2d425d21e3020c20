// The debugger channel. Windows hands OutputDebugString text to an attached
// debugger; here it goes to a sink that tests can read, or to stderr for a
// developer who sets QZ_DEBUGSTR=1.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "../win32.h"
#include "hooks.h"

namespace {

std::mutex g_mutex;
void (*g_sink)(const WCHAR*, void*) = nullptr;
void* g_sinkContext = nullptr;

bool ToStderr() {
  static const bool on = [] {
    const char* v = std::getenv("QZ_DEBUGSTR");
    return v && *v && std::strcmp(v, "0") != 0;
  }();
  return on;
}

}  // namespace

namespace plat_hooks {
void SetDebugSink(void (*sink)(const WCHAR*, void*), void* context) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_sink = sink;
  g_sinkContext = context;
}
}  // namespace plat_hooks

extern "C" void WINAPI OutputDebugStringW(LPCWSTR text) {
  if (!text) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_sink) {
    g_sink(text, g_sinkContext);
  } else if (ToStderr()) {
    std::string u = plat::Utf8(text);
    std::fwrite(u.data(), 1, u.size(), stderr);
  }
}

extern "C" void WINAPI OutputDebugStringA(LPCSTR text) {
  if (!text) return;
  // Narrow debug text is in the ANSI code page.
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (n <= 0) return;
  plat::wstring w(n, 0);
  MultiByteToWideChar(CP_ACP, 0, text, -1, &w[0], n);
  OutputDebugStringW(w.c_str());
}
