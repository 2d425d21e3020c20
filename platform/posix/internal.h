// Shared pieces of the native platform: Windows paths to native ones, errno to
// Win32 error codes, FILETIME arithmetic.
#pragma once

#include <string>
#include <sys/stat.h>

#include "../win32.h"

namespace posix {

// Turns a Windows path into a native one: "\" and "/" are both separators; a
// rooted path without a drive is a POSIX absolute path; "C:" names "/" (other
// drive letters have no root here); "\\?\" is dropped; names are UTF-8.
// UNC names (\\server\share) and devices (\\.\) have no native meaning.
// On failure returns false with the last error set.
bool ToNative(LPCWSTR path, std::string& out);

// The native path back in Windows form (the separators stay "/").
plat::wstring FromNative(const std::string& path);

// The Win32 code for an errno value; `missingDirectory` tells ENOENT apart as
// "path not found" (a directory on the way is missing) from "file not found".
DWORD ErrorFromErrno(int e, bool missingDirectory = false);

// Sets the last error from errno and returns FALSE, for one-line failure paths.
BOOL FailErrno(bool missingDirectory = false);

// True when the directory that would hold `nativePath` exists, to choose
// between ERROR_FILE_NOT_FOUND and ERROR_PATH_NOT_FOUND as Windows does.
bool ParentExists(const std::string& nativePath);

inline ULONGLONG ToFileTime(long long seconds, long nanoseconds) {
  return static_cast<ULONGLONG>(seconds + 11644473600LL) * 10000000ULL + static_cast<ULONGLONG>(nanoseconds) / 100;
}
inline ULONGLONG FileTime64(const FILETIME* ft) {
  return (static_cast<ULONGLONG>(ft->dwHighDateTime) << 32) | ft->dwLowDateTime;
}
inline void SetFileTime64(FILETIME* ft, ULONGLONG t) {
  ft->dwLowDateTime = static_cast<DWORD>(t);
  ft->dwHighDateTime = static_cast<DWORD>(t >> 32);
}

// The Windows attributes of a file from its status.
DWORD AttributesFromStat(const struct stat& st);

}  // namespace posix
