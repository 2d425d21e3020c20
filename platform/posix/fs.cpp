// Names in the file system: attributes, drive types, network names.
#include <cerrno>
#include <sys/stat.h>

#include "internal.h"

namespace {

bool StatPath(LPCWSTR name, struct stat& st) {
  std::string native;
  if (!posix::ToNative(name, native)) return false;
  if (stat(native.c_str(), &st) != 0) {
    SetLastError(posix::ErrorFromErrno(errno, errno == ENOENT && !posix::ParentExists(native)));
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

DWORD WINAPI GetFileAttributesW(LPCWSTR name) {
  struct stat st;
  if (!StatPath(name, st)) return INVALID_FILE_ATTRIBUTES;
  return posix::AttributesFromStat(st);
}

BOOL WINAPI GetFileAttributesExW(LPCWSTR name, GET_FILEEX_INFO_LEVELS level, LPVOID info) {
  if (level != GetFileExInfoStandard || !info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  struct stat st;
  if (!StatPath(name, st)) return FALSE;
  auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(info);
  data->dwFileAttributes = posix::AttributesFromStat(st);
  posix::SetFileTime64(&data->ftCreationTime, posix::ToFileTime(st.st_ctim.tv_sec, st.st_ctim.tv_nsec));
  posix::SetFileTime64(&data->ftLastAccessTime, posix::ToFileTime(st.st_atim.tv_sec, st.st_atim.tv_nsec));
  posix::SetFileTime64(&data->ftLastWriteTime, posix::ToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec));
  ULONGLONG size = S_ISDIR(st.st_mode) ? 0 : static_cast<ULONGLONG>(st.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size);
  return TRUE;
}

// Every name this system knows lies on one fixed drive, C:, whose root is "/".
UINT WINAPI GetDriveTypeW(LPCWSTR root) {
  if (!root) return DRIVE_FIXED;  // the current directory's drive
  std::string native;
  if (!posix::ToNative(root, native)) return DRIVE_NO_ROOT_DIR;
  struct stat st;
  if (stat(native.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return DRIVE_NO_ROOT_DIR;
  return DRIVE_FIXED;
}

// No drive is mapped to a network share here.
DWORD WINAPI WNetGetUniversalNameW(LPCWSTR localPath, DWORD, LPVOID, LPDWORD) {
  return localPath ? ERROR_NOT_CONNECTED : ERROR_INVALID_PARAMETER;
}

}  // extern "C"
