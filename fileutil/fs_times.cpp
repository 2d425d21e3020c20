// File times.
#include "fs_internal.h"

using namespace ferrow;

FERROW_API BOOL WINAPI FU_GetLastModifyTime(const WCHAR* path, FILETIME* time) {
  if (!path || !time) return 0;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!timed::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return 0;
  *time = data.ftLastWriteTime;
  return 1;
}

FERROW_API BOOL WINAPI FU_SetLastModifyTime(const WCHAR* path, const FILETIME* time) {
  if (!path || !time) return 0;
  FILETIME when;
  if (!plat::Guarded([&] { when = *time; })) return 0;
  // Opening for writing refuses directories and read-only files, as wanted.
  HANDLE file = timed::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  timed::SetFileTime(file, nullptr, &when, &when);
  timed::CloseHandle(file);
  return 1;
}

FERROW_API BOOL WINAPI FU_Touch(const WCHAR* path) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  FILETIME time;
  if (!SystemTimeToFileTime(&now, &time)) return 0;
  return FU_SetLastModifyTime(path, &time);
}

namespace {

// 1 January 1980 and 1 January 2108, 00:00:00, in 100 ns since 1601.
constexpr ULONGLONG kDosFirst = 119600064000000000ull;
constexpr ULONGLONG kDosEnd = 159992928000000000ull;

const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

FERROW_API BOOL WINAPI FU_TranslateFileTime(const FILETIME* time, WCHAR* text) {
  if (!time || !text) return 0;
  FILETIME when;
  if (!plat::Guarded([&] { when = *time; })) return 0;
  // The MS-DOS words limit the time to 1980..2107 and to even seconds. The
  // range is checked here too: some systems clamp an earlier time to 1980
  // instead of failing, and the text would then claim a date that is wrong.
  const ULONGLONG ticks = (static_cast<ULONGLONG>(when.dwHighDateTime) << 32) | when.dwLowDateTime;
  WORD date = 0, clock = 0;
  WCHAR out[21] = {};
  BOOL ok = ticks >= kDosFirst && ticks < kDosEnd && FileTimeToDosDateTime(&when, &date, &clock);
  const unsigned month = (date >> 5) & 15;
  if (ok && month >= 1 && month <= 12) {
    WCHAR name[4] = {WCHAR(kMonths[month - 1][0]), WCHAR(kMonths[month - 1][1]), WCHAR(kMonths[month - 1][2]), 0};
    plat::FormatW(out, 21, TEXT("%02u:%02u:%02u %02u.%s.%u"), unsigned(clock >> 11), unsigned((clock >> 5) & 63),
                  unsigned(clock & 31) * 2, unsigned(date & 31), name, unsigned(date >> 9) + 1980);
  } else {
    ok = 0;
  }
  if (!plat::Guarded([&] { plat::WCopy(text, 21, out); })) return 0;
  return ok ? 1 : 0;
}
