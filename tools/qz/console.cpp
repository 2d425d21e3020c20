// qz's console: output, messages, progress and interrupts.
#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "qz.h"

namespace qz {

namespace {
std::atomic<bool> g_interrupted{false};
bool g_progressOpen = false;

BOOL WINAPI OnCtrl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  g_interrupted = true;
  return TRUE;
}
}  // namespace

void Out(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  char small[1024];
  int n = plat::VFormatA(small, sizeof small, fmt, ap);
  va_end(ap);
  if (n < static_cast<int>(sizeof small)) {
    std::fwrite(small, 1, n, stdout);
  } else {
    std::string big(n + 1, 0);
    va_start(ap, fmt);
    plat::VFormatA(&big[0], big.size(), fmt, ap);
    va_end(ap);
    std::fwrite(big.data(), 1, n, stdout);
  }
}

void OutW(const WCHAR* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = plat::Utf8(plat::VFormatWS(fmt, ap));
  va_end(ap);
  std::fwrite(text.data(), 1, text.size(), stdout);
}

int Fail(const char* command, const char* fmt, ...) {
  ProgressDone();
  std::fflush(stdout);
  va_list ap;
  va_start(ap, fmt);
  char text[2048];
  plat::VFormatA(text, sizeof text, fmt, ap);
  va_end(ap);
  std::fprintf(stderr, "qz %s: %s\n", command, text);
  return 1;
}

void Progress(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  char text[512];
  plat::VFormatA(text, sizeof text, fmt, ap);
  va_end(ap);
  std::fprintf(stderr, "\r%s\x1b[K", text);
  std::fflush(stderr);
  g_progressOpen = true;
}

void ProgressDone() {
  if (!g_progressOpen) return;
  std::fputc('\n', stderr);
  g_progressOpen = false;
}

plat::wstring FullPath(const plat::wstring& path) {
  WCHAR full[1024];
  DWORD n = GetFullPathNameW(path.c_str(), 1024, full, nullptr);
  return n && n < 1024 ? plat::wstring(full, n) : path;
}

bool Stat(const plat::wstring& path, ULONGLONG& size, DWORD& attributes) {
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info)) return false;
  size = (ULONGLONG(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  attributes = info.dwFileAttributes;
  return true;
}

const char* WhyNotOpened(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return "no such file";
    case ERROR_ACCESS_DENIED: return "cannot be read (a directory, or not allowed)";
    case ERROR_SHARING_VIOLATION: return "in use by another program";
    default: return "cannot be opened";
  }
}

bool ReadWholeFile(const plat::wstring& path, std::string& bytes, std::string& why) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    why = WhyNotOpened(GetLastError());
    return false;
  }
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(h, &size) != 0;
  if (ok && size.QuadPart > (1ll << 30)) {
    why = "too large (1 GiB or more)";
    ok = false;
  } else if (ok) {
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    ok = bytes.empty() ||
         (ReadFile(h, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) && got == bytes.size());
    if (!ok) why = "cannot be read";
  }
  CloseHandle(h);
  return ok;
}

bool IsHelp(const plat::wstring& arg) {
  return arg == TEXT("--help") || arg == TEXT("-h") || arg == TEXT("/?");
}

void InstallInterrupt() { SetConsoleCtrlHandler(OnCtrl, TRUE); }
bool Interrupted() { return g_interrupted; }

}  // namespace qz
