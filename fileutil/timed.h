// The timed layer: every file, directory and disk call of the file-system
// functions goes through one of these. Each takes the arguments of the call it
// wraps and returns its result (and its error code) unchanged; a call slower
// than 200 ms is reported on the debug output with the wrapper's text, so that
// slow network drives show in a debugger log.
#pragma once

#include "ferrow.h"

namespace ferrow {
namespace timed {

DWORD GetFileAttributesW(LPCWSTR path);
BOOL GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID info);
BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes);
HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);
BOOL FindClose(HANDLE find);
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD creation, DWORD flags,
                   HANDLE templateFile);
BOOL CloseHandle(HANDLE h);
BOOL DeleteFileW(LPCWSTR path);
DWORD GetFileSize(HANDLE h, LPDWORD high);
BOOL SetFileTime(HANDLE h, const FILETIME* creation, const FILETIME* access, const FILETIME* write);
BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES sa);
BOOL RemoveDirectoryW(LPCWSTR path);
BOOL GetDiskFreeSpaceExW(LPCWSTR path, PULARGE_INTEGER available, PULARGE_INTEGER total, PULARGE_INTEGER free);

}  // namespace timed
}  // namespace ferrow
