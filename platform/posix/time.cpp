// Clocks: the millisecond tick counter, sleeping, and system time as SYSTEMTIME
// and FILETIME (100 ns since 1601, UTC).
#include <atomic>
#include <cerrno>
#include <ctime>
#include <unistd.h>

#include "hooks.h"
#include "internal.h"

namespace {

std::atomic<DWORD (*)(void*)> g_tickSource{nullptr};
std::atomic<void*> g_tickContext{nullptr};

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Days from 1601-01-01 to the given date (proleptic Gregorian).
int64_t DaysSince1601(int y, int m, int d) {
  int64_t yy = y - 1601;
  int64_t days = yy * 365 + yy / 4 - yy / 100 + yy / 400;
  for (int i = 1; i < m; ++i) days += DaysInMonth(y, i);
  return days + d - 1;
}

void SplitFileTime(ULONGLONG t, SYSTEMTIME* st) {
  ULONGLONG ms = t / 10000;
  st->wMilliseconds = static_cast<WORD>(ms % 1000);
  ULONGLONG secs = ms / 1000;
  st->wSecond = static_cast<WORD>(secs % 60);
  st->wMinute = static_cast<WORD>(secs / 60 % 60);
  st->wHour = static_cast<WORD>(secs / 3600 % 24);
  int64_t days = static_cast<int64_t>(secs / 86400);
  st->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  int y = 1601;
  for (;;) {
    // Whole 400-year cycles first, then single years.
    if (days >= 146097) {
      days -= 146097;
      y += 400;
      continue;
    }
    int len = IsLeap(y) ? 366 : 365;
    if (days < len) break;
    days -= len;
    ++y;
  }
  int m = 1;
  while (days >= DaysInMonth(y, m)) days -= DaysInMonth(y, m++);
  st->wYear = static_cast<WORD>(y);
  st->wMonth = static_cast<WORD>(m);
  st->wDay = static_cast<WORD>(days + 1);
}

ULONGLONG NowAsFileTime() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return posix::ToFileTime(ts.tv_sec, ts.tv_nsec);
}

}  // namespace

namespace plat_hooks {
void SetTickSource(DWORD (*source)(void*), void* context) {
  g_tickContext = context;
  g_tickSource = source;
}
}  // namespace plat_hooks

extern "C" {

ULONGLONG WINAPI GetTickCount64(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<ULONGLONG>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

DWORD WINAPI GetTickCount(void) {
  if (auto source = g_tickSource.load()) return source(g_tickContext.load());
  return static_cast<DWORD>(GetTickCount64());
}

void WINAPI Sleep(DWORD milliseconds) {
  if (milliseconds == INFINITE) {
    for (;;) pause();
  }
  struct timespec ts = {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME ft) { posix::SetFileTime64(ft, NowAsFileTime()); }

void WINAPI GetSystemTime(LPSYSTEMTIME st) { SplitFileTime(NowAsFileTime(), st); }

void WINAPI GetLocalTime(LPSYSTEMTIME st) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm local;
  localtime_r(&ts.tv_sec, &local);
  SplitFileTime(posix::ToFileTime(ts.tv_sec + local.tm_gmtoff, ts.tv_nsec), st);
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft) {
  if (!st || !ft || st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
      st->wDay > DaysInMonth(st->wYear, st->wMonth) || st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59 ||
      st->wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t days = DaysSince1601(st->wYear, st->wMonth, st->wDay);
  ULONGLONG secs = static_cast<ULONGLONG>(days) * 86400 + st->wHour * 3600u + st->wMinute * 60u + st->wSecond;
  posix::SetFileTime64(ft, (secs * 1000 + st->wMilliseconds) * 10000);
  return TRUE;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st) {
  if (!ft || !st || (ft->dwHighDateTime & 0x80000000u)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  SplitFileTime(posix::FileTime64(ft), st);
  return TRUE;
}

BOOL WINAPI FileTimeToDosDateTime(const FILETIME* ft, WORD* fatDate, WORD* fatTime) {
  SYSTEMTIME st;
  if (!ft || !fatDate || !fatTime || !FileTimeToSystemTime(ft, &st) || st.wYear < 1980 || st.wYear > 2107) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *fatDate = static_cast<WORD>(((st.wYear - 1980) << 9) | (st.wMonth << 5) | st.wDay);
  *fatTime = static_cast<WORD>((st.wHour << 11) | (st.wMinute << 5) | (st.wSecond / 2));
  return TRUE;
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  count->QuadPart = static_cast<LONGLONG>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
  return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  frequency->QuadPart = 1000000000LL;
  return TRUE;
}

}  // extern "C"
