#include "timed.h"

namespace ferrow {
namespace timed {

namespace {

// Reports the call when it took more than 200 ms (the tick difference is
// unsigned, so it is right across one wrap of the counter). The caller's error
// code survives the report.
void Report(DWORD start, const WCHAR* format, const WCHAR* path) {
  DWORD elapsed = ::GetTickCount() - start;
  if (elapsed <= 200) return;
  DWORD error = ::GetLastError();
  WCHAR text[1040];
  if (path)
    plat::FormatW(text, 1040, format, path, elapsed);
  else
    plat::FormatW(text, 1040, format, elapsed);
  ::OutputDebugStringW(text);
  ::SetLastError(error);
}

// Makes the call between two tick reads and reports it when it was slow.
template <class Call>
auto Timed(const WCHAR* format, const WCHAR* path, Call call) {
  DWORD start = ::GetTickCount();
  auto result = call();
  Report(start, format, path);
  return result;
}

}  // namespace

DWORD GetFileAttributesW(LPCWSTR path) {
  return Timed(TEXT("GetFileAttributes %s took %u ms\r\n"), path, [&] { return ::GetFileAttributesW(path); });
}

BOOL GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID info) {
  return Timed(TEXT("GetFileAttributesEx %s took %u ms\r\n"), path,
               [&] { return ::GetFileAttributesExW(path, level, info); });
}

BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes) {
  return Timed(TEXT("SetFileAttributes %s took %u ms\r\n"), path,
               [&] { return ::SetFileAttributesW(path, attributes); });
}

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  return Timed(TEXT("FindFirstFile %s took %u ms\r\n"), pattern, [&] { return ::FindFirstFileW(pattern, data); });
}

BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
  return Timed(TEXT("FindNextFile took %u ms\r\n"), nullptr, [&] { return ::FindNextFileW(find, data); });
}

BOOL FindClose(HANDLE find) {
  return Timed(TEXT("FindClose took %u ms\r\n"), nullptr, [&] { return ::FindClose(find); });
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD creation, DWORD flags,
                   HANDLE templateFile) {
  return Timed(TEXT("CreateFile %s took %u ms\r\n"), path,
               [&] { return ::CreateFileW(path, access, share, sa, creation, flags, templateFile); });
}

BOOL CloseHandle(HANDLE h) {
  return Timed(TEXT("CloseHandle took %u ms\r\n"), nullptr, [&] { return ::CloseHandle(h); });
}

BOOL DeleteFileW(LPCWSTR path) {
  return Timed(TEXT("DeleteFile %s took %u ms\r\n"), path, [&] { return ::DeleteFileW(path); });
}

DWORD GetFileSize(HANDLE h, LPDWORD high) {
  return Timed(TEXT("GetFileSize took %u ms\r\n"), nullptr, [&] { return ::GetFileSize(h, high); });
}

BOOL SetFileTime(HANDLE h, const FILETIME* creation, const FILETIME* access, const FILETIME* write) {
  return Timed(TEXT("SetFileTime took %u ms\r\n"), nullptr, [&] { return ::SetFileTime(h, creation, access, write); });
}

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES sa) {
  return Timed(TEXT("CreateDirectory %s took %u ms\r\n"), path, [&] { return ::CreateDirectoryW(path, sa); });
}

BOOL RemoveDirectoryW(LPCWSTR path) {
  return Timed(TEXT("RemoveDirectory %s took %u ms\r\n"), path, [&] { return ::RemoveDirectoryW(path); });
}

BOOL GetDiskFreeSpaceExW(LPCWSTR path, PULARGE_INTEGER available, PULARGE_INTEGER total, PULARGE_INTEGER free) {
  return Timed(TEXT("GetDiskFreeSpaceEx %s took %u ms\r\n"), path,
               [&] { return ::GetDiskFreeSpaceExW(path, available, total, free); });
}

}  // namespace timed
}  // namespace ferrow
