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

}  // namespace

DWORD GetFileAttributesW(LPCWSTR path) {
  DWORD start = ::GetTickCount();
  DWORD r = ::GetFileAttributesW(path);
  Report(start, TEXT("GetFileAttributes %s took %u ms\r\n"), path);
  return r;
}

BOOL GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID info) {
  DWORD start = ::GetTickCount();
  BOOL r = ::GetFileAttributesExW(path, level, info);
  Report(start, TEXT("GetFileAttributesEx %s took %u ms\r\n"), path);
  return r;
}

BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes) {
  DWORD start = ::GetTickCount();
  BOOL r = ::SetFileAttributesW(path, attributes);
  Report(start, TEXT("SetFileAttributes %s took %u ms\r\n"), path);
  return r;
}

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  DWORD start = ::GetTickCount();
  HANDLE r = ::FindFirstFileW(pattern, data);
  Report(start, TEXT("FindFirstFile %s took %u ms\r\n"), pattern);
  return r;
}

BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
  DWORD start = ::GetTickCount();
  BOOL r = ::FindNextFileW(find, data);
  Report(start, TEXT("FindNextFile took %u ms\r\n"), nullptr);
  return r;
}

BOOL FindClose(HANDLE find) {
  DWORD start = ::GetTickCount();
  BOOL r = ::FindClose(find);
  Report(start, TEXT("FindClose took %u ms\r\n"), nullptr);
  return r;
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD creation, DWORD flags,
                   HANDLE templateFile) {
  DWORD start = ::GetTickCount();
  HANDLE r = ::CreateFileW(path, access, share, sa, creation, flags, templateFile);
  Report(start, TEXT("CreateFile %s took %u ms\r\n"), path);
  return r;
}

BOOL CloseHandle(HANDLE h) {
  DWORD start = ::GetTickCount();
  BOOL r = ::CloseHandle(h);
  Report(start, TEXT("CloseHandle took %u ms\r\n"), nullptr);
  return r;
}

BOOL DeleteFileW(LPCWSTR path) {
  DWORD start = ::GetTickCount();
  BOOL r = ::DeleteFileW(path);
  Report(start, TEXT("DeleteFile %s took %u ms\r\n"), path);
  return r;
}

DWORD GetFileSize(HANDLE h, LPDWORD high) {
  DWORD start = ::GetTickCount();
  DWORD r = ::GetFileSize(h, high);
  Report(start, TEXT("GetFileSize took %u ms\r\n"), nullptr);
  return r;
}

BOOL SetFileTime(HANDLE h, const FILETIME* creation, const FILETIME* access, const FILETIME* write) {
  DWORD start = ::GetTickCount();
  BOOL r = ::SetFileTime(h, creation, access, write);
  Report(start, TEXT("SetFileTime took %u ms\r\n"), nullptr);
  return r;
}

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES sa) {
  DWORD start = ::GetTickCount();
  BOOL r = ::CreateDirectoryW(path, sa);
  Report(start, TEXT("CreateDirectory %s took %u ms\r\n"), path);
  return r;
}

BOOL RemoveDirectoryW(LPCWSTR path) {
  DWORD start = ::GetTickCount();
  BOOL r = ::RemoveDirectoryW(path);
  Report(start, TEXT("RemoveDirectory %s took %u ms\r\n"), path);
  return r;
}

BOOL GetDiskFreeSpaceExW(LPCWSTR path, PULARGE_INTEGER available, PULARGE_INTEGER total, PULARGE_INTEGER free) {
  DWORD start = ::GetTickCount();
  BOOL r = ::GetDiskFreeSpaceExW(path, available, total, free);
  Report(start, TEXT("GetDiskFreeSpaceEx %s took %u ms\r\n"), path);
  return r;
}

}  // namespace timed
}  // namespace ferrow
